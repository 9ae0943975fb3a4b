// The launcher with the reference auxiliary library, first with the
// recording runtime double, then with the real CPython runtime library.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "launch_harness.h"

using Strings = std::vector<std::string>;

namespace {

// An application tree whose lib/ holds the reference library and the
// given applauncher.cfg.
struct ConfiguredTree {
    AppTree tree{"app", false};
    std::string configPath = tree.appDir + "/lib/applauncher.cfg";

    explicit ConfiguredTree(const std::string &config) {
        tree.installLibrary(REFERENCE_AUX_LIBRARY, tree.libPath);
        std::ofstream(configPath) << config;
    }
};

// Lines of standard error that are not debug lines.
Strings plainLines(const std::string &stderrText) {
    Strings lines;
    for (const DebugLine &line : debugLines(stderrText)) {
        if (line.pid == 0) {
            lines.push_back(line.message);
        }
    }
    return lines;
}

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

#ifdef PYTHON_RUNTIME_LIBRARY
// The environment for a run of the interpreter. The interpreter keeps some
// of its own memory at exit by design, so a sanitizer build checks leaks in
// every other test but not in these.
std::map<std::string, std::string> pythonEnvironment(const AppTree &tree) {
    auto env = baseEnvironment(tree);
    env["ASAN_OPTIONS"] = "detect_leaks=0:exitcode=99";
    return env;
}

// A tree with the CPython runtime library that runs `program` (Python).
struct PythonTree : ConfiguredTree {
    explicit PythonTree(const std::string &program)
        : ConfiguredTree(
              "runtime=libhux_python.so\n"
              "arg=$APPDIR/bin/app\n"
              "arg=$APPDIR/share/main.py\n"
              "env=APP_GREETING=hello from the configuration\n"
              "env=PYTHONDONTWRITEBYTECODE=1\n") {
        tree.installLibrary(PYTHON_RUNTIME_LIBRARY, tree.appDir + "/lib/libhux_python.so");
        std::filesystem::create_directories(tree.appDir + "/share");
        std::ofstream(tree.appDir + "/share/main.py") << program;
    }
};

TEST(PythonRuntime, ProgramSeesArgumentsAndVariablesAndItsExitStatusIsTheLaunchers) {
    PythonTree app(
        "import os, sys, json, ctypes\n"
        "out = os.path.join(os.environ['TEST_RECORDS'], 'python')\n"
        "with open(out, 'w') as f:\n"
        "    json.dump({'argv': sys.argv, 'greeting': os.environ['APP_GREETING']}, f)\n"
        "sys.exit(3)\n");
    auto env = pythonEnvironment(app.tree);
    env["APP_GREETING"] = "overwritten";
    LaunchResult run = runLauncher(app.tree, {"--name", "two words", "é"}, env);
    EXPECT_EQ(run.exitCode, 3) << run.stderrText;
    EXPECT_EQ(readFile(app.tree.records + "/python"),
              "{\"argv\": [\"" + app.tree.appDir +
                  "/share/main.py\", \"--name\", \"two words\", \"\\u00e9\"], "
                  "\"greeting\": \"hello from the configuration\"}");
}

TEST(PythonRuntime, UncaughtExceptionExitsWithOneAndNormalEndWithZero) {
    PythonTree failing("raise SystemExit('bad input')\n");
    LaunchResult failed = runLauncher(failing.tree, {}, pythonEnvironment(failing.tree));
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(plainLines(failed.stderrText), Strings{"bad input"});

    PythonTree fine("print('fine')\n");
    EXPECT_EQ(runLauncher(fine.tree, {}, pythonEnvironment(fine.tree)).exitCode, 0);
}
#else
TEST(PythonRuntime, ProgramSeesArgumentsAndVariablesAndItsExitStatusIsTheLaunchers) {
    GTEST_SKIP() << "the CPython runtime library was not built (Debian: libpython3-dev)";
}
#endif

}  // namespace
