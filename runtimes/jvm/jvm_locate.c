/* Finding and loading libjvm.so: JAVA_HOME's, else that of the system's
 * java command, else the default JDK's, else that of the highest Java
 * version under the JDK directory; each only when its Java version is in
 * the range the application states. */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include "jvm_locate.h"

#include <dirent.h>
#include <dlfcn.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "hux_runtime_api.h"
#include "runtime_trace.h"
#include "secure_environment.h"

static const char jdkRoot[] = "/usr/lib/jvm";
static const char libjvmInJdk[] = "lib/server/libjvm.so";
static const char systemJavaCommand[] = "/usr/bin/java";

enum { VERSION_PARTS = 4 };

/* A JDK directory with a libjvm.so, and the Java version it holds. */
typedef struct Candidate {
    char *path;  /* heap: the libjvm.so */
    char *name;  /* heap: the directory's name */
    long version[VERSION_PARTS];
} Candidate;

/* Appends to the zero-terminated text in `buffer` (of `size` bytes) like
 * printf, truncating at the end of the buffer. */
static void appendFormat(char *buffer, size_t size, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
static void appendFormat(char *buffer, size_t size, const char *format, ...) {
    size_t used = strlen(buffer);
    char *text = NULL;
    va_list args;
    va_start(args, format);
    int length = vasprintf(&text, format, args);
    va_end(args);
    if (length >= 0) {
        if (used + 1 < size) {
            (void)snprintf(buffer + used, size - used, "%s", text);
        }
        free(text);
    }
}

/* Reads dotted numbers ("17.0.15", "1.8.0_292") from the start of `text`
 * into version[], the rest zero; "1.N" counts as N, as Java versions
 * before 9 were written. Returns whether a number was there. */
static bool parseVersion(const char *text, long version[VERSION_PARTS]) {
    for (int i = 0; i < VERSION_PARTS; i++) {
        version[i] = 0;
    }
    int parts = 0;
    while (parts < VERSION_PARTS && *text >= '0' && *text <= '9') {
        char *end = NULL;
        version[parts++] = strtol(text, &end, 10);
        text = end;
        if (*text != '.') {
            break;
        }
        text++;
    }
    if (parts >= 2 && version[0] == 1) {
        for (int i = 0; i + 1 < VERSION_PARTS; i++) {
            version[i] = version[i + 1];
        }
        version[VERSION_PARTS - 1] = 0;
    }
    return parts > 0;
}

/* The Java version of JDK directory `dir` named `name`: JAVA_VERSION of
 * its release file, else the first number in its name, else zero. */
static void readJdkVersion(const char *dir, const char *name, long version[VERSION_PARTS]) {
    static const char key[] = "JAVA_VERSION=\"";
    char path[PATH_MAX];
    bool found = false;
    if (snprintf(path, sizeof path, "%s/release", dir) < (int)sizeof path) {
        char line[256];
        FILE *release = fopen(path, "re");
        while (release != NULL && !found && fgets(line, sizeof line, release) != NULL) {
            found = strncmp(line, key, sizeof key - 1) == 0 &&
                    parseVersion(line + sizeof key - 1, version);
        }
        if (release != NULL) {
            (void)fclose(release);
        }
    }
    if (!found) {
        const char *digit = strpbrk(name, "0123456789");
        (void)parseVersion(digit != NULL ? digit : "", version);
    }
}

/* Orders candidates highest version first, equal versions by name, the
 * greater first. */
static int byVersionDescending(const void *left, const void *right) {
    const Candidate *a = (const Candidate *)left;
    const Candidate *b = (const Candidate *)right;
    for (int i = 0; i < VERSION_PARTS; i++) {
        if (a->version[i] != b->version[i]) {
            return a->version[i] > b->version[i] ? -1 : 1;
        }
    }
    return -strcmp(a->name, b->name);
}

/* Frees the candidates' paths and the array. */
static void freeCandidates(Candidate *candidates, int count) {
    for (int i = 0; i < count; i++) {
        free(candidates[i].path);
        free(candidates[i].name);
    }
    free(candidates);
}

/* Adds the candidate for directory entry `name` of `root` when its
 * libjvm.so exists. Returns false when memory runs out. */
static bool addCandidate(const char *root, const char *name, Candidate **candidates,
                         int *count, int *capacity) {
    char *dir = NULL;
    if (asprintf(&dir, "%s/%s", root, name) < 0) {
        return false;
    }
    Candidate added = {NULL, strdup(name), {0, 0, 0, 0}};
    bool fine = added.name != NULL;
    if (fine && asprintf(&added.path, "%s/%s", dir, libjvmInJdk) < 0) {
        added.path = NULL;
        fine = false;
    }
    if (fine && access(added.path, F_OK) == 0) {
        readJdkVersion(dir, name, added.version);
        if (*count == *capacity) {
            int grown = *capacity * 2 + 8;
            Candidate *more =
                (Candidate *)realloc(*candidates, (size_t)grown * sizeof(Candidate));
            if (more == NULL) {
                fine = false;
            } else {
                *candidates = more;
                *capacity = grown;
            }
        }
        if (fine) {
            (*candidates)[(*count)++] = added;
            added.path = added.name = NULL;
        }
    }
    free(added.path);
    free(added.name);
    free(dir);
    return fine;
}

/* The directories of `root` other than default-java and hidden ones whose
 * libjvm.so exists, highest Java version first. Returns their number with
 * the heap array in *out (freeCandidates), or -1 when memory runs out. An
 * unreadable root has none. */
static int findVersionedJdks(const char *root, Candidate **out) {
    *out = NULL;
    int count = 0;
    int capacity = 0;
    DIR *dir = opendir(root);
    if (dir == NULL) {
        return 0;
    }
    bool fine = true;
    /* One stream read by one thread: readdir is safe, readdir_r deprecated. */
    /* cppcheck-suppress readdirCalled */
    for (struct dirent *entry; fine && (entry = readdir(dir)) != NULL;) {
        if (entry->d_name[0] != '.' && strcmp(entry->d_name, "default-java") != 0) {
            fine = addCandidate(root, entry->d_name, out, &count, &capacity);
        }
    }
    closedir(dir);
    if (!fine) {
        freeCandidates(*out, count);
        *out = NULL;
        return -1;
    }
    if (count > 1) {
        qsort(*out, (size_t)count, sizeof(Candidate), byVersionDescending);
    }
    return count;
}

/* The address of symbol `name` of `handle` as an invocation function;
 * null when it is missing. */
static CreateJavaVMFn findCreate(void *handle, const char *name) {
    union {
        void *object;
        CreateJavaVMFn function;
    } entry;
    entry.object = dlsym(handle, name);
    return entry.function;
}

/* The address of symbol `name` of `handle` as JNI_GetDefaultJavaVMInitArgs;
 * null when it is missing. */
static GetDefaultJavaVMInitArgsFn findGetDefaults(void *handle, const char *name) {
    union {
        void *object;
        GetDefaultJavaVMInitArgsFn function;
    } entry;
    entry.object = dlsym(handle, name);
    return entry.function;
}

/* Loads the library at `path` for good and finds its invocation entries.
 * Returns true with *library filled; else adds the path, with the
 * loader's reason when the file exists, to the comma-separated `places`. */
static bool tryLoad(const char *path, const char *source, JvmLibrary *library, char *places,
                    size_t placesSize) {
    appendFormat(places, placesSize, "%s%s", places[0] != '\0' ? ", " : "", path);
    if (access(path, F_OK) != 0) {
        return false;
    }
    char *trusted = huxTrustedPath(path);
    void *handle = NULL;
    const char *reason = NULL;
    if (trusted == NULL) {
        reason = huxSecureMode() ? "others than root can change it" : "out of memory";
    } else {
        handle = dlopen(trusted, RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE);
        free(trusted);
        if (handle == NULL) {
            reason = dlerror();
        }
    }
    if (handle != NULL) {
        library->createJavaVM = findCreate(handle, "JNI_CreateJavaVM");
        library->getDefaultJavaVMInitArgs =
            findGetDefaults(handle, "JNI_GetDefaultJavaVMInitArgs");
        if (library->createJavaVM == NULL) {
            reason = "no JNI_CreateJavaVM in it";
        }
    }
    if (reason != NULL) {
        size_t length = strlen(path);
        if (strncmp(reason, path, length) == 0 && strncmp(reason + length, ": ", 2) == 0) {
            reason += length + 2;
        }
        appendFormat(places, placesSize, " (%s)", reason);
        huxTrace("jvm: libjvm [%s] not loaded: %s", path, reason);
        return false;
    }
    if (snprintf(library->path, sizeof library->path, "%s", path) >= (int)sizeof library->path) {
        library->path[0] = '\0';
    }
    library->source = source;
    huxTrace("jvm: libjvm [%s] from %s", path, source);
    return true;
}

/* Whether `range` admits Java feature version `feature` (0: unknown,
 * admitted only when the range has no bounds). */
static bool admits(const JvmVersionRange *range, long feature) {
    if (range->min == 0 && range->max == 0) {
        return true;
    }
    return feature != 0 && (range->min == 0 || feature >= range->min) &&
           (range->max == 0 || feature <= range->max);
}

/* Writes `range` as text ("17 or later", "11 to 21", "17") into `text`. */
static void describeRange(const JvmVersionRange *range, char *text, size_t size) {
    if (range->max == 0) {
        (void)snprintf(text, size, "%ld or later", range->min);
    } else if (range->min == range->max) {
        (void)snprintf(text, size, "%ld", range->min);
    } else {
        (void)snprintf(text, size, "%ld to %ld", range->min, range->max);
    }
}

/* Tries the JDK in directory `home`: when `range` admits its version,
 * loads its libjvm.so (tryLoad) and fills library->home and ->feature;
 * otherwise adds "LIBJVM (Java N, outside the range)" to `places`.
 * Stores its feature version in *feature. Returns whether it loaded. */
static bool tryJdk(const char *home, const char *source, const JvmVersionRange *range,
                   JvmLibrary *library, char *places, size_t placesSize, long *feature) {
    char path[PATH_MAX];
    size_t length = strlen(home);
    bool trailingSlash = length > 0 && home[length - 1] == '/';
    const char *name = strrchr(home, '/');
    long version[VERSION_PARTS];
    *feature = 0;
    if (snprintf(path, sizeof path, "%s%s%s", home, trailingSlash ? "" : "/", libjvmInJdk) >=
        (int)sizeof path) {
        return false;
    }
    readJdkVersion(home, name != NULL ? name + 1 : home, version);
    *feature = version[0];
    if (!admits(range, version[0])) {
        if (access(path, F_OK) == 0) {
            appendFormat(places, placesSize, "%s%s (Java %ld, outside the range)",
                         places[0] != '\0' ? ", " : "", path, version[0]);
            huxTrace("jvm: libjvm [%s] skipped: Java %ld is outside HUX_JAVA_VERSIONS", path,
                     version[0]);
        }
        return false;
    }
    if (!tryLoad(path, source, library, places, placesSize)) {
        return false;
    }
    (void)snprintf(library->home, sizeof library->home, "%.*s",
                   (int)(trailingSlash ? length - 1 : length), home);
    library->feature = version[0];
    return true;
}

/* The JDK directory that the java command at `javaCommand` belongs to:
 * its symbolic links resolved, <jdk>/bin/java gives <jdk>. A heap string,
 * or null when it does not resolve to a file so named. */
static char *jdkOfJavaCommand(const char *javaCommand) {
    static const char binJava[] = "/bin/java";
    char *resolved = javaCommand != NULL ? realpath(javaCommand, NULL) : NULL;
    if (resolved == NULL) {
        return NULL;
    }
    size_t length = strlen(resolved);
    if (length <= sizeof binJava - 1 ||
        strcmp(resolved + length - (sizeof binJava - 1), binJava) != 0) {
        free(resolved);
        return NULL;
    }
    resolved[length - (sizeof binJava - 1)] = '\0';
    return resolved;
}

/* Tries the JDK of the java command, then the default JDK under `root`,
 * then the others, highest version first, adding each to `places`.
 * Returns whether one loaded. */
static bool loadUnderRoot(const char *root, const char *javaCommand,
                          const JvmVersionRange *range, JvmLibrary *library, char *places,
                          size_t placesSize) {
    char path[PATH_MAX];
    long feature = 0;
    char *commandJdk = jdkOfJavaCommand(javaCommand);
    bool loaded = commandJdk != NULL && tryJdk(commandJdk, "the java command", range, library,
                                               places, placesSize, &feature);
    free(commandJdk);
    if (loaded) {
        return true;
    }
    if (snprintf(path, sizeof path, "%s/default-java", root) < (int)sizeof path &&
        tryJdk(path, "default-java", range, library, places, placesSize, &feature)) {
        return true;
    }
    Candidate *candidates = NULL;
    int count = findVersionedJdks(root, &candidates);
    for (int i = 0; !loaded && i < count; i++) {
        char *home = strndup(candidates[i].path, strlen(candidates[i].path) - sizeof libjvmInJdk);
        loaded = home != NULL && tryJdk(home, "highest Java version", range, library, places,
                                        placesSize, &feature);
        free(home);
    }
    freeCandidates(candidates, count < 0 ? 0 : count);
    if (!loaded) {
        appendFormat(places, placesSize, ", %s/*/%s", root, libjvmInJdk);
    }
    return loaded;
}

/* jvmLoadLibrary's search with `root` standing for /usr/lib/jvm,
 * `javaHome` for JAVA_HOME (null or empty: not set) and `javaCommand` for
 * /usr/bin/java (null: none). */
static bool loadLibraryFrom(const char *root, const char *javaHome, const char *javaCommand,
                            const JvmVersionRange *range, JvmLibrary *library,
                            char problem[JVM_PROBLEM_SIZE]) {
    char places[JVM_PROBLEM_SIZE] = "";
    char wanted[64];
    long feature = 0;
    static const JvmLibrary none = {"", "", 0, NULL, NULL, NULL};
    *library = none;
    problem[0] = '\0';
    describeRange(range, wanted, sizeof wanted);
    if (javaHome != NULL && javaHome[0] != '\0') {
        if (tryJdk(javaHome, "JAVA_HOME", range, library, places, sizeof places, &feature)) {
            return true;
        }
        if (!admits(range, feature)) {
            appendFormat(problem, JVM_PROBLEM_SIZE,
                         "JAVA_HOME %s holds Java %ld, but this application runs on Java %s "
                         "(HUX_JAVA_VERSIONS): set JAVA_HOME to a JDK of Java %s or unset it",
                         javaHome, feature, wanted, wanted);
            return false;
        }
        appendFormat(problem, JVM_PROBLEM_SIZE,
                     "no usable libjvm.so in %s (JAVA_HOME): set JAVA_HOME to a JDK's "
                     "directory or unset it", places[0] != '\0' ? places : javaHome);
        return false;
    }
    if (loadUnderRoot(root, javaCommand, range, library, places, sizeof places)) {
        return true;
    }
    if (range->min != 0) {
        appendFormat(problem, JVM_PROBLEM_SIZE,
                     "no Java %s VM (HUX_JAVA_VERSIONS) among %s: install Java %s or set "
                     "JAVA_HOME to one", wanted, places, wanted);
        return false;
    }
    appendFormat(problem, JVM_PROBLEM_SIZE,
                 "no usable libjvm.so in %s: set JAVA_HOME or install a JDK "
                 "(Debian: openjdk-17-jre-headless)", places);
    return false;
}

/* Reads one feature version (1 to 9999) from *text, leaving *text past
 * its digits. Returns whether one was there. */
static bool readFeature(const char **text, long *version) {
    if (**text < '1' || **text > '9') {
        return false;
    }
    char *end = NULL;
    *version = strtol(*text, &end, 10);
    *text = end;
    return *version <= 9999;
}

/* Parses `value` ("N" or "N-M", N <= M) into *range; false for any other
 * text. */
static bool parseVersionRange(const char *value, JvmVersionRange *range) {
    const char *at = value;
    range->min = range->max = 0;
    if (!readFeature(&at, &range->min)) {
        return false;
    }
    if (*at == '-') {
        at++;
        if (!readFeature(&at, &range->max) || range->max < range->min) {
            return false;
        }
    }
    return *at == '\0';
}

bool jvmReadVersionRange(JvmVersionRange *range, char problem[JVM_PROBLEM_SIZE]) {
    const char *value = getenv("HUX_JAVA_VERSIONS");
    range->min = range->max = 0;
    if (value == NULL || value[0] == '\0') {
        return true;
    }
    if (!parseVersionRange(value, range)) {
        (void)snprintf(problem, JVM_PROBLEM_SIZE,
                       "HUX_JAVA_VERSIONS=%s is not a Java version range: write N or N-M "
                       "(feature versions, as 17 or 11-21)", value);
        range->min = range->max = 0;
        return false;
    }
    return true;
}

bool jvmLoadLibrary(const JvmVersionRange *range, JvmLibrary *library,
                    char problem[JVM_PROBLEM_SIZE]) {
    char *javaHome = huxTrustedDirectoryVariable("JAVA_HOME");
    bool loaded = loadLibraryFrom(jdkRoot, javaHome, systemJavaCommand, range, library, problem);
    free(javaHome);
    return loaded;
}
