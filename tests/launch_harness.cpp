#include "launch_harness.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <sys/wait.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

const char *testArtifact(const char *name, const char *built) {
    const char *given = getenv(("APPLAUNCHER_TEST_" + std::string(name)).c_str());
    return given != nullptr && *given != '\0' ? given : built;
}

AppTree::AppTree(const std::string &appName, bool withLibrary) {
    char pattern[] = "/tmp/applauncher-test-XXXXXX";
    root = mkdtemp(pattern);
    appDir = root + "/" + appName;
    exe = appDir + "/bin/applauncher";
    libPath = appDir + "/lib/libapplauncher.so";
    fakeBin = root + "/fakebin";
    records = root + "/records";
    fs::create_directories(appDir + "/bin");
    fs::create_directories(appDir + "/lib");
    fs::create_directories(fakeBin);
    fs::create_directories(records);
    fs::copy_file(LAUNCHER_BINARY, exe);
    if (withLibrary) {
        installLibrary(AUX_LIBRARY, libPath);
    }
}

AppTree::~AppTree() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

void AppTree::installCommand(const std::string &name) const {
    fs::copy_file(FAKE_PACKAGE_MANAGER, fakeBin + "/" + name);
}

void AppTree::installLibrary(const std::string &library, const std::string &path) const {
    fs::create_directories(fs::path(path).parent_path());
    fs::copy_file(library, path, fs::copy_options::overwrite_existing);
}

std::map<std::string, std::string> baseEnvironment(const AppTree &tree) {
    return {{"PATH", tree.fakeBin},
            {"TEST_RECORDS", tree.records},
            {"AUX_RUNTIME", RUNTIME_LIBRARY},
            {"SORVANTA_DEBUG", "true"}};
}

