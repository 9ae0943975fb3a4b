/* Class data archives in ${XDG_CACHE_HOME:-$HOME/.cache}/applauncher/jvm:
 *   jdk-<J>                        the libjvm.so of JDK build J, for the cleanup
 *   <app>-<P>/<J>-<S>-<C>-<T>.jsa  the archive of the application at path
 *                                  hash P, JDK build J, options and class
 *                                  path S, class path files' state C; T
 *                                  its size and first and last bytes
 *   <app>-<P>/tmp-<pid>-<n>.jsa    one being recorded by process pid
 *   <app>-<P>/program              the application's program, for the cleanup
 * A file whose T does not match its contents is damaged and removed; only
 * whole archives are renamed to their final name. An application keeps
 * at most MOST_ARCHIVES archives, the newest. */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include "jvm_archive.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <inttypes.h>
#include <limits.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include "runtime_trace.h"
#include "secure_environment.h"

enum {
    STAMP_BYTES = 4096,
    HASH_TEXT = 17,
    RESERVED_SPACE = 32 << 20,
    LEFTOVER_SECONDS = 24 * 60 * 60,
    MOST_ARCHIVES = 8,
};

static const char silenceArchiveMessages[] = "-Xlog:cds*=off";

/* The recording this process finishes at its exit. */
typedef struct Recording {
    bool active;
    bool byVm;                   /* JDK 19 and later: -XX:+AutoCreateSharedArchive */
    char temporary[PATH_MAX];    /* where the VM writes */
    char directory[PATH_MAX];    /* the application's archive directory */
    char root[PATH_MAX];         /* .../applauncher/jvm */
    char prefix[4 * HASH_TEXT];  /* "<J>-<S>-<C>-" */
    char jdk[HASH_TEXT];
    char libjvm[PATH_MAX];
    char program[PATH_MAX];      /* the application's program, resolved */
    char previous[PATH_MAX];     /* the archive the VM was given, or "" */
    struct stat given;           /* the temporary file as the VM got it: an
                                    unchanged one was not written */
} Recording;

static Recording recording;

/* Formats like printf into `out` of `size` bytes; returns false when the
 * text did not fit (it is then cut). */
static bool formatInto(char *out, size_t size, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
static bool formatInto(char *out, size_t size, const char *format, ...) {
    char *text = NULL;
    va_list args;
    va_start(args, format);
    int length = vasprintf(&text, format, args);
    va_end(args);
    if (length < 0) {
        out[0] = '\0';
        return false;
    }
    (void)snprintf(out, size, "%s", text);
    free(text);
    return (size_t)length < size;
}

/* Continues the 64-bit FNV-1a hash `hash` over `length` bytes. */
static uint64_t hashBytes(uint64_t hash, const void *data, size_t length) {
    const unsigned char *bytes = (const unsigned char *)data;
    for (size_t i = 0; i < length; i++) {
        hash = (hash ^ bytes[i]) * 0x100000001b3ULL;
    }
    return hash;
}

static const uint64_t hashStart = 0xcbf29ce484222325ULL;

/* Continues `hash` over the eight bytes of `value`, lowest first. */
static uint64_t hashNumber(uint64_t hash, uint64_t value) {
    for (int i = 0; i < 8; i++) {
        hash = (hash ^ ((value >> (8 * i)) & 0xff)) * 0x100000001b3ULL;
    }
    return hash;
}

/* Continues `hash` over a string and its terminating zero. */
static uint64_t hashText(uint64_t hash, const char *text) {
    return hashBytes(hash, text, strlen(text) + 1);
}

/* Continues `hash` over what identifies the file at `path` as it is now
 * (device, inode, size, modification time). Returns false when it does
 * not exist. */
static bool hashFileState(uint64_t *hash, const char *path) {
    struct stat status;
    if (stat(path, &status) != 0) {
        return false;
    }
    *hash = hashNumber(hashNumber(hashNumber(hashNumber(hashNumber(*hash, (uint64_t)status.st_dev),
                                                        (uint64_t)status.st_ino),
                                             (uint64_t)status.st_size),
                                  (uint64_t)status.st_mtim.tv_sec),
                       (uint64_t)status.st_mtim.tv_nsec);
    return true;
}

/* The stamp of the file at `path`: a hash of its size and its first and
 * last STAMP_BYTES bytes, as 16 hex digits. False when it cannot be read. */
static bool stampOf(const char *path, char stamp[HASH_TEXT]) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    struct stat status;
    unsigned char head[STAMP_BYTES];
    unsigned char tail[STAMP_BYTES];
    bool fine = fd >= 0 && fstat(fd, &status) == 0 && status.st_size > STAMP_BYTES &&
                pread(fd, head, sizeof head, 0) == (ssize_t)sizeof head &&
                pread(fd, tail, sizeof tail, status.st_size - STAMP_BYTES) ==
                    (ssize_t)sizeof tail;
    if (fd >= 0) {
        close(fd);
    }
    if (fine) {
        uint64_t hash = hashBytes(hashBytes(hashNumber(hashStart, (uint64_t)status.st_size), head,
                                            sizeof head),
                                  tail, sizeof tail);
        (void)snprintf(stamp, HASH_TEXT, "%016" PRIx64, hash);
    }
    return fine;
}

