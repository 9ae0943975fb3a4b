// The CPython runtime library on its own: its HUX_Check export, loaded as
// the diagnostic tool loads it, and its debug trace, compiled in here.
#include "runtime_trace.c"

#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

using CheckFn = int32_t (*)(char *message, int32_t size, int32_t argCount, char **args);

// The HUX_Check export of the runtime library at `path` (loaded for good).
CheckFn checkOf(const char *path) {
    void *library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    return library != nullptr ? (CheckFn)dlsym(library, "HUX_Check") : nullptr;
}

// A check's result and message.
struct Checked {
    int32_t status;
    std::string message;
};

// Runs `check` with HUX_PYTHON_VENV set to `venv` (unset when null).
Checked runCheck(CheckFn check, const char *venv) {
    if (venv != nullptr) {
        setenv("HUX_PYTHON_VENV", venv, 1);
    } else {
        unsetenv("HUX_PYTHON_VENV");
    }
    char message[8192];
    int32_t status = check(message, sizeof message, 0, nullptr);
    unsetenv("HUX_PYTHON_VENV");
    return {status, message};
}

// A temporary directory, removed with everything in it.
struct TemporaryDirectory {
    std::string path;
    TemporaryDirectory() {
        char pattern[] = "/tmp/hux-python-check-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TemporaryDirectory() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

// The version the interpreter reports (python --version without "Python ").
std::string interpreterVersion() {
    FILE *output = popen(PYTHON_INTERPRETER " -c 'import platform; print(platform.python_version())'", "r");
    char line[64] = "";
    if (output != nullptr) {
        if (fgets(line, sizeof line, output) == nullptr) {
            line[0] = '\0';
        }
        pclose(output);
    }
    std::string version = line;
    return version.substr(0, version.find('\n'));
}

// The directory of the interpreter's standard library (/usr/lib/python3.11).
std::string pythonLibrary() {
    fs::path interpreter = PYTHON_INTERPRETER;
    return interpreter.parent_path().parent_path().string() + "/lib/" +
           interpreter.filename().string();
}

TEST(PythonCheck, DescribesTheInterpreterItWouldNameOrTheVenv) {
    CheckFn check = checkOf(PYTHON_RUNTIME_LIBRARY);
    ASSERT_NE(check, nullptr) << dlerror();
    std::string system = "python: " PYTHON_INTERPRETER " (CPython " + interpreterVersion() + ")";
    Checked plain = runCheck(check, nullptr);
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.message, system);
    EXPECT_EQ(runCheck(check, "").message, system);

    TemporaryDirectory dir;
    std::string venv = dir.path + "/venv";
    fs::create_directories(venv + "/bin");
    std::ofstream(venv + "/pyvenv.cfg") << "home = /usr/bin\n";
    fs::create_symlink(PYTHON_INTERPRETER, venv + "/bin/python3");
    std::string expected = "python: venv " + venv + ", " + venv + "/bin/python3";
    Checked inVenv = runCheck(check, venv.c_str());
    EXPECT_EQ(inVenv.status, 0);
    EXPECT_EQ(inVenv.message, expected);
    EXPECT_EQ(runCheck(check, (venv + "//").c_str()).message, expected);

    std::string relative = fs::relative(venv).string();
    std::string fromHere = fs::current_path().string() + "/" + relative;
    EXPECT_EQ(runCheck(check, relative.c_str()).message,
              "python: venv " + fromHere + ", " + fromHere + "/bin/python3");
}

TEST(PythonCheck, NamesTheProblemAndWhatToDo) {
    CheckFn check = checkOf(PYTHON_RUNTIME_LIBRARY);
    ASSERT_NE(check, nullptr) << dlerror();
    TemporaryDirectory dir;
    std::string venv = dir.path + "/venv";
    fs::create_directories(venv + "/bin");
    Checked notVenv = runCheck(check, venv.c_str());
    EXPECT_EQ(notVenv.status, 1);
    EXPECT_EQ(notVenv.message, "python: " + venv + " is not a virtual environment (no pyvenv.cfg)");

    fs::create_directories(venv + "/pyvenv.cfg");
    EXPECT_EQ(runCheck(check, venv.c_str()).status, 1) << "pyvenv.cfg must be a file";
    fs::remove(venv + "/pyvenv.cfg");
    std::ofstream(venv + "/pyvenv.cfg") << "home = /usr/bin\n";
    fs::create_symlink(dir.path + "/gone/python3.11", venv + "/bin/python3");
    Checked dangling = runCheck(check, venv.c_str());
    EXPECT_EQ(dangling.status, 1);
    EXPECT_EQ(dangling.message, "python: " + venv +
                                    "/bin/python3 not found: recreate the virtual environment "
                                    "with " PYTHON_INTERPRETER " -m venv");

    CheckFn withoutInterpreter = checkOf(PYTHON_RUNTIME_WITHOUT_INTERPRETER);
    ASSERT_NE(withoutInterpreter, nullptr) << dlerror();
    Checked missing = runCheck(withoutInterpreter, nullptr);
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.message,
              "python: " PYTHON_MISSING_INTERPRETER " not found: install python3.11");
}

