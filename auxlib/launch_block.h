// Lays out the launch data block from a configuration and a command line.
#ifndef LAUNCH_BLOCK_H
#define LAUNCH_BLOCK_H

#include <stddef.h>
#include <stdint.h>

#include <kivlauncher_api.h>

#include "launch_config.h"

// Bytes the command line's argv[1..argc-1] take in a block: each string
// with its zero and its argument pointer.
uint64_t commandLineBytes(int32_t argc, char *const *argv);

// Bytes the block needs for `config` followed by argv[1..argc-1], or 0 when
// that exceeds what a 32-bit size can hold.
int32_t launchBlockSize(const LaunchConfig *config, int32_t argc, char *const *argv);

// Builds the block at the start of `buffer`: the 40-byte record, then the
// argument array with a null entry after its last argument (as C's argv
// has), the name and value arrays, then every string, each pointer aimed
// inside the buffer. Returns `buffer`, or null when bufferSize is smaller
// than launchBlockSize reports.
KivlLauncherData *fillLaunchBlock(const LaunchConfig *config, int32_t argc, char *const *argv,
                                  void *buffer, int32_t bufferSize);

// Loads the configuration at `path` from `source` and builds its block
// for argc/argv in one go, as the library does across its entries.
// Returns the block (heap memory the caller frees) and stores its size, or
// returns null with the reason in *error (an empty file name and line 0
// when memory runs out for the block or it would not fit).
KivlLauncherData *launchBlockFromConfig(const ConfigSource *source, const char *path,
                                        const char *appDir, int32_t argc, char *const *argv,
                                        int32_t *outSize, ConfigError *error);

#endif
