// Makes each allocation of the reference library's configuration code fail
// in turn, on real files using every feature, and checks every run: no
// crash, the reason "out of memory", every block of the run freed. The
// binary is linked with --wrap for malloc, calloc, realloc and free, so
// the calls of the code it links statically (not libc's own) come here.
#include <errno.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "config_source.h"
#include "launch_block.h"

extern "C" void *__real_malloc(size_t size);
extern "C" void *__real_calloc(size_t count, size_t size);
extern "C" void *__real_realloc(void *block, size_t size);
extern "C" void __real_free(void *block);

namespace {

bool armed = false;  // counting and failing only while armed
long calls = 0;
long failAt = 0;  // the call that fails; 0: none
long live = 0;

// Whether this allocation is the one to fail, with errno set as libc would.
bool failNow() {
    if (armed && ++calls == failAt) {
        errno = ENOMEM;
        return true;
    }
    return false;
}

// Counts a block allocated while armed.
void *counted(void *block) {
    live += armed && block != nullptr;
    return block;
}

}  // namespace

extern "C" void *__wrap_malloc(size_t size) {
    return failNow() ? nullptr : counted(__real_malloc(size));
}
extern "C" void *__wrap_calloc(size_t count, size_t size) {
    return failNow() ? nullptr : counted(__real_calloc(count, size));
}
extern "C" void *__wrap_realloc(void *block, size_t size) {
    void *moved = failNow() ? nullptr : __real_realloc(block, size);
    return block == nullptr ? counted(moved) : moved;
}
extern "C" void __wrap_free(void *block) {
    live -= armed && block != nullptr;
    __real_free(block);
}

namespace {

TEST(ConfigAllocationFailure, EachAllocationFailingInTurnIsReportedAndLeavesNothing) {
    char pattern[] = "/tmp/applauncher-config-alloc-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string app = std::string(pattern) + "/app";
    const std::string config = app + "/lib/applauncher.cfg";
    std::filesystem::create_directories(app + "/lib/applauncher.d");
    std::ofstream(app + "/lib/rt.so") << "";
    std::ofstream(config) << "runtime=rt.so\narg=$APPDIR/x\nargs=-x 'y z'\nenv=B=1\n"
                          << "env=A=${UNSET:-${" << std::string(200, 'L') << ":-deep}}\n"
                          << "include=applauncher.d/*.cfg\ninclude-optional=none/*\nenv=A=2\n";
    std::string many = "env=B=2\n";
    for (int i = 0; i < 40; i++) {
        many += "arg=many" + std::to_string(i) + "\nenv=V" + std::to_string(i) + "=x\n";
    }
    std::ofstream(app + "/lib/applauncher.d/a.cfg") << many;
    char *argv[] = {(char *)"app", (char *)"cli", nullptr};

    for (long failing = 0, total = 0; failing == 0 || failing <= total; failing++) {
        calls = live = 0;
        failAt = failing;
        armed = true;
        int32_t size = 0;
        ConfigError error;
        KivlLauncherData *block = launchBlockFromConfig(fileSystemSource(false), config.c_str(),
                                                        app.c_str(), 2, argv, &size, &error);
        int32_t argCount = block != nullptr ? block->argCount : -1;
        free(block);
        armed = false;
        EXPECT_EQ(live, 0) << "allocation " << failing;
        if (failing == 0) {
            ASSERT_EQ(argCount, 1 + 2 + 40 + 1) << error.file << ":" << error.line << ": " << error.reason;
            total = calls;
            EXPECT_GT(total, 60);
        } else {
            EXPECT_EQ(argCount, -1) << "allocation " << failing << " of " << total;
            EXPECT_STREQ(error.reason, "out of memory") << "allocation " << failing;
        }
    }
    std::filesystem::remove_all(pattern);
}

}  // namespace
