// The reference auxiliary library: reads applauncher.cfg beside itself and
// turns it and the launcher's command line into the launch data block.
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <kivlauncher_api.h>

#include "config_source.h"
#include "diagnostics.h"
#include "launch_block.h"
#include "launch_config.h"
#include "quiet_writer.h"

#define EXPORTED __attribute__((visibility("default")))

static const char configName[] = "applauncher.cfg";
static const char programConfigPrefix[] = "applauncher-";
static const char complaintPrefix[] = "applauncher: ";

struct AuxHandle {
    LaunchConfig config;
    int32_t argc;
    char **argv;
    int32_t size;
};

// Says why the configuration was refused, in one line naming the file and
// the line where there are any, whatever the debug setting, on standard
// error and, when that is not a terminal, in the journal (writeComplaint).
// For a caller who is not root in secure mode, who may be anyone and may
// not be able to read the configuration, the reason is given without
// anything it quotes from the configuration (ConfigError.plainReason), in
// the journal as on standard error.
static void complainAbout(const ConfigError *error) {
    const char *reason = quietCallerIsUntrusted() ? error->plainReason : error->reason;
    if (error->file[0] != '\0' && error->line > 0) {
        writeComplaint(complaintPrefix, "%s:%d: %s", error->file, error->line, reason);
    } else if (error->file[0] != '\0') {
        writeComplaint(complaintPrefix, "%s: %s", error->file, reason);
    } else {
        writeComplaint(complaintPrefix, "%s", reason);
    }
}

// The directory part of `path`, "/" for the root, in place.
static void cutLastComponent(char *path) {
    char *slash = strrchr(path, '/');
    if (slash != nullptr) {
        *(slash == path ? slash + 1 : slash) = '\0';
    }
}

// The file name of the program this library runs in, at most `size` - 1
// bytes, "" when unknown: the last part of /proc/self/exe, or, outside
// secure mode, APPLAUNCHER_PROGRAM when it is set, through which a tool
// that runs this library in a program of its own (applauncher-doctor)
// names the launcher it stands for.
static void programName(char *name, size_t size) {
    const char *given = toolProgramName();
    char self[4096];
    ssize_t length = given != nullptr ? 0 : readlink("/proc/self/exe", self, sizeof self - 1);
    self[length > 0 ? length : 0] = '\0';
    const char *path = given != nullptr ? given : self;
    const char *slash = strrchr(path, '/');
    (void)snprintf(name, size, "%s", slash != nullptr ? slash + 1 : path);
}

// The configuration beside this library and the application's directory
// (the parent of the library's), both heap texts: the program's own file,
// applauncher-<program>.cfg, when it exists, else applauncher.cfg. False
// after a complaint when unknown.
static bool findConfiguration(char **configPath, char **appDir) {
    Dl_info info;
    if (dladdr((void *)&kivLauncherCreate, &info) == 0 || info.dli_fname == nullptr ||
        strchr(info.dli_fname, '/') == nullptr) {
        writeComplaint(complaintPrefix, "cannot tell where libapplauncher.so lies");
        return false;
    }
    char program[256];
    programName(program, sizeof program);
    size_t size = strlen(info.dli_fname) + sizeof programConfigPrefix + strlen(program) +
                  sizeof configName + 1;
    *configPath = (char *)malloc(size);
    *appDir = strdup(info.dli_fname);
    if (*configPath == nullptr || *appDir == nullptr) {
        writeComplaint(complaintPrefix, "out of memory");
        free(*configPath);
        free(*appDir);
        return false;
    }
    cutLastComponent(*appDir);
    const char *separator = (*appDir)[strlen(*appDir) - 1] == '/' ? "" : "/";
    (void)snprintf(*configPath, size, "%s%s%s%s.cfg", *appDir, separator, programConfigPrefix,
                   program);
    struct stat status;
    if (program[0] == '\0' || stat(*configPath, &status) != 0 || !S_ISREG(status.st_mode)) {
        (void)snprintf(*configPath, size, "%s%s%s", *appDir, separator, configName);
    }
    cutLastComponent(*appDir);
    return true;
}

// Frees the handle and the configuration it holds.
static void release(KivLauncherHandle handle) {
    AuxHandle *aux = (AuxHandle *)handle;
    if (aux != nullptr) {
        freeLaunchConfig(&aux->config);
        free(aux);
    }
}

// The block's size, computed when the handle was made.
static int32_t getDataSize(KivLauncherHandle handle) {
    return handle != nullptr ? ((AuxHandle *)handle)->size : 0;
}

// Builds the block in the launcher's buffer.
static KivlLauncherData *fillData(KivLauncherHandle handle, void *buffer, int32_t bufferSize) {
    AuxHandle *aux = (AuxHandle *)handle;
    if (aux == nullptr) {
        return nullptr;
    }
    return fillLaunchBlock(&aux->config, aux->argc, aux->argv, buffer, bufferSize);
}

static const KivlLauncherAPI auxApi = {release, getDataSize, fillData};

// The function table; constant, never freed.
EXPORTED const KivlLauncherAPI *kivLauncherGetAPI(void) {
    return &auxApi;
}

// Reads the configuration and keeps the command line, which must outlive
// the handle. Null, with the reason on standard error (and in the journal
// when that is not a terminal), when the
// configuration is missing or malformed or the launch data would not fit.
EXPORTED KivLauncherHandle kivLauncherCreate(int32_t argc, char **argv) {
    AuxHandle *aux = (AuxHandle *)calloc(1, sizeof *aux);
    char *configPath = nullptr;
    char *appDir = nullptr;
    if (aux == nullptr) {
        writeComplaint(complaintPrefix, "out of memory");
        return nullptr;
    }
    if (!findConfiguration(&configPath, &appDir)) {
        free(aux);
        return nullptr;
    }
    const ConfigSource *source = fileSystemSource(quietDebugEnabled());
    ConfigError error;
    bool loaded = loadLaunchConfig(source, configPath, appDir, commandLineBytes(argc, argv),
                                   &aux->config, &error);
    free(configPath);
    free(appDir);
    if (!loaded) {
        complainAbout(&error);
        free(aux);
        return nullptr;
    }
    aux->argc = argc;
    aux->argv = argv;
    aux->size = launchBlockSize(&aux->config, argc, argv);
    if (aux->size == 0) {
        writeComplaint(complaintPrefix, "launch data larger than 2 GiB");
        release(aux);
        return nullptr;
    }
    return aux;
}
