// A launch that fails away from a terminal still says why: each line that
// the reference library or a runtime library writes on standard error to
// say why the application did not start also reaches the journal, as one
// datagram, when standard error is not a terminal. The launcher runs in a
// private mount namespace whose /run is a new tmpfs and whose
// /run/systemd/journal/socket is a socket this test reads.
#include <errno.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>

#include <gtest/gtest.h>

#include "configured_tree.h"
#ifdef JVM_RUNTIME_LIBRARY
#include "jvm_tree.h"
#endif

namespace {

namespace fs = std::filesystem;
using Environment = std::map<std::string, std::string>;

// The launcher's file name in every tree here, which the journal gets as
// the program's name.
const char programName[] = "journal-app";

// A journal socket of the test's own: a non-blocking datagram socket bound
// at <dir>/journal.sock.
struct TestJournal {
    explicit TestJournal(const std::string &dir) : path(dir + "/journal.sock") {
        fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        bound = fd >= 0 && bind(fd, (const sockaddr *)&address, sizeof address) == 0;
    }
    ~TestJournal() { close(fd); }
    TestJournal(const TestJournal &) = delete;
    TestJournal &operator=(const TestJournal &) = delete;

    // The datagrams received since the last call, each as its
    // "FIELD=value" lines.
    std::vector<Strings> take() const {
        std::vector<Strings> datagrams;
        char buffer[65536];
        ssize_t got;
        while ((got = recv(fd, buffer, sizeof buffer, 0)) >= 0) {
            Strings fields;
            std::istringstream in(std::string(buffer, (size_t)got));
            for (std::string line; std::getline(in, line);) {
                fields.push_back(line);
            }
            datagrams.push_back(fields);
        }
        return datagrams;
    }

    std::string path;
    int fd = -1;
    bool bound = false;
};

// The shell commands that make, in a new mount namespace, /run a new
// tmpfs holding /run/systemd/journal/, with `socket` bound at
// /run/systemd/journal/socket when it is not empty. Everything mounted is
// made private first, so that nothing reaches the machine's own mounts.
std::string journalSetup(const std::string &socket) {
    std::string setup =
        "/bin/mount --make-rprivate / && /bin/mount -t tmpfs -o mode=0755 tmpfs /run && "
        "/bin/mkdir -p /run/systemd/journal";
    if (!socket.empty()) {
        setup += " && : > /run/systemd/journal/socket && /bin/mount --bind '" + socket +
                 "' /run/systemd/journal/socket";
    }
    return setup;
}

// A terminal for a launch's standard error: the master side, kept open
// with the slave side so that what was written stays readable after the
// launch.
struct Terminal {
    Terminal() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) {
            name = ptsname(master);
            slave = open(name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        }
    }
    ~Terminal() {
        close(slave);
        close(master);
    }
    Terminal(const Terminal &) = delete;
    Terminal &operator=(const Terminal &) = delete;

    // What has been written on the terminal (its "\r\n" as "\n").
    std::string text() const {
        std::string text;
        char buffer[4096];
        ssize_t got;
        while ((got = read(master, buffer, sizeof buffer)) > 0) {
            text.append(buffer, (size_t)got);
        }
        for (size_t at; (at = text.find("\r\n")) != std::string::npos;) {
            text.erase(at, 1);
        }
        return text;
    }

    int master = -1;
    int slave = -1;
    std::string name;
};

// Runs the tree's launcher with `args` and `env` under `prefix` (a private
// mount namespace) and a time limit of 60 s, with standard error a file, or
// the terminal `terminal` when it is given.
LaunchResult launchUnder(const Strings &prefix, const AppTree &tree, const Strings &args,
                         const Environment &env, const Terminal *terminal = nullptr) {
    Strings words{"/usr/bin/timeout", "-k", "5", "60"};
    words.insert(words.end(), prefix.begin(), prefix.end());
    Strings command = launcherCommand(tree.exe);
    words.insert(words.end(), command.begin(), command.end());
    words.insert(words.end(), args.begin(), args.end());
    std::string name = terminal != nullptr ? terminal->name : "";
    auto toTerminal = [name]() {
        int fd = open(name.c_str(), O_RDWR | O_NOCTTY);
        dup2(fd, STDERR_FILENO);
        close(fd);
    };
    pid_t pid = startProgram(tree.root, "journal", words, env,
                             terminal != nullptr ? std::function<void()>(toTerminal) : nullptr);
    return finishProgram(pid, tree.root, "journal");
}

