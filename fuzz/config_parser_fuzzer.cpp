// Fuzz target for the reference auxiliary library's configuration and
// block layout: expansion, args= splitting, includes and the block.
//
// Input: the text of /app/lib/applauncher.cfg, then any number of
// sections, each starting with a line "@@ NAME": "@@ env" holds
// NAME=VALUE lines for the environment ("\n" in a value is a newline),
// any other NAME a file (under /app/lib/ unless it starts with '/').
// /app/lib/rt.so, /rt.so and /app/lib/libhux_python.so exist as runtime
// libraries. A configuration the parser accepts becomes a block for a
// fixed command line; the launcher's own received-record check must
// accept that block, and every string in it must read back as the
// parser's result says. CONFIG_FUZZ_VERBOSE=1 prints what became of each
// input.
#include "record_handoff.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <set>
#include <string>

#include "../tests/memory_config_source.h"
#include "launch_block.h"
#include "launch_config.h"

namespace {

const char mainFile[] = "/app/lib/applauncher.cfg";

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

// Letters, digits and '_', not starting with a digit.
bool isVariableName(const char *name) {
    if (name[0] == '\0' || (name[0] >= '0' && name[0] <= '9')) {
        return false;
    }
    for (const char *c = name; *c != '\0'; c++) {
        if (!isalnum((unsigned char)*c) && *c != '_') {
            return false;
        }
    }
    return true;
}

// The environment lines of an "@@ env" section.
void readEnvironment(const std::string &text, MemoryConfig *memory) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        std::string line = text.substr(start, end - start);
        size_t equals = line.find('=');
        if (equals != std::string::npos && equals > 0 &&
            line.find('\0') == std::string::npos) {
            std::string value = line.substr(equals + 1);
            for (size_t at; (at = value.find("\\n")) != std::string::npos;) {
                value.replace(at, 2, "\n");
            }
            memory->env[line.substr(0, equals)] = value;
        }
        start = end + 1;
    }
}

// Stores one section of the input.
void storeSection(const std::string &name, const std::string &text, MemoryConfig *memory) {
    if (name == "env") {
        readEnvironment(text, memory);
    } else if (!name.empty() && name.find('\0') == std::string::npos) {
        memory->files[name[0] == '/' ? name : "/app/lib/" + name] = text;
    }
}

// The files and environment the input describes.
void readInput(const std::string &input, MemoryConfig *memory) {
    for (const char *runtime : {"/app/lib/rt.so", "/rt.so", "/app/lib/libhux_python.so"}) {
        memory->files[runtime] = "";
    }
    std::string name = mainFile;
    std::string text;
    for (size_t start = 0;;) {
        size_t end = input.find('\n', start);
        bool last = end == std::string::npos;
        std::string line = input.substr(start, last ? std::string::npos : end - start);
        if (line.rfind("@@ ", 0) == 0) {
            storeSection(name, text, memory);
            name = line.substr(3);
            text.clear();
        } else {
            text += last ? line : line + "\n";
        }
        if (last) {
            break;
        }
        start = end + 1;
    }
    storeSection(name, text, memory);
}

// A refusal leaves nothing behind and names a file and a reason.
void checkRefusal(const LaunchConfig &config, const ConfigError &error) {
    if (config.runtime != nullptr || config.argCount != 0 || config.envCount != 0) {
        fail("a refused configuration left something behind");
    }
    if (memchr(error.reason, 0, sizeof error.reason) == nullptr || error.reason[0] == 0) {
        fail("a refusal without a reason");
    }
    if (memchr(error.file, 0, sizeof error.file) == nullptr || error.file[0] != '/' ||
        error.line < 0) {
        fail("a refusal that names no file");
    }
}

// The block is sound for the launcher and says what the configuration says.
void checkBlock(const LaunchConfig &config, const KivlLauncherData *block, int32_t blockSize,
                char *const *argv) {
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
    if (block->args[block->argCount] != nullptr) {
        fail("the argument vector has no null end");
    }
    std::set<std::string> names;
    for (int32_t i = 0; i < block->envCount; i++) {
        if (!inside(block, blockSize, block->envNames[i]) ||
            !inside(block, blockSize, block->envValues[i]) ||
            strcmp(block->envNames[i], config.envNames[i]) != 0 ||
            strcmp(block->envValues[i], config.envValues[i]) != 0 ||
            !isVariableName(block->envNames[i]) || !names.insert(block->envNames[i]).second) {
            fail("a variable differs, is not a variable name or comes twice");
        }
    }
    std::vector<uint64_t> copy((size_t)blockSize / 8 + 1);
    memcpy(copy.data(), block, (size_t)blockSize);
    auto *moved = (KivlLauncherData *)copy.data();
    rebaseRecord(moved, (intptr_t)((uintptr_t)moved - (uintptr_t)block));
    if (moved->args[moved->argCount] != nullptr) {
        fail("the rebase touched the null end");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static char arg0[] = "/app/bin/app";
    static char arg1[] = "--verbose";
    static char arg2[] = "";
    static char *argv[] = {arg0, arg1, arg2, nullptr};
    MemoryConfig memory;
    memory.anyRuntimeExists = false;
    readInput(std::string((const char *)data, size), &memory);
    ConfigSource source = memory.source();
    LaunchConfig config;
    ConfigError error;
    bool loaded =
        loadLaunchConfig(&source, mainFile, "/app", commandLineBytes(3, argv), &config, &error);
    if (getenv("CONFIG_FUZZ_VERBOSE") != nullptr && loaded) {
        fprintf(stderr, "accepted: %d arguments, %d variables\n", config.argCount, config.envCount);
    } else if (getenv("CONFIG_FUZZ_VERBOSE") != nullptr) {
        fprintf(stderr, "refused: %s:%d: %s\n", error.file, error.line, error.reason);
    }
    if (!loaded) {
        checkRefusal(config, error);
        return 0;
    }
    if (memory.files.count(config.runtime) == 0) {
        fail("an accepted runtime that does not exist");
    }
    int32_t blockSize = 0;
    KivlLauncherData *block =
        launchBlockFromConfig(&source, mainFile, "/app", 3, argv, &blockSize, &error);
    if (block == nullptr) {
        fail("an accepted configuration gave no block");
    }
    checkBlock(config, block, blockSize, argv);
    free(block);
    freeLaunchConfig(&config);
    return 0;
}
