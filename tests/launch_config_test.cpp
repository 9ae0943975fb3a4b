// The reference auxiliary library's configuration parser and block layout.
// Blocks are checked with the launcher's own received-record check, so the
// library and the launcher agree on what a sound block is.
#define main launcherMain
#include "../launcher/main.cpp"
#undef main

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "launch_block.h"
#include "launch_config.h"

namespace {

using Strings = std::vector<std::string>;

struct Parsed {
    bool ok = false;
    LaunchConfig config{};
    ConfigError error{};

    Parsed(const std::string &text, const char *configDir = "/opt/app/lib",
           const char *appDir = "/opt/app") {
        ok = parseLaunchConfig(text.data(), text.size(), configDir, appDir, &config, &error);
    }
    ~Parsed() { freeLaunchConfig(&config); }
    Parsed(const Parsed &) = delete;
    Parsed &operator=(const Parsed &) = delete;

    Strings args() const { return Strings(config.args, config.args + config.argCount); }
    Strings env() const {
        Strings pairs;
        for (int32_t i = 0; i < config.envCount; i++) {
            pairs.push_back(std::string(config.envNames[i]) + "=" + config.envValues[i]);
        }
        return pairs;
    }
};

// The line and reason a configuration text is refused with.
std::string refusal(const std::string &text) {
    Parsed parsed(text);
    EXPECT_FALSE(parsed.ok) << text;
    EXPECT_EQ(parsed.config.runtime, nullptr);
    EXPECT_EQ(parsed.config.argCount, 0);
    return std::to_string(parsed.error.line) + ": " + parsed.error.reason;
}

TEST(LaunchConfig, ReadsKeysInOrderSkippingCommentsAndBlankLines) {
    Parsed parsed(
        "# comment\n"
        "\n"
        "   \t\n"
        "runtime=/usr/lib/rt.so\n"
        "  # indented comment\n"
        "arg=first\n"
        " arg =second one \n"
        "arg=\n"
        "env=MODE=fast=yes\n"
        "env=EMPTY=\r\n"
        "arg=last");
    ASSERT_TRUE(parsed.ok) << parsed.error.reason;
    EXPECT_STREQ(parsed.config.runtime, "/usr/lib/rt.so");
    EXPECT_EQ(parsed.args(), (Strings{"first", "second one ", "", "last"}));
    EXPECT_EQ(parsed.env(), (Strings{"MODE=fast=yes", "EMPTY="}));
}

TEST(LaunchConfig, ExpandsAppDirEverywhereAndAnchorsARelativeRuntime) {
    Parsed relative("runtime=rt/librt.so\narg=$APPDIR/x:$APPDIR\nenv=HOME_$APPDIR=$APPDIR$APPDIR");
    ASSERT_TRUE(relative.ok);
    EXPECT_STREQ(relative.config.runtime, "/opt/app/lib/rt/librt.so");
    EXPECT_EQ(relative.args(), (Strings{"/opt/app/x:/opt/app"}));
    EXPECT_EQ(relative.env(), (Strings{"HOME_$APPDIR=/opt/app/opt/app"}));

    Parsed fromAppDir("runtime=$APPDIR/lib/librt.so\narg=$APPDI\narg=$$APPDIRR");
    ASSERT_TRUE(fromAppDir.ok);
    EXPECT_STREQ(fromAppDir.config.runtime, "/opt/app/lib/librt.so");
    EXPECT_EQ(fromAppDir.args(), (Strings{"$APPDI", "$/opt/appR"}));
}

TEST(LaunchConfig, GrowsArraysForManyEntries) {
    std::string text = "runtime=/rt.so\n";
    for (int i = 0; i < 1000; i++) {
        text += "arg=a" + std::to_string(i) + "\nenv=V" + std::to_string(i) + "=" +
                std::to_string(i) + "\n";
    }
    Parsed parsed(text);
    ASSERT_TRUE(parsed.ok);
    ASSERT_EQ(parsed.config.argCount, 1000);
    ASSERT_EQ(parsed.config.envCount, 1000);
    EXPECT_STREQ(parsed.config.args[999], "a999");
    EXPECT_STREQ(parsed.config.envNames[513], "V513");
    EXPECT_STREQ(parsed.config.envValues[513], "513");
}

TEST(LaunchConfig, RefusesMalformedTextNamingTheLine) {
    EXPECT_EQ(refusal("runtime=/rt.so\n\nbogus=1\n"), "3: unknown key \"bogus\"");
    EXPECT_EQ(refusal("runtime=/rt.so\njust words\n"), "2: line has no '='");
    EXPECT_EQ(refusal("# only a comment\n"), "0: no runtime= line");
    EXPECT_EQ(refusal(""), "0: no runtime= line");
    EXPECT_EQ(refusal("runtime=/a.so\nruntime=/b.so\n"), "2: runtime= given twice");
    EXPECT_EQ(refusal("runtime=\n"), "1: runtime= is empty");
    EXPECT_EQ(refusal("runtime=/rt.so\nenv=NOVALUE\n"), "2: env= needs NAME=VALUE");
    EXPECT_EQ(refusal("runtime=/rt.so\nenv==x\n"), "2: env= needs NAME=VALUE");
    EXPECT_EQ(refusal(std::string("runtime=/rt.so\narg=a\0b\n", 22)), "2: line holds a NUL byte");
    EXPECT_EQ(refusal("Runtime=/rt.so\n"), "1: unknown key \"Runtime\"");
    EXPECT_EQ(refusal("=value\n"), "1: unknown key \"\"");
    EXPECT_EQ(refusal("runtime=/rt.so\n" + std::string(500, 'k') + "=1\n"),
              "2: unknown key \"" + std::string(64, 'k') + "\"");
}

// Builds the block for `text` and the command line `argv`, checks it with
// the launcher's check at its own address, and returns it (or null).
struct BuiltBlock {
    KivlLauncherData *record = nullptr;
    int32_t size = -1;
    ConfigError error{};