// The launcher renamed to `programName`, so that the journal's identifier
// is told apart from the library's fallback ("applauncher").
void renameLauncher(AppTree &tree) {
    std::string renamed = tree.appDir + "/bin/" + programName;
    fs::rename(tree.exe, renamed);
    tree.exe = renamed;
}

// The environment of a launch that runs an interpreter or a VM, whose
// memory a sanitizer build does not check for leaks; with the debug trace,
// which must not reach the journal.
Environment runtimeEnvironment(const AppTree &tree) {
    Environment env = baseEnvironment(tree);
    env["ASAN_OPTIONS"] =
        "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:allow_user_segv_handler=1:"
        "detect_leaks=0:exitcode=99";
    env["LANG"] = "C.UTF-8";
    return env;
}

// One way a launch fails.
struct Failure {
    const char *name;
    // Makes its tree: shared, so that a JvmTree is destroyed as one
    // (ConfiguredTree has no virtual destructor).
    std::function<std::shared_ptr<ConfiguredTree>()> makeTree;
    Strings args;
    int status;
    // How many lines of ours it writes on standard error.
    size_t ours;
    // Prefixes of the lines on standard error that the interpreter or the
    // VM printed itself, which stay out of the journal; every other line
    // but the debug trace is one of ours.
    Strings theirs;
    // Variables set in the launch's environment.
    Environment variables;
};

// A tree whose configuration is `config` and whose lib/ holds the runtime
// library `runtime` (none when empty) as `runtimeName`.
std::function<std::shared_ptr<ConfiguredTree>()> treeOf(const std::string &config,
                                                        const std::string &runtime = "",
                                                        const std::string &runtimeName = "",
                                                        const std::function<void(AppTree &)> &more =
                                                            nullptr) {
    return [=]() {
        auto made = std::make_shared<ConfiguredTree>(config);
        if (!runtime.empty()) {
            made->tree.installLibrary(runtime, made->tree.appDir + "/lib/" + runtimeName);
        }
        if (more) {
            more(made->tree);
        }
        return made;
    };
}

