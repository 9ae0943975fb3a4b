// The JVM runtime library's class data archives on the real JDK: each
// state the user's cache can be in, each way the archive is turned off,
// and runs that end early, at once or killed; the application's output
// and status stay those of a run without an archive throughout.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include <gtest/gtest.h>

#include "jvm_tree.h"

namespace {

namespace fs = std::filesystem;

// A JVM application tree whose launches keep their cache in the tree
// (XDG_CACHE_HOME), with the debug trace on.
struct CachedTree : JvmTree {
    explicit CachedTree(const Strings &configuredArgs = {"-cp", "$APPDIR/share/probe.jar",
                                                         "probe.Probe"},
                        const Strings &variables = {})
        : JvmTree(configuredArgs, variables), cache(tree.root + "/cache") {
        fs::create_directories(cache);
    }

    Environment environment() const {
        Environment env = jvmEnvironment(tree);
        env["XDG_CACHE_HOME"] = cache;
        return env;
    }

    // The files under the cache's application directories whose names
    // start with `temporary` ("tmp-") or, when empty, the archives.
    Strings files(bool temporary = false) const {
        Strings found;
        std::string root = cache + "/applauncher/jvm";
        if (!fs::exists(root)) {
            return found;
        }
        for (const auto &app : fs::directory_iterator(root)) {
            if (!app.is_directory()) {
                continue;
            }
            for (const auto &file : fs::directory_iterator(app.path())) {
                std::string name = file.path().filename().string();
                bool isTemporary = name.rfind("tmp-", 0) == 0;
                if (isTemporary == temporary && name.size() > 4 &&
                    name.substr(name.size() - 4) == ".jsa") {
                    found.push_back(file.path().string());
                }
            }
        }
        return found;
    }

    LaunchResult run(const Strings &args = {"thread-name"}) const {
        return runLauncher(tree, args, environment());
    }