TEST(PythonCheck, MessageIsTruncatedToItsSizeAndTerminated) {
    CheckFn check = checkOf(PYTHON_RUNTIME_LIBRARY);
    ASSERT_NE(check, nullptr) << dlerror();
    unsetenv("HUX_PYTHON_VENV");
    char message[16];
    memset(message, 'x', sizeof message);
    EXPECT_EQ(check(message, 12, 0, nullptr), 0);
    EXPECT_EQ(std::string(message), std::string("python: " PYTHON_INTERPRETER).substr(0, 11));
    EXPECT_EQ(message[12], 'x');
    EXPECT_EQ(check(message, 1, 0, nullptr), 0);
    EXPECT_EQ(message[0], '\0');
    message[0] = 'x';
    EXPECT_EQ(check(message, 0, 0, nullptr), 0);
    EXPECT_EQ(check(message, -5, 0, nullptr), 0);
    EXPECT_EQ(check(nullptr, 100, 0, nullptr), 0);
    EXPECT_EQ(message[0], 'x');
}

// Runs `check` with the argument vector `args` in a child process, as
// applauncher-doctor does (a check that reads one starts the interpreter);
// the child sends back the status and message, and runs the check a second
// time when `twice`.
Checked checkInChild(CheckFn check, std::vector<std::string> args, bool twice = false) {
    int fds[2];
    if (pipe(fds) != 0) {
        return {-1, "no pipe"};
    }
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::vector<char *> argv;
        for (std::string &arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        char message[4096];
        int32_t status = 0;
        for (int round = 0; round < (twice ? 2 : 1); round++) {
            status = check(message, sizeof message, (int32_t)args.size(), argv.data());
        }
        std::string reply = std::to_string(status) + " " + message;
        _exit(write(fds[1], reply.data(), reply.size()) == (ssize_t)reply.size() ? 0 : 1);
    }
    close(fds[1]);
    std::string reply;
    char buffer[4096];
    for (ssize_t got; (got = read(fds[0], buffer, sizeof buffer)) > 0;) {
        reply.append(buffer, (size_t)got);
    }
    close(fds[0]);
    int waited = 0;
    waitpid(pid, &waited, 0);
    size_t space = reply.find(' ');
    if (!WIFEXITED(waited) || WEXITSTATUS(waited) != 0 || space == std::string::npos) {
        return {-1, "the child ended with wait status " + std::to_string(waited) + ": " + reply};
    }
    return {std::stoi(reply.substr(0, space)), reply.substr(space + 1)};
}

TEST(PythonCheck, ReadsTheArgumentVectorAsTheLaunchAndSaysWhatWouldRun) {
    CheckFn check = checkOf(PYTHON_RUNTIME_LIBRARY);
    ASSERT_NE(check, nullptr) << dlerror();
    unsetenv("HUX_PYTHON_VENV");
    TemporaryDirectory dir;
    std::string script = dir.path + "/main.py";
    std::ofstream(script) << "raise SystemExit('the check ran the script')\n";
    std::string system = "python: " PYTHON_INTERPRETER " (CPython " + interpreterVersion() + ")";
    struct Case {
        std::vector<std::string> args;
        int32_t status;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"app"}, 0, system},
        {{"app", "-c", "raise SystemExit(3)"}, 0, system},
        {{"app", "-B", script, "-Z"}, 0, system + "; script " + script},
        {{"app", "--entry-point", "json:dumps", "x"}, 0,
         system + "; entry point json:dumps, json from " + pythonLibrary() + "/json/__init__.py"},
        {{"app", "--entry-point"}, 1,
         "python: Argument expected for the --entry-point option: give it MODULE:FUNCTION"},
        {{"app", "--help"}, 0,
         system + "; the interpreter's options end it before any application: usage: app "
                  "[option] ... [-c cmd | -m mod | file | -] [arg] ..."},
        {{"app", "-W"}, 1,
         "python: Argument expected for the -W option (exit status 2): correct the "
         "interpreter's options in the launch data"},
    };
    for (const Case &testCase : cases) {
        SCOPED_TRACE(testCase.args.back());
        Checked checked = checkInChild(check, testCase.args);
        EXPECT_EQ(checked.status, testCase.status);
        EXPECT_EQ(checked.message, testCase.message);
    }
    Checked again = checkInChild(check, {"app", script}, /*twice=*/true);
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.message,
              system + "; arguments not read: an interpreter already runs in this process");
}

