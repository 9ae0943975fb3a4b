/* The debug trace: one write per line, its control characters escaped,
 * through the quiet writer; and the reports, also sent to the journal. */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include "runtime_trace.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "quiet_writer.h"

/* Whether reports go to the journal too (huxKeepReportsFromJournal). */
static bool reportsToJournal = true;

void huxTrace(const char *format, ...) {
    if (!quietDebugEnabled()) {
        return;
    }
    int savedErrno = errno;
    char *line = NULL;
    char *body = NULL;
    va_list args;
    va_start(args, format);
    int bodyLength = vasprintf(&body, format, args);
    va_end(args);
    if (bodyLength >= 0) {
        quietEscapeControls(body, (size_t)bodyLength);
        int length = asprintf(&line, "[%d]: %s\n", (int)getpid(), body);
        if (length >= 0) {
            quietWrite(STDERR_FILENO, line, (size_t)length);
            free(line);
        }
        free(body);
    }
    errno = savedErrno;
}

void huxReport(const char *format, ...) {
    int savedErrno = errno;
    char local[8192];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(local, sizeof local - 1, format, args);
    va_end(args);
    char *line = local;
    if (length >= (int)sizeof local - 1) {
        line = (char *)malloc((size_t)length + 2);
        va_start(args, format);
        length = line != NULL ? vsnprintf(line, (size_t)length + 1, format, args) : length;
        va_end(args);
    }
    if (line == NULL) {
        line = local;
        length = (int)sizeof local - 2;
    }
    if (length >= 0) {
        line[length] = '\n';
        if (reportsToJournal) {
            quietReport(line, (size_t)length + 1);
        } else {
            quietWrite(STDERR_FILENO, line, (size_t)length + 1);
        }
    }
    if (line != local) {
        free(line);
    }
    errno = savedErrno;
}

void huxJournal(const char *text) {
    if (reportsToJournal && text != NULL) {
        quietJournal(text, strlen(text));
    }
}

void huxKeepReportsFromJournal(void) {
    reportsToJournal = false;
}
