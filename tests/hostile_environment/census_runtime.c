/* Runtime library for the hostile-environment tests. Its "HUX_Launch"
 * records in $TEST_RECORDS/census, one line each: "secure=N" (AT_SECURE),
 * "arg=TEXT" for each of its arguments,
 * "child=PID STATE" for every child of this process, as /proc shows them,
 * and "SigBlk=MASK", "SigIgn=MASK" and "SigPnd=MASK" as /proc/self/status
 * gives them; then it
 * returns the value of RT_EXIT (0 when unset). It writes only a few short
 * lines, so that it still works under a small file size limit. */
#define _GNU_SOURCE
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/auxv.h>
#include <unistd.h>

#include "hux_runtime_api.h"

/* Appends "child=PID STATE" to `out` for each process whose parent is this one. */
static void recordChildren(FILE *out) {
    DIR *proc = opendir("/proc");
    struct dirent *entry;
    while (proc != NULL && (entry = readdir(proc)) != NULL) {
        char path[300];
        char stat[512] = "";
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') {
            continue;
        }
        snprintf(path, sizeof path, "/proc/%s/stat", entry->d_name);
        FILE *in = fopen(path, "re");
        if (in == NULL) {
            continue;
        }
        size_t got = fread(stat, 1, sizeof stat - 1, in);
        fclose(in);
        stat[got] = '\0';
        char *afterName = strrchr(stat, ')');
        char state = 0;
        long parent = 0;
        if (afterName != NULL && sscanf(afterName + 1, " %c %ld", &state, &parent) == 2 &&
            parent == (long)getpid()) {
            fprintf(out, "child=%s %c\n", entry->d_name, state);
        }
    }
    if (proc != NULL) {
        closedir(proc);
    }
}

/* Appends the blocked, ignored and pending signal masks to `out`. */
static void recordSignals(FILE *out) {
    FILE *in = fopen("/proc/self/status", "re");
    char line[256];
    while (in != NULL && fgets(line, sizeof line, in) != NULL) {
        if (strncmp(line, "SigBlk:", 7) == 0 || strncmp(line, "SigIgn:", 7) == 0 ||
            strncmp(line, "SigPnd:", 7) == 0) {
            fprintf(out, "%.6s=%s", line, line + 7 + strspn(line + 7, " \t"));
        }
    }
    if (in != NULL) {
        fclose(in);
    }
}

int32_t HUX_Launch(int32_t argCount, char **args, uint64_t w3, uint64_t w4, uint64_t w5,
                   uint64_t w6, const char *t7, const char *t8, const char *t9, const char *t10,
                   uint64_t w11, uint64_t w12, uint64_t w13, uint64_t w14) {
    (void)w3, (void)w4, (void)w5, (void)w6, (void)t7, (void)t8;
    (void)t9, (void)t10, (void)w11, (void)w12, (void)w13, (void)w14;
    const char *records = getenv("TEST_RECORDS");
    char path[4096];
    snprintf(path, sizeof path, "%s/census", records != NULL ? records : ".");
    FILE *out = fopen(path, "we");
    if (out != NULL) {
        fprintf(out, "secure=%lu\n", getauxval(AT_SECURE));
        for (int32_t i = 0; i < argCount; i++) {
            fprintf(out, "arg=%s\n", args[i]);
        }
        recordChildren(out);
        recordSignals(out);
        fclose(out);
    }
    const char *code = getenv("RT_EXIT");
    return code != NULL ? atoi(code) : 0;
}
