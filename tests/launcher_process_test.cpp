// The launcher as a real process: hand-off between its two processes, the
// auxiliary library's interface, the runtime entry and the debug trace.
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "launch_harness.h"

using Strings = std::vector<std::string>;

namespace {

std::string fallbackProbe(const std::string &exe) {
    return "rpm --queryformat '%{NAME}' -qf '" + exe + "' 2>/dev/null";
}

TEST(LauncherHandOff, RuntimeGetsTheRecordArgumentsWhileTheLibraryGetsTheLauncherArgv) {
    AppTree tree;
    std::string argv0 = launcherIsWrapped() ? tree.exe : "app-name";
    LaunchResult run =
        runLauncher(tree, {"--verbose", "two words", ""}, baseEnvironment(tree), argv0);
    ASSERT_EQ(run.exitCode, 0) << run.stderrText;
    EXPECT_EQ(withPrefix(readRecords(tree, "aux"), "arg"),
              (Strings{"argc=4", "argv=" + argv0, "argv=--verbose", "argv=two words", "argv="}));
    EXPECT_TRUE(contains(readRecords(tree, "aux"), "release"));
    Strings runtime = readRecords(tree, "runtime");
    EXPECT_EQ(withPrefix(runtime, "arg"),
              (Strings{"argc=4", "arg=--from-record", "arg=--verbose", "arg=two words", "arg="}));
    EXPECT_TRUE(contains(runtime, "words=0 0 0 0 0 0 0 0"));
    EXPECT_TRUE(contains(runtime, "texts=[] [] same=1 [ruvo] [ruvo] same=1"));
}

TEST(LauncherHandOff, OnlyTheChildLoadsTheAuxiliaryLibraryAndNoDescriptorIsLeftOpen) {
    AppTree tree;
    ASSERT_EQ(runLauncher(tree, {}, baseEnvironment(tree)).exitCode, 0);
    Strings runtime = readRecords(tree, "runtime");
    EXPECT_TRUE(contains(runtime, "aux-mapped=0"));
    if (launcherIsWrapped()) {
        return;  // valgrind's own descriptors show; it checks them itself
    }
    EXPECT_TRUE(contains(runtime, "fds= 0 1 2"));
    // The child holds the standard descriptors and the pipe's write end.
    Strings childFds = withPrefix(readRecords(tree, "aux"), "fds=");
    ASSERT_EQ(childFds.size(), 1u);
    EXPECT_EQ(childFds[0], "fds= 0 1 2 4");
}

TEST(LauncherHandOff, ExitStatusIsTheEntryResultKeptToItsLowEightBits) {
    AppTree tree;
    for (auto [result, status] : {std::pair{0, 0}, {7, 7}, {300, 44}, {-1, 255}, {256, 0}}) {
        auto env = baseEnvironment(tree);
        env["RT_EXIT"] = std::to_string(result);
        EXPECT_EQ(runLauncher(tree, {}, env).exitCode, status) << "entry result " << result;
    }
}

TEST(LauncherHandOff, RecordVariablesAreSetAndOverrideInheritedOnes) {
    AppTree tree;
    auto env = baseEnvironment(tree);
    env["AUX_ENV"] = "NEW_VAR=fresh value\nOVERRIDE_ME=new";
    env["OVERRIDE_ME"] = "old";
    env["KEPT"] = "kept";
    env["RT_RECORD_ENV"] = "NEW_VAR,OVERRIDE_ME,KEPT";
    LaunchResult run = runLauncher(tree, {}, env);
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(withPrefix(readRecords(tree, "runtime"), "env:"),
              (Strings{"env:NEW_VAR=fresh value", "env:OVERRIDE_ME=new", "env:KEPT=kept"}));
    Strings parent = messagesOf(debugLines(run.stderrText), run.pid);
    EXPECT_EQ(withPrefix(parent, "env var"),
              (Strings{"env var[0]: NEW_VAR=[fresh value]", "env var[1]: OVERRIDE_ME=[new]"}));
}

TEST(LauncherHandOff, RejectedVariableIsLoggedAndTheRestAreStillSet) {
    AppTree tree;
    auto env = baseEnvironment(tree);
    env["AUX_MODE"] = "bad-env-name";
    env["RT_RECORD_ENV"] = "AUX_FIRST,AUX_SECOND,AUX_FOURTH";
    LaunchResult run = runLauncher(tree, {}, env);
    ASSERT_EQ(run.exitCode, 0);
    Strings parent = messagesOf(debugLines(run.stderrText), run.pid);
    EXPECT_EQ(withPrefix(parent, "env var[2]"), Strings{"env var[2]: =[3]"});
    EXPECT_EQ(parent.back(), "setenv(2) failed");
    EXPECT_EQ(withPrefix(readRecords(tree, "runtime"), "env:"),
              (Strings{"env:AUX_FIRST=1", "env:AUX_SECOND=2", "env:AUX_FOURTH=4"}));
}

TEST(LauncherHandOff, EmptyRecordLogsOnlyTheLibraryAndCallsTheEntryWithNoArguments) {
    AppTree tree;
    auto env = baseEnvironment(tree);
    env["AUX_MODE"] = "empty";
    LaunchResult run = runLauncher(tree, {"ignored"}, env);
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(messagesOf(debugLines(run.stderrText), run.pid),
              Strings{"hux lib: [" + std::string(RUNTIME_LIBRARY) + "]"});
    EXPECT_EQ(withPrefix(readRecords(tree, "runtime"), "arg"), Strings{"argc=0"});
}

TEST(LauncherHandOff, RecordLargerThanThePipeArrivesWhole) {
    AppTree tree;
    auto env = baseEnvironment(tree);
    env["AUX_MODE"] = "large";
    env.erase("SORVANTA_DEBUG");
    LaunchResult run = runLauncher(tree, {}, env);
    ASSERT_EQ(run.exitCode, 0);
    Strings args = withPrefix(readRecords(tree, "runtime"), "arg=");
    ASSERT_EQ(args.size(), 200u);
    for (size_t i = 0; i < args.size(); i++) {
        ASSERT_EQ(args[i], "arg=" + std::string(1024, (char)('a' + i % 26))) << i;
    }
}

TEST(DebugTrace, BothProcessesWriteTheExactLinesUnderTheirOwnIds) {
    AppTree tree;
    LaunchResult run = runLauncher(tree, {"-x"}, baseEnvironment(tree));
    ASSERT_EQ(run.exitCode, 0);
    std::vector<DebugLine> lines = debugLines(run.stderrText);
    ASSERT_FALSE(lines.empty());
    pid_t child = lines.front().pid;
    EXPECT_NE(child, run.pid);
    EXPECT_GT(child, 0);
    EXPECT_EQ(messagesOf(lines, child), (Strings{
                                            "popen: (" + fallbackProbe(tree.exe) + ")",
                                            "popen: exit: 32512",
                                            "popen: (dpkg -S '" + tree.exe + "' 2>/dev/null)",
                                            "popen: exit: 32512",
                                        }));
    EXPECT_EQ(messagesOf(lines, run.pid), (Strings{
                                              "hux lib: [" + std::string(RUNTIME_LIBRARY) + "]",
                                              "hux arg[0]: [--from-record]",
                                              "hux arg[1]: [-x]",
                                          }));
    EXPECT_EQ(lines.size(), 7u) << "only lines of the launcher's two processes";
}

TEST(DebugTrace, OnlyTheExactValueTrueTurnsItOn) {
    AppTree tree;
    for (const char *value : {"TRUE", "1", "true ", " true", "", "yes"}) {
        auto env = baseEnvironment(tree);
        env["SORVANTA_DEBUG"] = value;
        LaunchResult run = runLauncher(tree, {}, env);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.stderrText, "") << "SORVANTA_DEBUG=[" << value << "]";
    }
    auto env = baseEnvironment(tree);
    env.erase("SORVANTA_DEBUG");
    EXPECT_EQ(runLauncher(tree, {}, env).stderrText, "");
}