/* The sharing option `text` gives, or null: -Xshare:*, and the -XX
 * options that name, record or turn archives on or off, or change the
 * boot modules so that the VM does not share. */
static const char *sharingOptionIn(const char *text) {
    static const char *const options[] = {
        "-Xshare",          "SharedArchiveFile", "ArchiveClassesAtExit", "AutoCreateSharedArchive",
        "SharedClassListFile", "DumpLoadedClassList", "AOTCache", "AOTMode", "AOTConfiguration",
        "--patch-module", "--upgrade-module-path", "--limit-modules", "-Xbootclasspath",
        "-javaagent", "-agentlib", "-agentpath"};
    for (size_t i = 0; text != NULL && i < sizeof options / sizeof options[0]; i++) {
        if (strstr(text, options[i]) != NULL) {
            return options[i];
        }
    }
    return NULL;
}

/* Whether every entry of the colon-separated `classPath` (relative ones
 * under `base`, when not null) is a jar file: a regular file. Adds each
 * one's state to *hash. `separator` splits the entries. */
static bool jarsOnly(const char *classPath, const char *base, char separator, uint64_t *hash) {
    bool fine = true;
    for (const char *entry = classPath; fine && entry != NULL && *entry != '\0';) {
        const char *end = strchr(entry, separator);
        size_t length = end != NULL ? (size_t)(end - entry) : strlen(entry);
        char *path = NULL;
        if (length > 0) {
            bool relative = base != NULL && entry[0] != '/';
            fine = asprintf(&path, "%s%s%.*s", relative ? base : "", relative ? "/" : "",
                            (int)length, entry) >= 0;
            struct stat status;
            fine = fine && stat(path, &status) == 0 && S_ISREG(status.st_mode) &&
                   hashFileState(hash, path);
            free(path);
        }
        entry = end != NULL ? end + 1 : NULL;
    }
    return fine;
}

/* Why this launch gets no archive, or null; sets *slot (what the archive
 * is for: JDK build, options, class path) and *state (the class path
 * files as they are). */