std::vector<Failure> failures() {
    std::vector<Failure> rows = {
        {"a malformed configuration", treeOf("runtime=libhux_python.so\nbogus\n"), {}, 1, 1, {}, {}},
        {"a configuration that includes a file that is not there",
         treeOf("runtime=libhux_python.so\ninclude=$APPDIR/lib/missing.cfg\n"), {}, 1, 1, {}, {}},
    };
#ifdef PYTHON_RUNTIME_LIBRARY
    const std::string python = "runtime=libhux_python.so\narg=$APPDIR/bin/app\n";
    const std::string script = python + "arg=$APPDIR/share/main.py\n";
    auto withScript = [](const std::string &text) {
        return [text](AppTree &tree) {
            fs::create_directories(tree.appDir + "/share");
            std::ofstream(tree.appDir + "/share/main.py") << text;
        };
    };
    auto withModule = [](AppTree &tree) {
        fs::create_directories(tree.appDir + "/share/code");
        std::ofstream(tree.appDir + "/share/code/exits.py")
            << "import sys\nsys.exit(\"the application's own refusal\")\n";
    };
    std::vector<Failure> pythonRows = {
        {"a missing interpreter",
         treeOf(script, PYTHON_RUNTIME_WITHOUT_INTERPRETER, "libhux_python.so",
                withScript("pass\n")),
         {}, 1, 1, {}, {}},
        {"a virtual environment that is not one",
         treeOf(script + "env=HUX_PYTHON_VENV=$APPDIR/venv\n", PYTHON_RUNTIME_LIBRARY,
                "libhux_python.so",
                [](AppTree &tree) { fs::create_directories(tree.appDir + "/venv/bin"); }),
         {}, 1, 1, {}, {}},
        {"an entry point whose module is not there",
         treeOf(python + "arg=--entry-point\narg=nosuch_module:run\n", PYTHON_RUNTIME_LIBRARY,
                "libhux_python.so"),
         {}, 1, 1, {}, {}},
        {"an entry point whose function is not there",
         treeOf(python + "arg=--entry-point\narg=json:nosuch\n", PYTHON_RUNTIME_LIBRARY,
                "libhux_python.so"),
         {}, 1, 1, {}, {}},
        {"a malformed entry point",
         treeOf(python + "arg=--entry-point\narg=json\n", PYTHON_RUNTIME_LIBRARY,
                "libhux_python.so"),
         {}, 1, 1, {}, {}},
        {"an entry point without its value",
         treeOf(python + "arg=--entry-point\n", PYTHON_RUNTIME_LIBRARY, "libhux_python.so"), {},
         2, 1, {}, {}},
        {"an application module that exits with its own message",
         treeOf(python + "arg=--module-path\narg=$APPDIR/share/code\narg=--entry-point\n"
                         "arg=exits:run\n",
                PYTHON_RUNTIME_LIBRARY, "libhux_python.so", withModule),
         {}, 1, 0, {"the application's own refusal"}, {}},
        {"an application that raises",
         treeOf(script, PYTHON_RUNTIME_LIBRARY, "libhux_python.so",
                withScript("raise ValueError('the application failed')\n")),
         {}, 1, 0, {"Traceback ", "  ", "ValueError: "}, {}},
    };
    rows.insert(rows.end(), pythonRows.begin(), pythonRows.end());
#endif
#ifdef JVM_RUNTIME_LIBRARY
    auto jvmTree = [](const Strings &args, const Strings &variables = {}) {
        return [args, variables]() -> std::shared_ptr<ConfiguredTree> {
            return std::make_shared<JvmTree>(args, variables);
        };
    };
    const Strings probe = {"-cp", "$APPDIR/share/probe.jar", "probe.Probe"};
    const Environment jdk = {{"JAVA_HOME", javaHome}};
    std::vector<Failure> jvmRows = {
        {"no usable libjvm.so", jvmTree(probe), {}, 1, 1, {}, {{"JAVA_HOME", "/nonexistent-jdk"}}},
        {"a version range no JVM satisfies", jvmTree(probe, {"HUX_JAVA_VERSIONS=9998-9999"}), {},
         1, 1, {}, jdk},
        {"an -Xss refusal", jvmTree({"-Xss1b", "-cp", "$APPDIR/share/probe.jar", "probe.Probe"}),
         {}, 1, 3, {}, jdk},
        {"a main class that is not there",
         jvmTree({"-cp", "$APPDIR/share/probe.jar", "nosuch.Main"}), {}, 1, 1, {}, jdk},
        {"an option the VM refuses",
         jvmTree({"-XX:+NoSuchFlagAtAll", "-cp", "$APPDIR/share/probe.jar", "probe.Probe"}), {},
         1, 2, {"Unrecognized VM option"}, jdk},
        {"a main that throws", jvmTree(probe), {"throw", "boom"}, 1, 0,
         {"Exception in thread", "\tat "}, jdk},
    };
    rows.insert(rows.end(), jvmRows.begin(), jvmRows.end());
#endif
    return rows;
}

// Where `failure` happens: its tree, the launcher renamed; the
// environment its launch gets; a journal socket of the test's own; and the
// prefix that runs a command with that socket as the journal's (empty when
// no private mount namespace could be had, with why in `refusals`).
struct FailureSetting {
    explicit FailureSetting(const Failure &failure)
        : app(failure.makeTree()), tree(app->tree), journal(tree.root) {
        renameLauncher(tree);
        env = runtimeEnvironment(tree);
        for (const auto &[name, value] : failure.variables) {
            env[name] = value;
        }
        prefix = privateMountNamespace(tree, journalSetup(journal.path), &refusals);
    }

    std::shared_ptr<ConfiguredTree> app;
    AppTree &tree;
    TestJournal journal;
    Environment env;
    Strings prefix;
    std::string refusals;
};

