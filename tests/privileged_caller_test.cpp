// The hostile caller of a privileged launcher: the unprivileged user nobody
// starts a launcher copy that carries a file capability (and, where the
// package queries and the trace are concerned, a set-user-id root copy)
// with a setting of the caller's own: package manager macros in the
// working directory, JVM option variables naming an agent, the attach
// mechanism, JAVA_HOME and HUX_PYTHON_VENV through a link or /proc, and
// the debug trace of a configuration only root may read. The payload proves
// the privilege it runs with (it tries to bind port 81), so that a row
// fails on code that ran privileged, not on a marker file alone. Each row
// runs the same copy without the privilege too, where the caller's setting
// works as it always has.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "launch_harness.h"

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using Environment = std::map<std::string, std::string>;

const uid_t nobody = 65534;
const std::string trustedPath = "/usr/sbin:/usr/bin:/sbin:/bin";

// What the payload writes when it runs for the caller without privilege.
const Strings unprivilegedProof = {"ruid=65534 euid=65534 bind=denied"};

// The privileges a row is run with: none first, as today.
const std::vector<Privilege> capabilityRows = {Privilege::none, Privilege::capability};
const std::vector<Privilege> allRows = {Privilege::none, Privilege::capability,
                                        Privilege::setUserIdRoot};

std::string nameOf(Privilege privilege) {
    switch (privilege) {
    case Privilege::none:
        return "no privilege";
    case Privilege::capability:
        return "a file capability";
    case Privilege::setUserIdRoot:
        return "set-user-id root";
    }
    return "?";
}

// The words that keep a set-user-id root launcher from running the
// machine's rpm as root: with the HOME=/ the queries get in secure mode,
// an rpm whose database lies in the home directory would make /.rpmdb. In
// a mount namespace of root's own, /bin/false stands in for it. Empty when
// there is no rpm, or with the reason in *why when no such namespace can
// be had. Found out once.
Strings rootSafeQueries(const AppTree &tree, std::string *why) {
    static bool known = false;
    static Strings prefix;
    static std::string refused;
    if (!known && fs::exists("/usr/bin/rpm")) {
        std::string refusals;
        prefix = privateMountNamespace(
            tree, "/bin/mount --make-rprivate / && /bin/mount --bind /bin/false /usr/bin/rpm",
            &refusals);
        if (prefix.empty() || contains(prefix, "--user")) {
            prefix.clear();
            refused = "no mount namespace of root's own to keep the machine's rpm from running "
                      "as root: " + refusals;
        }
    }
    known = true;
    *why = refused;
    return prefix;
}

// Why `privilege` cannot be tried here ("" when it can): it must take
// effect (AT_SECURE) in a launcher copy that nobody starts, which a
// file system mounted nosuid, no_new_privs or a restricted bounding set
// prevent. Found out once for each privilege; stores where setpriv is.
std::string privilegeUnavailable(Privilege privilege, std::string *setpriv) {
    static std::map<Privilege, std::string> known;
    std::string unavailable = privilegedStartUnavailable(setpriv);
    if (!unavailable.empty() || privilege == Privilege::none) {
        return unavailable;
    }
    if (known.count(privilege) == 0) {
        AppTree tree;
        openToOthers(tree);
        Environment env = baseEnvironment(tree);
        env["AUX_RUNTIME"] = CENSUS_RUNTIME_LIBRARY;
        std::string reason;
        Strings prefix;
        if (privilege == Privilege::setUserIdRoot) {
            prefix = rootSafeQueries(tree, &reason);
        }
        Strings nobodyWords = asNobody(*setpriv);
        prefix.insert(prefix.end(), nobodyWords.begin(), nobodyWords.end());
        if (reason.empty() && !grantPrivilege(tree.exe, privilege)) {
            reason = "this file system takes no " + nameOf(privilege);
        }
        if (reason.empty()) {
            LaunchResult run = runLauncherUnder(prefix, tree, {}, env);
            if (recordedLines(tree, "census", "secure") != Strings{"1"}) {
                reason = nameOf(privilege) + " does not take effect here (a nosuid mount, "
                                             "no_new_privs or a restricted bounding set)";
            }
        }
        known[privilege] = reason;
    }
    return known[privilege];
}

