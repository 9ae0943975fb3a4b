// Lays out the launch data block from a configuration and a command line.
#ifndef LAUNCH_BLOCK_H
#define LAUNCH_BLOCK_H

#include <stddef.h>
#include <stdint.h>

#include <kivlauncher_api.h>

#include "launch_config.h"

// Bytes the block needs for `config` followed by argv[1..argc-1], or 0 when
// that exceeds what a 32-bit size can hold.
int32_t launchBlockSize(const LaunchConfig *config, int32_t argc, char *const *argv);

// Builds the block at the start of `buffer`: the 40-byte record, then the
// argument, name and value arrays, then every string, each pointer aimed
// inside the buffer. Returns `buffer`, or null when bufferSize is smaller
// than launchBlockSize reports.
KivlLauncherData *fillLaunchBlock(const LaunchConfig *config, int32_t argc, char *const *argv,
                                  void *buffer, int32_t bufferSize);

// Parses a configuration text and builds its block for argc/argv in one
// go, as the library does across its entries. Returns the block (heap
// memory the caller frees) and stores its size, or returns null with the
// reason in *error (line 0 and an empty reason when memory runs out or the
// block would not fit).
KivlLauncherData *launchBlockFromConfigText(const char *text, size_t length,
                                            const char *configDir, const char *appDir,
                                            int32_t argc, char *const *argv,
                                            int32_t *outSize, ConfigError *error);

#endif
