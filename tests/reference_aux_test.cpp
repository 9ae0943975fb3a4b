// The launcher with the reference auxiliary library and the recording
// runtime double.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

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
    Strings parent = messagesOf(debugLines(run.stderrText), run.pid);
    ASSERT_FALSE(parent.empty()) << run.stderrText;
    EXPECT_EQ(parent.front(),
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

TEST(ReferenceAuxLibrary, AMissingRuntimeLibraryIsNamedWithItsLineWhateverTheDebugSetting) {
    ConfiguredTree app("# the runtime\nruntime=libnowhere.so\n");
    auto env = baseEnvironment(app.tree);
    for (const char *debug : {"true", "false"}) {
        env["SORVANTA_DEBUG"] = debug;
        LaunchResult run = runLauncher(app.tree, {}, env);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(plainLines(run.stderrText),
                  Strings{"applauncher: " + app.configPath + ":2: " + app.tree.appDir +
                          "/lib/libnowhere.so: No such file or directory"});
    }
}

// The runtime double's arguments, read and cleared for the next run.
Strings takeArguments(const AppTree &tree) {
    Strings args = withPrefix(readRecords(tree, "runtime"), "arg=");
    std::filesystem::remove(tree.records + "/runtime");
    return args;
}

TEST(ReferenceAuxLibrary, TheSampleTakesOptionsFromTheEnvironmentAndAUserFileAndTracesItsFiles) {
    std::ifstream sample(HELLO_SAMPLE_CONFIG);
    ConfiguredTree app(std::string(std::istreambuf_iterator<char>(sample), {}));
    app.tree.installLibrary(RUNTIME_LIBRARY, app.tree.appDir + "/lib/libhux_python.so");
    const std::string home = app.tree.root + "/home";
    const std::string userFile = home + "/.config/hello/applauncher.cfg";
    const Strings fixed = {"arg=" + app.tree.appDir + "/bin/hello",
                           "arg=" + app.tree.appDir + "/share/hello/hello.py"};
    auto env = baseEnvironment(app.tree);
    env["HOME"] = home;
    env["RT_RECORD_ENV"] = "HELLO_GREETING";

    LaunchResult plain = runLauncher(app.tree, {"Alice"}, env);
    EXPECT_EQ(plain.exitCode, 0) << plain.stderrText;
    Strings expected = fixed;
    expected.push_back("arg=Alice");
    EXPECT_EQ(takeArguments(app.tree), expected);
    EXPECT_EQ(withPrefix(messagesOf(debugLines(plain.stderrText), plain.pid, true), "config:"),
              (Strings{"config: [" + app.configPath + "]", "config: no match: [" + userFile + "]"}));

    std::filesystem::create_directories(home + "/.config/hello");
    std::ofstream(userFile) << "arg=--from-user\nenv=HELLO_GREETING=Howdy\n";
    env["HELLO_OPTIONS"] = "--exit 3 'Mary Ann'";
    LaunchResult run = runLauncher(app.tree, {"Alice"}, env);
    EXPECT_EQ(run.exitCode, 0) << run.stderrText;
    EXPECT_EQ(recordedValue(app.tree, "runtime", "env:HELLO_GREETING"), "Howdy");
    expected = fixed;
    expected.insert(expected.end(), {"arg=--exit", "arg=3", "arg=Mary Ann", "arg=--from-user", "arg=Alice"});
    EXPECT_EQ(takeArguments(app.tree), expected);
    EXPECT_EQ(withPrefix(messagesOf(debugLines(run.stderrText), run.pid, true), "config:"),
              (Strings{"config: [" + app.configPath + "]", "config: [" + userFile + "]"}));

    env["SORVANTA_DEBUG"] = "false";
    EXPECT_EQ(runLauncher(app.tree, {}, env).stderrText, "");
}

TEST(ReferenceAuxLibrary, DropInFilesAreReadInNameOrderAndNonRegularFilesRefusedAtOnce) {
    ConfiguredTree app("runtime=rt/libruntime.so\narg=main\ninclude=applauncher.d/*.cfg\n");
    app.tree.installLibrary(RUNTIME_LIBRARY, app.tree.appDir + "/lib/rt/libruntime.so");
    const std::string dropIns = app.tree.appDir + "/lib/applauncher.d";
    std::filesystem::create_directories(dropIns);
    std::ofstream(dropIns + "/20-b.cfg") << "arg=b\n";
    std::ofstream(dropIns + "/10-a.cfg") << "\xEF\xBB\xBF" "arg=a\n";
    std::ofstream(dropIns + "/notes") << "arg=notes\n";
    auto env = baseEnvironment(app.tree);
    LaunchResult run = runLauncher(app.tree, {"cli"}, env);
    EXPECT_EQ(run.exitCode, 0) << run.stderrText;
    EXPECT_EQ(takeArguments(app.tree), (Strings{"arg=main", "arg=a", "arg=b", "arg=cli"}));

    // A FIFO would block a reader for ever; the run is bounded all the same.
    const std::string fifo = dropIns + "/30-fifo.cfg";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_directory(dropIns + "/40-dir.cfg");
    std::filesystem::create_symlink("/dev/null", dropIns + "/50-device.cfg");
    for (const auto &[path, what] : std::vector<std::pair<std::string, std::string>>{
             {fifo, "is a FIFO"}, {dropIns + "/40-dir.cfg", "is a directory"},
             {dropIns + "/50-device.cfg", "is a device"}}) {
        run = runLauncherUnder({"/usr/bin/timeout", "20"}, app.tree, {}, env);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(plainLines(run.stderrText),
                  Strings{"applauncher: " + path + ": " + what + ", not a regular file"});
        std::filesystem::remove(path);
    }
    std::filesystem::remove(app.configPath);
    ASSERT_EQ(mkfifo(app.configPath.c_str(), 0600), 0);
    run = runLauncherUnder({"/usr/bin/timeout", "20"}, app.tree, {}, env);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(plainLines(run.stderrText),
              Strings{"applauncher: " + app.configPath + ": is a FIFO, not a regular file"});
}

}  // namespace