static const char *reasonForNone(const JvmLibrary *library, const JvmCommand *command,
                                 const JarManifest *manifest, uint64_t *slot, uint64_t *state) {
    static const char *const variables[] = {"JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS"};
    static char reason[160];
    const char *setting = getenv("HUX_JAVA_CDS");
    if (huxSecureMode()) {
        return "secure mode";
    }
    if (setting != NULL && strcmp(setting, "off") == 0) {
        return "HUX_JAVA_CDS=off";
    }
    if (manifest != NULL && manifest->launcherAgentClass != NULL) {
        return "the jar starts a Launcher-Agent-Class, and the VM records no archive with an "
               "agent";
    }
    *slot = hashText(hashStart, library->path);
    *state = hashStart;
    const char *classPath = NULL;
    for (int i = 0; i < command->vmOptionCount; i++) {
        const char *option = command->vmOptions[i];
        const char *given = sharingOptionIn(option);
        if (given != NULL) {
            (void)snprintf(reason, sizeof reason, "the command gives %s", option);
            return reason;
        }
        if (strncmp(option, "-Djava.class.path=", 18) == 0) {
            classPath = option + 18;
        }
        if (strncmp(option, "-Dsun.java.command=", 19) != 0) {
            *slot = hashText(*slot, option);
        }
    }
    for (size_t i = 0; i < sizeof variables / sizeof variables[0]; i++) {
        const char *given = sharingOptionIn(getenv(variables[i]));
        if (given != NULL) {
            (void)snprintf(reason, sizeof reason, "%s gives %s", variables[i], given);
            return reason;
        }
    }
    if (library->feature < 17) {
        return "the JDK is older than Java 17 or of unknown version";
    }
    if (!hashFileState(state, library->path)) {
        return "libjvm.so cannot be examined";
    }
    char *base = command->jarFile != NULL ? strdup(command->jarFile) : NULL;
    char *slash = base != NULL ? strrchr(base, '/') : NULL;
    if (slash != NULL) {
        *slash = '\0';
    }
    bool jars = jarsOnly(classPath, NULL, ':', state) &&
                (manifest == NULL || jarsOnly(manifest->classPath, slash != NULL ? base : ".",
                                              ' ', state));
    free(base);
    if (classPath == NULL || !jars) {
        return "the class path is not jar files alone";
    }
    char baseArchive[PATH_MAX];
    if (snprintf(baseArchive, sizeof baseArchive, "%s/lib/server/classes.jsa", library->home) >=
            (int)sizeof baseArchive ||
        access(baseArchive, R_OK) != 0) {
        return "the JDK has no base archive (lib/server/classes.jsa)";
    }
    return NULL;
}

/* Makes `path` and the directories above it that are missing, mode 0700.
 * Returns 0, or the errno of the first that could not be made. */
static int makeDirectories(char *path) {
    for (char *slash = strchr(path + 1, '/');; slash = strchr(slash + 1, '/')) {
        if (slash != NULL) {
            *slash = '\0';
        }
        int failed = mkdir(path, 0700) != 0 && errno != EEXIST ? errno : 0;
        if (slash != NULL) {
            *slash = '/';
        }
        if (failed != 0 || slash == NULL) {
            return failed;
        }
    }
}

/* The cache's archive root into `root`: $XDG_CACHE_HOME (when absolute)
 * or $HOME/.cache, then /applauncher/jvm. False when neither is set. */
static bool cacheRoot(char root[PATH_MAX]) {
    const char *cache = getenv("XDG_CACHE_HOME");
    const char *home = getenv("HOME");
    int length = -1;
    if (cache != NULL && cache[0] == '/') {
        length = snprintf(root, PATH_MAX, "%s/applauncher/jvm", cache);
    } else if (home != NULL && home[0] == '/') {
        length = snprintf(root, PATH_MAX, "%s/.cache/applauncher/jvm", home);
    }
    return length > 0 && length < PATH_MAX;
}

/* Looks in `directory` for the archive named `prefix` + its stamp +
 * ".jsa"; removes one whose stamp does not match (damaged or not ours).
 * Returns whether one was found, its path in `found`. */
static bool findArchive(const char *directory, const char *prefix, char found[PATH_MAX]) {
    DIR *dir = opendir(directory);
    bool fine = false;
    size_t prefixLength = strlen(prefix);
    /* One stream read by one thread: readdir is safe, readdir_r deprecated. */
    /* cppcheck-suppress readdirCalled */
    for (struct dirent *entry; dir != NULL && !fine && (entry = readdir(dir)) != NULL;) {
        const char *name = entry->d_name;
        char stamp[HASH_TEXT];
        if (strncmp(name, prefix, prefixLength) != 0 ||
            !formatInto(found, PATH_MAX, "%s/%s", directory, name)) {
            continue;
        }
        fine = strlen(name) == prefixLength + HASH_TEXT - 1 + 4 && stampOf(found, stamp) &&
               strncmp(name + prefixLength, stamp, HASH_TEXT - 1) == 0 &&
               strcmp(name + prefixLength + HASH_TEXT - 1, ".jsa") == 0;
        if (!fine) {
            huxTrace("jvm: class data archive [%s] damaged or foreign: removed", found);
            (void)unlink(found);
        }
    }
    if (dir != NULL) {
        closedir(dir);
    }
    return fine;
}