// Runs `body` in a child process with standard error on `stderrFd` and
// SORVANTA_DEBUG=true; returns the child's wait status. The body returns
// 0 when all its checks held, else the number of the one that failed.
int traceInChild(int stderrFd, const std::function<int()> &body) {
    pid_t pid = fork();
    if (pid == 0) {
        dup2(stderrFd, 2);
        setenv("SORVANTA_DEBUG", "true", 1);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

// Whether `signal` is pending for this thread or process.
bool isPending(int signal) {
    sigset_t pending;
    sigpending(&pending);
    return sigismember(&pending, signal) == 1;
}

// Whether `signal` is blocked in this thread.
bool isBlocked(int signal) {
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    return sigismember(&mask, signal) == 1;
}

// A pipe whose reader has gone: its write end, or -1.
int closedPipe() {
    int fds[2];
    if (pipe(fds) != 0) {
        return -1;
    }
    close(fds[0]);
    return fds[1];
}

TEST(PythonTrace, WritesOneWholeLineOnlyWhileDebugIsExactlyTrue) {
    TemporaryDirectory dir;
    std::string path = dir.path + "/stderr";
    std::string longWord(6000, 'w');
    for (const char *value : {"true", "TRUE", "true ", "1", ""}) {
        int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int status = traceInChild(file, [&] {
            setenv("SORVANTA_DEBUG", value, 1);
            errno = ENOTTY;
            huxTrace("python: executable [%s] %d", "/x", 42);
            huxTrace("%s", longWord.c_str());
            return errno == ENOTTY ? 0 : 1;
        });
        close(file);
        SCOPED_TRACE(std::string("SORVANTA_DEBUG=") + value);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        std::ifstream in(path);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (std::string(value) == "true") {
            size_t close = text.find("]: ");
            ASSERT_NE(close, std::string::npos) << text;
            std::string prefix = text.substr(0, close + 3);
            EXPECT_EQ(text, prefix + "python: executable [/x] 42\n" + prefix + longWord + "\n");
            EXPECT_EQ(prefix.front(), '[');
            EXPECT_GT(std::stol(prefix.substr(1)), 0);
        } else {
            EXPECT_EQ(text, "");
        }
    }
}

// A failed write of a trace line must neither end the process nor leave a
// signal behind that it raised, and must keep one that was pending before.
TEST(PythonTrace, AFailedWriteEndsNothingAndTakesBackOnlyTheSignalItRaised) {
    TemporaryDirectory dir;
    struct Case {
        const char *what;
        int signal;
        bool pendingBefore;
    };
    for (Case testCase : {Case{"closed pipe", SIGPIPE, false}, Case{"file too large", SIGXFSZ, false},
                          Case{"closed pipe, SIGPIPE pending", SIGPIPE, true}}) {
        SCOPED_TRACE(testCase.what);
        int target = testCase.signal == SIGPIPE
                         ? closedPipe()
                         : open((dir.path + "/full").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(target, 0);
        int status = traceInChild(target, [&] {
            struct rlimit limit = {8, 8};
            if (testCase.signal == SIGXFSZ &&
                (setrlimit(RLIMIT_FSIZE, &limit) != 0 || lseek(2, 64, SEEK_SET) != 64)) {
                return 3;
            }
            signal(testCase.signal, SIG_DFL);
            if (testCase.pendingBefore) {
                sigset_t only;
                sigemptyset(&only);
                sigaddset(&only, testCase.signal);
                pthread_sigmask(SIG_BLOCK, &only, nullptr);
                raise(testCase.signal);
            }
            huxTrace("python: a line that cannot be written");
            bool stillBlocked = isBlocked(testCase.signal) == testCase.pendingBefore;
            return isPending(testCase.signal) != testCase.pendingBefore ? 1 : stillBlocked ? 0 : 2;
        });
        close(target);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
}

}  // namespace
