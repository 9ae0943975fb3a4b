#include "diagnostics.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/auxv.h>
#include <unistd.h>

#include "quiet_writer.h"

// The longest line written, its newline included; a longer one is cut.
enum { lineSize = 8192 };

// Formats `prefix` and the message as one line ending in '\n', the
// message's control characters escaped and cut to fit lineSize, and writes
// it on standard error in one write; as a report (quietReport, the journal
// too) when `report` and no tool runs this library (toolProgramName).
static void writeFormatted(bool report, const char *prefix, const char *format, va_list args) {
    char line[lineSize];
    int prefixWritten = snprintf(line, lineSize / 2, "%s", prefix);
    size_t prefixLength = prefixWritten < 0 ? 0 : (size_t)prefixWritten;
    if (prefixLength >= lineSize / 2) {
        prefixLength = lineSize / 2 - 1;
    }
    int body = vsnprintf(line + prefixLength, lineSize - prefixLength - 1, format, args);
    size_t length = prefixLength;
    if (body > 0) {
        length += (size_t)body < lineSize - prefixLength - 2 ? (size_t)body
                                                             : lineSize - prefixLength - 2;
    }
    quietEscapeControls(line + prefixLength, length - prefixLength);
    line[length] = '\n';
    if (report && toolProgramName() == nullptr) {
        quietReport(line, length + 1);
    } else {
        quietWrite(STDERR_FILENO, line, length + 1);
    }
}

void writeLine(const char *prefix, const char *format, ...) {
    va_list args;
    va_start(args, format);
    writeFormatted(false, prefix, format, args);
    va_end(args);
}

void writeComplaint(const char *prefix, const char *format, ...) {
    va_list args;
    va_start(args, format);
    writeFormatted(true, prefix, format, args);
    va_end(args);
}

const char *toolProgramName(void) {
    return getauxval(AT_SECURE) == 0 ? getenv("APPLAUNCHER_PROGRAM") : nullptr;
}
