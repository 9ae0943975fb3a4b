/* A runtime library for the doctor's tests. HUX_Check reports
 * DOCTOR_CHECK_HOME, which the launch data is to set: 0 and its value, or
 * 1 and what to do when it is unset; it crashes when the value is
 * "crash". HUX_Launch must never run under the doctor: it leaves
 * $TEST_RECORDS/entry-called behind. */
#define _POSIX_C_SOURCE 200809L
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "hux_runtime_api.h"

int32_t HUX_Launch(int32_t argCount, char **args, uint64_t w3, uint64_t w4, uint64_t w5,
                   uint64_t w6, const char *t7, const char *t8, const char *t9, const char *t10,
                   uint64_t w11, uint64_t w12, uint64_t w13, uint64_t w14) {
    (void)argCount, (void)args, (void)w3, (void)w4, (void)w5, (void)w6, (void)t7, (void)t8;
    (void)t9, (void)t10, (void)w11, (void)w12, (void)w13, (void)w14;
    char path[4096];
    snprintf(path, sizeof path, "%s/entry-called", getenv("TEST_RECORDS"));
    FILE *marker = fopen(path, "w");
    if (marker != NULL) {
        fclose(marker);
    }
    return 0;
}

int32_t HUX_Check(char *message, int32_t size, int32_t argCount, char **args) {
    (void)argCount, (void)args;
    const char *home = getenv("DOCTOR_CHECK_HOME");
    if (home == NULL) {
        snprintf(message, (size_t)size, "DOCTOR_CHECK_HOME is not set: set it in the launch data");
        return 1;
    }
    if (strcmp(home, "crash") == 0) {
        abort();
    }
    snprintf(message, (size_t)size, "checking runtime: home %s", home);
    return 0;
}
