// The launcher with the reference auxiliary library and the real CPython
// runtime library. Programs that start the interpreter again run with a
// time limit in a private process namespace, and refuse to run twice (exit
// 97), so that an interpreter that starts the application again ends the
// test as a failure.
//
// PYTHON_TEST_LAUNCHER, when set, names another launcher build to run in
// every tree instead of the one built here.
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "configured_tree.h"

namespace {

namespace fs = std::filesystem;
using Environment = std::map<std::string, std::string>;

// The environment for a run of the interpreter. The interpreter keeps some
// of its own memory at exit by design, so a sanitizer build checks leaks in
// every other test but not in these.
Environment pythonEnvironment(const AppTree &tree) {
    auto env = baseEnvironment(tree);
    env["ASAN_OPTIONS"] = "detect_leaks=0:exitcode=99";
    return env;
}

// The text of the test program tests/python/<name>.
std::string programText(const std::string &name) {
    return readFile(std::string(PYTHON_PROGRAMS) + "/" + name);
}

// "text" as a JSON string (the texts compared here need no escapes).
std::string jsonString(const std::string &text) {
    return "\"" + text + "\"";
}

// The site-packages directory of a virtual environment at `venv` for the
// interpreter's version (its file name is python<major.minor>).
std::string sitePackages(const std::string &venv) {
    return venv + "/lib/" + fs::path(PYTHON_INTERPRETER).filename().string() + "/site-packages";
}

// The configuration that starts the CPython runtime library with `argv0`
// and then each of `words` as its arguments, followed by `lines`.
std::string pythonConfiguration(const std::string &argv0, const Strings &words,
                                const std::string &lines) {
    std::string text = "runtime=libhux_python.so\narg=" + argv0 + "\n";
    for (const std::string &word : words) {
        text += "arg=" + word + "\n";
    }
    return text + lines;
}

// Puts the CPython runtime library into the tree's lib/, and the launcher
// PYTHON_TEST_LAUNCHER names, when set, in place of the tree's.
void installPythonRuntime(const AppTree &tree) {
    tree.installLibrary(PYTHON_RUNTIME_LIBRARY, tree.appDir + "/lib/libhux_python.so");
    if (const char *launcher = getenv("PYTHON_TEST_LAUNCHER")) {
        fs::copy_file(launcher, tree.exe, fs::copy_options::overwrite_existing);
    }
}

// A tree with the CPython runtime library that runs `program` (Python) as
// share/main.py, with records.py beside it. `options` come between the
// program name and the script; `moreConfig` is appended to the
// configuration. The programs import records.py from beside them, and are
// compared with python3 running them: the configuration puts the script's
// directory in front of sys.path (--no-safe-path) as python3 does.
struct PythonTree : ConfiguredTree {
    explicit PythonTree(const std::string &program, const Strings &options = {},
                        const std::string &moreConfig = "")
        : ConfiguredTree(configuration(options) + moreConfig) {
        installPythonRuntime(tree);
        fs::create_directories(tree.appDir + "/share");
        std::ofstream(script) << program;
        fs::copy_file(std::string(PYTHON_PROGRAMS) + "/records.py",
                      tree.appDir + "/share/records.py");
    }

    static std::string configuration(const Strings &options) {
        Strings words = {"--no-safe-path"};
        words.insert(words.end(), options.begin(), options.end());
        words.push_back("$APPDIR/share/main.py");
        return pythonConfiguration("$APPDIR/bin/app", words,
                                   "env=APP_GREETING=hello from the configuration\n"
                                   "env=PYTHONDONTWRITEBYTECODE=1\n");
    }

    // The value recorded by records.record(NAME=...), as JSON.
    std::string recorded(const std::string &name) const {
        return recordedValue(tree, "python", name);
    }

