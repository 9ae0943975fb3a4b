/* The debug trace: one write per line, safe on a closed or full stderr. */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include "runtime_trace.h"

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

bool huxTraceEnabled(void) {
    const char *value = getenv("SORVANTA_DEBUG");
    return value != NULL && strcmp(value, "true") == 0;
}

/* Writes the bytes to descriptor 2, going on after short writes and EINTR;
 * stops silently at any other failure. */
static void writeAll(const char *bytes, size_t length) {
    while (length > 0) {
        ssize_t written = write(STDERR_FILENO, bytes, length);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        bytes += written;
        length -= (size_t)written;
    }
}

/* Writes the line with SIGPIPE and SIGXFSZ blocked for this thread, then
 * takes back either signal only when the write raised it (one pending
 * before stays pending) and restores the mask. No handler is installed. */
static void writeHoldingSignals(const char *line, size_t length) {
    sigset_t held, saved, before, after;
    sigemptyset(&held);
    sigaddset(&held, SIGPIPE);
    sigaddset(&held, SIGXFSZ);
    pthread_sigmask(SIG_BLOCK, &held, &saved);
    sigpending(&before);
    writeAll(line, length);
    sigpending(&after);
    static const int raisedByWrite[] = {SIGPIPE, SIGXFSZ};
    for (size_t i = 0; i < sizeof raisedByWrite / sizeof raisedByWrite[0]; i++) {
        int sig = raisedByWrite[i];
        if (sigismember(&after, sig) == 1 && sigismember(&before, sig) == 0) {
            sigset_t one;
            sigemptyset(&one);
            sigaddset(&one, sig);
            const struct timespec noWait = {0, 0};
            while (sigtimedwait(&one, NULL, &noWait) < 0 && errno == EINTR) {
            }
        }
    }
    pthread_sigmask(SIG_SETMASK, &saved, NULL);
}

void huxTrace(const char *format, ...) {
    if (!huxTraceEnabled()) {
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
        int length = asprintf(&line, "[%d]: %s\n", (int)getpid(), body);
        if (length >= 0) {
            writeHoldingSignals(line, (size_t)length);
            free(line);
        }
        free(body);
    }
    errno = savedErrno;
}