// The rows of `wanted` that can run here; the reasons for the others are
// added to *skipped.
std::vector<Privilege> possibleRows(const std::vector<Privilege> &wanted, std::string *setpriv,
                                    std::string *skipped) {
    std::vector<Privilege> rows;
    for (Privilege privilege : wanted) {
        std::string unavailable = privilegeUnavailable(privilege, setpriv);
        if (unavailable.empty()) {
            rows.push_back(privilege);
        } else {
            *skipped += (skipped->empty() ? "" : "; ") + nameOf(privilege) + ": " + unavailable;
        }
    }
    return rows;
}

// An application tree the user nobody starts, with callers/, a directory
// the caller owns, beside it; debug output on and the caller's PATH ending
// in the system directories.
struct Caller {
    AppTree tree;
    std::string setpriv;
    std::string own = tree.root + "/callers";
    Environment env = baseEnvironment(tree);

    Caller(const std::string &setprivPath, bool withLibrary)
        : tree("app", withLibrary), setpriv(setprivPath) {
        openToOthers(tree);
        fs::create_directories(own);
        giveToNobody(own);
        env["PATH"] = tree.fakeBin + ":" + trustedPath;
    }

    // Makes `path` the caller's.
    static void giveToNobody(const std::string &path) {
        EXPECT_EQ(chown(path.c_str(), nobody, nobody), 0) << path;
    }

    // A copy of the payload at `path` in a directory of the caller's.
    std::string plantPayload(const std::string &path) const {
        tree.installLibrary(PRIVILEGE_PROOF_LIBRARY, path);
        giveToNobody(fs::path(path).parent_path());
        return path;
    }

