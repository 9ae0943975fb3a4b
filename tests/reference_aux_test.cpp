// The launcher with the reference auxiliary library and the recording
// runtime double.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "configured_tree.h"

namespace {

TEST(ReferenceAuxLibrary, StartsTheConfiguredRuntimeWithConfiguredThenCommandLineArguments) {
    ConfiguredTree app(
        "runtime=rt/libruntime.so\n"
        "arg=--config-first\n"
        "arg=$APPDIR/main\n"
        "env=APP_HOME=$APPDIR\n"
        "env=APP_MODE=quiet\n");
    app.tree.installLibrary(RUNTIME_LIBRARY, app.tree.appDir + "/lib/rt/libruntime.so");
    auto env = baseEnvironment(app.tree);
    env["RT_RECORD_ENV"] = "APP_HOME,APP_MODE";
    env["APP_MODE"] = "loud";
    env["RT_EXIT"] = "5";
    LaunchResult run = runLauncher(app.tree, {"--verbose", "two words"}, env);
    EXPECT_EQ(run.exitCode, 5) << run.stderrText;
    Strings runtime = readRecords(app.tree, "runtime");
    EXPECT_EQ(withPrefix(runtime, "arg"),
              (Strings{"argc=4", "arg=--config-first", "arg=" + app.tree.appDir + "/main",
                       "arg=--verbose", "arg=two words"}));
    EXPECT_EQ(withPrefix(runtime, "env:"),
              (Strings{"env:APP_HOME=" + app.tree.appDir, "env:APP_MODE=quiet"}));
    EXPECT_EQ(plainLines(run.stderrText), Strings{});
    auto lines = debugLines(run.stderrText);
    EXPECT_EQ(messagesOf(lines, run.pid).front(),
              "hux lib: [" + app.tree.appDir + "/lib/rt/libruntime.so]");
}

TEST(ReferenceAuxLibrary, MissingOrMalformedConfigurationStopsWithOneLineNamingIt) {
    struct Case {
        const char *config;  // null: no file at all
        std::string complaint;
    };
    const std::string file = "/app/lib/applauncher.cfg";
    for (const Case &c : {Case{nullptr, ": No such file or directory"},
                          Case{"runtime=/x.so\n# fine\nverbose\n", ":3: line has no '='"},
                          Case{"arg=a\n", ": no runtime= line"},
                          Case{"runtime=/x.so\nmode=fast\n", ":2: unknown key \"mode\""}}) {
        ConfiguredTree app(c.config != nullptr ? c.config : "");
        if (c.config == nullptr) {
            std::filesystem::remove(app.configPath);
        }
        auto env = baseEnvironment(app.tree);
        for (const char *debug : {"true", "false"}) {
            env["SORVANTA_DEBUG"] = debug;
            LaunchResult run = runLauncher(app.tree, {}, env);
            EXPECT_EQ(run.exitCode, 1) << run.stderrText;
            EXPECT_EQ(plainLines(run.stderrText),
                      Strings{"applauncher: " + app.tree.root + file + c.complaint});
            EXPECT_TRUE(readRecords(app.tree, "runtime").empty());
        }
    }
}

// A configuration of exactly `size` bytes whose last line is "arg=last",
// padded with a comment line.
std::string configOfSize(size_t size) {
    const std::string head = "runtime=rt/libruntime.so\n#";
    const std::string tail = "\narg=last\n";
    return head + std::string(size - head.size() - tail.size(), 'x') + tail;
}

TEST(ReferenceAuxLibrary, ConfigurationIsReadWholeUpToOneMebibyteAndRefusedBeyond) {
    for (size_t size : {4095u, 4096u, 4097u, 8193u, 1048576u}) {
        ConfiguredTree app(configOfSize(size));
        app.tree.installLibrary(RUNTIME_LIBRARY, app.tree.appDir + "/lib/rt/libruntime.so");
        LaunchResult run = runLauncher(app.tree, {"cli"}, baseEnvironment(app.tree));
        EXPECT_EQ(run.exitCode, 0) << size << ": " << run.stderrText;
        EXPECT_EQ(withPrefix(readRecords(app.tree, "runtime"), "arg="),
                  (Strings{"arg=last", "arg=cli"}))
            << size;
    }
    ConfiguredTree app(configOfSize(1048577));
    LaunchResult run = runLauncher(app.tree, {}, baseEnvironment(app.tree));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(plainLines(run.stderrText),
              Strings{"applauncher: " + app.configPath + ": larger than 1048576 bytes"});
}

TEST(ReferenceAuxLibrary, AMissingRuntimeLibraryIsTheLaunchersLoaderError) {
    ConfiguredTree app("runtime=libnowhere.so\n");
    LaunchResult run = runLauncher(app.tree, {}, baseEnvironment(app.tree));
    EXPECT_EQ(run.exitCode, 1);
    auto messages = messagesOf(debugLines(run.stderrText), run.pid);
    ASSERT_FALSE(messages.empty());
    EXPECT_NE(messages.back().find(app.tree.appDir + "/lib/libnowhere.so"), std::string::npos)
        << run.stderrText;
}


}  // namespace
