/* Diagnostic lines on standard error that never end the process
 * (quiet_writer.h). */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include "quiet_writer.h"

#include <errno.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/auxv.h>
#include <time.h>
#include <unistd.h>

/* The signals a write can raise: SIGPIPE when its reader has gone,
 * SIGXFSZ past the file size limit. */
static const int writeSignals[] = {SIGPIPE, SIGXFSZ};
enum { writeSignalCount = sizeof writeSignals / sizeof writeSignals[0] };

bool quietCallerIsUntrusted(void) {
    return getauxval(AT_SECURE) != 0 && getuid() != 0;
}

bool quietDebugEnabled(void) {
    const char *value = getenv("SORVANTA_DEBUG");
    return value != NULL && strcmp(value, "true") == 0 && !quietCallerIsUntrusted();
}

void quietEscapeControls(char *text, size_t length) {
    for (size_t i = 0; i < length; i++) {
        unsigned char c = (unsigned char)text[i];
        if ((c < 0x20 && c != '\t') || c == 0x7f) {
            text[i] = '?';
        }
    }
}

void quietHold(QuietHold *hold) {
    sigset_t held;
    sigemptyset(&held);
    for (int i = 0; i < writeSignalCount; i++) {
        sigaddset(&held, writeSignals[i]);
    }
    pthread_sigmask(SIG_BLOCK, &held, &hold->savedMask);
    sigpending(&hold->pendingBefore);
}

void quietRelease(const QuietHold *hold) {
    int savedErrno = errno;
    sigset_t pendingAfter;
    sigpending(&pendingAfter);
    for (int i = 0; i < writeSignalCount; i++) {
        int sig = writeSignals[i];
        if (sigismember(&pendingAfter, sig) == 1 && sigismember(&hold->pendingBefore, sig) == 0) {
            sigset_t raised;
            sigemptyset(&raised);
            sigaddset(&raised, sig);
            const struct timespec noWait = {0, 0};
            while (sigtimedwait(&raised, NULL, &noWait) < 0 && errno == EINTR) {
            }
        }
    }
    pthread_sigmask(SIG_SETMASK, &hold->savedMask, NULL);
    errno = savedErrno;
}

void quietWrite(int fd, const char *bytes, size_t length) {
    int savedErrno = errno;
    QuietHold hold;
    quietHold(&hold);
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
    quietRelease(&hold);
    errno = savedErrno;
}