    // What the payload at `path` wrote each time it ran.
    static Strings proof(const std::string &path) {
        Strings lines;
        std::ifstream in(path + ".proof");
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    // Starts the launcher copy with `privilege` as nobody (after the words
    // of `prefix`; a set-user-id root copy without any, after those of
    // rootSafeQueries), records/ and every proof emptied first.
    LaunchResult run(Privilege privilege, const Strings &args = {}, Strings prefix = {}) {
        if (privilege == Privilege::setUserIdRoot && prefix.empty()) {
            std::string why;
            prefix = rootSafeQueries(tree, &why);
            EXPECT_EQ(why, "");
        }
        fs::remove_all(tree.records);
        fs::create_directories(tree.records);
        openToOthers(tree);
        for (const auto &entry : fs::recursive_directory_iterator(own)) {
            if (entry.path().extension() == ".proof") {
                fs::remove(entry.path());
            }
        }
        EXPECT_TRUE(grantPrivilege(tree.exe, privilege));
        Strings words = prefix;
        Strings nobodyWords = asNobody(setpriv);
        words.insert(words.end(), nobodyWords.begin(), nobodyWords.end());
        return runLauncherUnder(words, tree, args, env);
    }

    Strings census(const std::string &key) const { return recordedLines(tree, "census", key); }
};

// Runs `words` as nobody in `tree` with `env`; its exit status.
int runAsNobody(const Caller &caller, const Strings &words, const Environment &env) {
    Strings command = asNobody(caller.setpriv);
    command.insert(command.end(), words.begin(), words.end());
    LaunchResult run = runCommand(caller.tree, command, env);
    EXPECT_EQ(run.exitCode, 0) << words[0] << ": " << run.stderrText << run.stdoutText;
    return run.exitCode;
}

// An rpm package that the caller builds with rpmbuild and records in a
// database of its own (rpm --dbpath DIR --initdb): it owns the launcher's
// path and lists the caller's libapplauncher.so. Returns the database's
// directory, or "" after a failed assertion.
std::string callersDatabase(const Caller &caller, const std::string &evilLib) {
    std::string top = caller.own + "/rpmbuild";
    std::string database = caller.own + "/db";
    std::string spec = caller.own + "/caller.spec";
    std::ofstream(spec) << "Name: caller\nVersion: 1\nRelease: 1\nSummary: the caller's\n"
                           "License: none\nBuildArch: noarch\n%description\nThe caller's.\n"
                           "%install\nmkdir -p %{buildroot}"
                        << fs::path(caller.tree.exe).parent_path().string() << " %{buildroot}"
                        << fs::path(evilLib).parent_path().string() << "\ntouch %{buildroot}"
                        << caller.tree.exe << " %{buildroot}" << evilLib << "\n%files\n"
                        << caller.tree.exe << "\n" << evilLib << "\n";
    Caller::giveToNobody(spec);
    Environment env = {{"PATH", "/usr/bin:/bin"}, {"HOME", caller.own}};
    if (runAsNobody(caller,
                    {"/usr/bin/rpmbuild", "--quiet", "-bb", "--define", "_topdir " + top, spec},
                    env) != 0 ||
        runAsNobody(caller, {"/usr/bin/rpm", "--dbpath", database, "--initdb"}, env) != 0 ||
        runAsNobody(caller,
                    {"/usr/bin/rpm", "--dbpath", database, "-i", "--justdb", "--nodeps",
                     "--noscripts", "--ignoresize", top + "/RPMS/noarch/caller-1-1.noarch.rpm"},
                    env) != 0) {
        return "";
    }
    return database;
}

TEST(PrivilegedCaller, RpmMacrosInTheWorkingDirectoryChooseNoLibrary) {
    std::string setpriv;
    std::string skipped;
    std::vector<Privilege> rows = possibleRows(capabilityRows, &setpriv, &skipped);
    if (rows.size() < 2) {
        GTEST_SKIP() << skipped;
    }
    if (commandPath("rpm").empty() || commandPath("rpmbuild").empty()) {
        GTEST_SKIP() << "needs rpm and rpmbuild (Debian: rpm)";
    }
    Caller caller(setpriv, true);
    caller.env["AUX_RUNTIME"] = CENSUS_RUNTIME_LIBRARY;
    std::string evilLib = caller.plantPayload(caller.own + "/evil/libapplauncher.so");
    std::string database = callersDatabase(caller, evilLib);
    ASSERT_FALSE(database.empty());
    // The working directory is the caller's choice, and so is the "~" in it
    // that rpm takes for the home directory when HOME is unset.
    fs::create_directories(caller.tree.root + "/~");
    std::ofstream(caller.tree.root + "/~/.rpmmacros") << "%_dbpath " << database << "\n";
    for (Privilege privilege : rows) {
        LaunchResult run = caller.run(privilege);
        if (privilege == Privilege::none) {
            EXPECT_EQ(Caller::proof(evilLib), unprivilegedProof) << run.stderrText;
            EXPECT_TRUE(contains(messagesOf(debugLines(run.stderrText), run.pid, true),
                                 "owner pkg: (caller|1)"))
                << run.stderrText;
        } else {
            EXPECT_EQ(run.exitCode, 0) << nameOf(privilege) << run.stderrText;
            EXPECT_EQ(caller.census("secure"), Strings{"1"}) << nameOf(privilege);
            EXPECT_EQ(Caller::proof(evilLib), Strings{}) << nameOf(privilege);
            EXPECT_EQ(recordedValue(caller.tree, "aux", "library"), caller.tree.libPath);
        }
    }
    if (!skipped.empty()) {
        GTEST_SKIP() << skipped;
    }
}

// The environment a package query received, as the recording stand-in
// bound over rpm and dpkg found it: "NAME=VALUE" lines of its
// /proc/self/environ, and its working directory.
struct QueryView {
    Strings environment;
    std::string directory;
};

QueryView queryView(const Caller &caller, const std::string &tool) {
    QueryView view;
    std::ifstream in(caller.tree.records + "/" + tool + ".environ");
    for (std::string line; std::getline(in, line);) {
        if (line != "PWD=/") {  // the query's shell adds its own, with the directory as value
            view.environment.push_back(line);
        }
    }
    view.directory = readFile(caller.tree.records + "/" + tool + ".cwd");
    view.directory = view.directory.substr(0, view.directory.find('\n'));
    return view;
}

TEST(PrivilegedCaller, PackageQueriesRunFromTheRootWithTheAllowListedEnvironmentAlone) {
    std::string setpriv;
    std::string skipped;
    std::vector<Privilege> rows = possibleRows(allRows, &setpriv, &skipped);
    if (rows.size() < 2) {
        GTEST_SKIP() << skipped;
    }
    Caller caller(setpriv, true);
    caller.env["AUX_RUNTIME"] = CENSUS_RUNTIME_LIBRARY;
    std::string recorder = caller.tree.root + "/recorder";
    std::ofstream(recorder) << "#!/bin/sh\n"
                               "tool=${0##*/}\n"
                               "/usr/bin/tr '\\0' '\\n' </proc/$$/environ >'"
                            << caller.tree.records << "'/\"$tool\".environ\n"
                            << "/usr/bin/readlink /proc/$$/cwd >'" << caller.tree.records
                            << "'/\"$tool\".cwd\nexit 1\n";
    fs::permissions(recorder, fs::perms::owner_all | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    std::string setup = "/bin/mount --make-rprivate / && /bin/mount --bind " + recorder +
                        " /usr/bin/dpkg";
    bool withRpm = fs::exists("/usr/bin/rpm");
    if (withRpm) {
        setup += " && /bin/mount --bind " + recorder + " /usr/bin/rpm";
    }
    std::string refusals;
    Strings privateMounts = privateMountNamespace(caller.tree, setup, &refusals);
    if (privateMounts.empty() || contains(privateMounts, "--user")) {
        GTEST_SKIP() << "no mount namespace of root's own to put the stand-in in: " << refusals;
    }
    std::string callersHome = caller.own;
    Environment hostile = {{"HOME", callersHome},
                           {"DPKG_ADMINDIR", caller.own},
                           {"RPM_CONFIGDIR", caller.own},
                           {"XDG_CONFIG_HOME", caller.own},
                           {"TMPDIR", caller.own},
                           {"ENV", caller.own + "/env.sh"},
                           {"BASH_ENV", caller.own + "/env.sh"},
                           {"LC_ALL", "xx_XX.UTF-8"},
                           {"LANGUAGE", "xx"},
                           {"POPT_CONFIG", caller.own},
                           {"CALLERS_OWN", "1"}};
    caller.env.insert(hostile.begin(), hostile.end());
    for (Privilege privilege : rows) {
        LaunchResult run = caller.run(privilege, {}, privateMounts);
        EXPECT_EQ(run.exitCode, 0) << nameOf(privilege) << run.stderrText;
        for (const std::string &tool : withRpm ? Strings{"rpm", "dpkg"} : Strings{"dpkg"}) {
            QueryView view = queryView(caller, tool);
            if (privilege == Privilege::none) {
                EXPECT_TRUE(contains(view.environment, "CALLERS_OWN=1")) << tool;
                EXPECT_TRUE(contains(view.environment, "HOME=" + callersHome)) << tool;
                EXPECT_EQ(view.directory, caller.tree.root) << tool;
            } else {
                std::sort(view.environment.begin(), view.environment.end());
                EXPECT_EQ(view.environment,
                          (Strings{"HOME=/", "LC_ALL=C", "PATH=" + trustedPath}))
                    << tool << ", " << nameOf(privilege);
                EXPECT_EQ(view.directory, "/") << tool << ", " << nameOf(privilege);
                EXPECT_EQ(caller.census("secure"), Strings{"1"}) << nameOf(privilege);
            }
        }
        // The child gets the caller's environment back once the queries have
        // started: the library it loads is told what the runtime is told.
        EXPECT_EQ(recordedValue(caller.tree, "aux", "library"), caller.tree.libPath)
            << nameOf(privilege);
    }
    if (!skipped.empty()) {
        GTEST_SKIP() << skipped;
    }
}

// A tree whose reference library reads `config`, owned by root with
// `mode`, and whose runtime is the census library; the caller's PATH finds
// the substitute rpm and dpkg, so that only the privileged copy asks the
// machine's own.
struct ConfiguredCaller : Caller {
    std::string configPath = tree.appDir + "/lib/applauncher.cfg";

    ConfiguredCaller(const std::string &setpriv, const std::string &config, fs::perms mode)
        : Caller(setpriv, false) {
        tree.installLibrary(REFERENCE_AUX_LIBRARY, tree.libPath);
        tree.installLibrary(CENSUS_RUNTIME_LIBRARY, tree.appDir + "/lib/libruntime.so");
        tree.installCommand("rpm");
        tree.installCommand("dpkg");
        std::ofstream(configPath) << config;
        fs::permissions(configPath, mode);
    }
};

const std::string secret = "hunter2";

// The modes of a configuration that root alone may read, and of one that
// everyone may.
const fs::perms rootOnly = fs::perms::owner_read | fs::perms::owner_write;
const fs::perms readableByAll = rootOnly | fs::perms::group_read | fs::perms::others_read;

TEST(PrivilegedCaller, TheTraceOfARootOnlyConfigurationReachesNoCallerButRoot) {
    std::string setpriv;
    std::string skipped;
    std::vector<Privilege> rows = possibleRows(allRows, &setpriv, &skipped);
    if (rows.size() < 2) {
        GTEST_SKIP() << skipped;
    }
    std::string config = "runtime=libruntime.so\narg=plain\nenv=TOKEN=" + secret + "\n";
    for (Privilege privilege : rows) {
        // A capability gives no right to read: that copy's configuration is
        // readable by all, the trace is held back all the same.
        bool onlyRoot = privilege == Privilege::setUserIdRoot;
        ConfiguredCaller app(setpriv, config,
                             onlyRoot ? rootOnly : readableByAll);
        LaunchResult run = app.run(privilege);
        EXPECT_EQ(run.exitCode, 0) << nameOf(privilege) << run.stderrText;
        EXPECT_EQ(app.census("arg"), Strings{"plain"}) << nameOf(privilege);
        if (privilege == Privilege::none) {
            EXPECT_NE(run.stderrText.find("env var[0]: TOKEN=[" + secret + "]"), std::string::npos)
                << run.stderrText;
            continue;
        }
        EXPECT_EQ(app.census("secure"), Strings{"1"}) << nameOf(privilege);
        EXPECT_EQ(run.stderrText, "") << nameOf(privilege);
        // Root may trace the same copy.
        LaunchResult asRoot = runLauncher(app.tree, {}, app.env);
        EXPECT_EQ(asRoot.exitCode, 0) << asRoot.stderrText;
        EXPECT_NE(asRoot.stderrText.find("env var[0]: TOKEN=[" + secret + "]"), std::string::npos)
            << nameOf(privilege) << asRoot.stderrText;
    }
    if (!skipped.empty()) {
        GTEST_SKIP() << skipped;
    }
}

TEST(PrivilegedCaller, AComplaintAboutARootOnlyConfigurationQuotesNothingOfItToTheCaller) {
    std::string setpriv;
    std::string skipped;
    std::vector<Privilege> rows = possibleRows(allRows, &setpriv, &skipped);
    if (rows.size() < 2) {
        GTEST_SKIP() << skipped;
    }
    struct Case {
        std::string line;
        std::string plainReason;
    };
    for (const Case &c : {
             Case{secret + "=1", "unknown key"},
             Case{"env=" + secret + "-name=1",
                  "env= name is not a variable name (letters, digits and _, not starting with "
                  "a digit)"},
             Case{"arg=${" + secret + "+x}", "a \"${\" form is not ${NAME} or ${NAME:-WORD}"},
             Case{"arg=$" + secret, "unknown $NAME (a variable is written ${NAME})"},
             Case{"include=/nonexistent/" + secret + "/*.cfg", "include= matched nothing"},
         }) {
        for (Privilege privilege : rows) {
            bool onlyRoot = privilege == Privilege::setUserIdRoot;
            ConfiguredCaller app(setpriv, "runtime=libruntime.so\n" + c.line + "\n",
                                 onlyRoot ? rootOnly : readableByAll);
            app.env.erase("SORVANTA_DEBUG");
            LaunchResult run = app.run(privilege);
            LaunchResult asRoot = runLauncher(app.tree, {}, app.env);
            std::string where = "applauncher: " + app.configPath + ":2: ";
            EXPECT_EQ(run.exitCode, 1) << c.line;
            EXPECT_EQ(asRoot.exitCode, 1) << c.line;
            EXPECT_NE(asRoot.stderrText.find(secret), std::string::npos)
                << "root is told the whole reason: " << asRoot.stderrText;
            if (privilege == Privilege::none) {
                EXPECT_NE(run.stderrText.find(where), std::string::npos) << run.stderrText;
                EXPECT_EQ(run.stderrText, asRoot.stderrText) << "as today";
            } else {
                EXPECT_EQ(run.stderrText, where + c.plainReason + "\n")
                    << c.line << ", " << nameOf(privilege);
            }
        }
    }
    // A runtime that is no file is named by its line and no more.
    bool onlyRoot = rows.back() == Privilege::setUserIdRoot;
    ConfiguredCaller missing(setpriv, "arg=x\nruntime=/nonexistent/" + secret + ".so\n",
                             onlyRoot ? rootOnly : readableByAll);
    LaunchResult run = missing.run(rows.back());
    EXPECT_EQ(run.stderrText, "applauncher: " + missing.configPath +
                                  ":2: runtime= names no regular file that can be reached\n");
    if (!skipped.empty()) {
        GTEST_SKIP() << skipped;
    }
}

#ifdef JVM_RUNTIME_LIBRARY
// A tree whose reference library starts the probe program of the JVM tests
// on the JVM runtime library with `probeArgs`.
struct JvmCaller : ConfiguredCaller {
    JvmCaller(const std::string &setpriv, const Strings &probeArgs)
        : ConfiguredCaller(setpriv, configuration(probeArgs), readableByAll) {
        tree.installLibrary(JVM_RUNTIME_LIBRARY, tree.appDir + "/lib/libhux_jvm.so");
        tree.installLibrary(PROBE_JAR, tree.appDir + "/share/probe.jar");
        env["JAVA_HOME"] = JVM_TEST_JAVA_HOME;
        env["LANG"] = "C.UTF-8";
        env.erase("SORVANTA_DEBUG");
        // A sanitizer build hosts the VM as the JVM runtime tests do: the VM
        // handles its own signals, and its memory at exit is not a leak.
        env["ASAN_OPTIONS"] = "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:"
                              "allow_user_segv_handler=1:detect_leaks=0:exitcode=99";
    }

    static std::string configuration(const Strings &probeArgs) {
        std::string text = "runtime=libhux_jvm.so\narg=$APPDIR/bin/app\narg=-cp\n"
                           "arg=$APPDIR/share/probe.jar\narg=probe.Probe\n";
        for (const std::string &arg : probeArgs) {
            text += "arg=" + arg + "\n";
        }
        return text;
    }
};

TEST(PrivilegedCaller, JvmOptionVariablesLoadNoAgentOfTheCallers) {
    std::string setpriv;
    std::string skipped;
    std::vector<Privilege> rows = possibleRows(capabilityRows, &setpriv, &skipped);
    if (rows.size() < 2) {
        GTEST_SKIP() << skipped;
    }
    for (const std::string variable : {"JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS", "JDK_JAVA_OPTIONS"}) {
        JvmCaller app(setpriv, {"args", "ran"});
        std::string agent = app.plantPayload(app.own + "/agent/libagent.so");
        app.env[variable] = "-agentpath:" + agent;
        for (Privilege privilege : rows) {
            LaunchResult run = app.run(privilege);
            EXPECT_EQ(run.exitCode, 0) << variable << ", " << nameOf(privilege) << run.stderrText;
            EXPECT_NE(run.stdoutText.find("[ran]"), std::string::npos) << run.stdoutText;
            EXPECT_EQ(Caller::proof(agent),
                      privilege == Privilege::none ? unprivilegedProof : Strings{})
                << variable << ", " << nameOf(privilege);
        }
    }
    if (!skipped.empty()) {
        GTEST_SKIP() << skipped;
    }
}

TEST(PrivilegedCaller, NoOneAttachesToThePrivilegedVirtualMachine) {
    std::string setpriv;
    std::string skipped;
    std::vector<Privilege> rows = possibleRows(capabilityRows, &setpriv, &skipped);
    if (rows.size() < 2) {
        GTEST_SKIP() << skipped;
    }
    std::string jcmd = std::string(JVM_TEST_JAVA_HOME) + "/bin/jcmd";
    if (access(jcmd.c_str(), X_OK) != 0) {
        GTEST_SKIP() << "no jcmd beside the JDK's java";
    }
    JvmCaller app(setpriv, {"thread", "15000"});
    for (Privilege privilege : rows) {
        ASSERT_TRUE(grantPrivilege(app.tree.exe, privilege));
        Strings words = asNobody(setpriv);
        Strings launcher = launcherCommand(app.tree.exe);
        words.insert(words.end(), launcher.begin(), launcher.end());
        pid_t vm = startProgram(app.tree.root, "attach", words, app.env);
        bool started = false;
        for (int i = 0; i < 300 && !started; i++) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            std::string out = readFile(app.tree.root + "/attach.out");
            started = out.find("main done") != std::string::npos;
        }
        // Root attaches wherever the mechanism is on; so would the caller.
        LaunchResult attached = runCommand(
            app.tree, {"/usr/bin/timeout", "60", jcmd, std::to_string(vm), "VM.version"},
            {{"PATH", "/usr/bin:/bin"}, {"JAVA_HOME", JVM_TEST_JAVA_HOME}});
        kill(vm, SIGKILL);
        LaunchResult ended = finishProgram(vm, app.tree.root, "attach");
        ASSERT_TRUE(started) << nameOf(privilege) << ended.stderrText;
        bool answered = attached.exitCode == 0 &&
                        attached.stdoutText.find("JDK ") != std::string::npos;
        EXPECT_EQ(answered, privilege == Privilege::none)
            << nameOf(privilege) << ": " << attached.stdoutText << attached.stderrText;
    }
    if (!skipped.empty()) {
        GTEST_SKIP() << skipped;
    }
}
#endif

// A process of the caller's, whose /proc/<pid>/root leads back to "/".
struct CallersProcess {
    pid_t pid;
    std::string dir;