/* Whether a temporary archive's name "tmp-<pid>-..." names a process that
 * has gone, or its file is older than a day. */
static bool leftOver(const char *directory, const char *name) {
    char *end = NULL;
    long pid = strtol(name + 4, &end, 10);
    char path[PATH_MAX];
    struct stat status;
    if (!formatInto(path, sizeof path, "%s/%s", directory, name) ||
        stat(path, &status) != 0) {
        return false;
    }
    bool gone = pid > 0 && *end == '-' && pid != (long)getpid() && kill((pid_t)pid, 0) != 0 &&
                errno == ESRCH;
    return gone || time(NULL) - status.st_mtim.tv_sec > LEFTOVER_SECONDS;
}

/* Removes from `directory` the temporary archives left by processes that
 * have gone, and the archives of the same JDK build and options as
 * `kept` (a file name) that are no newer: the ones it replaces. */
static void removeReplaced(const char *directory, const char *kept) {
    DIR *dir = opendir(directory);
    size_t slotLength = (size_t)2 * HASH_TEXT;
    struct stat keptStatus;
    bool known = dir != NULL && fstatat(dirfd(dir), kept, &keptStatus, 0) == 0;
    /* cppcheck-suppress readdirCalled */
    for (struct dirent *entry; known && (entry = readdir(dir)) != NULL;) {
        const char *name = entry->d_name;
        struct stat status;
        bool replaced = strncmp(name, kept, slotLength) == 0 && strcmp(name, kept) != 0 &&
                        fstatat(dirfd(dir), name, &status, 0) == 0 &&
                        (status.st_mtim.tv_sec < keptStatus.st_mtim.tv_sec ||
                         (status.st_mtim.tv_sec == keptStatus.st_mtim.tv_sec &&
                          status.st_mtim.tv_nsec <= keptStatus.st_mtim.tv_nsec));
        if (replaced || (strncmp(name, "tmp-", 4) == 0 && leftOver(directory, name))) {
            (void)unlinkat(dirfd(dir), name, 0);
            huxTrace("jvm: class data archive [%s/%s] removed: %s", directory, name,
                     replaced ? "replaced" : "left by a run that ended");
        }
    }
    if (dir != NULL) {
        closedir(dir);
    }
}

/* Removes the oldest archives of `directory` but `kept` (a file name)
 * while it holds more than MOST_ARCHIVES. */
static void removeOldest(const char *directory, const char *kept) {
    for (;;) {
        DIR *dir = opendir(directory);
        int count = 0;
        char oldest[NAME_MAX + 1] = "";
        struct timespec oldestTime = {0, 0};
        /* cppcheck-suppress readdirCalled */
        for (struct dirent *entry; dir != NULL && (entry = readdir(dir)) != NULL;) {
            const char *name = entry->d_name;
            size_t length = strlen(name);
            struct stat status;
            if (length < 4 || strcmp(name + length - 4, ".jsa") != 0 ||
                strncmp(name, "tmp-", 4) == 0 || fstatat(dirfd(dir), name, &status, 0) != 0) {
                continue;
            }
            count++;
            bool older = oldest[0] == '\0' || status.st_mtim.tv_sec < oldestTime.tv_sec ||
                         (status.st_mtim.tv_sec == oldestTime.tv_sec &&
                          status.st_mtim.tv_nsec < oldestTime.tv_nsec);
            if (strcmp(name, kept) != 0 && older) {
                (void)formatInto(oldest, sizeof oldest, "%s", name);
                oldestTime = status.st_mtim;
            }
        }
        bool removing = dir != NULL && count > MOST_ARCHIVES && oldest[0] != '\0' &&
                        unlinkat(dirfd(dir), oldest, 0) == 0;
        if (dir != NULL) {
            closedir(dir);
        }
        if (!removing) {
            return;
        }
        huxTrace("jvm: class data archive [%s/%s] removed: the application keeps its %d newest",
                 directory, oldest, MOST_ARCHIVES);
    }
}

/* Removes every file of directory `path`, then the directory. */
static void removeDirectory(const char *path) {
    DIR *dir = opendir(path);
    /* cppcheck-suppress readdirCalled */
    for (struct dirent *entry; dir != NULL && (entry = readdir(dir)) != NULL;) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
            (void)unlinkat(dirfd(dir), entry->d_name, 0);
        }
    }
    if (dir != NULL) {
        closedir(dir);
    }
    (void)rmdir(path);
}

