// The reference auxiliary library: reads applauncher.cfg beside itself and
// turns it and the launcher's command line into the launch data block.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <kivlauncher_api.h>

#include "launch_block.h"
#include "launch_config.h"

#define EXPORTED __attribute__((visibility("default")))

static const char configName[] = "applauncher.cfg";
static const size_t maxConfigBytes = (size_t)1024 * 1024;

typedef struct AuxHandle {
    LaunchConfig config;
    int32_t argc;
    char **argv;
    int32_t size;
} AuxHandle;

// Writes "applauncher: " and the message as one line on standard error,
// whatever the debug setting: these are the reasons an application did not
// start.
__attribute__((format(printf, 1, 2))) static void complain(const char *format, ...) {
    char line[1024];
    static const char prefix[] = "applauncher: ";
    memcpy(line, prefix, sizeof prefix);
    va_list args;
    va_start(args, format);
    (void)vsnprintf(line + sizeof prefix - 1, sizeof line - sizeof prefix, format, args);
    va_end(args);
    size_t length = strlen(line);
    line[length] = '\n';
    (void)fwrite(line, 1, length + 1, stderr);
}

// Reads the whole file at path into a heap buffer (with a zero after it)
// and stores its length; null with the reason complained about. The
// buffer starts at one page and doubles, so that a small file costs no
// mapping of the full allowance.
static char *readConfig(const char *path, size_t *length) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        complain("%s: %s", path, strerror(errno));
        return NULL;
    }
    size_t capacity = 4096; // the text read so far and its zero
    size_t used = 0;
    char *text = (char *)malloc(capacity);
    int failure = text == NULL ? ENOMEM : 0;
    ssize_t got = 1;
    while (failure == 0 && got != 0 && used <= maxConfigBytes) {
        if (used + 1 == capacity) {
            size_t grown = 2 * capacity < maxConfigBytes + 2 ? 2 * capacity : maxConfigBytes + 2;
            char *larger = (char *)realloc(text, grown);
            if (larger == NULL) {
                failure = ENOMEM;
                break;
            }
            text = larger;
            capacity = grown;
        }
        got = read(fd, text + used, capacity - 1 - used);
        if (got < 0) {
            failure = errno == EINTR ? 0 : errno;
        } else {
            used += (size_t)got;
        }
    }
    close(fd);
    if (failure != 0 || used > maxConfigBytes) {
        if (failure != 0) {
            complain("%s: %s", path, strerror(failure));
        } else {
            complain("%s: larger than %zu bytes", path, maxConfigBytes);
        }
        free(text);
        return NULL;
    }
    text[used] = '\0';
    *length = used;
    return text;
}

// Cuts `path` at its last slash, keeping "/" for the root.
static void cutLastComponent(char *path) {
    char *slash = strrchr(path, '/');
    if (slash != NULL) {
        *(slash == path ? slash + 1 : slash) = '\0';
    }
}

// Splits this library's own path into its directory (configDir) and that
// directory's parent (appDir), both heap texts; false when unknown.
static bool findOwnDirectories(char **configDir, char **appDir) {
    Dl_info info;
    if (dladdr((void *)&kivLauncherCreate, &info) == 0 || info.dli_fname == NULL ||
        strchr(info.dli_fname, '/') == NULL) {
        complain("cannot tell where libapplauncher.so lies");
        return false;
    }
    *configDir = strdup(info.dli_fname);
    *appDir = strdup(info.dli_fname);
    if (*configDir == NULL || *appDir == NULL) {
        complain("%s", strerror(ENOMEM));
        free(*configDir);
        free(*appDir);
        return false;
    }
    cutLastComponent(*configDir);
    cutLastComponent(*appDir);
    cutLastComponent(*appDir);
    return true;
}

// Reads and parses the configuration beside this library; false with the
// reason complained about.
static bool loadConfig(LaunchConfig *config) {
    char *configDir = NULL;
    char *appDir = NULL;
    if (!findOwnDirectories(&configDir, &appDir)) {
        return false;
    }
    bool loaded = false;
    size_t pathLength = strlen(configDir) + 1 + sizeof configName;
    char *path = (char *)malloc(pathLength);
    char *text = NULL;
    size_t length = 0;
    if (path == NULL) {
        complain("%s", strerror(ENOMEM));
    } else {
        (void)snprintf(path, pathLength, "%s%s%s", configDir,
                 configDir[strlen(configDir) - 1] == '/' ? "" : "/", configName);
        text = readConfig(path, &length);
    }
    ConfigError error;
    if (text != NULL) {
        loaded = parseLaunchConfig(text, length, configDir, appDir, config, &error);
        if (!loaded && error.line > 0) {
            complain("%s:%d: %s", path, error.line, error.reason);
        } else if (!loaded) {
            complain("%s: %s", path, error.reason);
        }
    }
    free(text);
    free(path);
    free(configDir);
    free(appDir);
    return loaded;
}

static void release(KivLauncherHandle handle) {
    AuxHandle *aux = (AuxHandle *)handle;
    if (aux != NULL) {
        freeLaunchConfig(&aux->config);
        free(aux);
    }
}

static int32_t getDataSize(KivLauncherHandle handle) {
    return handle != NULL ? ((AuxHandle *)handle)->size : 0;
}

static KivlLauncherData *fillData(KivLauncherHandle handle, void *buffer, int32_t bufferSize) {
    AuxHandle *aux = (AuxHandle *)handle;
    if (aux == NULL) {
        return NULL;
    }
    return fillLaunchBlock(&aux->config, aux->argc, aux->argv, buffer, bufferSize);
}

static const KivlLauncherAPI auxApi = {release, getDataSize, fillData};

// The function table; constant, never freed.
EXPORTED const KivlLauncherAPI *kivLauncherGetAPI(void) {
    return &auxApi;
}

// Reads the configuration and keeps the command line, which must outlive
// the handle. Null, with the reason on standard error, when the
// configuration is missing or malformed or the launch data would not fit.
EXPORTED KivLauncherHandle kivLauncherCreate(int32_t argc, char **argv) {
    AuxHandle *aux = (AuxHandle *)calloc(1, sizeof *aux);
    if (aux == NULL) {
        complain("%s", strerror(ENOMEM));
        return NULL;
    }
    if (!loadConfig(&aux->config)) {
        free(aux);
        return NULL;
    }
    aux->argc = argc;
    aux->argv = argv;
    aux->size = launchBlockSize(&aux->config, argc, argv);
    if (aux->size == 0) {
        complain("launch data larger than 2 GiB");
        release(aux);
        return NULL;
    }
    return aux;
}