    CallersProcess(const std::string &setpriv, const std::string &directory) : dir(directory) {
        Strings words = asNobody(setpriv);
        words.insert(words.end(), {"/bin/sleep", "60"});
        pid = startProgram(dir, "sleeper", words, {{"PATH", "/usr/bin:/bin"}});
    }
    ~CallersProcess() {
        kill(pid, SIGKILL);
        finishProgram(pid, dir, "sleeper");
    }
    CallersProcess(const CallersProcess &) = delete;
    CallersProcess &operator=(const CallersProcess &) = delete;
};

// The ways a caller names its own directory `dir` for a trusted-directory
// variable: the path itself, a link of its own, and through /proc.
std::map<std::string, std::string> callersNamesFor(const std::string &dir,
                                                    const CallersProcess &process) {
    std::string link = dir + "-link";
    fs::create_directory_symlink(dir, link);
    EXPECT_EQ(lchown(link.c_str(), nobody, nobody), 0);
    return {{"its own directory", dir},
            {"a link of its own", link},
            {"/proc/<pid>/root", "/proc/" + std::to_string(process.pid) + "/root" + dir}};
}

#ifdef JVM_RUNTIME_LIBRARY
TEST(PrivilegedCaller, JavaHomeOfTheCallersLoadsNoVirtualMachineOfTheCallers) {
    std::string setpriv;
    std::string skipped;
    std::vector<Privilege> rows = possibleRows(capabilityRows, &setpriv, &skipped);
    if (rows.size() < 2) {
        GTEST_SKIP() << skipped;
    }
    JvmCaller app(setpriv, {"args", "ran"});
    std::string jdk = app.own + "/jdk";
    std::string fakeJvm = app.plantPayload(jdk + "/lib/server/libjvm.so");
    Caller::giveToNobody(jdk + "/lib");
    Caller::giveToNobody(jdk);
    CallersProcess process(setpriv, app.tree.root);
    for (const auto &[form, javaHome] : callersNamesFor(jdk, process)) {
        app.env["JAVA_HOME"] = javaHome;
        for (Privilege privilege : rows) {
            LaunchResult run = app.run(privilege);
            EXPECT_EQ(Caller::proof(fakeJvm),
                      privilege == Privilege::none ? unprivilegedProof : Strings{})
                << form << ", " << nameOf(privilege) << run.stderrText;
            if (privilege != Privilege::none) {
                EXPECT_EQ(run.exitCode, 0) << form << run.stderrText;
                EXPECT_NE(run.stdoutText.find("[ran]"), std::string::npos)
                    << form << ": the default JDK runs the program";
            }
        }
    }
    if (!skipped.empty()) {
        GTEST_SKIP() << skipped;
    }
}
#endif

#ifdef PYTHON_RUNTIME_LIBRARY
TEST(PrivilegedCaller, AVirtualEnvironmentOfTheCallersRunsNoCodeOfTheCallers) {
    std::string setpriv;
    std::string skipped;
    std::vector<Privilege> rows = possibleRows(capabilityRows, &setpriv, &skipped);
    if (rows.size() < 2) {
        GTEST_SKIP() << skipped;
    }
    ConfiguredCaller app(setpriv,
                         "runtime=libhux_python.so\narg=$APPDIR/bin/app\narg=$APPDIR/main.py\n",
                         readableByAll);
    app.tree.installLibrary(PYTHON_RUNTIME_LIBRARY, app.tree.appDir + "/lib/libhux_python.so");
    std::ofstream(app.tree.appDir + "/main.py") << "print('ran')\n";
    app.env.erase("SORVANTA_DEBUG");
    app.env["ASAN_OPTIONS"] = "detect_leaks=0:exitcode=99";  // the interpreter keeps memory at exit
    std::string venv = app.own + "/venv";
    std::string sitePackages = venv + "/lib/python3.11/site-packages";
    std::string proofBase = app.own + "/venv-payload";
    fs::create_directories(venv + "/bin");
    fs::create_directories(sitePackages);
    std::ofstream(venv + "/pyvenv.cfg") << "home = /usr/bin\n";
    fs::create_symlink("/usr/bin/python3.11", venv + "/bin/python3");
    std::ofstream(sitePackages + "/payload.pth") << "import payload\n";
    std::ofstream(sitePackages + "/payload.py")
        << "import os, socket\n"
           "def verdict():\n"
           "    s = socket.socket()\n"
           "    try:\n"
           "        s.bind(('127.0.0.1', 81))\n"
           "        return 'allowed'\n"
           "    except PermissionError:\n"
           "        return 'denied'\n"
           "    except OSError as e:\n"
           "        return 'allowed' if e.errno == 98 else 'errno %d' % e.errno\n"
           "    finally:\n"
           "        s.close()\n"
           "with open('" << proofBase << ".proof', 'a') as out:\n"
           "    out.write('ruid=%d euid=%d bind=%s\\n' % (os.getuid(), os.geteuid(), verdict()))\n";
    for (const auto &entry : fs::recursive_directory_iterator(venv)) {
        EXPECT_EQ(lchown(entry.path().c_str(), nobody, nobody), 0);
    }
    Caller::giveToNobody(venv);
    CallersProcess process(setpriv, app.tree.root);
    for (const auto &[form, named] : callersNamesFor(venv, process)) {
        app.env["HUX_PYTHON_VENV"] = named;
        for (Privilege privilege : rows) {
            LaunchResult run = app.run(privilege);
            EXPECT_EQ(run.exitCode, 0) << form << ", " << nameOf(privilege) << run.stderrText;
            EXPECT_EQ(run.stdoutText, "ran\n") << form << ", " << nameOf(privilege);
            EXPECT_EQ(Caller::proof(proofBase),
                      privilege == Privilege::none ? unprivilegedProof : Strings{})
                << form << ", " << nameOf(privilege);
        }
    }
    if (!skipped.empty()) {
        GTEST_SKIP() << skipped;
    }
}
#endif

TEST(PrivilegedCaller, ThePayloadProvesThePrivilegeItRunsWith) {
    // Loaded as the genuine library of a launcher with a file capability,
    // the payload is allowed port 81: a row that finds no proof would have
    // found one had the caller's code run privileged.
    std::string setpriv;
    std::string skipped;
    std::vector<Privilege> rows = possibleRows(allRows, &setpriv, &skipped);
    if (rows.size() < 2) {
        GTEST_SKIP() << skipped;
    }
    Caller app(setpriv, false);
    app.tree.installLibrary(PRIVILEGE_PROOF_LIBRARY, app.tree.libPath);
    fs::permissions(app.tree.appDir + "/lib", fs::perms::all);
    for (Privilege privilege : rows) {
        app.run(privilege);
        Strings proof = Caller::proof(app.tree.libPath);
        fs::remove(app.tree.libPath + ".proof");
        std::string expected =
            privilege == Privilege::none         ? "ruid=65534 euid=65534 bind=denied"
            : privilege == Privilege::capability ? "ruid=65534 euid=65534 bind=allowed"
                                                 : "ruid=65534 euid=0 bind=allowed";
        EXPECT_EQ(proof, Strings{expected}) << nameOf(privilege);
    }
    if (!skipped.empty()) {
        GTEST_SKIP() << skipped;
    }
}

}  // namespace