    BuiltBlock(const std::string &text, Strings argv) {
        std::vector<char *> pointers;
        for (std::string &arg : argv) {
            pointers.push_back(arg.data());
        }
        pointers.push_back(nullptr);
        record = launchBlockFromConfigText(text.data(), text.size(), "/app/lib", "/app",
                                           (int32_t)argv.size(), pointers.data(), &size, &error);
    }
    ~BuiltBlock() { free(record); }
    BuiltBlock(const BuiltBlock &) = delete;
    BuiltBlock &operator=(const BuiltBlock &) = delete;

    const char *check() const {
        return checkReceivedRecord((const unsigned char *)record, (uint64_t)size,
                                   (uint64_t)(uintptr_t)record);
    }
    Strings args() const { return Strings(record->args, record->args + record->argCount); }
};

TEST(LaunchBlock, PutsConfiguredArgumentsBeforeTheCommandLineAfterArgv0) {
    BuiltBlock block("runtime=rt.so\narg=-m\narg=$APPDIR/main\nenv=A=1\nenv=B=$APPDIR",
                     {"/app/bin/app", "--verbose", "", "two words"});
    ASSERT_NE(block.record, nullptr) << block.error.reason;
    EXPECT_EQ(block.check(), nullptr);
    EXPECT_STREQ(block.record->runtimeLibPath, "/app/lib/rt.so");
    EXPECT_EQ(block.args(), (Strings{"-m", "/app/main", "--verbose", "", "two words"}));
    ASSERT_EQ(block.record->envCount, 2);
    EXPECT_STREQ(block.record->envNames[1], "B");
    EXPECT_STREQ(block.record->envValues[1], "/app");
    // Record, five argument and four variable pointers, then the strings.
    EXPECT_EQ((char *)block.record->args, (char *)block.record + 40);
    EXPECT_EQ(block.record->runtimeLibPath, (char *)block.record + 40 + 9 * 8);
    EXPECT_EQ(block.size, 40 + 9 * 8 + 15 + 3 + 10 + 10 + 1 + 10 + 2 + 2 + 2 + 5);
}

TEST(LaunchBlock, EmptyRecordStillPointsEveryFieldIntoTheBlock) {
    BuiltBlock block("runtime=/rt.so", {"app"});
    ASSERT_NE(block.record, nullptr);
    EXPECT_EQ(block.check(), nullptr);
    EXPECT_EQ(block.size, 40 + 7);
    EXPECT_EQ(block.record->argCount, 0);
    EXPECT_EQ(block.record->envCount, 0);
    for (void *field : {(void *)block.record->args, (void *)block.record->envNames,
                        (void *)block.record->envValues}) {
        ASSERT_NE(field, nullptr);
        EXPECT_GE((char *)field, (char *)block.record);
        EXPECT_LE((char *)field, (char *)block.record + block.size);
    }
}

TEST(LaunchBlock, SurvivesACopyAndRebaseToAnotherAddress) {
    BuiltBlock block("runtime=/rt.so\narg=x\nenv=N=v", {"app", "y"});
    ASSERT_NE(block.record, nullptr);
    std::vector<uint64_t> copy((size_t)block.size / 8 + 1);
    memcpy(copy.data(), block.record, (size_t)block.size);
    auto *moved = (KivlLauncherData *)copy.data();
    rebaseRecord(moved, (intptr_t)((uintptr_t)moved - (uintptr_t)block.record));
    memset(block.record, 0, (size_t)block.size);
    EXPECT_STREQ(moved->runtimeLibPath, "/rt.so");
    EXPECT_STREQ(moved->args[0], "x");
    EXPECT_STREQ(moved->args[1], "y");
    EXPECT_STREQ(moved->envNames[0], "N");
    EXPECT_STREQ(moved->envValues[0], "v");
}

TEST(LaunchBlock, RefusesBuffersTooSmallAndSizesPastTwoGigabytes) {
    Parsed parsed("runtime=/rt.so\narg=a");
    ASSERT_TRUE(parsed.ok);
    char *argv[] = {(char *)"app", nullptr};
    int32_t size = launchBlockSize(&parsed.config, 1, argv);
    ASSERT_EQ(size, 40 + 8 + 7 + 2);
    std::vector<uint64_t> buffer(16);
    EXPECT_EQ(fillLaunchBlock(&parsed.config, 1, argv, buffer.data(), size - 1), nullptr);
    EXPECT_EQ(fillLaunchBlock(&parsed.config, 1, argv, nullptr, size), nullptr);
    EXPECT_NE(fillLaunchBlock(&parsed.config, 1, argv, buffer.data(), size), nullptr);
    EXPECT_EQ(launchBlockSize(&parsed.config, -5, argv), 40 + 8 + 7 + 2);

    // 40 arguments of 64 MiB each add up to more than a 32-bit size holds.
    std::string huge(64u << 20, 'x');
    std::vector<char *> many(41, huge.data());
    many[0] = argv[0];
    EXPECT_EQ(launchBlockSize(&parsed.config, 41, many.data()), 0);
    EXPECT_EQ(fillLaunchBlock(&parsed.config, 41, many.data(), buffer.data(), INT32_MAX),
              nullptr);
}

}  // namespace