/* Removes the directories under `root` of applications whose program (as
 * their "program" file names it) is gone. */
static void removeGoneApplications(const char *root) {
    DIR *dir = opendir(root);
    /* cppcheck-suppress readdirCalled */
    for (struct dirent *entry; dir != NULL && (entry = readdir(dir)) != NULL;) {
        char path[PATH_MAX];
        char marker[PATH_MAX];
        char program[PATH_MAX + 2] = "";
        if (entry->d_name[0] == '.' || strncmp(entry->d_name, "jdk-", 4) == 0 ||
            !formatInto(path, sizeof path, "%s/%s", root, entry->d_name) ||
            strcmp(path, recording.directory) == 0 ||
            !formatInto(marker, sizeof marker, "%s/program", path)) {
            continue;
        }
        FILE *file = fopen(marker, "re");
        bool read = file != NULL && fgets(program, sizeof program, file) != NULL;
        if (file != NULL) {
            (void)fclose(file);
        }
        program[strcspn(program, "\n")] = '\0';
        if (read && program[0] == '/' && access(program, F_OK) != 0 && errno == ENOENT) {
            removeDirectory(path);
            huxTrace("jvm: class data archives [%s] removed: %s is gone", path, program);
        }
    }
    if (dir != NULL) {
        closedir(dir);
    }
}

/* Writes the application's "program" file in `directory` naming
 * `program`, unless it is there. */
static void markProgram(const char *directory, const char *program) {
    char marker[PATH_MAX];
    if (program[0] == '/' && formatInto(marker, sizeof marker, "%s/program", directory)) {
        FILE *file = fopen(marker, "wxe");
        if (file != NULL) {
            (void)fprintf(file, "%s\n", program);
            (void)fclose(file);
        }
    }
}

/* The 16 hex digits of the JDK build of the libjvm.so at `libjvm` into
 * `id`; false when it is gone. */
static bool jdkId(const char *libjvm, char id[HASH_TEXT]) {
    uint64_t hash = hashText(hashStart, libjvm);
    if (!hashFileState(&hash, libjvm)) {
        return false;
    }
    (void)snprintf(id, HASH_TEXT, "%016" PRIx64, hash);
    return true;
}

/* Removes, in every application directory under `root`, the archives of
 * JDK build `id`. */
static void removeJdkArchives(const char *root, const char *id) {
    DIR *dir = opendir(root);
    /* cppcheck-suppress readdirCalled */
    for (struct dirent *entry; dir != NULL && (entry = readdir(dir)) != NULL;) {
        char path[PATH_MAX];
        DIR *app = entry->d_name[0] != '.' && strncmp(entry->d_name, "jdk-", 4) != 0 &&
                           snprintf(path, sizeof path, "%s/%s", root, entry->d_name) <
                               (int)sizeof path
                       ? opendir(path)
                       : NULL;
        /* cppcheck-suppress readdirCalled */
        for (struct dirent *file; app != NULL && (file = readdir(app)) != NULL;) {
            if (strncmp(file->d_name, id, HASH_TEXT - 1) == 0) {
                (void)unlinkat(dirfd(app), file->d_name, 0);
                huxTrace("jvm: class data archive [%s/%s] removed: its JDK is gone", path,
                         file->d_name);
            }
        }
        if (app != NULL) {
            closedir(app);
        }
    }
    if (dir != NULL) {
        closedir(dir);
    }
}

/* Writes the marker root/jdk-<id> naming the recording's libjvm.so, and
 * removes the archives of every JDK build whose marker names a
 * libjvm.so that is gone or has changed. */