    std::string script = tree.appDir + "/share/main.py";
};

// Runs the launcher with a time limit, in a private process namespace that
// ends with it where the machine allows one, so that whatever it starts
// ends too.
LaunchResult runContained(const PythonTree &app, const Strings &args, const Environment &env) {
    std::string how;
    return runLauncherUnder(containedPrefix(app.tree, 60, &how), app.tree, args, env);
}

// Starts `argv` (argv[0] is the program's path) with exactly `env`, in
// tree.root, with its output in direct.out and direct.err there, or its
// standard error a pipe whose reader has gone when `closedStderr`.
pid_t startDirect(const AppTree &tree, const Strings &argv, const Environment &env,
                  bool closedStderr = false) {
    return startProgram(tree.root, "direct", argv, env,
                        closedStderr ? stderrToAbandonedPipe : std::function<void()>());
}

// Waits for a process started by startDirect and collects its output.
LaunchResult finishDirect(const AppTree &tree, pid_t pid) {
    return finishProgram(pid, tree.root, "direct");
}

// Runs `argv` as startDirect does and waits for it.
LaunchResult runDirect(const AppTree &tree, const Strings &argv, const Environment &env) {
    return finishDirect(tree, startDirect(tree, argv, env));
}

// Starts `argv`, waits (30 s at most) until the program has created
// records/ready, interrupts it with SIGINT and waits for it.
LaunchResult interruptWhenReady(const AppTree &tree, const Strings &argv, const Environment &env) {
    std::string ready = tree.records + "/ready";
    fs::remove(ready);
    pid_t pid = startDirect(tree, argv, env);
    for (int wait = 0; wait < 3000 && !fs::exists(ready); wait++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGINT);
    return finishDirect(tree, pid);
}

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

TEST(PythonRuntime, InterpreterOptionsThatEndItEndItAsThePythonCommand) {
    const std::vector<Strings> cases = {
        {"--version"}, {"-Z"}, {"-X", "utf8=bad"}, {"-X", "frozen_modules=bad"}};
    for (const Strings &options : cases) {
        SCOPED_TRACE(options.back());
        PythonTree app("import records\nrecords.record(ran=True)\n", options);
        Environment env = pythonEnvironment(app.tree);
        Strings command = {PYTHON_INTERPRETER};
        command.insert(command.end(), options.begin(), options.end());
        command.push_back(app.script);
        LaunchResult direct = runDirect(app.tree, command, env);
        LaunchResult run = runLauncher(app.tree, {}, env);
        ASSERT_TRUE(WIFEXITED(direct.waitStatus));
        EXPECT_EQ(run.exitCode, WEXITSTATUS(direct.waitStatus));
        EXPECT_EQ(run.stdoutText, direct.stdoutText);
        Strings expectedLines = plainLines(direct.stderrText);
        Strings lines = plainLines(run.stderrText);
        ASSERT_FALSE(expectedLines.empty() && direct.stdoutText.empty());
        EXPECT_EQ(lines.empty() ? "" : lines.front(),
                  expectedLines.empty() ? "" : expectedLines.front());
        EXPECT_EQ(app.recorded("ran"), "");
    }
}

TEST(PythonRuntime, KeyboardInterruptEndsTheLauncherAsItEndsThePythonCommand) {
    PythonTree app(programText("keyboard_interrupt.py"));
    Environment env = pythonEnvironment(app.tree);
    LaunchResult command = interruptWhenReady(app.tree, {PYTHON_INTERPRETER, app.script}, env);
    LaunchResult launched = interruptWhenReady(app.tree, {app.tree.exe}, env);
    ASSERT_TRUE(WIFSIGNALED(command.waitStatus) && WTERMSIG(command.waitStatus) == SIGINT)
        << command.waitStatus << command.stderrText;
    EXPECT_EQ(launched.waitStatus, command.waitStatus) << launched.stderrText;
    EXPECT_NE(launched.stderrText.find("\nKeyboardInterrupt\n"), std::string::npos)
        << launched.stderrText;
}

TEST(PythonRuntime, UndecodableArgumentsAreDecodedAsThePythonCommandDecodesThem) {
    const Strings args = {"caf\xc3\xa9", "\xff\xfe", "latin \xe9", "plain"};
    struct Case {
        Environment variables;
        Strings options;
    };
    const Environment asciiLocale = {
        {"LC_ALL", "C"}, {"PYTHONCOERCECLOCALE", "0"}, {"PYTHONUTF8", "0"}};
    const std::vector<Case> cases = {
        {{}, {}},
        {{{"LC_ALL", "C.UTF-8"}}, {}},
        {asciiLocale, {}},
        {asciiLocale, {"-X", "utf8"}},
    };
    for (const Case &testCase : cases) {
        PythonTree app(programText("argument_bytes.py"), testCase.options);
        Environment env = pythonEnvironment(app.tree);
        env.insert(testCase.variables.begin(), testCase.variables.end());
        Strings command = {PYTHON_INTERPRETER};
        command.insert(command.end(), testCase.options.begin(), testCase.options.end());
        command.push_back(app.script);
        command.insert(command.end(), args.begin(), args.end());
        LaunchResult direct = runDirect(app.tree, command, env);
        std::string expected = readFile(app.tree.records + "/python");
        LaunchResult run = runLauncher(app.tree, args, env);
        std::string seen = readFile(app.tree.records + "/python");
        SCOPED_TRACE(testCase.options.empty() ? "" : testCase.options.back());
        EXPECT_EQ(direct.waitStatus, 0) << direct.stderrText;
        EXPECT_EQ(run.exitCode, 0) << run.stderrText;
        EXPECT_NE(expected.find(R"(\\udcff\\udcfe)"), std::string::npos) << expected;
        EXPECT_EQ(seen, expected);
    }
}

TEST(PythonRuntime, DaemonThreadsStillRunningAtExitNeverCrashIt) {
    PythonTree app(programText("daemon_threads.py"));
    Environment env = pythonEnvironment(app.tree);
    int failures = 0;
    std::string firstFailure;
    for (int run = 0; run < 40; run++) {
        LaunchResult result = runDirect(app.tree, {app.tree.exe}, env);
        if (result.waitStatus != 0 || result.stdoutText != "main script done\n") {
            if (failures++ == 0) {
                firstFailure = WIFSIGNALED(result.waitStatus)
                                   ? "signal " + std::to_string(WTERMSIG(result.waitStatus))
                                   : "wait status " + std::to_string(result.waitStatus);
                firstFailure += ", stdout \"" + result.stdoutText + "\"\n" + result.stderrText;
            }
        }
    }
    EXPECT_EQ(failures, 0) << "of 40 runs failed; the first: " << firstFailure;
}

TEST(PythonRuntime, TraceNamesTheExecutableOnlyWhenAskedAndAClosedPipeCostsNothing) {
    PythonTree app("import records\nrecords.record(done=True)\nraise SystemExit(3)\n");
    Environment env = pythonEnvironment(app.tree);
    LaunchResult traced = runLauncher(app.tree, {}, env);
    EXPECT_TRUE(contains(messagesOf(debugLines(traced.stderrText), traced.pid),
                         "python: executable [" PYTHON_INTERPRETER "]"))
        << traced.stderrText;

    env["SORVANTA_DEBUG"] = "TRUE";
    LaunchResult quiet = runLauncher(app.tree, {}, env);
    EXPECT_EQ(quiet.exitCode, 3);
    EXPECT_EQ(quiet.stderrText, "");

    env["SORVANTA_DEBUG"] = "true";
    fs::remove(app.tree.records + "/python");
    LaunchResult closed =
        finishDirect(app.tree, startDirect(app.tree, {app.tree.exe}, env, /*closedStderr=*/true));
    EXPECT_TRUE(WIFEXITED(closed.waitStatus) && WEXITSTATUS(closed.waitStatus) == 3)
        << closed.waitStatus;
    EXPECT_EQ(app.recorded("done"), "true");
}

TEST(PythonRuntime, MissingInterpreterOrNoVenvIsRefusedWithOneLine) {
    PythonTree missing("import records\nrecords.record(ran=True)\n");
    missing.tree.installLibrary(PYTHON_RUNTIME_WITHOUT_INTERPRETER,
                                missing.tree.appDir + "/lib/libhux_python.so");
    LaunchResult run = runLauncher(missing.tree, {}, pythonEnvironment(missing.tree));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(plainLines(run.stderrText),
              Strings{"hux python: " PYTHON_MISSING_INTERPRETER " not found: install python3.11"});
    EXPECT_EQ(missing.recorded("ran"), "");

    PythonTree notVenv("import records\nrecords.record(ran=True)\n", {},
                       "env=HUX_PYTHON_VENV=$APPDIR/venv\n");
    std::string venv = notVenv.tree.appDir + "/venv";
    fs::create_directories(venv + "/bin");
    run = runLauncher(notVenv.tree, {}, pythonEnvironment(notVenv.tree));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(plainLines(run.stderrText),
              Strings{"hux python: " + venv + " is not a virtual environment (no pyvenv.cfg)"});

    std::ofstream(venv + "/pyvenv.cfg") << "home = /usr/bin\n";
    run = runLauncher(notVenv.tree, {}, pythonEnvironment(notVenv.tree));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(plainLines(run.stderrText),
              Strings{"hux python: " + venv +
                      "/bin/python3 not found: recreate the virtual environment with "
                      PYTHON_INTERPRETER " -m venv"});
    EXPECT_EQ(notVenv.recorded("ran"), "");
}

TEST(PythonInterpreter, SysExecutableRunsExactlyTheArgumentsItIsGiven) {
    PythonTree app(programText("interpreter_again.py"));
    LaunchResult run =
        runContained(app, {"a", "two words", "-v", "--flag"}, pythonEnvironment(app.tree));
    ASSERT_EQ(run.exitCode, 0) << run.stderrText;
    EXPECT_EQ(app.recorded("executable"), jsonString(PYTHON_INTERPRETER));
    EXPECT_EQ(app.recorded("base_executable"), jsonString(PYTHON_INTERPRETER));
    EXPECT_EQ(app.recorded("status"), "0");
    EXPECT_EQ(app.recorded("argv"), "[\"-c\", \"a\", \"two words\", \"-v\", \"--flag\"]");
    EXPECT_EQ(app.recorded("child_executable"), jsonString(PYTHON_INTERPRETER));
    EXPECT_EQ(app.recorded("same_version"), "true");
    EXPECT_EQ(app.recorded("same_path"), "true");
}

TEST(PythonInterpreter, MultiprocessingPoolsMapWithSpawnAndForkserver) {
    for (const std::string method : {"spawn", "forkserver"}) {
        SCOPED_TRACE(method);
        PythonTree app(programText("pool_map.py"));
        LaunchResult run = runContained(app, {method}, pythonEnvironment(app.tree));
        EXPECT_EQ(run.exitCode, 0) << run.stderrText;
        EXPECT_EQ(app.recorded("method"), jsonString(method));
        EXPECT_EQ(app.recorded("squares"), "[0, 1, 4, 9, 16, 25, 36, 49, 64, 81]");
    }
}

TEST(PythonInterpreter, VenvModuleBuildsEnvironmentsOnTheRealInterpreter) {
    PythonTree app(programText("make_venv.py"));
    LaunchResult run = runContained(app, {}, pythonEnvironment(app.tree));
    ASSERT_EQ(run.exitCode, 0) << run.stderrText;
    EXPECT_EQ(app.recorded("base_executable"), jsonString(PYTHON_INTERPRETER));
    EXPECT_EQ(app.recorded("link"), jsonString(fs::canonical(PYTHON_INTERPRETER).string()));
    EXPECT_EQ(app.recorded("status"), "0");
    EXPECT_EQ(app.recorded("venv_prefix"), jsonString(app.tree.records + "/made-venv"));
}

TEST(PythonInterpreter, PipBuildsALocalPackageThroughAChildInterpreter) {
    PythonTree app(programText("pip_install.py"));
    Environment env = pythonEnvironment(app.tree);
    env["PIP_CONFIG_FILE"] = "/dev/null";
    env["PIP_ROOT_USER_ACTION"] = "ignore";
    env["HOME"] = app.tree.root;
    LaunchResult run = runContained(app, {}, env);
    EXPECT_EQ(run.exitCode, 0) << run.stderrText;
    EXPECT_EQ(app.recorded("status"), "0") << run.stderrText;
    EXPECT_EQ(app.recorded("value"), jsonString("built by pip"));
}

// Puts venvonly.py, a module no other path provides, into the virtual
// environment at `venv`.
void addVenvOnlyModule(const std::string &venv) {
    fs::create_directories(sitePackages(venv));
    std::ofstream(sitePackages(venv) + "/venvonly.py") << "ORIGIN = 'venv'\n";
}

TEST(PythonVenv, ApplicationAndItsChildrenTakePackagesFromTheApplicationsVenv) {
    for (bool byHand : {true, false}) {
        SCOPED_TRACE(byHand ? "venv laid out by hand" : "venv made by the venv module");
        PythonTree app(programText("venv_probe.py"), {}, "env=HUX_PYTHON_VENV=$APPDIR/venv\n");
        std::string venv = app.tree.appDir + "/venv";
        if (byHand) {
            fs::create_directories(venv + "/bin");
            fs::create_symlink(PYTHON_INTERPRETER, venv + "/bin/python3");
            std::ofstream(venv + "/pyvenv.cfg")
                << "home = " << fs::path(PYTHON_INTERPRETER).parent_path().string()
                << "\ninclude-system-site-packages = false\n";
        } else {
            LaunchResult made = runDirect(app.tree, {PYTHON_INTERPRETER, "-m", "venv", "--without-pip", venv},
                                       pythonEnvironment(app.tree));
            ASSERT_EQ(made.waitStatus, 0) << made.stderrText;
        }
        addVenvOnlyModule(venv);
        LaunchResult run = runContained(app, {}, pythonEnvironment(app.tree));
        ASSERT_EQ(run.exitCode, 0) << run.stderrText;
        Strings trace = messagesOf(debugLines(run.stderrText), 0, /*others=*/true);
        EXPECT_TRUE(contains(trace, "python: venv [" + venv + "]")) << run.stderrText;
        EXPECT_TRUE(contains(trace, "python: executable [" + venv + "/bin/python3]"));
        std::string packages = "[" + jsonString(sitePackages(venv)) + "]";
        EXPECT_EQ(app.recorded("prefix"), jsonString(venv));
        EXPECT_EQ(app.recorded("base_prefix"),
                  jsonString(fs::path(PYTHON_INTERPRETER).parent_path().parent_path().string()));
        EXPECT_EQ(app.recorded("executable"), jsonString(venv + "/bin/python3"));
        EXPECT_EQ(app.recorded("packages"), packages);
        EXPECT_EQ(app.recorded("origin"), jsonString("venv"));
        EXPECT_EQ(app.recorded("child"), "[" + jsonString(venv) + ", " + jsonString(venv + "/bin/python3") +
                                             ", " + packages + ", \"venv\"]");
    }
}

// The prefix of the interpreter (/usr for /usr/bin/python3.11).
std::string pythonPrefix() {
    return fs::path(PYTHON_INTERPRETER).parent_path().parent_path().string();
}

// The file name of the zipped standard library first on the interpreter's
// own path (python311.zip for python3.11).
std::string zippedLibrary() {
    std::string name = fs::path(PYTHON_INTERPRETER).filename().string();
    name.erase(std::remove(name.begin(), name.end(), '.'), name.end());
    return name + ".zip";
}

// A tree for the library's own words (--entry-point, --no-safe-path): the
// configuration's arg= lines are `words`, then the command line's
// arguments; share/lib, on PYTHONPATH, holds the test programs;
// share/app/main.py is safe_path_probe.py as a script, with sibling.py
// beside it; the working directory (the tree's root) holds a hostile
// json.py; share/console/ holds the console scripts that a test writes.
struct WordsTree : ConfiguredTree {
    explicit WordsTree(const Strings &words, const std::string &moreConfig = "")
        : ConfiguredTree(pythonConfiguration("$APPDIR/bin/applauncher", words,
                                             "env=PYTHONPATH=$APPDIR/share/lib\n"
                                             "env=PYTHONDONTWRITEBYTECODE=1\n") +
                         moreConfig) {
        installPythonRuntime(tree);
        for (const char *dir : {"/share/lib", "/share/app", "/share/console"}) {
            fs::create_directories(tree.appDir + dir);
        }
        for (const char *name :
             {"records.py", "entry_targets.py", "entry_broken.py", "safe_path_probe.py"}) {
            fs::copy_file(std::string(PYTHON_PROGRAMS) + "/" + name,
                          tree.appDir + "/share/lib/" + name);
        }
        fs::copy_file(std::string(PYTHON_PROGRAMS) + "/safe_path_probe.py",
                      tree.appDir + "/share/app/main.py");
        std::ofstream(tree.appDir + "/share/app/sibling.py") << "\n";
        fs::copy_file(std::string(PYTHON_PROGRAMS) + "/hostile_json.py", tree.root + "/json.py");
    }

