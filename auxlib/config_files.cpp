// The configuration's files as the library reads them: regular files
// only, opened without blocking, read whole up to their limit.
#include <errno.h>
#include <fcntl.h>
#include <glob.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config_source.h"
#include "config_text.h"
#include "diagnostics.h"

// What a file that is not a regular one is, for the reason.
static const char *kindOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "is a directory";
    }
    if (S_ISFIFO(mode)) {
        return "is a FIFO";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "is a device";
    }
    if (S_ISSOCK(mode)) {
        return "is a socket";
    }
    return "is not a regular file";
}

// Reads the open regular file `fd` of `size` bytes (as fstat saw it) into
// a heap buffer with a zero after it; grows past that size when the file
// did. Stores the length read; null with errno set, or with *length
// above the limit when the file is larger than the limit.
static char *readWhole(int fd, off_t size, size_t *length) {
    size_t capacity = (size_t)size < maxConfigFileBytes ? (size_t)size + 2 : maxConfigFileBytes + 2;
    size_t used = 0;
    char *text = (char *)malloc(capacity);
    if (text == nullptr) {
        return nullptr;
    }
    for (;;) {
        if (used + 1 == capacity) {
            if (capacity == maxConfigFileBytes + 2) {
                break;
            }
            size_t grown = 2 * capacity < maxConfigFileBytes + 2 ? 2 * capacity : maxConfigFileBytes + 2;
            char *larger = (char *)realloc(text, grown);
            if (larger == nullptr) {
                free(text);
                return nullptr;
            }
            text = larger;
            capacity = grown;
        }
        ssize_t got = read(fd, text + used, capacity - 1 - used);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            int failure = errno;
            free(text);
            errno = failure;
            return nullptr;
        }
        if (got == 0) {
            break;
        }
        used += (size_t)got;
    }
    *length = used;
    text[used] = '\0';
    return text;
}

// ConfigSource.readFile: opened without blocking, so that a FIFO cannot
// hold the start; anything but a regular file is refused before a read.
static bool readRegularFile(void *, const char *path, ConfigFileText *text, char *reason) {
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return refuseWith(reason, "%s", strerror(errno));
    }
    struct stat status;
    if (fstat(fd, &status) != 0) {
        int failure = errno;
        close(fd);
        return refuseWith(reason, "%s", strerror(failure));
    }
    if (!S_ISREG(status.st_mode)) {
        close(fd);
        return refuseWith(reason, "%s, not a regular file", kindOf(status.st_mode));
    }
    size_t length = 0;
    char *bytes = status.st_size > (off_t)maxConfigFileBytes ? nullptr
                                                             : readWhole(fd, status.st_size, &length);
    int failure = errno;
    close(fd);
    if (bytes == nullptr || length > maxConfigFileBytes) {
        free(bytes);
        if (bytes == nullptr && status.st_size <= (off_t)maxConfigFileBytes) {
            return refuseWith(reason, "%s", failure == ENOMEM ? "out of memory" : strerror(failure));
        }
        return refuseWith(reason, "larger than %zu bytes", maxConfigFileBytes);
    }
    *text = ConfigFileText{bytes, length, (uint64_t)status.st_dev, (uint64_t)status.st_ino};
    return true;
}

// ConfigSource.match through glob(3), sorted, the glob_t as the owner.
static bool matchFiles(void *, const char *pattern, ConfigMatches *matches, char *reason) {
    glob_t *found = (glob_t *)calloc(1, sizeof *found);
    if (found == nullptr) {
        return refuseWith(reason, "out of memory");
    }
    int status = glob(pattern, 0, nullptr, found);
    if (status != 0 && status != GLOB_NOMATCH) {
        globfree(found);
        free(found);
        return refuseWith(reason, "%s", status == GLOB_NOSPACE ? "out of memory" : "read error");
    }
    *matches = ConfigMatches{status == 0 ? found->gl_pathc : 0, found->gl_pathv, found};
    return true;
}

// ConfigSource.releaseMatches for matchFiles.
static void releaseFileMatches(void *, ConfigMatches *matches) {
    glob_t *found = (glob_t *)matches->owner;
    if (found != nullptr) {
        globfree(found);
        free(found);
    }
    *matches = ConfigMatches{0, nullptr, nullptr};
}

// ConfigSource.isFile through stat(2).
static bool isRegularFile(void *, const char *path, char *reason) {
    struct stat status;
    if (stat(path, &status) != 0) {
        return refuseWith(reason, "%s: %s", path, strerror(errno));
    }
    if (!S_ISREG(status.st_mode)) {
        return refuseWith(reason, "%s %s, not a regular file", path, kindOf(status.st_mode));
    }
    return true;
}

// ConfigSource.variable: the process environment. In secure mode (a
// set-user-id launcher or one with file capabilities) the caller's
// environment chooses nothing: every variable counts as unset, so that
// only the configuration's own defaults apply.
static const char *environmentVariable(void *, const char *name) {
    return getauxval(AT_SECURE) != 0 ? nullptr : getenv(name);
}

// ConfigSource.trace: one debug line in the launcher's "[pid]: " form.
static void traceEvent(void *, const char *event, const char *path) {
    char prefix[32];
    (void)snprintf(prefix, sizeof prefix, "[%d]: ", (int)getpid());
    if (strcmp(event, "read") == 0) {
        writeLine(prefix, "config: [%s]", path);
    } else {
        writeLine(prefix, "config: %s: [%s]", event, path);
    }
}

const ConfigSource *fileSystemSource(bool traced) {
    static const ConfigSource quiet = {nullptr,       readRegularFile,     matchFiles, releaseFileMatches,
                                       isRegularFile, environmentVariable, nullptr};
    static const ConfigSource loud = {nullptr,       readRegularFile,     matchFiles, releaseFileMatches,
                                      isRegularFile, environmentVariable, traceEvent};
    return traced ? &loud : &quiet;
}
