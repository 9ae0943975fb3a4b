/* Test double for the auxiliary library, written in C against the
 * interface header alone. AUX_MODE selects its behaviour; it records the
 * argument vector it receives, its own path and whether its handle was
 * released in $TEST_RECORDS/aux. The record it builds names $AUX_RUNTIME as the runtime
 * library, carries "--from-record" followed by argv[1..] and the variables
 * listed in AUX_ENV ("NAME=VALUE" entries separated by newlines), or in
 * the modes many-args and huge a hundred thousand short and empty
 * arguments or 8 MiB of them, recorded by their hash (hash=). Built
 * with AUX_WITHOUT_CREATE it lacks the "kivLauncherCreate" export. */
#define _GNU_SOURCE
#ifdef AUX_WITHOUT_CREATE
#define kivLauncherCreate auxCreateUnderAnotherName
#endif
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kivlauncher_api.h"
#include "record_file.h"

_Static_assert(offsetof(KivlLauncherData, runtimeLibPath) == 0, "runtimeLibPath offset");
_Static_assert(offsetof(KivlLauncherData, argCount) == 8, "argCount offset");
_Static_assert(offsetof(KivlLauncherData, envCount) == 12, "envCount offset");
_Static_assert(offsetof(KivlLauncherData, args) == 16, "args offset");
_Static_assert(offsetof(KivlLauncherData, envNames) == 24, "envNames offset");
_Static_assert(offsetof(KivlLauncherData, envValues) == 32, "envValues offset");
_Static_assert(sizeof(KivlLauncherData) == 40, "record size");

/* Any object of this library, to find the library's own path. */
static int selfAnchor;

typedef struct Launch {
    const char *mode;
    const char *runtime;
    int argCount;
    char **args;
    int envCount;
    char **envNames;
    char **envValues;
} Launch;

static int modeIs(const char *mode) {
    const char *current = getenv("AUX_MODE");
    return current != NULL && strcmp(current, mode) == 0;
}

static char *copyText(const char *text) {
    size_t length = strlen(text) + 1;
    char *copy = malloc(length);
    memcpy(copy, text, length);
    return copy;
}

static void addEnv(Launch *launch, const char *name, const char *value) {
    launch->envNames = realloc(launch->envNames, sizeof(char *) * (size_t)(launch->envCount + 1));
    launch->envValues = realloc(launch->envValues, sizeof(char *) * (size_t)(launch->envCount + 1));
    launch->envNames[launch->envCount] = copyText(name);
    launch->envValues[launch->envCount] = copyText(value);
    launch->envCount++;
}

static void addArg(Launch *launch, const char *arg) {
    launch->args = realloc(launch->args, sizeof(char *) * (size_t)(launch->argCount + 1));
    launch->args[launch->argCount++] = copyText(arg);
}

static void parseEnv(Launch *launch, const char *spec) {
    char *text = copyText(spec);
    for (char *entry = strtok(text, "\n"); entry != NULL; entry = strtok(NULL, "\n")) {
        char *equals = strchr(entry, '=');
        if (equals != NULL) {
            *equals = '\0';
            addEnv(launch, entry, equals + 1);
        }
    }
    free(text);
}

/* The descriptor of the launcher's pipe write end in this (child) process. */
static int findPipeWriteEnd(void) {
    DIR *dir = opendir("/proc/self/fd");
    int found = -1;
    struct dirent *entry;
    while (dir != NULL && (entry = readdir(dir)) != NULL) {
        int fd = atoi(entry->d_name);
        struct stat info;
        if (fd > 2 && fd != dirfd(dir) && fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode) &&
            (fcntl(fd, F_GETFL) & O_ACCMODE) == O_WRONLY) {
            found = fd;
        }
    }
    if (dir != NULL) {
        closedir(dir);
    }
    return found;
}

/* Writes the first `bytes` bytes of a frame announcing a 64-byte record,
 * closes the write end, then outlives the parent for a moment and leaves a
 * marker behind, so a test can tell that the parent did not wait. */
static void sendCutFrame(size_t bytes) {
    unsigned char frame[12];
    int32_t size = 64;
    uint64_t address = 0x1000;
    memcpy(frame, &size, 4);
    memcpy(frame + 4, &address, 8);
    int fd = findPipeWriteEnd();
    if (write(fd, frame, bytes) != (ssize_t)bytes) {
        _exit(3);
    }
    close(fd);
    sleep(2);
    recordEntry("cut-child", "done");
    _exit(0);
}

/* Sends the start of a frame for a 1 MiB record, then kills this process
 * with SIGKILL, as if it died in the middle of the frame. */
static void sendFrameAndDie(void) {
    static unsigned char frame[12 + 65536];
    int32_t size = 1 << 20;
    uint64_t address = 0x1000;
    memcpy(frame, &size, 4);
    memcpy(frame + 4, &address, 8);
    int fd = findPipeWriteEnd();
    if (write(fd, frame, sizeof frame) != (ssize_t)sizeof frame) {
        _exit(3);
    }
    raise(SIGKILL);
}

/* Adds the arguments of the many-args or huge mode. */
static void addBulkArgs(Launch *launch) {
    static char chunk[4097];
    if (modeIs("many-args")) {
        for (int i = 0; i < 100000; i++) {
            snprintf(chunk, sizeof chunk, "a%d", i);
            addArg(launch, i % 3 == 0 ? "" : chunk);
        }
    } else {
        for (int i = 0; i < 2048; i++) {
            memset(chunk, 'A' + i % 26, 4096);
            snprintf(chunk, 16, "%d:", i);
            chunk[strlen(chunk)] = '-';
            chunk[4096] = '\0';
            addArg(launch, chunk);
        }
    }
}