// The blank-separated words of environment variable `name`.
static std::vector<std::string> wordsOf(const char *name) {
    std::vector<std::string> words;
    const char *value = getenv(name);
    std::istringstream in(value != nullptr ? value : "");
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

bool launcherIsWrapped() {
    return !wordsOf("APPLAUNCHER_TEST_WRAPPER").empty() || launcherIsEmulated();
}

bool launcherIsEmulated() {
    return !wordsOf("APPLAUNCHER_TEST_EMULATOR").empty();
}

std::vector<std::string> launcherCommand(const std::string &path) {
    std::vector<std::string> words = wordsOf("APPLAUNCHER_TEST_EMULATOR");
    words.push_back(path);
    return words;
}

// Pointers to each of `words` and a null after them, for execve; the words
// stay the owners of their text.
static std::vector<char *> execPointers(std::vector<std::string> &words) {
    std::vector<char *> pointers;
    for (std::string &word : words) {
        pointers.push_back(word.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// "NAME=VALUE" for each of `env`.
static std::vector<std::string> environmentWords(const std::map<std::string, std::string> &env) {
    std::vector<std::string> words;
    for (const auto &[name, value] : env) {
        words.push_back(name + "=" + value);
    }
    return words;
}

// Forks and runs `program` with `argvWords` and `envWords` in `dir`: stdin
// on /dev/null, stdout into `outPath`, stderr into `errPath`, no other
// descriptor; every signal set to its default first when `defaultSignals`,
// then `inChild` when given. Returns the process id.
static pid_t spawnProgram(const std::string &program, std::vector<std::string> argvWords,
                          std::vector<std::string> envWords, const std::string &dir,
                          const std::string &outPath, const std::string &errPath,
                          bool defaultSignals, const std::function<void()> &inChild) {
    std::vector<char *> args = execPointers(argvWords);
    std::vector<char *> envp = execPointers(envWords);
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(null, 0);
        dup2(out, 1);
        dup2(err, 2);
        syscall(SYS_close_range, 3U, ~0U, 0U);
        if (defaultSignals) {
            defaultSignalState();
        }
        if (chdir(dir.c_str()) != 0) {
            _exit(126);
        }
        if (inChild) {
            inChild();
        }
        execve(program.c_str(), args.data(), envp.data());
        _exit(127);
    }
    return pid;
}

pid_t startProgram(const std::string &dir, const std::string &tag, std::vector<std::string> argv,
                   const std::map<std::string, std::string> &env,
                   const std::function<void()> &inChild) {
    std::string program = argv.at(0);
    return spawnProgram(program, argv, environmentWords(env), dir, dir + "/" + tag + ".out",
                        dir + "/" + tag + ".err", true, inChild);
}

LaunchResult finishProgram(pid_t pid, const std::string &dir, const std::string &tag) {
    LaunchResult result;
    result.pid = pid;
    waitpid(pid, &result.waitStatus, 0);
    result.exitCode = WIFEXITED(result.waitStatus) ? WEXITSTATUS(result.waitStatus) : -1;
    result.stdoutText = readFile(dir + "/" + tag + ".out");
    result.stderrText = readFile(dir + "/" + tag + ".err");
    return result;
}

void defaultSignalState() {
    for (int sig = 1; sig < NSIG; sig++) {
        signal(sig, SIG_DFL);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

void stderrToAbandonedPipe() {
    int ends[2];
    if (pipe(ends) == 0) {
        close(ends[0]);
        dup2(ends[1], 2);
        close(ends[1]);
    }
}

// Runs `program` with `argvWords` and `env` in the tree's root (anything a
// command did by a relative path lands in the tree), stdin on /dev/null,
// stdout into <root>/stdout, stderr into <root>/stderr, no other
// descriptor and the signal state the test inherited; waits for it.
static LaunchResult runProgram(const AppTree &tree, const std::string &program,
                               std::vector<std::string> argvWords,
                               const std::map<std::string, std::string> &env) {
    std::vector<std::string> envWords = environmentWords(env);
    // A sanitizer build's settings reach the launcher whatever the test sets.
    for (const char *name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
        if (getenv(name) != nullptr && env.count(name) == 0) {
            envWords.push_back(std::string(name) + "=" + getenv(name));
        }
    }
    std::string errPath = tree.root + "/stderr";
    std::string outPath = tree.root + "/stdout";
    LaunchResult result;
    result.pid = spawnProgram(program, std::move(argvWords), envWords, tree.root, outPath,
                              errPath, false, nullptr);
    waitpid(result.pid, &result.waitStatus, 0);
    result.exitCode = WIFEXITED(result.waitStatus) ? WEXITSTATUS(result.waitStatus) : -1;
    result.stderrText = readFile(errPath);
    result.stdoutText = readFile(outPath);
    return result;
}

LaunchResult runLauncher(const AppTree &tree, const std::vector<std::string> &args,
                         const std::map<std::string, std::string> &env,
                         const std::string &argv0) {
    std::vector<std::string> words = wordsOf("APPLAUNCHER_TEST_WRAPPER");
    std::vector<std::string> command = launcherCommand(tree.exe);
    words.insert(words.end(), command.begin(), command.end());
    std::string program = words[0];
    if (words.size() == 1 && !argv0.empty()) {
        words[0] = argv0;  // started directly, so argv[0] is the test's to choose
    }
    words.insert(words.end(), args.begin(), args.end());
    return runProgram(tree, program, words, env);
}

LaunchResult runLauncherUnder(const std::vector<std::string> &prefix, const AppTree &tree,
                              const std::vector<std::string> &args,
                              const std::map<std::string, std::string> &env) {
    std::vector<std::string> words = prefix;
    std::vector<std::string> command = launcherCommand(tree.exe);
    words.insert(words.end(), command.begin(), command.end());
    words.insert(words.end(), args.begin(), args.end());
    return runProgram(tree, words[0], words, env);
}

LaunchResult runCommand(const AppTree &tree, const std::vector<std::string> &words,
                        const std::map<std::string, std::string> &env) {
    return runProgram(tree, words.at(0), words, env);
}

// The words of the first of `attempts` ({label, word...}) under which
// `suffix` followed by /bin/true runs in the tree, followed by `suffix`; its
// label in `*chosen`. Empty when none does, with what each answered in
// `*refusals`.
static std::vector<std::string> firstThatRuns(const AppTree &tree,
                                              const std::vector<std::vector<std::string>> &attempts,
                                              const std::vector<std::string> &suffix,
                                              std::string *chosen, std::string *refusals) {
    refusals->clear();
    for (const std::vector<std::string> &attempt : attempts) {
        std::vector<std::string> words(attempt.begin() + 1, attempt.end());
        words.insert(words.end(), suffix.begin(), suffix.end());
        if (access(words[0].c_str(), X_OK) != 0) {
            *refusals += (refusals->empty() ? "" : "; ") + attempt[0] + ": no " + words[0];
            continue;
        }
        std::vector<std::string> probe = words;
        probe.push_back("/bin/true");
        LaunchResult tried = runProgram(tree, probe[0], probe, {{"PATH", "/usr/bin:/bin"}});
        if (tried.exitCode == 0) {
            *chosen = attempt[0];
            return words;
        }
        std::string answer = tried.stderrText;
        answer.erase(std::remove(answer.begin(), answer.end(), '\n'), answer.end());
        *refusals += (refusals->empty() ? "" : "; ") + attempt[0] + ": " +
                     (answer.empty() ? "exit " + std::to_string(tried.exitCode) : answer);
    }
    return {};
}

std::vector<std::string> privateMountNamespace(const AppTree &tree, const std::string &setup,
                                               std::string *refusals) {
    const std::string unshare = "/usr/bin/unshare";
    std::string chosen;
    return firstThatRuns(
        tree,
        {{"plain", unshare, "--mount", "--propagation", "unchanged"},
         {"in a user namespace", unshare, "--user", "--map-root-user", "--mount", "--propagation",
          "unchanged"}},
        {"/bin/sh", "-c", setup + " && exec \"$0\" \"$@\""}, &chosen, refusals);
}

std::vector<std::string> containedPrefix(const AppTree &tree, int seconds, std::string *how) {
    const std::string unshare = "/usr/bin/unshare";
    const std::vector<std::string> pid = {"--pid", "--fork", "--kill-child"};
    auto attempt = [&](const std::string &label, std::vector<std::string> options) {
        std::vector<std::string> words{label, unshare};
        words.insert(words.end(), options.begin(), options.end());
        words.insert(words.end(), pid.begin(), pid.end());
        return words;
    };
    std::string chosen;
    std::string refusals;
    std::vector<std::string> namespaced =
        firstThatRuns(tree,
                      {attempt("a process namespace with its own /proc", {"--mount-proc"}),
                       attempt("the same in a user namespace",
                               {"--user", "--map-current-user", "--mount-proc"}),
                       attempt("a process namespace sharing /proc", {})},
                      {}, &chosen, &refusals);
    *how = namespaced.empty() ? "a time limit alone (" + refusals + ")" : chosen;
    std::vector<std::string> words{"/usr/bin/timeout", "-k", "5", std::to_string(seconds)};
    words.insert(words.end(), namespaced.begin(), namespaced.end());
    return words;
}

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> readRecords(const AppTree &tree, const std::string &file) {
    std::string text = readFile(tree.records + "/" + file);
    std::vector<std::string> entries;
    size_t start = 0;
    for (size_t end; (end = text.find('\0', start)) != std::string::npos; start = end + 1) {
        entries.push_back(text.substr(start, end - start));
    }
    return entries;
}

std::vector<std::vector<std::string>> readCommands(const AppTree &tree) {
    std::vector<std::string> entries = readRecords(tree, "commands");
    std::vector<std::vector<std::string>> commands;
    for (size_t i = 0; i + 1 < entries.size();) {
        size_t count = std::stoul(entries[i + 1]);
        std::vector<std::string> command{entries[i]};
        command.insert(command.end(), entries.begin() + (long)i + 2,
                       entries.begin() + (long)(i + 2 + count));
        commands.push_back(command);
        i += 2 + count;
    }
    return commands;
}

std::vector<DebugLine> debugLines(const std::string &stderrText) {
    std::vector<DebugLine> lines;
    std::istringstream in(stderrText);
    for (std::string line; std::getline(in, line);) {
        size_t close = line.find("]: ");
        if (line.size() > 1 && line[0] == '[' && close != std::string::npos) {
            lines.push_back({(pid_t)std::stol(line.substr(1, close - 1)), line.substr(close + 3)});
        } else {
            lines.push_back({0, line});
        }
    }
    return lines;
}

std::vector<std::string> messagesOf(const std::vector<DebugLine> &lines, pid_t pid, bool others) {
    std::vector<std::string> messages;
    for (const DebugLine &line : lines) {
        if ((line.pid == pid) != others) {
            messages.push_back(line.message);
        }
    }
    return messages;
}

bool contains(const std::vector<std::string> &entries, const std::string &entry) {
    return std::find(entries.begin(), entries.end(), entry) != entries.end();
}

std::vector<std::string> withPrefix(const std::vector<std::string> &entries,
                                    const std::string &prefix) {
    std::vector<std::string> found;
    for (const std::string &entry : entries) {
        if (entry.rfind(prefix, 0) == 0) {
            found.push_back(entry);
        }
    }
    return found;
}

std::string recordedValue(const AppTree &tree, const std::string &file, const std::string &key) {
    std::vector<std::string> found = withPrefix(readRecords(tree, file), key + "=");
    return found.empty() ? "" : found.front().substr(key.size() + 1);
}

std::vector<std::string> reapOrphans(double seconds) {
    std::vector<std::string> ends;
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        int status = 0;
        pid_t pid = waitpid(-1, &status, WNOHANG);
        if (pid < 0) {
            return ends;
        }
        if (pid > 0) {
            ends.push_back(WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                               : "exit " + std::to_string(WEXITSTATUS(status)));
            continue;
        }
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        if ((double)(now.tv_sec - start.tv_sec) + (double)(now.tv_nsec - start.tv_nsec) / 1e9 >
            seconds) {
            ends.push_back("still running");
            return ends;
        }
        usleep(10000);
    }
}

std::vector<std::string> recordedLines(const AppTree &tree, const std::string &file,
                                       const std::string &key) {
    std::vector<std::string> values;
    std::ifstream in(tree.records + "/" + file);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key + "=", 0) == 0) {
            values.push_back(line.substr(key.size() + 1));
        }
    }
    return values;
}

std::string commandPath(const std::string &name) {
    FILE *found = popen(("command -v " + name).c_str(), "r");
    char line[4096] = "";
    if (found != nullptr) {
        if (fgets(line, sizeof line, found) == nullptr) {
            line[0] = '\0';
        }
        pclose(found);
    }
    std::string path = line;
    return path.substr(0, path.find('\n'));
}

std::string privilegedStartUnavailable(std::string *setpriv) {
    if (getenv("APPLAUNCHER_TEST_UNPRIVILEGED") != nullptr) {
        return "APPLAUNCHER_TEST_UNPRIVILEGED: only the tests that need no root run here";
    }
    if (geteuid() != 0) {
        return "needs root to give the launcher a file capability";
    }
    *setpriv = commandPath("setpriv");
    if (setpriv->empty() || commandPath("setcap").empty()) {
        return "needs setcap and setpriv (Debian: libcap2-bin, util-linux)";
    }
    return "";
}

bool grantPrivilege(const std::string &path, Privilege privilege) {
    if (chown(path.c_str(), 0, 0) != 0 || chmod(path.c_str(), 0755) != 0) {
        return false;
    }
    if (removexattr(path.c_str(), "security.capability") != 0 && errno != ENODATA) {
        return false;
    }
    switch (privilege) {
    case Privilege::none:
        return true;
    case Privilege::capability:
        return system(("setcap cap_net_bind_service=+ep '" + path + "' 2>/dev/null").c_str()) == 0;
    case Privilege::setUserIdRoot:
        return chmod(path.c_str(), 04755) == 0;
    }
    return false;
}

std::vector<std::string> asNobody(const std::string &setpriv) {
    return {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"};
}

void openToOthers(const AppTree &tree) {
    fs::permissions(tree.root, fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
    fs::permissions(tree.records, fs::perms::all);
}