    // The environment of the console scripts run beside the launcher: what
    // the configuration sets.
    Environment consoleEnvironment() const {
        Environment env = pythonEnvironment(tree);
        env["PYTHONPATH"] = tree.appDir + "/share/lib";
        env["PYTHONDONTWRITEBYTECODE"] = "1";
        return env;
    }

    // Writes share/console/<name>, the console script that packaging tools
    // generate for the entry point MODULE:FUNCTION `spec`, run by the
    // interpreter; returns the command that runs it.
    Strings consoleScript(const std::string &name, const std::string &spec) const {
        std::string module = spec.substr(0, spec.find(':'));
        std::string object = spec.substr(spec.find(':') + 1);
        std::string top = object.substr(0, object.find('.'));
        std::string path = tree.appDir + "/share/console/" + name;
        std::ofstream(path) << "import re\nimport sys\nfrom " << module << " import " << top
                            << "\nif __name__ == '__main__':\n"
                               "    sys.argv[0] = re.sub(r'(-script\\.pyw|\\.exe)?$', '', "
                               "sys.argv[0])\n    sys.exit("
                            << object << "())\n";
        return {PYTHON_INTERPRETER, path};
    }

    std::string probed(const std::string &name) const { return recordedValue(tree, "probe", name); }
};

// The words joined by spaces, to name a case.
std::string joined(const Strings &words) {
    std::string text;
    for (const std::string &word : words) {
        text += (text.empty() ? "" : " ") + word;
    }
    return text;
}

TEST(PythonEntryPoint, EndsAsTheConsoleScriptOfTheSameFunction) {
    struct Case {
        std::string spec;
        int status;
    };
    const std::vector<Case> cases = {
        {"entry_targets:returns_none", 0},     {"entry_targets:returns_zero", 0},
        {"entry_targets:returns_three", 3},    {"entry_targets:returns_text", 1},
        {"entry_targets:raises_system_exit", 4}, {"entry_targets:Holder.returns_five", 5},
        {"entry_broken:run", 1},
    };
    for (const Case &testCase : cases) {
        SCOPED_TRACE(testCase.spec);
        WordsTree app({"--entry-point", testCase.spec});
        LaunchResult run = runLauncher(app.tree, {"a"}, pythonEnvironment(app.tree));
        Strings script = app.consoleScript("app", testCase.spec);
        script.push_back("a");
        LaunchResult console = runDirect(app.tree, script, app.consoleEnvironment());
        EXPECT_EQ(run.exitCode, testCase.status) << run.stderrText;
        EXPECT_EQ(console.waitStatus, testCase.status << 8) << console.stderrText;
        Strings lines = plainLines(run.stderrText);
        Strings expected = plainLines(console.stderrText);
        EXPECT_EQ(lines.empty() ? "" : lines.back(), expected.empty() ? "" : expected.back());
        EXPECT_EQ(lines.empty(), expected.empty()) << run.stderrText;
        EXPECT_EQ(run.stdoutText, console.stdoutText);
    }
}

TEST(PythonEntryPoint, ThatNamesNothingIsRefusedWithOneLineInThePythonsWords) {
    struct Case {
        std::string spec;
        std::string line;
        int status;
    };
    const std::string malformed =
        "--entry-point takes MODULE:FUNCTION or MODULE:OBJECT.ATTRIBUTE, not ";
    const std::vector<Case> cases = {
        {"nosuch_module:run", "ModuleNotFoundError: No module named 'nosuch_module'", 1},
        {"nosuch_package.cli:run", "ModuleNotFoundError: No module named 'nosuch_package'", 1},
        {"json.nosuch:run", "ModuleNotFoundError: No module named 'json.nosuch'", 1},
        {"entry_targets:nosuch",
         "AttributeError: module 'entry_targets' has no attribute 'nosuch'", 1},
        {"entry_targets:Holder.nosuch",
         "AttributeError: type object 'Holder' has no attribute 'nosuch'", 1},
        {"entry_targets", malformed + "'entry_targets'", 1},
        {"entry_targets:", malformed + "'entry_targets:'", 1},
        {":returns_zero", malformed + "':returns_zero'", 1},
        {"entry_targets:returns_zero:x", malformed + "'entry_targets:returns_zero:x'", 1},
        {"entry targets:returns_zero", malformed + "'entry targets:returns_zero'", 1},
        {"entry_targets.:returns_zero", malformed + "'entry_targets.:returns_zero'", 1},
        {"1st:returns_zero", malformed + "'1st:returns_zero'", 1},
    };
    for (const Case &testCase : cases) {
        SCOPED_TRACE(testCase.spec);
        WordsTree app({"--entry-point", testCase.spec});
        LaunchResult run = runLauncher(app.tree, {}, pythonEnvironment(app.tree));
        EXPECT_EQ(run.exitCode, testCase.status);
        EXPECT_EQ(plainLines(run.stderrText), Strings{testCase.line}) << run.stderrText;
        EXPECT_EQ(run.stdoutText, "");
    }

    WordsTree noValue({"--entry-point"});
    LaunchResult run = runLauncher(noValue.tree, {}, pythonEnvironment(noValue.tree));
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(plainLines(run.stderrText),
              Strings{"Argument expected for the --entry-point option"});
}

TEST(PythonEntryPoint, TheProgramBearsItsOwnNameAndPythonsOptionsComeFirst) {
    const std::vector<Strings> cases = {
        {"--entry-point", "entry_targets:returns_none"},
        {"-X", "utf8", "-B", "--entry-point", "entry_targets:returns_none"},
        {"--no-safe-path", "-Wd", "--entry-point", "entry_targets:returns_none"},
    };
    for (const Strings &words : cases) {
        SCOPED_TRACE(words.front());
        WordsTree app(words);
        Environment env = pythonEnvironment(app.tree);
        LaunchResult run = runLauncher(app.tree, {"two words", "--entry-point", "-c"}, env);
        ASSERT_EQ(run.exitCode, 0) << run.stderrText;
        std::string exe = jsonString(app.tree.exe);
        std::string launched;
        for (const std::string &word : words) {
            launched += ", " + jsonString(word);
        }
        EXPECT_EQ(readFile(app.tree.records + "/python"),
                  "{\"argv\": [" + exe + ", \"two words\", \"--entry-point\", \"-c\"], "
                  "\"orig_argv\": [" + exe + launched +
                      ", \"two words\", \"--entry-point\", \"-c\"], \"main\": true}");
    }
}

TEST(PythonEntryPoint, CtrlCEndsItAsItEndsTheConsoleScript) {
    WordsTree app({"--entry-point", "entry_targets:waits_for_interrupt"});
    Strings script = app.consoleScript("app", "entry_targets:waits_for_interrupt");
    LaunchResult console = interruptWhenReady(app.tree, script, app.consoleEnvironment());
    LaunchResult launched =
        interruptWhenReady(app.tree, {app.tree.exe}, pythonEnvironment(app.tree));
    ASSERT_TRUE(WIFSIGNALED(console.waitStatus) && WTERMSIG(console.waitStatus) == SIGINT)
        << console.waitStatus << console.stderrText;
    EXPECT_EQ(launched.waitStatus, console.waitStatus) << launched.stderrText;
    Strings lines = plainLines(launched.stderrText);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), plainLines(console.stderrText).back());
    EXPECT_EQ(lines.back(), "KeyboardInterrupt");
}

