// The launcher started the way a hostile caller or environment starts it:
// with children of its own it did not fork, with SIGCHLD ignored, with a
// package manager that leaves a background process, with dpkg diversions,
// with standard error a pipe nobody reads or a file at its size limit, and
// privileged (file capabilities) with a PATH and a dpkg database of the
// caller's choosing.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include <gtest/gtest.h>

#include "captured_stderr.h"
#include "launch_harness.h"
#include "runtime_trace.h"
#include "secure_environment.h"

using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

// A tree whose runtime is the census library: what it recorded at the
// entry is in records/census.
struct CensusTree {
    AppTree tree;
    std::map<std::string, std::string> env = baseEnvironment(tree);

    explicit CensusTree(bool withLibrary = true) : tree("app", withLibrary) {
        env["AUX_RUNTIME"] = CENSUS_RUNTIME_LIBRARY;
    }

    // The "key=value" lines of records/census whose key is `key`.
    Strings census(const std::string &key) const { return recordedLines(tree, "census", key); }

    // Writes an executable shell script fakebin/<name>.
    void installScript(const std::string &name, const std::string &body) const {
        std::string path = tree.fakeBin + "/" + name;
        std::ofstream(path) << "#!/bin/sh\n" << body;
        fs::permissions(path, fs::perms::owner_all | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    }
};

// The process id of the launcher's child, from its debug lines.
pid_t childOf(const LaunchResult &run) {
    for (const DebugLine &line : debugLines(run.stderrText)) {
        if (line.pid != 0 && line.pid != run.pid) {
            return line.pid;
        }
    }
    return 0;
}

// Whether process `pid` runs (exists and has not ended as a zombie).
bool running(pid_t pid) {
    std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

// The value of line `name` ("SigIgn", ...) of /proc/self/status, as the
// launcher's children see it once runPrepared has set their signals to
// their defaults.
std::string statusLine(const std::string &name) {
    std::string value;
    int ready[2];
    if (pipe(ready) != 0) {
        return "pipe failed";
    }
    pid_t pid = fork();
    if (pid == 0) {
        defaultSignalState();
        close(ready[0]);
        close(ready[1]);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char none;
    if (read(ready[0], &none, 1) < 0) {
        value = "read failed";
    }
    close(ready[0]);
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(name + ":", 0) == 0) {
            value = line.substr(line.find_first_not_of(" \t", name.size() + 1));
        }
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return value;
}

// Runs the launcher of `tree` with `env`, as startProgram starts a program
// (every signal at its default, so that what the runtime sees does not
// depend on what started the test), after `prepare` has set up its
// standard error, limits and the like; returns the wait status.
int runPrepared(const AppTree &tree, const std::map<std::string, std::string> &env,
                const std::function<void()> &prepare) {
    return finishProgram(startProgram(tree.root, "prepared", {tree.exe}, env, prepare), tree.root,
                         "prepared")
        .waitStatus;
}

TEST(HostileEnvironment, TheLauncherWaitsForItsOwnChildAloneAndNotForInheritedOnes) {
    // A worker the caller started, already ended: the launcher reaps its own
    // child, and leaves the worker to whoever started it.
    CensusTree worker;
    worker.tree.installCommand("rpm");
    worker.env["FAKE_RPM_QUERY_SLEEP"] = "0.3";
    LaunchResult run = runLauncherUnder({"/bin/sh", "-c", "true & exec \"$0\""}, worker.tree, {},
                                        worker.env);
    ASSERT_EQ(run.exitCode, 0) << run.stderrText;
    pid_t child = childOf(run);
    ASSERT_NE(child, 0);
    Strings children = worker.census("child");
    ASSERT_EQ(children.size(), 1u) << "the worker, and only the worker, is left";
    EXPECT_NE((pid_t)std::stol(children[0]), child) << "the launcher's own child was not reaped";

    // SIGCHLD ignored and a worker still running: the runtime starts while
    // the worker runs, instead of after it has ended.
    CensusTree ignored;
    LaunchResult started = runLauncherUnder(
        {"/bin/sh", "-c", "/bin/sleep 30 & exec \"$0\" \"$@\"", EXEC_WITH, "--ignore", "17"},
        ignored.tree, {}, ignored.env);
    EXPECT_EQ(started.exitCode, 0) << started.stderrText;
    // The launcher's own child, reaped by the system as it ends, may still
    // show as it goes; the worker must show as still sleeping.
    pid_t ownChild = childOf(started);
    Strings sleeping;
    for (const std::string &entry : ignored.census("child")) {
        pid_t pid = (pid_t)std::stol(entry);
        if (pid != ownChild) {
            sleeping.push_back(entry);
            kill(pid, SIGKILL);
        }
    }
    ASSERT_EQ(sleeping.size(), 1u);
    EXPECT_EQ(sleeping[0].back(), 'S') << sleeping[0];
}

TEST(HostileEnvironment, ABackgroundProcessOfACommandDoesNotHoldTheLauncherBack) {
    CensusTree app(false);
    app.installScript("rpm", "/bin/sleep 30 </dev/null >/dev/null 2>&1 &\n"
                             "echo $! > \"$TEST_RECORDS/sleeper\"\nexit 1\n");
    LaunchResult run = runLauncher(app.tree, {}, app.env);
    EXPECT_EQ(run.exitCode, 1) << "no library, so the start fails";
    pid_t sleeper = (pid_t)std::stol(readFile(app.tree.records + "/sleeper"));
    EXPECT_TRUE(running(sleeper)) << "the launcher waited for the background process to end";
    kill(sleeper, SIGKILL);
}

TEST(HostileEnvironment, DpkgDiversionLinesBeforeTheOwnerLineAreNotTakenForTheOwner) {
    for (const std::string &diversion :
         {std::string("diversion by other from: "), std::string("local diversion from: ")}) {
        CensusTree app;
        app.tree.installCommand("dpkg");
        std::string packaged = app.tree.root + "/pkg/libapplauncher.so";
        app.tree.installLibrary(AUX_LIBRARY, packaged);
        app.env["FAKE_DPKG_SEARCH_STATUS"] = "0";
        app.env["FAKE_DPKG_SEARCH_OUT"] = diversion + app.tree.exe + "\n" +
                                          "diversion by other to: " + app.tree.exe + ".real\n" +
                                          "myapp: " + app.tree.exe + "\n";
        app.env["FAKE_DPKG_LIST_STATUS"] = "0";
        app.env["FAKE_DPKG_LIST_OUT"] = packaged + "\n";
        LaunchResult run = runLauncher(app.tree, {}, app.env);
        EXPECT_EQ(run.exitCode, 0) << run.stderrText;
        Strings child = messagesOf(debugLines(run.stderrText), run.pid, true);
        EXPECT_TRUE(contains(child, "owner pkg: (myapp|2)")) << run.stderrText;
        EXPECT_EQ(recordedValue(app.tree, "aux", "library"), packaged);
    }
}

TEST(HostileEnvironment, ATraceLineThatCannotBeWrittenNeverEndsTheLauncher) {
    // Standard error a pipe whose reader has gone.
    CensusTree pipe;
    pipe.env["RT_EXIT"] = "4";
    int status = runPrepared(pipe.tree, pipe.env, stderrToAbandonedPipe);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 4);
    EXPECT_EQ(pipe.census("SigBlk"), Strings{statusLine("SigBlk")})
        << "the runtime starts with the mask it inherited";
    EXPECT_EQ(pipe.census("SigIgn"), Strings{statusLine("SigIgn")});
    EXPECT_EQ(pipe.census("SigPnd"), Strings{"0000000000000000"});

    // Standard error a file already at the file size limit.
    CensusTree full;
    std::string errFile = full.tree.root + "/full-stderr";
    std::ofstream(errFile) << std::string(4096, 'x');
    status = runPrepared(full.tree, full.env, [&errFile] {
        rlimit limit = {4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        int err = open(errFile.c_str(), O_WRONLY | O_APPEND);
        dup2(err, 2);
    });
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(full.census("SigPnd"), Strings{"0000000000000000"});
}

// A tree that an unprivileged user can run, whose launcher copy may carry
// a file capability, with a library that a hostile caller wants loaded
// outside the tree.
struct PrivilegedTree : CensusTree {
    std::string evilLib = tree.root + "/evil/libapplauncher.so";
    std::string setpriv;

    explicit PrivilegedTree(const std::string &setprivPath) : setpriv(setprivPath) {
        tree.installLibrary(AUX_LIBRARY, evilLib);
        openToOthers(tree);
        env["PATH"] = tree.fakeBin + ":/usr/sbin:/usr/bin:/sbin:/bin";
    }

    // Runs the launcher as user nobody; returns the library it loaded.
    std::string runAsNobody() {
        fs::remove_all(tree.records);
        fs::create_directories(tree.records);
        openToOthers(tree);
        LaunchResult run = runLauncherUnder(asNobody(setpriv), tree, {}, env);
        EXPECT_EQ(run.exitCode, 0) << run.stderrText;
        return recordedValue(tree, "aux", "library");
    }

    // Gives the launcher copy a file capability; false when the file
    // system takes none.
    bool giveCapability() const { return grantPrivilege(tree.exe, Privilege::capability); }

    std::string secureMode() const {
        Strings secure = census("secure");
        return secure.empty() ? "?" : secure[0];
    }
};

TEST(HostileEnvironment, APrivilegedLauncherAsksOnlyTheTrustedPackageManagers) {
    std::string setpriv;
    std::string unavailable = privilegedStartUnavailable(&setpriv);
    if (!unavailable.empty()) {
        GTEST_SKIP() << unavailable;
    }
    PrivilegedTree app(setpriv);
    app.installScript("rpm", "case \"$1\" in\n"
                             "--queryformat) printf evil; exit 0 ;;\n"
                             "-ql) echo '" + app.evilLib + "'; exit 0 ;;\n"
                             "esac\nexit 1\n");
    // Without the capability the caller's PATH picks rpm, as always.
    EXPECT_EQ(app.runAsNobody(), app.evilLib);
    EXPECT_EQ(app.secureMode(), "0");

    if (!app.giveCapability()) {
        GTEST_SKIP() << "this file system takes no file capabilities";
    }
    std::string loaded = app.runAsNobody();
    if (app.secureMode() != "1") {
        GTEST_SKIP() << "file capabilities do not take effect here (no_new_privs or a "
                        "restricted bounding set)";
    }
    EXPECT_EQ(loaded, app.tree.libPath) << "a hostile PATH chose the library";

    // A dpkg database of the caller's own that claims the executable.
    fs::remove(app.tree.fakeBin + "/rpm");
    std::string admin = app.tree.root + "/admin";
    fs::create_directories(admin + "/info");
    fs::create_directories(admin + "/updates");
    std::ofstream(admin + "/status") << "Package: evil\nStatus: install ok installed\n"
                                        "Architecture: all\nVersion: 1\n"
                                        "Maintainer: x <x@example.org>\nDescription: x\n\n";
    std::ofstream(admin + "/available");
    std::ofstream(admin + "/info/evil.list") << app.tree.exe << "\n" << app.evilLib << "\n";
    app.env["DPKG_ADMINDIR"] = admin;
    EXPECT_EQ(app.runAsNobody(), app.tree.libPath) << "a hostile DPKG_ADMINDIR chose the library";
    ASSERT_TRUE(grantPrivilege(app.tree.exe, Privilege::none));
    EXPECT_EQ(app.runAsNobody(), app.evilLib) << "the database is honoured without the capability";
}

TEST(HostileEnvironment, APrivilegedLauncherTakesNoConfigurationValueFromTheCaller) {
    std::string setpriv;
    std::string unavailable = privilegedStartUnavailable(&setpriv);
    if (!unavailable.empty()) {
        GTEST_SKIP() << unavailable;
    }
    PrivilegedTree app(setpriv);
    app.tree.installLibrary(REFERENCE_AUX_LIBRARY, app.tree.libPath);
    app.tree.installLibrary(CENSUS_RUNTIME_LIBRARY, app.tree.appDir + "/lib/libruntime.so");
    std::ofstream(app.tree.appDir + "/lib/applauncher.cfg")
        << "runtime=libruntime.so\narg=${APP_OPTION:-safe}\n"
           "include-optional=${APP_CONFIG:-/nonexistent}/extra.cfg\n";
    std::ofstream(app.tree.root + "/extra.cfg") << "arg=from-the-caller\n";
    app.env["APP_OPTION"] = "-javaagent:evil.jar";
    app.env["APP_CONFIG"] = app.tree.root;
    auto options = [&app] {
        app.runAsNobody();
        return app.census("arg");
    };
    EXPECT_EQ(options(), (Strings{"-javaagent:evil.jar", "from-the-caller"}));
    if (!app.giveCapability()) {
        GTEST_SKIP() << "this file system takes no file capabilities";
    }
    Strings privileged = options();
    if (app.secureMode() != "1") {
        GTEST_SKIP() << "file capabilities do not take effect here (no_new_privs or a "
                        "restricted bounding set)";
    }
    EXPECT_EQ(privileged, Strings{"safe"});
}

TEST(HostileEnvironment, ARuntimeTraceValueCannotEndItsLineOrForgeAnother) {
    struct Case {
        const char *value;
        const char *traced;
    };
    for (Case c : {Case{"Eve]\n[1]: rejected record: forged", "Eve]?[1]: rejected record: forged"},
                   Case{"cr\rescape\x1b[2Kdel\x7f", "cr?escape?[2Kdel?"},
                   Case{"tab\tand \xc3\xa9 kept", "tab\tand \xc3\xa9 kept"}}) {
        CapturedStderr captured;
        huxTrace("jvm: option[%d]: [%s]", 3, c.value);
        EXPECT_EQ(captured.text(), std::string("jvm: option[3]: [") + c.traced + "]\n");
    }
}

TEST(HostileEnvironment, OnlyDirectoriesThatOnlyRootCanChangeAreTrustedInSecureMode) {
    EXPECT_TRUE(huxOnlyRootCanChange("/usr/lib"));
    EXPECT_TRUE(huxOnlyRootCanChange("/"));
    AppTree tree;
    EXPECT_FALSE(huxOnlyRootCanChange(tree.root.c_str())) << "below the world-writable /tmp";
    fs::create_directory_symlink("/usr/lib", tree.root + "/link");
    EXPECT_TRUE(huxOnlyRootCanChange((tree.root + "/link").c_str())) << "the link's target counts";
    EXPECT_FALSE(huxOnlyRootCanChange((tree.root + "/missing").c_str()));
}

#ifdef PYTHON_RUNTIME_LIBRARY
TEST(HostileEnvironment, APrivilegedLauncherRunsTheInterpreterOnNothingTheCallerChose) {
    std::string setpriv;
    std::string unavailable = privilegedStartUnavailable(&setpriv);
    if (!unavailable.empty()) {
        GTEST_SKIP() << unavailable;
    }
    PrivilegedTree app(setpriv);
    std::string lib = app.tree.appDir + "/lib";
    app.tree.installLibrary(REFERENCE_AUX_LIBRARY, app.tree.libPath);
    app.tree.installLibrary(PYTHON_RUNTIME_LIBRARY, lib + "/libhux_python.so");
    std::ofstream(lib + "/applauncher.cfg") << "runtime=libhux_python.so\narg=$APPDIR/bin/app\n"
                                               "arg=$APPDIR/main.py\n";
    std::ofstream(app.tree.appDir + "/main.py")
        << "import os, struct, sys\n"
           "try:\n    import callers_module\n    found = 'imported'\nexcept ImportError:\n"
           "    found = 'not found'\n"
           "auxv = open('/proc/self/auxv', 'rb').read()\n"
           "entries = dict(struct.iter_unpack('QQ', auxv))\n"
           "with open(os.environ['TEST_RECORDS'] + '/census', 'w') as out:\n"
           "    print('secure=' + str(entries.get(23, 0)), file=out)\n"
           "    print('arg=' + found, file=out)\n"
           "    print('arg=' + sys.prefix, file=out)\n";
    std::string callers = app.tree.root + "/callers";
    fs::create_directories(callers + "/site");
    std::ofstream(callers + "/site/callers_module.py") << "\n";
    fs::create_directories(callers + "/venv/bin");
    fs::create_directories(callers + "/venv/lib/python3.11/site-packages");
    std::ofstream(callers + "/venv/pyvenv.cfg") << "home = /usr/bin\n";
    fs::create_symlink("/usr/bin/python3.11", callers + "/venv/bin/python3");
    app.env["PYTHONPATH"] = callers + "/site";
    app.env["HUX_PYTHON_VENV"] = callers + "/venv";
    app.runAsNobody();
    EXPECT_EQ(app.census("arg"), (Strings{"imported", callers + "/venv"}));
    if (!app.giveCapability()) {
        GTEST_SKIP() << "this file system takes no file capabilities";
    }
    app.runAsNobody();
    if (app.secureMode() != "1") {
        GTEST_SKIP() << "file capabilities do not take effect here";
    }
    EXPECT_EQ(app.census("arg"), (Strings{"not found", "/usr"}));
}
#endif

}  // namespace