// The lines of `stderrText` that are ours: neither debug lines nor lines
// starting with one of `theirs`.
Strings ourLines(const std::string &stderrText, const Strings &theirs) {
    Strings ours;
    for (const std::string &line : plainLines(stderrText)) {
        bool runtimes = false;
        for (const std::string &prefix : theirs) {
            runtimes = runtimes || line.rfind(prefix, 0) == 0;
        }
        if (!runtimes) {
            ours.push_back(line);
        }
    }
    return ours;
}

// The datagrams the journal gets for `lines`.
std::vector<Strings> entriesFor(const Strings &lines) {
    std::vector<Strings> entries;
    for (const std::string &line : lines) {
        entries.push_back({"MESSAGE=" + line, "PRIORITY=3",
                           std::string("SYSLOG_IDENTIFIER=") + programName});
    }
    return entries;
}

TEST(JournalReport, EachLineThatSaysWhyALaunchFailedReachesTheJournalOnlyWithoutATerminal) {
    if (launcherIsWrapped()) {
        GTEST_SKIP() << "the wrapper's own lines share the launcher's standard error";
    }
    for (const Failure &failure : failures()) {
        SCOPED_TRACE(failure.name);
        FailureSetting setting(failure);
        AppTree &tree = setting.tree;
        const Environment &env = setting.env;
        TestJournal &journal = setting.journal;
        ASSERT_TRUE(journal.bound) << strerror(errno);
        const Strings &withSocket = setting.prefix;
        if (withSocket.empty()) {
            GTEST_SKIP() << "no private mount namespace for a journal socket: "
                         << setting.refusals;
        }
        std::string refusals;

        LaunchResult toFile = launchUnder(withSocket, tree, failure.args, env);
        EXPECT_EQ(toFile.exitCode, failure.status) << toFile.stderrText;
        Strings ours = ourLines(toFile.stderrText, failure.theirs);
        EXPECT_EQ(journal.take(), entriesFor(ours)) << toFile.stderrText;
        EXPECT_EQ(ours.size(), failure.ours) << toFile.stderrText;
        EXPECT_NE(plainLines(toFile.stderrText), Strings{}) << toFile.stderrText;

        Terminal terminal;
        ASSERT_GE(terminal.slave, 0) << strerror(errno);
        LaunchResult toTerminal = launchUnder(withSocket, tree, failure.args, env, &terminal);
        EXPECT_EQ(toTerminal.exitCode, failure.status);
        EXPECT_EQ(journal.take(), std::vector<Strings>{});
        std::string shown = terminal.text();
        for (const std::string &line : plainLines(toFile.stderrText)) {
            EXPECT_NE(shown.find(line + "\n"), std::string::npos) << line << "\n" << shown;
        }

        Strings withoutSocket = privateMountNamespace(tree, journalSetup(""), &refusals);
        ASSERT_FALSE(withoutSocket.empty()) << refusals;
        LaunchResult noJournal = launchUnder(withoutSocket, tree, failure.args, env);
        EXPECT_EQ(noJournal.exitCode, failure.status);
        EXPECT_EQ(plainLines(noJournal.stderrText), plainLines(toFile.stderrText));
        EXPECT_EQ(journal.take(), std::vector<Strings>{});
    }
}

// Why a launcher copy with the file capability that grantPrivilege gives
// would not run in secure mode here ("" when it would): a file system
// mounted nosuid, no_new_privs on this process, or a bounding set without
// the capability.
std::string secureModeUnavailable(const std::string &exe) {
    struct statvfs mounted = {};
    if (statvfs(exe.c_str(), &mounted) != 0 || (mounted.f_flag & ST_NOSUID) != 0) {
        return "the tree's file system is mounted nosuid";
    }
    if (prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) != 0) {
        return "no_new_privs is set";
    }
    if (prctl(PR_CAPBSET_READ, CAP_NET_BIND_SERVICE, 0, 0, 0) != 1) {
        return "the bounding set lacks cap_net_bind_service";
    }
    return "";
}

