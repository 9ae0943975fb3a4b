// Locates the auxiliary library through the package that owns the running
// executable, asking the rpm and dpkg commands through the shell, or falls
// back to the lib directory beside the executable's directory.
#include "locator.h"

#include <errno.h>
#include <fcntl.h>
#include <libgen.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/auxv.h>
#include <unistd.h>

#include "launcher.h"
#include "quiet_writer.h"

// Receives one output line (without its newline, changeable in place);
// returns 1 to ask for further lines, anything else to stop delivery.
typedef int32_t (*LineCallback)(void *context, char *line);

// The package that owns the executable.
struct PackageDesc {
    char *name;   // owned; null until known
    int32_t type; // 0 no owner known, 1 rpm package, 2 deb package
};

static const char libraryName[] = "/libapplauncher.so";

// Told of each query while getKivLauncherLibPathOf runs; null otherwise.
static const LocatorObserver *appObserver = nullptr;

// The whole environment of the package queries in secure mode, built from
// an allow-list with nothing of the caller's: the trusted PATH, a HOME that
// only root can change (rpm reads ~/.rpmmacros, ~/.rpmrc and popt's
// ~/.popt there, and takes a "~" relative to the working directory when
// HOME is unset), and the C locale. Static, so that it takes the caller's
// environment's place without any allocation.
static char trustedPath[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
static char trustedHome[] = "HOME=/";
static char trustedLocale[] = "LC_ALL=C";
static char *queryEnvironment[] = {trustedPath, trustedHome, trustedLocale, nullptr};

// The caller's working directory and environment while a query runs in
// secure mode, for restoreTheCaller.
struct CallerState {
    bool secure;
    int directory;  // the caller's working directory (O_PATH), or -1
    char **environment;
};

// In secure mode (a set-user-id or set-group-id executable, or one with
// file capabilities: AT_SECURE), the caller must not choose what answers
// the package queries: the command about to start runs from the
// directory "/" with queryEnvironment alone, which the shell and the
// package manager inherit through popen. Notes in *state what to restore.
// When the caller's directory cannot be kept open, the process stays in
// "/" (after a log line). Outside secure mode it changes nothing.
static void distrustTheCaller(CallerState *state) {
    state->secure = getauxval(AT_SECURE) != 0;
    state->directory = -1;
    state->environment = environ;
    if (!state->secure) {
        return;
    }
    state->directory = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (state->directory < 0) {
        kivLauncherLog("%s", strerror(errno));
    }
    if (chdir("/") != 0) {
        kivLauncherLog("%s", strerror(errno));
    }
    environ = queryEnvironment;
}

// Gives the process back the environment and working directory that
// distrustTheCaller put aside once the command has started: the rest of
// the child (its trace switch, the auxiliary library) sees the caller's
// environment and directory, as the runtime will in the launcher's own
// process. Keeps errno.
static void restoreTheCaller(const CallerState *state) {
    if (!state->secure) {
        return;
    }
    int savedErrno = errno;
    environ = state->environment;
    if (state->directory >= 0) {
        if (fchdir(state->directory) != 0) {
            kivLauncherLog("%s", strerror(errno));
        }
        close(state->directory);
    }
    errno = savedErrno;
}

// The running executable's path as "/proc/self/exe" gives it, at most 4095
// bytes, as heap text; null after logging when it cannot be had.
static char *getModulePath() {
    char buffer[4096] = {0};
    if (readlink("/proc/self/exe", buffer, sizeof buffer - 1) < 0) {
        kivLauncherLog("%s", strerror(errno));
        return nullptr;
    }
    char *path = strdup(buffer);
    if (path == nullptr) {
        kivLauncherLog("%s", strerror(errno));
    }
    return path;
}

// The command text: `commandTemplate` with its one "%s" replaced by
// `argument`, in which each single quote becomes '\'' so that the argument
// stays one shell word inside the template's quotes. Heap text, or null.
static char *buildCommand(const char *commandTemplate, const char *argument) {
    size_t quotes = 0;
    for (const char *c = argument; *c != '\0'; c++) {
        quotes += *c == '\'';
    }
    size_t templateLength = strlen(commandTemplate);
    size_t argumentLength = strlen(argument);
    char *command = (char *)malloc(templateLength + argumentLength + 3 * quotes + 1);
    if (command == nullptr) {
        return nullptr;
    }
    const char *marker = strstr(commandTemplate, "%s");
    size_t head = (size_t)(marker - commandTemplate);
    char *out = command;
    memcpy(out, commandTemplate, head);
    out += head;
    for (const char *c = argument; *c != '\0'; c++) {
        if (*c == '\'') {
            memcpy(out, "'\\''", 4);
            out += 4;
        } else {
            *out++ = *c;
        }
    }
    memcpy(out, marker + 2, templateLength - head - 1);
    return command;
}

// One output line being gathered: heap text with room for `capacity`
// bytes, of which the first `length` hold the line so far.
struct LineBuffer {
    char *text;
    size_t capacity;
    size_t length;
};

// Appends `count` bytes to the line, first growing its buffer (capacities
// 1, 3, 7, 15...) until they and a terminating zero fit. Returns false,
// after logging, when the buffer cannot grow.
static bool appendToLine(LineBuffer *line, const char *bytes, size_t count) {
    size_t needed = line->length + count + 1;
    if (needed > line->capacity) {
        size_t grown = line->capacity;
        while (needed > grown) {
            grown = 2 * grown + 1;
        }
        char *larger = (char *)realloc(line->text, grown);
        if (larger == nullptr) {
            kivLauncherLog("%s", strerror(errno));
            return false;
        }
        line->text = larger;
        line->capacity = grown;
    }
    memcpy(line->text + line->length, bytes, count);
    line->length += count;
    return true;
}

// Ends the gathered line: an empty one is skipped; any other is
// terminated, logged when `logging`, handed to `callback`, and the buffer
// emptied. Returns whether further lines are wanted.
static bool deliverLine(LineBuffer *line, bool logging, LineCallback callback, void *context) {
    if (line->length == 0) {
        return true;
    }
    line->text[line->length] = '\0';
    line->length = 0;
    if (logging) {
        kivLauncherLog("popen: [%s]", line->text);
    }
    if (appObserver != nullptr) {
        appObserver->queryLine(appObserver->context, line->text);
    }
    return callback(context, line->text) == 1;
}

// Reads the command's output to its end, handing each non-empty line to
// `callback` until it returns something other than 1; the rest is read and
// discarded so that the command can finish. The output is read in large
// blocks and split at its newlines; an interrupted read is repeated, any
// other read error ends the output. Whether lines are logged is asked
// once, not for every line. Stops reading at once when the line
// buffer cannot grow, dropping the partial line.
static void readLines(FILE *stream, LineCallback callback, void *context) {
    char block[65536];
    LineBuffer line = {nullptr, 0, 0};
    bool delivering = true;
    bool reading = true;
    bool logging = quietDebugEnabled();
    while (reading) {
        size_t got = fread(block, 1, sizeof block, stream);
        if (got < sizeof block) {
            reading = ferror(stream) != 0 && errno == EINTR;
            clearerr(stream);
        }
        const char *next = block;
        const char *end = block + got;
        while (delivering && next < end) {
            const char *newline = (const char *)memchr(next, '\n', (size_t)(end - next));
            const char *stop = newline != nullptr ? newline : end;
            if (!appendToLine(&line, next, (size_t)(stop - next))) {
                free(line.text);
                return;
            }
            if (newline == nullptr) {
                break;
            }
            delivering = deliverLine(&line, logging, callback, context);
            next = newline + 1;
        }
    }
    if (delivering) {
        deliverLine(&line, logging, callback, context);
    }
    free(line.text);
}

// Runs `commandTemplate` with `argument` through the shell and feeds its
// output lines to `callback`; in secure mode the command starts from "/"
// with the allow-listed environment alone (distrustTheCaller). Returns the
// undecoded wait status from pclose, or -1 when the command cannot be
// built or started.
static int32_t popenCommand(const char *commandTemplate, const char *argument,
                            LineCallback callback, void *context) {
    int32_t status = -1;
    char *command = buildCommand(commandTemplate, argument);
    if (command == nullptr) {
        kivLauncherLog("%s", strerror(errno));
    } else {
        kivLauncherLog("popen: (%s)", command);
        if (appObserver != nullptr) {
            appObserver->queryStarted(appObserver->context, command);
        }
        CallerState caller;
        distrustTheCaller(&caller);
        // NOLINTNEXTLINE(cert-env33-c): the query needs the shell; the argument is quoted
        FILE *stream = popen(command, "r");
        restoreTheCaller(&caller);
        if (stream == nullptr) {
            kivLauncherLog("%s", strerror(errno));
        } else {
            readLines(stream, callback, context);
            status = pclose(stream);
        }
    }
    free(command);
    kivLauncherLog("popen: exit: %d", status);
    if (appObserver != nullptr) {
        appObserver->queryEnded(appObserver->context, status);
    }
    return status;
}

// Stores a copy of `name` and `type` in `desc`; on a failed copy logs and
// leaves `desc` as it was.
static void initPackageDesc(PackageDesc *desc, const char *name, int32_t type) {
    char *copy = strdup(name);
    if (copy == nullptr) {
        kivLauncherLog("%s", strerror(errno));
        return;
    }
    free(desc->name);
    desc->name = copy;
    desc->type = type;
}

// First line of the rpm query: the owning package's name.
static int32_t initRpmPackage(void *context, char *line) {
    initPackageDesc((PackageDesc *)context, line, 1);
    return 0;
}

// Whether a line of the dpkg search names owners ("pkg: path", "pkg:arch:
// path", "pkg1, pkg2: path") rather than a diversion ("diversion by pkg
// from: path", "local diversion to: path", in any language): before its
// first ':' a blank only ever follows a comma.
static bool isOwnerLine(const char *line) {
    for (const char *c = line; *c != '\0' && *c != ':'; c++) {
        if ((*c == ' ' || *c == '\t') && (c == line || c[-1] != ',')) {
            return false;
        }
    }
    return true;
}

// First owner line of the dpkg search: the package name before the first
// ':'. Diversion lines before it are passed over.
static int32_t initDebPackage(void *context, char *line) {
    if (!isOwnerLine(line)) {
        return 1;
    }
    char *colon = strchr(line, ':');
    if (colon != nullptr) {
        *colon = '\0';
    }
    initPackageDesc((PackageDesc *)context, line, 2);
    return 0;
}

// Stores a copy of the first listed path ending in "/libapplauncher.so" in
// the result slot `context` and stops; returns 1 for any other line.
static int32_t findLauncherLib(void *context, char *line) {
    size_t length = strlen(line);
    size_t suffix = sizeof libraryName - 1;
    if (length < suffix || strcmp(line + length - suffix, libraryName) != 0) {
        return 1;
    }
    char *copy = strdup(line);
    if (copy == nullptr) {
        kivLauncherLog("%s", strerror(errno));
    }
    *(char **)context = copy;
    return 0;
}

// Asks rpm, then (when rpm's query fails) dpkg, which package owns `path`.
// Returns true when an owner is known, with its name and type in `desc`.
static bool findOwner(PackageDesc *desc, const char *path) {
    if (popenCommand("rpm --queryformat '%{NAME}' -qf '%s' 2>/dev/null", path, initRpmPackage,
                     desc) != 0) {
        desc->type = 0;
        if (popenCommand("dpkg -S '%s' 2>/dev/null", path, initDebPackage, desc) != 0) {
            desc->type = 0;
        }
    }
    return desc->type != 0 && desc->name != nullptr;
}

// The library's path from the owning package's file list, or null when
// the listing fails or does not name the library.
static char *listLauncherLib(const PackageDesc *desc) {
    const char *listCommand =
        desc->type == 1 ? "rpm -ql '%s' 2>/dev/null" : "dpkg -L '%s' 2>/dev/null";
    char *found = nullptr;
    if (popenCommand(listCommand, desc->name, findLauncherLib, &found) != 0) {
        free(found);
        found = nullptr;
    }
    return found;
}

// <directory of the executable's directory>/lib/libapplauncher.so as heap
// text, or null; `exePath` may be changed in place.
static char *fallbackLibPath(char *exePath) {
    const char *root = dirname(dirname(exePath));
    size_t size = strlen(root) + 4 + sizeof libraryName;
    char *path = (char *)malloc(size);
    if (path == nullptr) {
        kivLauncherLog("%s", strerror(errno));
        return nullptr;
    }
    (void)snprintf(path, size, "%s/lib%s", root, libraryName);
    return path;
}

// Where the library for the executable at `exePath` lies, as
// getKivLauncherLibPath tells it; takes `exePath` (heap text) over and
// frees it, changed in place on the way.
static char *locateLauncherLib(char *exePath) {
    char *result = nullptr;
    bool owned = false;
    PackageDesc *desc = (PackageDesc *)malloc(sizeof *desc);
    if (desc == nullptr) {
        kivLauncherLog("%s", strerror(errno));
    } else {
        desc->name = nullptr;
        desc->type = 0;
        owned = findOwner(desc, exePath);
        if (owned) {
            kivLauncherLog("owner pkg: (%s|%d)", desc->name, desc->type);
            if (appObserver != nullptr) {
                appObserver->ownerFound(appObserver->context, desc->name, desc->type);
            }
            result = listLauncherLib(desc);
        }
        free(desc->name);
        free(desc);
    }
    if (!owned) {
        result = fallbackLibPath(exePath);
    }
    free(exePath);
    return result;
}

char *getKivLauncherLibPath() {
    char *exePath = getModulePath();
    if (exePath == nullptr) {
        return nullptr;
    }
    return locateLauncherLib(exePath);
}

char *getKivLauncherLibPathOf(const char *exePath, const LocatorObserver *observer) {
    char *copy = strdup(exePath);
    if (copy == nullptr) {
        kivLauncherLog("%s", strerror(errno));
        return nullptr;
    }
    appObserver = observer;
    char *path = locateLauncherLib(copy);
    appObserver = nullptr;
    return path;
}
