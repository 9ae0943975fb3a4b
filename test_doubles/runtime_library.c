/* Test double for the runtime launcher library. Its "HUX_Launch" records
 * in $TEST_RECORDS/runtime every argument it receives, the variables named
 * in RT_RECORD_ENV (comma-separated), whether libapplauncher.so is mapped
 * in this process and which descriptors are open, then returns the value of
 * RT_EXIT (0 when unset). */
#define _GNU_SOURCE
#include <dirent.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "record_file.h"

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

int32_t HUX_Launch(int32_t argCount, char **args, uint64_t w3, uint64_t w4, uint64_t w5,
                   uint64_t w6, const char *t7, const char *t8, const char *t9, const char *t10,
                   uint64_t w11, uint64_t w12, uint64_t w13, uint64_t w14) {
    recordEntry("runtime", "argc=%d", argCount);
    for (int32_t i = 0; i < argCount; i++) {
        recordEntry("runtime", "arg=%s", args[i]);
    }
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
