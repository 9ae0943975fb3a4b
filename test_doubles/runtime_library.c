/* Test double for the runtime launcher library. Its "HUX_Launch" records
 * in $TEST_RECORDS/runtime the hash of its arguments and each of them
 * (unless RT_SKIP_ARG_RECORDS is set), the variables named in RT_RECORD_ENV
 * (comma-separated), the signals it ignores, whether libapplauncher.so is
 * mapped in this process and which descriptors are open, then returns the
 * value of RT_EXIT (0 when unset). */
#define _GNU_SOURCE
#include <dirent.h>
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "record_file.h"

#include "hux_runtime_api.h"

static int auxiliaryLibraryMapped(void) {
    FILE *maps = fopen("/proc/self/maps", "re");
    char line[4096];
    int mapped = 0;
    while (maps != NULL && fgets(line, sizeof line, maps) != NULL) {
        mapped |= strstr(line, "libapplauncher.so") != NULL;
    }
    if (maps != NULL) {
        fclose(maps);
    }
    return mapped;
}

static void recordEnvironment(void) {
    const char *names = getenv("RT_RECORD_ENV");
    if (names == NULL) {
        return;
    }
    char *copy = strdup(names);
    for (char *name = strtok(copy, ","); name != NULL; name = strtok(NULL, ",")) {
        const char *value = getenv(name);
        if (value != NULL) {
            recordEntry("runtime", "env:%s=%s", name, value);
        } else {
            recordEntry("runtime", "env:%s unset", name);
        }
    }
    free(copy);
}

/* Records "ignored= N ..." with the signals this process ignores. */
static void recordIgnoredSignals(void) {
    char list[256] = "";
    for (int sig = 1; sig < 32; sig++) {
        struct sigaction action;
        if (sigaction(sig, NULL, &action) == 0 && action.sa_handler == SIG_IGN) {
            snprintf(list + strlen(list), sizeof list - strlen(list), " %d", sig);
        }
    }
    recordEntry("runtime", "ignored=%s", list);
}

int32_t HUX_Launch(int32_t argCount, char **args, uint64_t w3, uint64_t w4, uint64_t w5,
                   uint64_t w6, const char *t7, const char *t8, const char *t9, const char *t10,
                   uint64_t w11, uint64_t w12, uint64_t w13, uint64_t w14) {
    recordEntry("runtime", "argc=%d", argCount);
    recordEntry("runtime", "hash=%llx", hashTexts(args, argCount));
    for (int32_t i = 0; i < argCount && getenv("RT_SKIP_ARG_RECORDS") == NULL; i++) {
        recordEntry("runtime", "arg=%s", args[i]);
    }
    recordIgnoredSignals();
    recordEntry("runtime", "words=%llx %llx %llx %llx %llx %llx %llx %llx",
                (unsigned long long)w3, (unsigned long long)w4, (unsigned long long)w5,
                (unsigned long long)w6, (unsigned long long)w11, (unsigned long long)w12,
                (unsigned long long)w13, (unsigned long long)w14);
    recordEntry("runtime", "texts=[%s] [%s] same=%d [%s] [%s] same=%d", t7, t8, t7 == t8, t9,
                t10, t9 == t10);
    recordEnvironment();
    recordEntry("runtime", "aux-mapped=%d", auxiliaryLibraryMapped());
    recordOpenDescriptors("runtime");
    const char *code = getenv("RT_EXIT");
    return code != NULL ? atoi(code) : 0;
}