TEST(DebugTrace, LoaderErrorWithConversionsIsPrintedLiterally) {
    AppTree tree("app%s%n%d", false);
    LaunchResult run = runLauncher(tree, {}, baseEnvironment(tree));
    EXPECT_EQ(run.exitCode, 1);
    std::vector<DebugLine> lines = debugLines(run.stderrText);
    Strings child = messagesOf(lines, run.pid, true);
    ASSERT_FALSE(child.empty());
    EXPECT_EQ(child.back(), tree.libPath + ": cannot open shared object file: No such file or directory");
}

// Every way the auxiliary library can fail to deliver a record: the child
// sends nothing and the parent ends with status 1 after one line of its own.
TEST(AuxiliaryLibraryFailures, EachEndsInStatusOneWithoutStartingTheRuntime) {
    struct Case {
        std::string mode;
        std::string library;     // installed as libapplauncher.so; empty: none
        std::string childLine;   // the child's last line, "" when it adds none
        bool released;
    };
    const std::string noFile = "<missing>";
    std::vector<Case> cases = {
        {"table-null", AUX_LIBRARY, "Failed to get KivlLauncherAPI instance", false},
        {"table-entry-null", AUX_LIBRARY, "KivlLauncherAPI table has a null entry", false},
        {"handle-null", AUX_LIBRARY, "", false},
        {"size-zero", AUX_LIBRARY, "", true},
        {"size-negative", AUX_LIBRARY, "", true},
        {"fill-null", AUX_LIBRARY, "", true},
        {"fill-foreign", AUX_LIBRARY, "fillData returned a pointer outside its buffer", true},
        {"", AUX_NO_CREATE_LIBRARY, "undefined symbol: kivLauncherCreate", false},
        {"", NO_EXPORTS_LIBRARY, "undefined symbol: kivLauncherGetAPI", false},
        {"", noFile, "cannot open shared object file", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode + " " + c.library);
        AppTree tree("app", c.library != noFile);
        if (c.library != noFile) {
            tree.installLibrary(c.library, tree.libPath);
        }
        auto env = baseEnvironment(tree);
        env["AUX_MODE"] = c.mode;
        LaunchResult run = runLauncher(tree, {}, env);
        EXPECT_EQ(run.exitCode, 1);
        std::vector<DebugLine> lines = debugLines(run.stderrText);
        EXPECT_EQ(messagesOf(lines, run.pid), Strings{"pipe: end of file after 0 of 4 bytes"});
        Strings child = messagesOf(lines, run.pid, true);
        ASSERT_FALSE(child.empty());
        if (c.childLine.empty()) {
            EXPECT_EQ(child.back(), "popen: exit: 32512");
        } else {
            EXPECT_NE(child.back().find(c.childLine), std::string::npos) << child.back();
        }
        EXPECT_EQ(contains(readRecords(tree, "aux"), "release"), c.released);
        EXPECT_TRUE(readRecords(tree, "runtime").empty());
    }
}

