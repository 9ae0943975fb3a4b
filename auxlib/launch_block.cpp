#include "launch_block.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// Arguments the launcher's command line adds after argv[0].
static int32_t extraArguments(int32_t argc, char *const *argv) {
    return argv != nullptr && argc > 1 ? argc - 1 : 0;
}

// Bytes `text` takes in the block, its zero included.
static uint64_t textBytes(const char *text) {
    return (uint64_t)strlen(text) + 1;
}

uint64_t commandLineBytes(int32_t argc, char *const *argv) {
    int32_t extra = extraArguments(argc, argv);
    uint64_t bytes = 0;
    for (int32_t i = 0; i < extra && bytes <= INT32_MAX; i++) {
        bytes += textBytes(argv[i + 1]) + sizeof(char *);
    }
    return bytes;
}

int32_t launchBlockSize(const LaunchConfig *config, int32_t argc, char *const *argv) {
    int32_t extra = extraArguments(argc, argv);
    uint64_t argCount = (uint64_t)config->argCount + (uint64_t)extra;
    if (argCount >= INT32_MAX) {
        return 0;
    }
    uint64_t size = sizeof(KivlLauncherData) +
                    (argCount + 1 + 2 * (uint64_t)config->envCount) * sizeof(char *);
    size += textBytes(config->runtime);
    for (int32_t i = 0; i < config->argCount; i++) {
        size += textBytes(config->args[i]);
    }
    for (int32_t i = 0; i < extra && size <= INT32_MAX; i++) {
        size += textBytes(argv[i + 1]);
    }
    for (int32_t i = 0; i < config->envCount; i++) {
        size += textBytes(config->envNames[i]) + textBytes(config->envValues[i]);
    }
    return size <= INT32_MAX ? (int32_t)size : 0;
}

// Copies text to *cursor, advances the cursor past its zero and returns
// where the copy starts.
static char *placeText(char **cursor, const char *text) {
    size_t bytes = strlen(text) + 1;
    char *placed = *cursor;
    memcpy(placed, text, bytes);
    *cursor += bytes;
    return placed;
}

KivlLauncherData *fillLaunchBlock(const LaunchConfig *config, int32_t argc, char *const *argv,
                                  void *buffer, int32_t bufferSize) {
    int32_t needed = launchBlockSize(config, argc, argv);
    if (buffer == nullptr || needed == 0 || bufferSize < needed) {
        return nullptr;
    }
    int32_t extra = extraArguments(argc, argv);
    KivlLauncherData *record = (KivlLauncherData *)buffer;
    record->argCount = config->argCount + extra;
    record->envCount = config->envCount;
    record->args = (char **)(record + 1);
    record->envNames = record->args + record->argCount + 1;
    record->envValues = record->envNames + record->envCount;
    char *cursor = (char *)(record->envValues + record->envCount);
    record->runtimeLibPath = placeText(&cursor, config->runtime);
    for (int32_t i = 0; i < config->argCount; i++) {
        record->args[i] = placeText(&cursor, config->args[i]);
    }
    for (int32_t i = 0; i < extra; i++) {
        record->args[config->argCount + i] = placeText(&cursor, argv[i + 1]);
    }
    record->args[record->argCount] = nullptr;
    for (int32_t i = 0; i < config->envCount; i++) {
        record->envNames[i] = placeText(&cursor, config->envNames[i]);
        record->envValues[i] = placeText(&cursor, config->envValues[i]);
    }
    return record;
}

KivlLauncherData *launchBlockFromConfig(const ConfigSource *source, const char *path,
                                        const char *appDir, int32_t argc, char *const *argv,
                                        int32_t *outSize, ConfigError *error) {
    LaunchConfig config;
    if (!loadLaunchConfig(source, path, appDir, commandLineBytes(argc, argv), &config, error)) {
        return nullptr;
    }
    int32_t size = launchBlockSize(&config, argc, argv);
    void *buffer = size > 0 ? malloc((size_t)size) : nullptr;
    KivlLauncherData *block = fillLaunchBlock(&config, argc, argv, buffer, size);
    if (block == nullptr) {
        free(buffer);
        (void)snprintf(error->reason, sizeof error->reason, "%s",
                       size > 0 ? "out of memory" : "launch data larger than 2 GiB");
        memcpy(error->plainReason, error->reason, sizeof error->reason);
    } else {
        *outSize = size;
    }
    freeLaunchConfig(&config);
    return block;
}
