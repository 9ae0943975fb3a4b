#include "diagnostics.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "quiet_writer.h"

void writeLine(const char *prefix, const char *format, ...) {
    char line[8192];
    int prefixWritten = snprintf(line, sizeof line / 2, "%s", prefix);
    size_t prefixLength = prefixWritten < 0 ? 0 : (size_t)prefixWritten;
    if (prefixLength >= sizeof line / 2) {
        prefixLength = sizeof line / 2 - 1;
    }
    va_list args;
    va_start(args, format);
    int body = vsnprintf(line + prefixLength, sizeof line - prefixLength - 1, format, args);
    va_end(args);
    size_t length = prefixLength;
    if (body > 0) {
        length += (size_t)body < sizeof line - prefixLength - 2 ? (size_t)body
                                                                : sizeof line - prefixLength - 2;
    }
    quietEscapeControls(line + prefixLength, length - prefixLength);
    line[length] = '\n';
    quietWrite(STDERR_FILENO, line, length + 1);
}
