// The launcher with the reference auxiliary library and the real CPython
// runtime library.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "configured_tree.h"

namespace {

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

}  // namespace
