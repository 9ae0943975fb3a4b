// The launcher's one diagnostic log (launcher.h): lines on standard error
// while SORVANTA_DEBUG is "true". A tool that explains a launcher's start
// links its own log in this file's place to see the same lines.
#include <errno.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "launcher.h"

bool kivLauncherDebugEnabled() {
    const char *value = getenv("SORVANTA_DEBUG");
    return value != nullptr && strcmp(value, "true") == 0;
}

// The signals a write to standard error can raise: SIGPIPE when its
// reader has gone, SIGXFSZ past the file size limit.
struct HeldWriteSignals {
    sigset_t signals;
    sigset_t savedMask;
    sigset_t pendingBefore;
};

// Blocks the write signals, so that a write raising one fails instead of
// ending the process, and notes which of them were pending already.
static void holdWriteSignals(HeldWriteSignals *held) {
    sigemptyset(&held->signals);
    sigaddset(&held->signals, SIGPIPE);
    sigaddset(&held->signals, SIGXFSZ);
    sigprocmask(SIG_BLOCK, &held->signals, &held->savedMask);
    sigpending(&held->pendingBefore);
}

// Takes back a write signal that the writes since holdWriteSignals raised
// (one pending before stays pending) and restores the signal mask; no
// disposition is changed.
static void releaseWriteSignals(HeldWriteSignals *held) {
    sigset_t pendingAfter;
    sigpending(&pendingAfter);
    static const int writeSignals[] = {SIGPIPE, SIGXFSZ};
    for (int sig : writeSignals) {
        if (sigismember(&pendingAfter, sig) == 1 && sigismember(&held->pendingBefore, sig) == 0) {
            sigset_t raised;
            sigemptyset(&raised);
            sigaddset(&raised, sig);
            const timespec noWait = {0, 0};
            while (sigtimedwait(&raised, nullptr, &noWait) < 0 && errno == EINTR) {
            }
        }
    }
    sigprocmask(SIG_SETMASK, &held->savedMask, nullptr);
}

// Formats "[pid]: message\n" and writes it with one stdio call, so the
// other launcher process cannot split the line. Lines too long for the
// stack buffer are formatted on the heap; if that allocation fails the
// same bytes go out in three calls instead. Write failures are ignored,
// there being nowhere left to report them, and never end the process.
// Keeps errno unchanged.
void kivLauncherLog(const char *format, ...) {
    if (!kivLauncherDebugEnabled()) {
        return;
    }
    int savedErrno = errno;
    char local[1024];
    int prefix = snprintf(local, sizeof local, "[%d]: ", (int)getpid());
    va_list args;
    va_list again;
    va_start(args, format);
    va_copy(again, args);
    int body = vsnprintf(local + prefix, sizeof local - (size_t)prefix, format, args);
    if (body >= 0) {
        size_t length = (size_t)prefix + (size_t)body + 1;
        char *line = length <= sizeof local ? local : (char *)malloc(length);
        HeldWriteSignals held;
        holdWriteSignals(&held);
        if (line == nullptr) {
            (void)fwrite(local, 1, (size_t)prefix, stderr);
            (void)vfprintf(stderr, format, again);
            (void)fputc('\n', stderr);
        } else {
            if (line != local) {
                memcpy(line, local, (size_t)prefix);
                (void)vsnprintf(line + prefix, (size_t)body + 1, format, again);
            }
            line[length - 1] = '\n';
            (void)fwrite(line, 1, length, stderr);
            if (line != local) {
                free(line);
            }
        }
        releaseWriteSignals(&held);
    }
    va_end(again);
    va_end(args);
    errno = savedErrno;
}
