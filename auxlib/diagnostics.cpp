#include "diagnostics.h"

#include <errno.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static const int writeSignals[] = {SIGPIPE, SIGXFSZ};

void writeQuietly(int fd, const char *bytes, size_t length) {
    int savedErrno = errno;
    sigset_t blocked;
    sigset_t savedMask;
    sigset_t pendingBefore;
    sigemptyset(&blocked);
    for (int sig : writeSignals) {
        sigaddset(&blocked, sig);
    }
    pthread_sigmask(SIG_BLOCK, &blocked, &savedMask);
    sigpending(&pendingBefore);
    size_t done = 0;
    while (done < length) {
        ssize_t written = write(fd, bytes + done, length - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            break;
        }
        done += (size_t)written;
    }
    sigset_t pendingAfter;
    sigpending(&pendingAfter);
    for (int sig : writeSignals) {
        if (sigismember(&pendingAfter, sig) == 1 && sigismember(&pendingBefore, sig) == 0) {
            sigset_t raised;
            sigemptyset(&raised);
            sigaddset(&raised, sig);
            const struct timespec noWait = {0, 0};
            while (sigtimedwait(&raised, NULL, &noWait) < 0 && errno == EINTR) {
            }
        }
    }
    pthread_sigmask(SIG_SETMASK, &savedMask, NULL);
    errno = savedErrno;
}

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
    for (size_t i = prefixLength; i < length; i++) {
        unsigned char c = (unsigned char)line[i];
        if ((c < 0x20 && c != '\t') || c == 0x7f) {
            line[i] = '?';
        }
    }
    line[length] = '\n';
    writeQuietly(STDERR_FILENO, line, length + 1);
}
