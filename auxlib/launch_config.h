// The reference auxiliary library's configuration: applauncher.cfg, one
// "key=value" per line, '#' comments, keys runtime=, arg= and env=.
#ifndef LAUNCH_CONFIG_H
#define LAUNCH_CONFIG_H

#include <stddef.h>
#include <stdint.h>

// What a configuration file says, with $APPDIR expanded and the runtime
// path made absolute. Every text and array is heap memory it owns.
typedef struct LaunchConfig {
    char *runtime;
    int32_t argCount;
    char **args;
    int32_t envCount;
    char **envNames;
    char **envValues;
} LaunchConfig;

// Why a configuration was refused: the line it was found on (0 when it
// concerns the whole file) and a short reason.
typedef struct ConfigError {
    int32_t line;
    char reason[128];
} ConfigError;

// Parses `length` bytes of configuration text. A relative runtime path is
// taken from `configDir`; "$APPDIR" in any value becomes `appDir`. Returns
// true and fills *config, which the caller frees with freeLaunchConfig, or
// returns false with *config empty and the reason in *error.
bool parseLaunchConfig(const char *text, size_t length, const char *configDir,
                       const char *appDir, LaunchConfig *config, ConfigError *error);

// Frees everything *config owns and leaves it empty.
void freeLaunchConfig(LaunchConfig *config);

#endif
