// The launcher under hostile process conditions: reads and writes
// interrupted by signals, a child killed in the middle of the frame, a
// parent killed while its child works, SIGCHLD ignored from the start, and
// standard descriptors closed at start.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "launch_harness.h"

using Strings = std::vector<std::string>;

namespace {

double secondsSince(const timespec &start) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)(now.tv_sec - start.tv_sec) + (double)(now.tv_nsec - start.tv_nsec) / 1e9;
}

// A tree whose executable the substitute rpm names as package myapp's,
// listing a copy of the auxiliary library outside the fallback place.
struct RpmOwnedTree {
    AppTree tree;
    std::string packagedLib = tree.root + "/pkg/libapplauncher.so";
    std::map<std::string, std::string> env = baseEnvironment(tree);

    RpmOwnedTree() {
        tree.installCommand("rpm");
        tree.installLibrary(AUX_LIBRARY, packagedLib);
        env["FAKE_RPM_QUERY_STATUS"] = "0";
        env["FAKE_RPM_QUERY_OUT"] = "myapp";
        env["FAKE_RPM_LIST_STATUS"] = "0";
        env["FAKE_RPM_LIST_OUT"] = packagedLib + "\n";
    }
};

TEST(ProcessFaults, InterruptedReadsAndWritesLoseNoByteOfAnEightMegabyteRecord) {
    AppTree tree;
    std::string reports = tree.root + "/reports";
    std::filesystem::create_directories(reports);
    auto env = baseEnvironment(tree);
    env["SORVANTA_DEBUG"] = "false";
    env["AUX_MODE"] = "huge";
    env["RT_SKIP_ARG_RECORDS"] = "1";
    env["RT_EXIT"] = "7";
    env["LD_PRELOAD"] = INTERRUPTING_IO_LIBRARY;
    env["INTERRUPT_REPORT_DIR"] = reports;
    env["ASAN_OPTIONS"] = "verify_asan_link_order=0";
    LaunchResult run = runLauncher(tree, {}, env);
    ASSERT_EQ(run.exitCode, 7) << run.stderrText;
    EXPECT_EQ(recordedValue(tree, "runtime", "argc"), "2048");
    EXPECT_EQ(recordedValue(tree, "runtime", "hash"), recordedValue(tree, "aux", "hash"));
    EXPECT_FALSE(recordedValue(tree, "aux", "hash").empty());
    std::string parent = readFile(reports + "/parent");
    std::string child = readFile(reports + "/child");
    std::cout << "parent: " << parent << "child: " << child;
    // A signal ends a read with EINTR when nothing had arrived yet, and a
    // write early with a short count when some bytes had gone.
    EXPECT_EQ(parent.find("eintr=0 "), std::string::npos) << "no read was interrupted";
    EXPECT_EQ(child.find("short=0 "), std::string::npos) << "no write was cut short";
}

TEST(ProcessFaults, ChildKilledInTheMiddleOfTheFrameEndsTheParentWithOnePromptly) {
    AppTree tree;
    auto env = baseEnvironment(tree);
    env["AUX_MODE"] = "killed-mid-frame";
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    LaunchResult run = runLauncher(tree, {}, env);
    EXPECT_LT(secondsSince(start), 10.0);
    EXPECT_EQ(run.exitCode, 1) << run.stderrText;
    auto messages = messagesOf(debugLines(run.stderrText), run.pid);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "pipe: end of file after 65536 of 1048576 bytes");
    EXPECT_TRUE(readRecords(tree, "runtime").empty());
}

TEST(ProcessFaults, ParentKilledWhileTheChildQueriesLeavesNoProcessBehind) {
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    AppTree tree;
    tree.installCommand("rpm");
    auto env = baseEnvironment(tree);
    env["FAKE_RPM_QUERY_SLEEP"] = "1";
    // The shell starts the launcher, kills it while its child waits for
    // rpm, and leaves; the child and rpm are left to this process.
    LaunchResult run = runLauncherUnder(
        {"/bin/sh", "-c", "\"$0\" \"$@\" & /bin/sleep 0.3; kill -9 $!; wait $!; exit 0"}, tree, {},
        env);
    EXPECT_EQ(run.exitCode, 0) << run.stderrText;
    std::vector<std::string> ends = reapOrphans(15.0);
    EXPECT_FALSE(contains(ends, "still running"));
    EXPECT_FALSE(ends.empty()) << "the child was gone before the parent was killed";
    EXPECT_TRUE(readRecords(tree, "runtime").empty());
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 0), 0);
}

TEST(ProcessFaults, IgnoredSigchldStillYieldsTheOwnerAndEveryDispositionReachesTheRuntime) {
    RpmOwnedTree owned;
    const AppTree &tree = owned.tree;
    const std::string &packagedLib = owned.packagedLib;
    auto env = owned.env;
    LaunchResult run = runLauncherUnder(
        {EXEC_WITH, "--ignore", "1", "--ignore", "13", "--ignore", "17"}, tree, {}, env);
    ASSERT_EQ(run.exitCode, 0) << run.stderrText;
    Strings child = messagesOf(debugLines(run.stderrText), run.pid, true);
    EXPECT_TRUE(contains(child, "popen: exit: 0")) << run.stderrText;
    EXPECT_TRUE(contains(child, "owner pkg: (myapp|1)")) << run.stderrText;
    EXPECT_EQ(recordedValue(tree, "aux", "library"), packagedLib);
    EXPECT_EQ(recordedValue(tree, "runtime", "ignored"), " 1 13 17");
}

TEST(ProcessFaults, ClosedStandardDescriptorsAtStartLoseNeitherFrameNorTrace) {
    struct Case {
        Strings closed;
        bool traceVisible;
    };
    for (const Case &c : {Case{{"0"}, true}, Case{{"1"}, true}, Case{{"2"}, false},
                          Case{{"1", "2"}, false}, Case{{"0", "1", "2"}, false},
                          Case{{"0", "2"}, false}}) {
        RpmOwnedTree owned;
        const AppTree &tree = owned.tree;
        const std::string &packagedLib = owned.packagedLib;
        auto env = owned.env;
        env["RT_EXIT"] = "5";
        Strings prefix{EXEC_WITH};
        std::string label;
        for (const std::string &fd : c.closed) {
            prefix.insert(prefix.end(), {"--close", fd});
            label += fd + " ";
        }
        LaunchResult run = runLauncherUnder(prefix, tree, {"--x"}, env);
        EXPECT_EQ(run.exitCode, 5) << "closed " << label << run.stderrText;
        EXPECT_EQ(recordedValue(tree, "aux", "library"), packagedLib) << "closed " << label;
        EXPECT_TRUE(contains(readRecords(tree, "runtime"), "arg=--x")) << "closed " << label;
        if (c.traceVisible) {
            Strings child = messagesOf(debugLines(run.stderrText), run.pid, true);
            EXPECT_TRUE(contains(child, "owner pkg: (myapp|1)")) << "closed " << label;
        }
    }
}

}  // namespace
