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

// The most bytes one expanded value may hold: the runtime path, an arg=
// value, each word of an args= value, an include pattern, and a variable
// as NAME=VALUE. Linux's exec takes no longer string (MAX_ARG_STRLEN,
// 128 KiB with its zero), so no program can pass a longer one on.
static const size_t maxValueBytes = 131072;

// The most bytes of the launch data that the configuration may make: the
// 40-byte record, the null after the arguments, and each string it adds
// with its zero and its 8-byte pointer. 3/4 of 8 MiB, the most that exec
// takes for all arguments and variables together under any stack limit.
// The command line's own arguments do not count: they came through exec.
static const uint64_t maxConfigDataBytes = (uint64_t)6 * 1024 * 1024;

// Why a configuration was refused: the file and the line it was found on
// (line 0: it concerns the whole file; an empty file: none in particular),
// a short reason, and the same reason without anything it quotes from the
// configuration (a key, a name, a path, a value), for a caller who may not
// read the configuration: equal to `reason` when that quotes nothing.
struct ConfigError {
    char file[4096];
    int32_t line;
    char reason[configReasonSize];
    char plainReason[configReasonSize];
};

// Reads the configuration file at `path` from `source`, and the files it
// includes, in reading order. $APPDIR stands for `appDir`, $CONFIGDIR for
// the directory of the file being read. Once every file is read, the
// runtime path must name a regular file. Each value must stay within
// maxValueBytes and the launch data the configuration makes within
// maxConfigDataBytes; with `reservedBytes` more for the command line, the
// whole launch data must stay within 2 GiB. Returns true and fills *config, which the caller frees with
// freeLaunchConfig, or returns false with *config empty and the reason in
// *error.
bool loadLaunchConfig(const ConfigSource *source, const char *path, const char *appDir,
                      uint64_t reservedBytes, LaunchConfig *config, ConfigError *error);

// Frees everything *config owns and leaves it empty.
void freeLaunchConfig(LaunchConfig *config);

#endif
