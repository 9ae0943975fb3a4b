// Fuzz target for the reference auxiliary library's configuration parser
// and block layout. Input: a configuration text. A text the parser accepts
// becomes a block for a fixed command line; the launcher's own received-
// record check must accept that block, and every string in it must read
// back as the parser's result says.
#define main launcherMain
#include "../launcher/main.cpp"
#undef main

#include <stdio.h>

#include "launch_block.h"
#include "launch_config.h"

namespace {

[[noreturn]] void fail(const char *what) {
    fprintf(stderr, "config_parser_fuzzer: %s\n", what);
    abort();
}

// True when `text` lies inside block[0..size) with its zero.
bool inside(const KivlLauncherData *block, int32_t size, const char *text) {
    const char *begin = (const char *)block;
    if (text < begin + sizeof(KivlLauncherData) || text >= begin + size) {
        return false;
    }
    return memchr(text, 0, (size_t)(begin + size - text)) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static char arg0[] = "/opt/app/bin/app";
    static char arg1[] = "--verbose";
    static char arg2[] = "";
    static char *argv[] = {arg0, arg1, arg2, nullptr};
    LaunchConfig config;
    ConfigError error;
    const char *text = (const char *)data;
    if (!parseLaunchConfig(text, size, "/opt/app/lib", "/opt/app", &config, &error)) {
        if (config.runtime != nullptr || config.argCount != 0 || config.envCount != 0) {
            fail("a refused text left a configuration behind");
        }
        if (memchr(error.reason, 0, sizeof error.reason) == nullptr || error.reason[0] == 0) {
            fail("a refusal without a reason");
        }
        return 0;
    }
    int32_t blockSize = 0;
    KivlLauncherData *block =
        launchBlockFromConfigText(text, size, "/opt/app/lib", "/opt/app", 3, argv, &blockSize,
                                  &error);
    if (block == nullptr) {
        fail("an accepted text gave no block");
    }
    if (checkReceivedRecord((const unsigned char *)block, (uint64_t)blockSize,
                            (uint64_t)(uintptr_t)block) != nullptr) {
        fail("the launcher refuses the library's block");
    }
    if (block->argCount != config.argCount + 2 || block->envCount != config.envCount ||
        !inside(block, blockSize, block->runtimeLibPath) ||
        strcmp(block->runtimeLibPath, config.runtime) != 0 || block->runtimeLibPath[0] != '/') {
        fail("the block's record differs from the configuration");
    }
    for (int32_t i = 0; i < block->argCount; i++) {
        const char *expected = i < config.argCount ? config.args[i] : argv[i - config.argCount + 1];
        if (!inside(block, blockSize, block->args[i]) || strcmp(block->args[i], expected) != 0) {
            fail("an argument differs");
        }
    }
    for (int32_t i = 0; i < block->envCount; i++) {
        if (!inside(block, blockSize, block->envNames[i]) ||
            !inside(block, blockSize, block->envValues[i]) ||
            strcmp(block->envNames[i], config.envNames[i]) != 0 ||
            strcmp(block->envValues[i], config.envValues[i]) != 0 ||
            strchr(block->envNames[i], '=') != nullptr || block->envNames[i][0] == 0) {
            fail("a variable differs");
        }
    }
    free(block);
    freeLaunchConfig(&config);
    return 0;
}
