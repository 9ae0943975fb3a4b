// The reference auxiliary library's configuration: applauncher.cfg and the
// files it includes, one "key=value" per line, '#' comments, keys
// runtime=, arg=, args=, env=, include= and include-optional=, values
// expanded once (config_expand.h).
#ifndef LAUNCH_CONFIG_H
#define LAUNCH_CONFIG_H

#include <stddef.h>
#include <stdint.h>

#include "config_source.h"
#include "config_text.h"

// What a set of configuration files says, expanded, with the runtime path
// made absolute and each variable once. Every text and array is heap
// memory it owns.
struct LaunchConfig {
    char *runtime;
    int32_t argCount;
    char **args;
    int32_t envCount;
    char **envNames;
    char **envValues;
};

// Why a configuration was refused: the file and the line it was found on
// (line 0: it concerns the whole file; an empty file: none in particular)
// and a short reason.
struct ConfigError {
    char file[4096];
    int32_t line;
    char reason[configReasonSize];
};

// Reads the configuration file at `path` from `source`, and the files it
// includes, in reading order. $APPDIR stands for `appDir`, $CONFIGDIR for
// the directory of the file being read. Once every file is read, the
// runtime path must name a regular file. The launch data the result
// makes, with `reservedBytes` more for the command line, must stay within
// 2 GiB. Returns true and fills *config, which the caller frees with
// freeLaunchConfig, or returns false with *config empty and the reason in
// *error.
bool loadLaunchConfig(const ConfigSource *source, const char *path, const char *appDir,
                      uint64_t reservedBytes, LaunchConfig *config, ConfigError *error);

// Frees everything *config owns and leaves it empty.
void freeLaunchConfig(LaunchConfig *config);

#endif