TEST(JournalReport, ACallerWhoIsNotRootFindsNoMoreInTheJournalThanOnStandardError) {
    if (launcherIsWrapped()) {
        GTEST_SKIP() << "a wrapped launcher takes no file capability";
    }
    std::string setpriv;
    std::string unavailable = privilegedStartUnavailable(&setpriv);
    if (!unavailable.empty()) {
        GTEST_SKIP() << unavailable;
    }
    const std::string secret = "hunter2";
    struct Case {
        std::string line;
        std::string plainReason;
    };
    const std::vector<Case> cases = {
        {secret + "=1", "unknown key"},
        {"env=" + secret + "-name=1",
         "env= name is not a variable name (letters, digits and _, not starting with a digit)"},
        {"include=/nonexistent/" + secret + "/*.cfg", "include= matched nothing"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        ConfiguredTree app("runtime=libhux_python.so\n" + c.line + "\n");
        AppTree &tree = app.tree;
        renameLauncher(tree);
        openToOthers(tree);
        unavailable = secureModeUnavailable(tree.exe);
        if (unavailable.empty() && !grantPrivilege(tree.exe, Privilege::capability)) {
            unavailable = "this file system takes no file capability";
        }
        if (!unavailable.empty()) {
            GTEST_SKIP() << unavailable;
        }
        TestJournal journal(tree.root);
        ASSERT_TRUE(journal.bound) << strerror(errno);
        ASSERT_EQ(chmod(journal.path.c_str(), 0666), 0) << strerror(errno);
        // The machine's own rpm and dpkg, which the privileged copy asks,
        // answer nothing in the namespace: the library is the one in ../lib.
        std::string refusals;
        Strings prefix = privateMountNamespace(
            tree,
            journalSetup(journal.path) +
                " && for tool in /usr/bin/rpm /usr/bin/dpkg; do [ ! -e \"$tool\" ] || "
                "/bin/mount --bind /bin/false \"$tool\" || exit 1; done",
            &refusals);
        if (prefix.empty() || contains(prefix, "--user")) {
            GTEST_SKIP() << "no mount namespace of root's own, in which nobody can be started: "
                         << refusals;
        }
        Strings nobodyWords = asNobody(setpriv);
        prefix.insert(prefix.end(), nobodyWords.begin(), nobodyWords.end());
        Environment env = baseEnvironment(tree);
        env.erase("SORVANTA_DEBUG");

        LaunchResult run = launchUnder(prefix, tree, {}, env);
        std::string line = "applauncher: " + app.configPath + ":2: " + c.plainReason;
        EXPECT_EQ(run.exitCode, 1) << run.stderrText;
        EXPECT_EQ(run.stderrText, line + "\n");
        std::vector<Strings> received = journal.take();
        EXPECT_EQ(received, entriesFor({line}));
        for (const Strings &datagram : received) {
            for (const std::string &field : datagram) {
                EXPECT_EQ(field.find(secret), std::string::npos) << field;
            }
        }
    }
}

#ifdef DOCTOR_BINARY
TEST(JournalReport, TheDoctorsChecksOfAFailingLaunchLeaveTheJournalAlone) {
    const std::set<std::string> checked = {
        "a malformed configuration", "a configuration that includes a file that is not there",
        "an entry point whose module is not there", "an -Xss refusal",
        "a main class that is not there", "an option the VM refuses"};
    for (const Failure &failure : failures()) {
        if (checked.count(failure.name) == 0) {
            continue;
        }
        SCOPED_TRACE(failure.name);
        FailureSetting setting(failure);
        ASSERT_TRUE(setting.journal.bound) << strerror(errno);
        if (setting.prefix.empty()) {
            GTEST_SKIP() << "no private mount namespace for a journal socket: "
                         << setting.refusals;
        }
        Strings command = setting.prefix;
        command.insert(command.end(), {DOCTOR_BINARY, "--timeout", "60", setting.tree.exe});
        LaunchResult doctor = runCommand(setting.tree, command, setting.env);
        EXPECT_EQ(doctor.exitCode, 1) << doctor.stdoutText << doctor.stderrText;
        EXPECT_NE(doctor.stdoutText.find("would not start"), std::string::npos)
            << doctor.stdoutText;
        EXPECT_EQ(setting.journal.take(), std::vector<Strings>{}) << doctor.stdoutText;
    }
}
#endif

}  // namespace
