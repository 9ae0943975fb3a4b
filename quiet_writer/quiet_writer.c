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
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

/* The signals a write can raise: SIGPIPE when its reader has gone,
 * SIGXFSZ past the file size limit. */
static const int writeSignals[] = {SIGPIPE, SIGXFSZ};
enum { writeSignalCount = sizeof writeSignals / sizeof writeSignals[0] };

/* The journal's native socket, and the fields of an entry around its
 * message. */
static const char journalSocket[] = "/run/systemd/journal/socket";
static const char messageField[] = "MESSAGE=";
static const char otherFields[] = "\nPRIORITY=3\nSYSLOG_IDENTIFIER=";
static const char unknownProgram[] = "applauncher";

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

/* The file name of the running program, the last part of /proc/self/exe,
 * into name[size] (size > 1), escaped; "applauncher" when it cannot be
 * read. Returns its length. */
static size_t programName(char *name, size_t size) {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    path[length > 0 ? length : 0] = '\0';
    const char *slash = strrchr(path, '/');
    const char *last = length > 0 && slash != NULL && slash[1] != '\0' ? slash + 1 : unknownProgram;
    size_t copied = strnlen(last, size - 1);
    memcpy(name, last, copied);
    name[copied] = '\0';
    quietEscapeControls(name, copied);
    return copied;
}

/* Sends one journal entry for line[0..length) (no '\n' in it) from the
 * datagram socket `fd` to `address`, its message escaped in a heap copy;
 * nothing when memory runs out or the send fails. */
static void sendEntry(int fd, const struct sockaddr_un *address, const char *identifier,
                      size_t identifierLength, const char *line, size_t length) {
    size_t messageStart = sizeof messageField - 1;
    size_t total = messageStart + length + sizeof otherFields - 1 + identifierLength + 1;
    char *entry = (char *)malloc(total);
    if (entry == NULL) {
        return;
    }
    memcpy(entry, messageField, messageStart);
    memcpy(entry + messageStart, line, length);
    quietEscapeControls(entry + messageStart, length);
    memcpy(entry + messageStart + length, otherFields, sizeof otherFields - 1);
    memcpy(entry + total - identifierLength - 1, identifier, identifierLength);
    entry[total - 1] = '\n';
    (void)sendto(fd, entry, total, MSG_NOSIGNAL | MSG_DONTWAIT, (const struct sockaddr *)address,
                 sizeof *address);
    free(entry);
}

void quietJournal(const char *text, size_t length) {
    int savedErrno = errno;
    int fd = isatty(STDERR_FILENO) ? -1
                                   : socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd >= 0) {
        struct sockaddr_un address;
        memset(&address, 0, sizeof address);
        address.sun_family = AF_UNIX;
        memcpy(address.sun_path, journalSocket, sizeof journalSocket);
        char identifier[256];
        size_t identifierLength = programName(identifier, sizeof identifier);
        for (size_t at = 0; at < length;) {
            const char *end = (const char *)memchr(text + at, '\n', length - at);
            size_t lineLength = end != NULL ? (size_t)(end - (text + at)) : length - at;
            if (lineLength > 0) {
                sendEntry(fd, &address, identifier, identifierLength, text + at, lineLength);
            }
            at += lineLength + 1;
        }
        close(fd);
    }
    errno = savedErrno;
}

void quietReport(const char *text, size_t length) {
    quietWrite(STDERR_FILENO, text, length);
    quietJournal(text, length);
}
