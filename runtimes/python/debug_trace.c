/* The unit test compiles this file as C++, which predefines it. */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include "debug_trace.h"

#include <errno.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

/* Whether SORVANTA_DEBUG is exactly "true"; read at every call. */
static int traceEnabled(void) {
    const char *value = getenv("SORVANTA_DEBUG");
    return value != NULL && strcmp(value, "true") == 0;
}

/* Takes back `signal` when the write just made raised it: it is pending
 * now but was not before. Never waits. */
static void discardRaised(int signal, const sigset_t *pendingBefore) {
    sigset_t pending;
    sigset_t only;
    static const struct timespec noWait = {0, 0};
    if (sigismember(pendingBefore, signal) || sigpending(&pending) != 0 ||
        !sigismember(&pending, signal)) {
        return;
    }
    sigemptyset(&only);
    sigaddset(&only, signal);
    while (sigtimedwait(&only, NULL, &noWait) < 0 && errno == EINTR) {
    }
}

/* Writes `length` bytes to standard error in one write, with SIGPIPE and
 * SIGXFSZ blocked for this thread; a failure that raised one of them takes
 * it back, so neither ends the process. Installs no handler. */
static void writeQuietly(const char *text, size_t length) {
    sigset_t quiet;
    sigset_t previous;
    sigset_t pendingBefore;
    sigemptyset(&quiet);
    sigaddset(&quiet, SIGPIPE);
    sigaddset(&quiet, SIGXFSZ);
    if (pthread_sigmask(SIG_BLOCK, &quiet, &previous) != 0) {
        return;
    }
    if (sigpending(&pendingBefore) != 0) {
        sigfillset(&pendingBefore);
    }
    if (write(STDERR_FILENO, text, length) < 0) {
        if (errno == EPIPE) {
            discardRaised(SIGPIPE, &pendingBefore);
        } else if (errno == EFBIG) {
            discardRaised(SIGXFSZ, &pendingBefore);
        }
    }
    (void)pthread_sigmask(SIG_SETMASK, &previous, NULL);
}

void huxTrace(const char *format, ...) {
    if (!traceEnabled()) {
        return;
    }
    int savedErrno = errno;
    va_list args;
    va_start(args, format);
    char *message = NULL;
    if (vasprintf(&message, format, args) >= 0) {
        char *line = NULL;
        int length = asprintf(&line, "[%ld]: %s\n", (long)getpid(), message);
        if (length > 0) {
            writeQuietly(line, (size_t)length);
            free(line);
        }
        free(message);
    }
    va_end(args);
    errno = savedErrno;
}