TEST(PythonSafePath, NothingOfTheWorkingOrScriptDirectoryUnlessTurnedOff) {
    const std::string script = "$APPDIR/share/app/main.py";
    const std::string entry = "safe_path_probe:probe";
    struct Case {
        Strings words;
        std::string path0;  // "" for the first entry of the interpreter's own path
        bool sibling;
        bool hostile;
    };
    const std::vector<Case> cases = {
        {{script}, "", false, false},
        {{"-m", "safe_path_probe"}, "", false, false},
        {{"--entry-point", entry}, "", false, false},
        {{"-c", "import safe_path_probe; safe_path_probe.probe()"}, "", false, false},
        {{"--no-safe-path", script}, "app", true, false},
        {{"--no-safe-path", "-m", "safe_path_probe"}, "cwd", false, true},
        {{"--no-safe-path", "--entry-point", entry}, "bin", false, false},
        {{"--no-safe-path", "-c", "import safe_path_probe; safe_path_probe.probe()"}, "''", false,
         true},
        {{"--no-safe-path", "-I", script}, "", false, false},
    };
    for (const Case &testCase : cases) {
        SCOPED_TRACE(joined(testCase.words));
        WordsTree app(testCase.words);
        std::string appDir = fs::canonical(app.tree.appDir).string();
        const std::map<std::string, std::string> path0s = {
            {"app", appDir + "/share/app"}, {"cwd", fs::canonical(app.tree.root).string()},
            {"bin", appDir + "/bin"}, {"''", ""}};
        LaunchResult run = runLauncher(app.tree, {}, pythonEnvironment(app.tree));
        ASSERT_EQ(run.exitCode, 0) << run.stderrText;
        EXPECT_EQ(fs::exists(app.tree.records + "/hostile"), testCase.hostile);
        EXPECT_EQ(app.probed("sibling"), testCase.sibling ? "True" : "False");
        std::string path0 = app.probed("path0");
        if (testCase.path0.empty()) {
            bool isolated = contains(testCase.words, "-I");
            EXPECT_EQ(path0, isolated ? pythonPrefix() + "/lib/" + zippedLibrary()
                                      : app.tree.appDir + "/share/lib");
        } else {
            EXPECT_EQ(path0, path0s.at(testCase.path0));
        }
        if (!testCase.hostile) {
            EXPECT_EQ(app.probed("json").rfind(pythonPrefix() + "/lib/python3", 0), 0u)
                << app.probed("json");
        }
    }
}

