// The launcher's side of the auxiliary library interface: the diagnostic
// log, building the launch data block, and starting the runtime.
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

// Asks the library for the block size, allocates it and has the library
// fill it. The handle is released in every case once it is not null. A
// library that returns a pointer other than the buffer it was given yields
// no record: the launcher can only send and free the buffer it allocated.
KivlLauncherData *kivLauncherCreateKivlLauncherData(const KivlLauncherAPI *api,
                                                    KivLauncherHandle handle,
                                                    int32_t *outSize) {
    if (handle == nullptr) {
        return nullptr;
    }
    KivlLauncherData *record = nullptr;
    void *buffer = nullptr;
    int32_t size = api->getDataSize(handle);
    if (size > 0) {
        buffer = malloc((size_t)size);
        if (buffer == nullptr) {
            kivLauncherLog("%s", strerror(errno));
        } else {
            record = api->fillData(handle, buffer, size);
            if (record != nullptr && record != buffer) {
                kivLauncherLog("fillData returned a pointer outside its buffer");
                record = nullptr;
            }
            if (record != nullptr && outSize != nullptr) {
                *outSize = size;
            }
        }
    }
    api->release(handle);
    if (record == nullptr) {
        free(buffer);
    }
    return record;
}

// Logs the whole record before touching the environment, sets every
// variable (a failure is logged with its index and the rest still go in),
// then calls the entry and returns its result unchanged.
int32_t kivLauncherStartKiv(const KivlLauncherData *record, HuxLaunchFn entry) {
    static const char emptyText[] = "";
    static const char runtimeTag[] = "ruvo";
    kivLauncherLog("hux lib: [%s]", record->runtimeLibPath);
    for (int32_t i = 0; i < record->argCount; i++) {
        kivLauncherLog("hux arg[%d]: [%s]", i, record->args[i]);
    }
    for (int32_t i = 0; i < record->envCount; i++) {
        kivLauncherLog("env var[%d]: %s=[%s]", i, record->envNames[i], record->envValues[i]);
    }
    for (int32_t i = 0; i < record->envCount; i++) {
        if (setenv(record->envNames[i], record->envValues[i], 1) != 0) {
            kivLauncherLog("setenv(%d) failed", i);
        }
    }
    return entry(record->argCount, record->args, 0, 0, 0, 0, emptyText, emptyText,
                 runtimeTag, runtimeTag, 0, 0, 0, 0);
}