KivLauncherHandle kivLauncherCreate(int32_t argc, char **argv) {
    recordEntry("aux", "pid=%d", (int)getpid());
    if (modeIs("killed-mid-frame")) {
        sendFrameAndDie();
    }
    recordEntry("aux", "argc=%d", argc);
    for (int32_t i = 0; i < argc; i++) {
        recordEntry("aux", "argv=%s", argv[i]);
    }
    recordOpenDescriptors("aux");
    Dl_info self;
    if (dladdr(&selfAnchor, &self) != 0) {
        recordEntry("aux", "library=%s", self.dli_fname);
    }
    if (modeIs("cut-after-size")) {
        sendCutFrame(4);
    }
    if (modeIs("cut-after-address")) {
        sendCutFrame(12);
    }
    if (modeIs("handle-null")) {
        return NULL;
    }
    Launch *launch = calloc(1, sizeof *launch);
    const char *runtime = getenv("AUX_RUNTIME");
    launch->runtime = runtime != NULL ? runtime : "";
    if (modeIs("large")) {
        char chunk[1025];
        for (int i = 0; i < 200; i++) {
            memset(chunk, 'a' + i % 26, 1024);
            chunk[1024] = '\0';
            addArg(launch, chunk);
        }
    } else if (modeIs("many-args") || modeIs("huge")) {
        addBulkArgs(launch);
    } else if (!modeIs("empty")) {
        addArg(launch, "--from-record");
        for (int32_t i = 1; i < argc; i++) {
            addArg(launch, argv[i]);
        }
    }
    if (modeIs("bad-env-name")) {
        addEnv(launch, "AUX_FIRST", "1");
        addEnv(launch, "AUX_SECOND", "2");
        addEnv(launch, "", "3");
        addEnv(launch, "AUX_FOURTH", "4");
    } else if (getenv("AUX_ENV") != NULL && !modeIs("empty")) {
        parseEnv(launch, getenv("AUX_ENV"));
    }
    recordEntry("aux", "hash=%llx", hashTexts(launch->args, launch->argCount));
    return launch;
}

static void releaseLaunch(KivLauncherHandle handle) {
    Launch *launch = handle;
    for (int i = 0; i < launch->argCount; i++) {
        free(launch->args[i]);
    }
    for (int i = 0; i < launch->envCount; i++) {
        free(launch->envNames[i]);
        free(launch->envValues[i]);
    }
    free(launch->args);
    free(launch->envNames);
    free(launch->envValues);
    free(launch);
    recordEntry("aux", "release");
}

static size_t textBytes(char **texts, int count) {
    size_t bytes = 0;
    for (int i = 0; i < count; i++) {
        bytes += strlen(texts[i]) + 1;
    }
    return bytes;
}

static int32_t dataSize(KivLauncherHandle handle) {
    const Launch *launch = handle;
    if (modeIs("size-zero")) {
        return 0;
    }
    if (modeIs("size-negative")) {
        return -5;
    }
    if (modeIs("small-block")) {
        return 16;
    }
    size_t pointers = (size_t)launch->argCount + 2 * (size_t)launch->envCount;
    return (int32_t)(sizeof(KivlLauncherData) + pointers * sizeof(char *) +
                     strlen(launch->runtime) + 1 + textBytes(launch->args, launch->argCount) +
                     textBytes(launch->envNames, launch->envCount) +
                     textBytes(launch->envValues, launch->envCount));
}

static char *placeText(char **cursor, const char *text) {
    size_t length = strlen(text) + 1;
    char *placed = *cursor;
    memcpy(placed, text, length);
    *cursor += length;
    return placed;
}

static KivlLauncherData *fill(KivLauncherHandle handle, void *buffer, int32_t bufferSize) {
    static KivlLauncherData elsewhere;
    const Launch *launch = handle;
    if (modeIs("fill-null")) {
        return NULL;
    }
    if (modeIs("small-block")) {
        memset(buffer, 0, (size_t)bufferSize);
        return buffer;
    }
    KivlLauncherData *record = buffer;
    char **arrays = (char **)(record + 1);
    record->argCount = launch->argCount;
    record->envCount = launch->envCount;
    record->args = arrays;
    record->envNames = arrays + launch->argCount;
    record->envValues = arrays + launch->argCount + launch->envCount;
    char *cursor = (char *)(arrays + launch->argCount + 2 * launch->envCount);
    record->runtimeLibPath = placeText(&cursor, launch->runtime);
    for (int i = 0; i < launch->argCount; i++) {
        record->args[i] = placeText(&cursor, launch->args[i]);
    }
    for (int i = 0; i < launch->envCount; i++) {
        record->envNames[i] = placeText(&cursor, launch->envNames[i]);
        record->envValues[i] = placeText(&cursor, launch->envValues[i]);
    }
    if (modeIs("count-negative")) {
        record->argCount = -1;
    } else if (modeIs("arg-outside") && launch->argCount > 0) {
        record->args[0] = (char *)"outside the block";
    } else if (modeIs("unterminated")) {
        ((char *)buffer)[bufferSize - 1] = 'x';
    } else if (modeIs("fill-foreign")) {
        elsewhere = *record;
        return &elsewhere;
    }
    return record;
}

static const KivlLauncherAPI table = {releaseLaunch, dataSize, fill};
static const KivlLauncherAPI tableWithoutFill = {releaseLaunch, dataSize, NULL};

const KivlLauncherAPI *kivLauncherGetAPI(void) {
    if (modeIs("table-null")) {
        return NULL;
    }
    return modeIs("table-entry-null") ? &tableWithoutFill : &table;
}
