/* The debug trace: one write per line, its control characters escaped,
 * through the quiet writer. */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include "runtime_trace.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "quiet_writer.h"

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