static void removeGoneJdks(const char *root, const char *id, const char *libjvm) {
    char marker[PATH_MAX];
    if (formatInto(marker, sizeof marker, "%s/jdk-%s", root, id)) {
        FILE *file = fopen(marker, "wxe");
        if (file != NULL) {
            (void)fprintf(file, "%s\n", libjvm);
            (void)fclose(file);
        }
    }
    DIR *dir = opendir(root);
    /* cppcheck-suppress readdirCalled */
    for (struct dirent *entry; dir != NULL && (entry = readdir(dir)) != NULL;) {
        char line[PATH_MAX + 2] = "";
        char current[HASH_TEXT];
        if (strncmp(entry->d_name, "jdk-", 4) != 0 ||
            !formatInto(marker, sizeof marker, "%s/%s", root, entry->d_name)) {
            continue;
        }
        FILE *file = fopen(marker, "re");
        bool read = file != NULL && fgets(line, sizeof line, file) != NULL;
        if (file != NULL) {
            (void)fclose(file);
        }
        line[strcspn(line, "\n")] = '\0';
        if (read && jdkId(line, current) && strcmp(current, entry->d_name + 4) == 0) {
            continue;
        }
        removeJdkArchives(root, entry->d_name + 4);
        (void)unlink(marker);
    }
    if (dir != NULL) {
        closedir(dir);
    }
}

/* At the process's exit: gives the archive the VM wrote its final name
 * when it is whole, and cleans the cache; removes the temporary name
 * otherwise. */
static void finishRecording(void) {
    Recording *done = &recording;
    struct stat now;
    char stamp[HASH_TEXT];
    char final[PATH_MAX];
    if (!done->active) {
        return;
    }
    done->active = false;
    bool written = stat(done->temporary, &now) == 0 &&
                   (now.st_ino != done->given.st_ino ||
                    now.st_mtim.tv_sec != done->given.st_mtim.tv_sec ||
                    now.st_mtim.tv_nsec != done->given.st_mtim.tv_nsec ||
                    now.st_size != done->given.st_size);
    bool named = written && stampOf(done->temporary, stamp) &&
                 formatInto(final, sizeof final, "%s/%s%s.jsa", done->directory, done->prefix,
                          stamp) &&
                 rename(done->temporary, final) == 0;
    if (!named) {
        (void)unlink(done->temporary);
        if (done->previous[0] == '\0') {
            huxTrace("jvm: class data archive [%s] not written by the VM", done->temporary);
        }
        return;
    }
    huxTrace("jvm: class data archive [%s] written", final);
    removeReplaced(done->directory, strrchr(final, '/') + 1);
    removeOldest(done->directory, strrchr(final, '/') + 1);
    markProgram(done->directory, done->program);
    removeGoneJdks(done->root, done->jdk, done->libjvm);
    removeGoneApplications(done->root);
}

/* Makes sure of `count` bytes of free space for the recording at `path`:
 * before Java 19, a file of that size there, which the VM removes before
 * it writes its own, freeing the space for it; from Java 19 on, where the
 * VM takes a file already there as a damaged archive, at least twice that
 * much free space. Returns 0, or the errno that says why not. */
static int reserveSpace(const char *path, off_t count, bool byVm) {
    if (byVm) {
        char *directory = strndup(path, (size_t)(strrchr(path, '/') - path));
        struct statvfs space;
        int failed = directory == NULL ? ENOMEM : statvfs(directory, &space) != 0 ? errno : 0;
        free(directory);
        if (failed == 0 && (uint64_t)space.f_bavail * space.f_frsize < 2 * (uint64_t)count) {
            failed = ENOSPC;
        }
        return failed;
    }
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return errno;
    }
    int failed = posix_fallocate(fd, 0, count);
    close(fd);
    if (failed != 0) {
        (void)unlink(path);
    }
    return failed;
}

/* Appends a heap copy of the option formatted like printf to *archive. */
static void addOption(JvmArchive *archive, const char *format, const char *value) {
    char *option = NULL;
    if (archive->optionCount < JVM_ARCHIVE_OPTIONS && asprintf(&option, format, value) >= 0) {
        archive->options[archive->optionCount++] = option;
    }
}

/* Fills `recording`'s names for the launch: the application's directory
 * under the cache (made when missing) from the process's executable (the
 * application's program; `program` when /proc does not say), the prefix
 * from the JDK build, `slot` and `state`. Returns null, or why it cannot
 * be. */