// The result of applauncher-doctor's runtime check step for the tree's
// launcher run with `args`, and the doctor's exit status.
struct DoctorCheck {
    int exitCode;
    std::string result;
};

DoctorCheck doctorCheck(const AppTree &tree, const Strings &args, const Environment &env) {
    Strings words = {PYTHON_DOCTOR, "--timeout", "30", tree.exe};
    words.insert(words.end(), args.begin(), args.end());
    LaunchResult run = runCommand(tree, words, env);
    std::istringstream lines(run.stdoutText);
    const std::string step = ". runtime check: ";
    for (std::string line; std::getline(lines, line);) {
        if (line.find(step) != std::string::npos) {
            return {run.exitCode, line.substr(line.find(step) + step.size())};
        }
    }
    return {run.exitCode, "no runtime check step in: " + run.stdoutText};
}

TEST(PythonCheck, RefusesWhatTheLaunchRefusesInItsWordsAndRunsNoneOfTheApplication) {
    const std::string script = "$APPDIR/share/app/main.py";
    struct Case {
        Strings words;
        int status;  // the launch's
    };
    const std::vector<Case> cases = {
        {{script}, 0},
        {{"--entry-point", "entry_targets:returns_zero"}, 0},
        {{"-B", "--entry-point", "entry_targets:Holder.returns_five"}, 5},
        {{"-m", "safe_path_probe"}, 0},
        {{"--no-safe-path", "-m", "cwd_only"}, 0},
        {{"--version"}, 0},
        {{"-Z", script}, 2},
        {{"-X", "utf8=bad", script}, 1},
        {{"-X", "frozen_modules=bad", script}, 1},
        {{"--check-hash-based-pycs", "sometimes", script}, 2},
        {{"--entry-point"}, 2},
        {{"--entry-point", "entry_targets"}, 1},
        {{"--entry-point", "nosuch_module:run"}, 1},
        {{"--entry-point", "nosuch_package.cli:run"}, 1},
        {{"-m", "nosuch_module"}, 1},
        {{"-m", "nosuch_package.sub"}, 1},
        {{"-m", "cwd_only"}, 1},
        {{"$APPDIR/share/app/missing.py"}, 2},
    };
    for (const Case &testCase : cases) {
        SCOPED_TRACE(joined(testCase.words));
        WordsTree app(testCase.words);
        std::ofstream(app.tree.root + "/cwd_only.py")
            << "import safe_path_probe\nsafe_path_probe.probe()\n";
        Environment env = pythonEnvironment(app.tree);
        DoctorCheck check = doctorCheck(app.tree, {}, env);
        EXPECT_FALSE(fs::exists(app.tree.records + "/imported-entry_targets"));
        EXPECT_FALSE(fs::exists(app.tree.records + "/probe"));
        LaunchResult run = runLauncher(app.tree, {}, env);
        EXPECT_EQ(run.exitCode, testCase.status) << run.stderrText << run.stdoutText;
        bool refused = testCase.status != 0 && testCase.status != 5;
        EXPECT_EQ(check.exitCode, refused ? 1 : 0) << check.result;
        EXPECT_EQ(check.result.rfind("python: ", 0), 0u) << check.result;
        Strings lines = plainLines(run.stderrText);
        if (refused) {
            ASSERT_FALSE(lines.empty());
            EXPECT_NE(check.result.find(lines.front()), std::string::npos)
                << check.result << "\nthe launch: " << lines.front();
        }
    }
}