TEST(RuntimeLibraryFailures, UnloadableLibraryOrMissingOrDataEntryEndsInStatusOne) {
    for (auto [library, text] : {std::pair<std::string, std::string>{"/nonexistent/librt.so",
                                                                     "/nonexistent/librt.so"},
                                 {NO_EXPORTS_LIBRARY, "undefined symbol: HUX_Launch"},
                                 {DATA_ENTRY_LIBRARY, "HUX_Launch is not a function"}}) {
        AppTree tree;
        auto env = baseEnvironment(tree);
        env["AUX_RUNTIME"] = library;
        LaunchResult run = runLauncher(tree, {}, env);
        EXPECT_EQ(run.exitCode, 1);
        Strings parent = messagesOf(debugLines(run.stderrText), run.pid);
        ASSERT_EQ(parent.size(), 1u) << run.stderrText;
        EXPECT_NE(parent[0].find(text), std::string::npos) << parent[0];
    }
}

// Blocks that break the record's rules are refused before the parent reads
// through any of their pointers.
TEST(ReceivedRecordChecks, MalformedBlocksEndInStatusOneWithOneLine) {
    for (auto [mode, reason] : {std::pair<std::string, std::string>{"small-block",
                                                                    "block smaller than the record"},
                                {"count-negative", "negative count"},
                                {"arg-outside", "string outside the block or not terminated inside it"},
                                {"unterminated", "string outside the block or not terminated inside it"}}) {
        AppTree tree;
        auto env = baseEnvironment(tree);
        env["AUX_MODE"] = mode;
        LaunchResult run = runLauncher(tree, {"arg"}, env);
        EXPECT_EQ(run.exitCode, 1) << mode;
        EXPECT_EQ(messagesOf(debugLines(run.stderrText), run.pid),
                  Strings{"rejected record: " + reason});
        EXPECT_TRUE(readRecords(tree, "runtime").empty()) << mode;
    }
}

// The child writes part of a frame, closes its end and lives on for two
// seconds: the parent must end at once, without waiting for it.
TEST(ReceivedRecordChecks, FrameCutShortEndsInStatusOneWithoutWaitingForTheChild) {
    for (auto [mode, line] : {std::pair<std::string, std::string>{"cut-after-size",
                                                                  "pipe: end of file after 0 of 8 bytes"},
                              {"cut-after-address", "pipe: end of file after 0 of 64 bytes"}}) {
        AppTree tree;
        auto env = baseEnvironment(tree);
        env["AUX_MODE"] = mode;
        LaunchResult run = runLauncher(tree, {}, env);
        EXPECT_EQ(run.exitCode, 1) << mode;
        EXPECT_EQ(messagesOf(debugLines(run.stderrText), run.pid), Strings{line});
        EXPECT_TRUE(readRecords(tree, "cut-child").empty()) << "the parent waited for the child";
        for (int i = 0; i < 100 && readRecords(tree, "cut-child").empty(); i++) {
            usleep(100 * 1000);
        }
    }
}

}  // namespace
