/* Appends NUL-terminated entries to a file in the directory TEST_RECORDS
 * names, so a test can read back exactly what a test double received.
 * Needs _GNU_SOURCE (dirfd). */
#ifndef RECORD_FILE_H
#define RECORD_FILE_H

#include <dirent.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void recordEntry(const char *file, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

static void recordEntry(const char *file, const char *format, ...) {
    const char *dir = getenv("TEST_RECORDS");
    if (dir == NULL) {
        return;
    }
    char path[4096];
    snprintf(path, sizeof path, "%s/%s", dir, file);
    FILE *out = fopen(path, "ae");
    if (out == NULL) {
        return;
    }
    va_list args;
    va_start(args, format);
    vfprintf(out, format, args);
    va_end(args);
    fputc('\0', out);
    fclose(out);
}

/* Records "fds= 0 1 2 ..." with the descriptors open in this process
 * (below 1000, where valgrind keeps none of its own). */
static void recordOpenDescriptors(const char *file) {
    char list[512] = "";
    DIR *dir = opendir("/proc/self/fd");
    struct dirent *entry;
    while (dir != NULL && (entry = readdir(dir)) != NULL) {
        int fd = atoi(entry->d_name);
        if (entry->d_name[0] != '.' && fd != dirfd(dir) && fd < 1000 &&
            strlen(list) + 16 < sizeof list) {
            strcat(list, " ");
            strcat(list, entry->d_name);
        }
    }
    if (dir != NULL) {
        closedir(dir);
    }
    recordEntry(file, "fds=%s", list);
}

/* FNV-1a over the `count` texts, each with its terminating zero, so two
 * processes can tell cheaply that they hold the same argument vector. */
static unsigned long long hashTexts(char *const *texts, int count) {
    unsigned long long hash = 1469598103934665603ULL;
    for (int i = 0; i < count; i++) {
        const unsigned char *c = (const unsigned char *)texts[i];
        do {
            hash = (hash ^ *c) * 1099511628211ULL;
        } while (*c++ != 0);
    }
    return hash;
}

#endif