static const char *nameRecording(const char *program, const JvmLibrary *library, uint64_t slot,
                                 uint64_t state) {
    Recording *next = &recording;
    char *resolved = realpath("/proc/self/exe", NULL);
    (void)formatInto(next->program, sizeof next->program, "%s",
                     resolved != NULL ? resolved : program);
    free(resolved);
    const char *name = strrchr(next->program, '/');
    name = name != NULL ? name + 1 : next->program;
    uint64_t where = hashText(hashStart, next->program);
    if (!cacheRoot(next->root)) {
        return "neither XDG_CACHE_HOME nor HOME names a directory";
    }
    if (!jdkId(library->path, next->jdk) ||
        !formatInto(next->directory, sizeof next->directory, "%s/%.64s-%016" PRIx64, next->root,
                    name, where)) {
        return "the cache's path is too long";
    }
    (void)formatInto(next->prefix, sizeof next->prefix, "%s-%016" PRIx64 "-%016" PRIx64 "-",
                     next->jdk, slot, state);
    (void)formatInto(next->libjvm, sizeof next->libjvm, "%s", library->path);
    int failed = makeDirectories(next->directory);
    if (failed == 0 && access(next->directory, W_OK | X_OK) != 0) {
        failed = errno;
    }
    if (failed != 0) {
        static char reason[PATH_MAX + 64];
        (void)formatInto(reason, sizeof reason, "the cache [%s] cannot be written: %s",
                         next->directory, strerror(failed));
        return reason;
    }
    return NULL;
}

void jvmPrepareArchive(const char *program, const JvmLibrary *library, const JvmCommand *command,
                       const JarManifest *manifest, JvmArchive *archive) {
    static bool registered = false;
    Recording *next = &recording;
    uint64_t slot = 0;
    uint64_t state = 0;
    char found[PATH_MAX];
    static const JvmArchive none = {0};
    static const struct stat noFile = {0};
    *archive = none;
    const char *reason = reasonForNone(library, command, manifest, &slot, &state);
    if (reason == NULL) {
        reason = nameRecording(program != NULL ? program : "java", library, slot, state);
    }
    if (reason != NULL) {
        huxTrace("jvm: no class data archive: %s", reason);
        return;
    }
    bool exists = findArchive(next->directory, next->prefix, found);
    next->byVm = library->feature >= 19;
    next->previous[0] = '\0';
    if (exists && !next->byVm) {
        addOption(archive, "-XX:SharedArchiveFile=%s", found);
        addOption(archive, "%s", silenceArchiveMessages);
        huxTrace("jvm: class data archive [%s] used", found);
        return;
    }
    if (!formatInto(next->temporary, sizeof next->temporary, "%s/tmp-%ld-%lx.jsa",
                    next->directory, (long)getpid(), (unsigned long)time(NULL))) {
        huxTrace("jvm: no class data archive: the cache's path is too long");
        return;
    }
    int failed = exists ? (link(found, next->temporary) == 0 ? 0 : errno)
                        : reserveSpace(next->temporary, RESERVED_SPACE, next->byVm);
    next->given = noFile;
    if (failed == 0) {
        (void)formatInto(next->previous, sizeof next->previous, "%s", exists ? found : "");
        failed = stat(next->temporary, &next->given) == 0 || errno == ENOENT ? 0 : errno;
    }
    if (failed != 0) {
        (void)unlink(next->temporary);
        huxTrace("jvm: no class data archive: the cache [%s] cannot take one: %s",
                 next->directory, strerror(failed));
        return;
    }
    if (next->byVm) {
        addOption(archive, "%s", "-XX:+AutoCreateSharedArchive");
        addOption(archive, "-XX:SharedArchiveFile=%s", next->temporary);
    } else {
        addOption(archive, "-XX:ArchiveClassesAtExit=%s", next->temporary);
    }
    addOption(archive, "%s", silenceArchiveMessages);
    next->active = true;
    if (!registered) {
        registered = atexit(finishRecording) == 0;
    }
    huxTrace(exists ? "jvm: class data archive [%s] used, kept up to date by the VM"
                    : "jvm: class data archive [%s] recorded at exit",
             exists ? found : next->temporary);
}

void jvmReleaseArchive(JvmArchive *archive) {
    static const JvmArchive none = {0};
    for (int i = 0; i < archive->optionCount; i++) {
        free(archive->options[i]);
    }
    *archive = none;
}