TEST(PythonCheck, LooksForTheModuleWhereTheVenvPutsTheLaunch) {
    struct Case {
        std::string spec;
        bool inVenv;
        bool starts;
    };
    // pip is in the system's site-packages (python3-pip) and not in a venv
    // made without it; venvonly only in the venv.
    const std::vector<Case> cases = {
        {"venvonly:run", true, true},
        {"pip:main", true, false},
        {"venvonly:run", false, false},
    };
    for (const Case &testCase : cases) {
        SCOPED_TRACE(testCase.spec + (testCase.inVenv ? " in the venv" : ""));
        WordsTree app({"--entry-point", testCase.spec},
                      testCase.inVenv ? "env=HUX_PYTHON_VENV=$APPDIR/venv\n" : "");
        std::string venv = app.tree.appDir + "/venv";
        fs::create_directories(venv + "/bin");
        fs::create_symlink(PYTHON_INTERPRETER, venv + "/bin/python3");
        std::ofstream(venv + "/pyvenv.cfg")
            << "home = " << fs::path(PYTHON_INTERPRETER).parent_path().string()
            << "\ninclude-system-site-packages = false\n";
        fs::create_directories(sitePackages(venv));
        std::ofstream(sitePackages(venv) + "/venvonly.py") << "def run():\n    return 0\n";
        Environment env = pythonEnvironment(app.tree);
        DoctorCheck check = doctorCheck(app.tree, {}, env);
        LaunchResult run = runLauncher(app.tree, {}, env);
        EXPECT_EQ(run.exitCode, testCase.starts ? 0 : 1) << run.stderrText;
        EXPECT_EQ(check.exitCode, testCase.starts ? 0 : 1) << check.result;
        std::string module = testCase.spec.substr(0, testCase.spec.find(':'));
        EXPECT_NE(check.result.find(testCase.starts ? module + " from " + sitePackages(venv)
                                                    : "No module named '" + module + "'"),
                  std::string::npos)
            << check.result;
    }
}

}  // namespace
