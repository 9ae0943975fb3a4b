/* Appends NUL-terminated entries to a file in the directory TEST_RECORDS
 * names, so a test can read back exactly what a test double received. */
#ifndef RECORD_FILE_H
#define RECORD_FILE_H

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

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

#endif