    std::string cache;
};

// The trace lines about the archive ("jvm: class data archive ..." and
// "jvm: no class data archive: ...") of every process of the run.
Strings archiveLines(const LaunchResult &run) {
    Strings lines;
    for (const DebugLine &line : debugLines(run.stderrText)) {
        if (line.pid != 0 && (line.message.rfind("jvm: class data archive", 0) == 0 ||
                              line.message.rfind("jvm: no class data archive", 0) == 0)) {
            lines.push_back(line.message);
        }
    }
    return lines;
}

// Whether one of `lines` contains `text`.
bool anyContains(const Strings &lines, const std::string &text) {
    for (const std::string &line : lines) {
        if (line.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// Expects `run` to be the probe's plain "thread-name" run: status 0, its
// line, and nothing on standard error but the debug trace.
void expectPlainRun(const LaunchResult &run, const std::string &label) {
    EXPECT_EQ(run.exitCode, 0) << label << "\n" << run.stderrText;
    EXPECT_EQ(run.stdoutText, "thread main\n") << label;
    EXPECT_EQ(plainLines(run.stderrText), Strings{}) << label;
}

// Expects the next run of `app` to map the archive recorded before.
void expectArchiveUsed(const CachedTree &app, const std::string &label) {
    Strings archives = app.files();
    ASSERT_EQ(archives.size(), 1U) << label;
    LaunchResult next = app.run();
    expectPlainRun(next, label + ", next run");
    EXPECT_EQ(archiveLines(next), Strings{"jvm: class data archive [" + archives[0] + "] used"})
        << label;
    EXPECT_EQ(app.files(true), Strings{}) << label;
}

TEST(JvmArchive, EachStateOfTheCacheEndsInOneWholeArchiveThatTheNextRunMaps) {
    if (launcherIsWrapped()) {
        GTEST_SKIP() << vmUnderValgrind;
    }
    // Each case prepares the cache (after a first run recorded an archive
    // when `recordedFirst`), and names a trace text of the run after it.
    struct Case {
        std::string what;
        bool recordedFirst;
        std::function<void(CachedTree &)> prepare;
        std::string traced;
    };
    auto damage = [](CachedTree &app, std::uintmax_t at) {
        std::fstream file(app.files().at(0), std::ios::in | std::ios::out | std::ios::binary);
        file.seekp((std::streamoff)at);
        file.write("\x13\x37\x13\x37", 4);
    };
    const Case cases[] = {
        {"no archive yet", false, [](CachedTree &) {}, "recorded at exit"},
        {"recorded before", true, [](CachedTree &) {}, "] used"},
        {"damaged header", true,
         [&](CachedTree &app) {
             fs::permissions(app.files().at(0), fs::perms::owner_write, fs::perm_options::add);
             damage(app, 8);
         },
         "damaged or foreign: removed"},
        {"damaged end", true,
         [&](CachedTree &app) {
             fs::permissions(app.files().at(0), fs::perms::owner_write, fs::perm_options::add);
             damage(app, fs::file_size(app.files().at(0)) - 10);
         },
         "damaged or foreign: removed"},
        {"cut short", true,
         [](CachedTree &app) {
             fs::permissions(app.files().at(0), fs::perms::owner_write, fs::perm_options::add);
             fs::resize_file(app.files().at(0), fs::file_size(app.files().at(0)) / 2);
         },
         "damaged or foreign: removed"},
        {"another JDK's archive under this one's name", true,
         [](CachedTree &app) {
             std::string archive = app.files().at(0);
             fs::remove(archive);
             std::ofstream(archive) << std::string(20000, 'j');
         },
         "damaged or foreign: removed"},
        {"a run killed while recording left its file", false,
         [](CachedTree &app) {
             Environment env = app.environment();
             pid_t pid = startProgram(app.tree.root, "killed", {app.tree.exe, "hook"}, env);
             EXPECT_TRUE(waitForText(app.tree.root + "/killed.out", "ready\n", 30));
             kill(pid, SIGKILL);
             finishProgram(pid, app.tree.root, "killed");
             EXPECT_EQ(app.files(true).size(), 1U) << "no leftover to clean";
         },
         "left by a run that ended"},
        {"the class path's jar changed", true,
         [](CachedTree &app) {
             std::string jar = app.tree.appDir + "/share/probe.jar";
             fs::last_write_time(jar, fs::last_write_time(jar) - std::chrono::hours(1));
         },
         "removed: replaced"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        CachedTree app;
        if (c.recordedFirst) {
            expectPlainRun(app.run(), c.what + ", first run");
            ASSERT_EQ(app.files().size(), 1U);
        }
        c.prepare(app);
        LaunchResult run = app.run();
        expectPlainRun(run, c.what);
        EXPECT_TRUE(anyContains(archiveLines(run), c.traced)) << run.stderrText;
        expectArchiveUsed(app, c.what);
    }
}

TEST(JvmArchive, ARunThatEndsWithSystemExitFromAThreadStillLeavesAWholeArchive) {
    if (launcherIsWrapped()) {
        GTEST_SKIP() << vmUnderValgrind;
    }
    CachedTree app;
    LaunchResult run = app.run({"exit-from-thread", "3"});
    EXPECT_EQ(run.exitCode, 3) << run.stderrText;
    EXPECT_EQ(run.stdoutText, "exiting from a thread with 3\n");
    EXPECT_EQ(plainLines(run.stderrText), Strings{});
    EXPECT_TRUE(anyContains(archiveLines(run), "] written")) << run.stderrText;
    expectArchiveUsed(app, "after System.exit from a thread");
}

TEST(JvmArchive, FirstRunsAtOnceLeaveAtMostOneWholeArchiveAndNoTemporaryFile) {
    if (launcherIsWrapped()) {
        GTEST_SKIP() << vmUnderValgrind;
    }
    CachedTree app;
    std::vector<pid_t> pids;
    for (int i = 0; i < 3; i++) {
        pids.push_back(startProgram(app.tree.root, "at-once-" + std::to_string(i),
                                    {app.tree.exe, "thread-name"}, app.environment()));
    }
    for (size_t i = 0; i < pids.size(); i++) {
        LaunchResult run = finishProgram(pids[i], app.tree.root, "at-once-" + std::to_string(i));
        expectPlainRun(run, "run " + std::to_string(i));
        EXPECT_TRUE(anyContains(archiveLines(run), "recorded at exit")) << run.stderrText;
    }
    EXPECT_EQ(app.files(true), Strings{});
    EXPECT_LE(app.files().size(), 1U);
    if (app.files().empty()) {
        expectPlainRun(app.run(), "recording again");
    }
    expectArchiveUsed(app, "after the runs at once");
}

TEST(JvmArchive, EachWayOfTurningItOffLeavesNoArchiveAndSaysWhy) {
    if (launcherIsWrapped()) {
        GTEST_SKIP() << vmUnderValgrind;
    }
    struct Case {
        std::string what;
        Strings configuredArgs;
        Strings variables;
        std::map<std::string, std::string> environment;
        std::string reason;
    };
    const Strings probe{"-cp", "$APPDIR/share/probe.jar", "probe.Probe"};
    auto with = [&probe](const Strings &before) {
        Strings args = before;
        args.insert(args.end(), probe.begin(), probe.end());
        return args;
    };
    const Case cases[] = {
        {"the packager's line", probe, {"HUX_JAVA_CDS=off"}, {}, "HUX_JAVA_CDS=off"},
        {"-Xshare:off configured", with({"-Xshare:off"}), {}, {}, "the command gives -Xshare:off"},
        {"-Xshare:auto configured", with({"-Xshare:auto"}), {}, {}, "the command gives -Xshare:auto"},
        {"the configuration's own archive", with({"-XX:SharedArchiveFile=/tmp/own.jsa"}), {}, {},
         "the command gives -XX:SharedArchiveFile=/tmp/own.jsa"},
        {"the caller's JDK_JAVA_OPTIONS", probe, {},
         {{"JDK_JAVA_OPTIONS", "-XX:ArchiveClassesAtExit=/tmp/caller.jsa"}},
         "the command gives -XX:ArchiveClassesAtExit=/tmp/caller.jsa"},
        {"the caller's JAVA_TOOL_OPTIONS", probe, {},
         {{"JAVA_TOOL_OPTIONS", "-Xshare:auto"}}, "JAVA_TOOL_OPTIONS gives -Xshare"},
        {"classes added to the boot class path", with({"-Xbootclasspath/a:$APPDIR/share/lib/dep.jar"}),
         {}, {}, "the command gives -Xbootclasspath/a:"},
        {"a directory on the class path", {"-cp", "$APPDIR/share:$APPDIR/share/probe.jar",
                                           "probe.Probe"}, {}, {},
         "the class path is not jar files alone"},
        {"a jar with a Launcher-Agent-Class", {"-jar", "$APPDIR/share/agentapp.jar"}, {}, {},
         "the jar starts a Launcher-Agent-Class"},
        {"no cache directory at all", probe, {}, {{"XDG_CACHE_HOME", ""}},
         "neither XDG_CACHE_HOME nor HOME names a directory"},
        {"a cache that cannot be written", probe, {}, {{"XDG_CACHE_HOME", "FILE"}},
         "cannot be written: Not a directory"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        CachedTree app(c.configuredArgs, c.variables);
        app.tree.installLibrary(AGENT_APP_JAR, app.tree.appDir + "/share/agentapp.jar");
        Environment env = app.environment();
        for (const auto &[name, value] : c.environment) {
            env[name] = value == "FILE" ? app.tree.root + "/a-file" : value;
            if (value.empty()) {
                env.erase(name);
            }
        }
        std::ofstream(app.tree.root + "/a-file") << "not a directory\n";
        LaunchResult run = runLauncher(app.tree, {"thread-name"}, env);
        EXPECT_EQ(run.exitCode, 0) << run.stderrText;
        Strings lines = archiveLines(run);
        ASSERT_EQ(lines.size(), 1U) << run.stderrText;
        EXPECT_EQ(lines[0].rfind("jvm: no class data archive: ", 0), 0U) << lines[0];
        EXPECT_NE(lines[0].find(c.reason), std::string::npos) << lines[0];
        EXPECT_EQ(app.files(), Strings{});
        EXPECT_EQ(app.files(true), Strings{});
        EXPECT_TRUE(withPrefix(jvmTraceLines(run), "jvm: option").size() > 0);
        for (const std::string &option : withPrefix(jvmTraceLines(run), "jvm: option")) {
            EXPECT_EQ(option.find("cds*=off"), std::string::npos) << option;
        }
    }
}

TEST(JvmArchive, InSecureModeThereIsNone) {
    if (launcherIsWrapped()) {
        GTEST_SKIP() << vmUnderValgrind;
    }
    std::string setpriv;
    std::string unavailable = privilegedStartUnavailable(&setpriv);
    if (!unavailable.empty()) {
        GTEST_SKIP() << unavailable;
    }
    CachedTree app;
    openToOthers(app.tree);
    fs::permissions(app.cache, fs::perms::all);
    if (!grantPrivilege(app.tree.exe, Privilege::capability)) {
        GTEST_SKIP() << "the file system takes no file capability";
    }
    LaunchResult run = runLauncherUnder(asNobody(setpriv), app.tree, {"thread-name"},
                                        app.environment());
    EXPECT_EQ(run.exitCode, 0) << run.stderrText;
    EXPECT_EQ(run.stdoutText, "thread main\n");
    EXPECT_EQ(app.files(), Strings{});
    EXPECT_EQ(app.files(true), Strings{});
    EXPECT_FALSE(fs::exists(app.cache + "/applauncher")) << run.stderrText;
    for (const std::string &line : archiveLines(run)) {
        EXPECT_EQ(line, "jvm: no class data archive: secure mode");
    }
}

TEST(JvmArchive, AFullCacheStartsTheApplicationWithoutAnArchiveAndSaysSo) {
    if (launcherIsWrapped()) {
        GTEST_SKIP() << vmUnderValgrind;
    }
    CachedTree app;
    std::string refusals;
    Strings small = privateMountNamespace(
        app.tree, "/bin/mount -t tmpfs -o size=1m,mode=0700 tmpfs '" + app.cache + "'", &refusals);
    if (small.empty()) {
        GTEST_SKIP() << "no mount namespace of its own for a small cache: " << refusals;
    }
    LaunchResult run = runLauncherUnder(small, app.tree, {"exit", "4"}, app.environment());
    EXPECT_EQ(run.exitCode, 4) << run.stderrText;
    EXPECT_EQ(run.stdoutText, "exiting with 4\n");
    EXPECT_EQ(plainLines(run.stderrText), Strings{});
    Strings lines = archiveLines(run);
    ASSERT_EQ(lines.size(), 1U) << run.stderrText;
    EXPECT_NE(lines[0].find("cannot take one: No space left on device"), std::string::npos)
        << lines[0];
}

TEST(JvmArchive, TheArchivesOfAJdkThatIsGoneAreRemovedByTheNextRecording) {
    if (launcherIsWrapped()) {
        GTEST_SKIP() << vmUnderValgrind;
    }
    CachedTree app;
    std::string gone = app.tree.root + "/jdk-gone";
    fs::create_directories(gone);
    fs::copy_file(javaHome + "/release", gone + "/release");
    fs::create_directory_symlink(javaHome + "/lib", gone + "/lib");
    Environment env = app.environment();
    env["JAVA_HOME"] = gone;
    LaunchResult first = runLauncher(app.tree, {"thread-name"}, env);
    expectPlainRun(first, "on the JDK that goes");
    ASSERT_EQ(app.files().size(), 1U);
    std::string goneArchive = app.files()[0];
    fs::remove_all(gone);

    CachedTree other;
    fs::remove_all(other.cache);
    fs::create_directory_symlink(app.cache, other.cache);
    LaunchResult recording = other.run();
    expectPlainRun(recording, "recording on the JDK that stays");
    EXPECT_TRUE(anyContains(archiveLines(recording), "removed: its JDK is gone"))
        << recording.stderrText;
    EXPECT_FALSE(fs::exists(goneArchive));
    EXPECT_EQ(app.files().size(), 1U);
}

TEST(JvmArchive, TheCacheKeepsTheNewestArchivesAndForgetsApplicationsThatAreGone) {
    if (launcherIsWrapped()) {
        GTEST_SKIP() << vmUnderValgrind;
    }
    CachedTree app;
    expectPlainRun(app.run(), "first run");
    ASSERT_EQ(app.files().size(), 1U);
    std::string first = app.files()[0];
    std::string directory = fs::path(first).parent_path().string();
    EXPECT_EQ(readFile(directory + "/program"), app.tree.appDir + "/bin/applauncher\n");
    auto old = fs::last_write_time(first) - std::chrono::hours(2);
    for (int i = 0; i < 9; i++) {
        std::string stale = directory + "/stale-" + std::to_string(i) + ".jsa";
        std::ofstream(stale) << "an archive of other options\n";
        fs::last_write_time(stale, old + std::chrono::minutes(i));
    }
    std::string goneApp = app.cache + "/applauncher/jvm/gone-0123456789abcdef";
    fs::create_directories(goneApp);
    std::ofstream(goneApp + "/program") << app.tree.root << "/uninstalled/bin/app\n";
    std::ofstream(goneApp + "/archive.jsa") << "an archive of an application that is gone\n";

    LaunchResult other = runLauncher(app.tree, {"prop", "x"}, [&] {
        Environment e = app.environment();
        e["JDK_JAVA_OPTIONS"] = "-Dx=other";
        return e;
    }());
    EXPECT_EQ(other.exitCode, 0) << other.stderrText;
    Strings kept = app.files();
    EXPECT_EQ(kept.size(), 8U);
    EXPECT_TRUE(std::find(kept.begin(), kept.end(), first) != kept.end());
    EXPECT_FALSE(fs::exists(directory + "/stale-0.jsa"));
    EXPECT_FALSE(fs::exists(directory + "/stale-1.jsa"));
    EXPECT_FALSE(fs::exists(directory + "/stale-2.jsa"));
    EXPECT_TRUE(fs::exists(directory + "/stale-3.jsa"));
    EXPECT_FALSE(fs::exists(goneApp)) << other.stderrText;
    EXPECT_TRUE(anyContains(archiveLines(other), "keeps its 8 newest"));
    EXPECT_TRUE(anyContains(archiveLines(other), "uninstalled/bin/app is gone"));
}

TEST(JvmArchive, FromJava19TheVmKeepsTheArchiveThatTheLibraryNames) {
    if (launcherIsWrapped()) {
        GTEST_SKIP() << vmUnderValgrind;
    }
    const std::string other = JVM_TEST_OTHER_JAVA_HOME;
    if (other.empty() || !fs::exists(other + "/lib/server/libjvm.so")) {
        GTEST_SKIP() << "no JDK of Java 19 or later under /usr/lib/jvm";
    }
    CachedTree app;
    Environment env = app.environment();
    env["JAVA_HOME"] = other;
    // That VM's archive writer copies its symbols in whole words, past
    // their ends, through the memcpy a sanitizer build checks: its own
    // doing, not the library's.
    std::string suppressions = app.tree.root + "/sanitizer.supp";
    std::ofstream(suppressions) << "interceptor_via_lib:libjvm.so\n";
    env["ASAN_OPTIONS"] += ":suppressions=" + suppressions;
    LaunchResult first = runLauncher(app.tree, {"thread-name"}, env);
    expectPlainRun(first, "first run");
    EXPECT_TRUE(anyContains(archiveLines(first), "recorded at exit")) << first.stderrText;
    EXPECT_TRUE(anyContains(jvmTraceLines(first), "[-XX:+AutoCreateSharedArchive]"));
    ASSERT_EQ(app.files().size(), 1U);
    std::string archive = app.files()[0];
    for (int i = 0; i < 2; i++) {
        LaunchResult next = runLauncher(app.tree, {"thread-name"}, env);
        expectPlainRun(next, "later run");
        EXPECT_EQ(archiveLines(next),
                  Strings{"jvm: class data archive [" + archive + "] used, kept up to date by "
                          "the VM"});
        EXPECT_EQ(app.files(), Strings{archive});
        EXPECT_EQ(app.files(true), Strings{});
    }
}

}  // namespace
