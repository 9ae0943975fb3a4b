// A catalogue of hostile inputs: executable paths, package names, package
// manager output and records that a careless launcher would crash on, hang
// on, or hand to the shell. Each ends as the launcher's rules say.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "launch_harness.h"

using Strings = std::vector<std::string>;

namespace {

// No file INJECTED<n> appeared anywhere in the tree, where the launcher
// runs (the directories named after the payloads aside).
bool nothingInjected(const std::string &root) {
    for (const auto &entry : std::filesystem::recursive_directory_iterator(root)) {
        std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name.rfind("INJECTED", 0) == 0 && name.size() == 9) {
            return false;
        }
    }
    return true;
}

// A tree named `appName` with substitute rpm and dpkg and a packaged copy
// of the auxiliary library outside the fallback place.
struct Hostile {
    AppTree tree;
    std::string packagedLib = tree.root + "/pkg/libapplauncher.so";
    std::map<std::string, std::string> env = baseEnvironment(tree);

    explicit Hostile(const std::string &appName = "app") : tree(appName) {
        tree.installLibrary(AUX_LIBRARY, packagedLib);
        tree.installCommand("rpm");
        tree.installCommand("dpkg");
    }

    void ownedByRpm(const std::string &package) {
        env["FAKE_RPM_QUERY_STATUS"] = "0";
        env["FAKE_RPM_QUERY_OUT"] = package;
        env["FAKE_RPM_LIST_STATUS"] = "0";
        env["FAKE_RPM_LIST_OUT"] = packagedLib + "\n";
    }

    // Writes `bytes` to a file and makes it the output of `query`.
    void answerWithFile(const std::string &query, const std::string &bytes) {
        std::string path = tree.root + "/" + query + ".out";
        std::ofstream(path, std::ios::binary) << bytes;
        env["FAKE_" + query + "_FILE"] = path;
    }

    LaunchResult run() {
        std::filesystem::remove_all(tree.records);
        std::filesystem::create_directories(tree.records);
        return runLauncher(tree, {"--x"}, env);
    }
    std::string loaded() const { return recordedValue(tree, "aux", "library"); }
};

TEST(HostileInput, ShellAndGlobCharactersInTheExecutablePathStayOneWordOnBothRoads) {
    for (const std::string name :
         {"a*b?c[d]", "$(touch INJECTED1)", "`touch INJECTED2`", "x;touch INJECTED3",
          "x|touch INJECTED4", "x&touch INJECTED5", "it's \"q\"", "two  words", "new\nline",
          "\xff\xfe\x80 not utf-8", "-rf", "~root", "x\\'y", "${HOME}"}) {
        for (bool owned : {false, true}) {
            Hostile h(name);
            // A file that the glob would match if the shell expanded it.
            std::ofstream(h.tree.root + "/" + "aXbYcd");
            if (owned) {
                h.ownedByRpm("myapp");
            }
            LaunchResult run = h.run();
            EXPECT_EQ(run.exitCode, 0) << name << run.stderrText;
            EXPECT_EQ(h.loaded(), owned ? h.packagedLib : h.tree.libPath) << name;
            auto commands = readCommands(h.tree);
            ASSERT_FALSE(commands.empty()) << name;
            EXPECT_EQ(commands[0], (Strings{"rpm", "--queryformat", "%{NAME}", "-qf", h.tree.exe}))
                << name;
            EXPECT_TRUE(nothingInjected(h.tree.root)) << name;
        }
    }
}

TEST(HostileInput, ControlCharactersInLoggedValuesCannotEndTheirLineOrForgeAnother) {
    // A newline in the executable's path, the command line and a variable,
    // and a carriage return and an escape sequence in the package manager's
    // answer: each becomes '?' in the trace, a tab and every other byte
    // stay, and what the commands and the runtime receive is untouched.
    Hostile h("app\n[1]: popen: forged");
    std::string package = "pkg\x1b[2Kname\r";
    h.ownedByRpm(package);
    h.env["AUX_ENV"] = "KEPT=tab\there \xc3\xa9\nFORGED=x\r[1]: env var[9]: y\x7f";
    std::string forged = "Eve]\n[1]: rejected record: forged";
    LaunchResult run = runLauncher(h.tree, {forged, "plain \xc3\xa9"}, h.env);
    ASSERT_EQ(run.exitCode, 0) << run.stderrText;
    std::vector<DebugLine> lines = debugLines(run.stderrText);
    pid_t child = messagesOf(lines, run.pid, true).empty() ? 0 : lines.front().pid;
    for (const DebugLine &line : lines) {
        EXPECT_TRUE(line.pid == run.pid || line.pid == child)
            << "[" << line.pid << "]: " << line.message;
    }
    EXPECT_EQ(run.stderrText.find_first_of("\r\x1b\x7f"), std::string::npos);
    std::string exe = h.tree.root + "/app?[1]: popen: forged/bin/applauncher";
    Strings childLines = messagesOf(lines, child);
    EXPECT_TRUE(contains(childLines, "popen: (rpm --queryformat '%{NAME}' -qf '" + exe +
                                         "' 2>/dev/null)"))
        << run.stderrText;
    EXPECT_TRUE(contains(childLines, "popen: [pkg?[2Kname?]")) << run.stderrText;
    EXPECT_TRUE(contains(childLines, "owner pkg: (pkg?[2Kname?|1)")) << run.stderrText;
    Strings parentLines = messagesOf(lines, run.pid);
    EXPECT_TRUE(contains(parentLines, "hux arg[1]: [Eve]?[1]: rejected record: forged]"))
        << run.stderrText;
    EXPECT_TRUE(contains(parentLines, "hux arg[2]: [plain \xc3\xa9]")) << run.stderrText;
    EXPECT_TRUE(contains(parentLines, "env var[0]: KEPT=[tab\there \xc3\xa9]")) << run.stderrText;
    EXPECT_TRUE(contains(parentLines, "env var[1]: FORGED=[x?[1]: env var[9]: y?]"))
        << run.stderrText;
    auto commands = readCommands(h.tree);
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].back(), h.tree.exe);
    EXPECT_EQ(commands[1], (Strings{"rpm", "-ql", package}));
    EXPECT_EQ(h.loaded(), h.packagedLib);
    EXPECT_TRUE(contains(readRecords(h.tree, "runtime"), "arg=" + forged));
}

TEST(HostileInput, ALongTracedValueStaysEscapedWhenItsLineCannotBeAllocated) {
    // Each allocation of the launcher's own process fails in turn. The one
    // for the long argument's trace line sends the line out cut at the
    // stack buffer, escaped all the same, followed by the failure.
    AppTree tree;
    std::filesystem::copy_file(ALLOC_FAILURE_LAUNCHER, tree.exe,
                               std::filesystem::copy_options::overwrite_existing);
    std::string value = "Eve]\n[1]: rejected record: forged" + std::string(2000, 'y');
    std::string traced =
        "hux arg[1]: [Eve]?[1]: rejected record: forged" + std::string(2000, 'y') + "]";
    std::string reports = tree.root + "/reports";
    int cut = 0;
    for (long n = 1;; n++) {
        std::filesystem::remove_all(reports);
        std::filesystem::create_directories(reports);
        auto env = baseEnvironment(tree);
        env["ALLOC_FAIL_IN"] = "parent";
        env["ALLOC_FAIL_AT"] = std::to_string(n);
        env["ALLOC_REPORT_DIR"] = reports;
        LaunchResult run = runLauncherUnder({"/usr/bin/timeout", "20"}, tree, {value}, env);
        long failed = -1;
        sscanf(readFile(reports + "/parent").c_str(), "calls=%*d failed=%ld", &failed);
        ASSERT_GE(failed, 0) << "allocation " << n << run.stderrText;
        if (failed == 0) {
            break;
        }
        std::vector<DebugLine> lines = debugLines(run.stderrText);
        for (size_t i = 0; i < lines.size(); i++) {
            EXPECT_GT(lines[i].pid, 1) << "allocation " << n << ": " << lines[i].message;
            const std::string &message = lines[i].message;
            if (message.rfind("hux arg[1]: ", 0) == 0 && message != traced) {
                EXPECT_EQ(traced.rfind(message, 0), 0u) << "allocation " << n << ": " << message;
                ASSERT_LT(i + 1, lines.size());
                EXPECT_EQ(lines[i + 1].message, "Cannot allocate memory");
                cut++;
            }
        }
    }
    EXPECT_EQ(cut, 1) << "the log's own line failed to allocate once";
}

TEST(HostileInput, HostilePackageNamesReachTheListingAsOneArgument) {
    for (const std::string package :
         {"-rf", "--eval=%(touch INJECTED6)", "my app", "$(touch INJECTED7)", "p'q", "*",
          "\xff\xfe", "a;b|c&d"}) {
        Hostile h;
        h.ownedByRpm(package);
        LaunchResult run = h.run();
        EXPECT_EQ(run.exitCode, 0) << package << run.stderrText;
        auto commands = readCommands(h.tree);
        ASSERT_EQ(commands.size(), 2u) << package;
        EXPECT_EQ(commands[1], (Strings{"rpm", "-ql", package})) << package;
        EXPECT_TRUE(nothingInjected(h.tree.root)) << package;
    }
}

TEST(HostileInput, LongExecutablePathsWorkAndOnesPastTheLimitFailCleanly) {
    // Components of 200 bytes; the tree's own prefix adds about 40 more.
    auto deepName = [](size_t total) {
        std::string name;
        while (name.size() + 201 < total) {
            name += std::string(200, 'd') + "/";
        }
        return name + std::string(total - name.size(), 'e');
    };
    Hostile near(deepName(4000));
    ASSERT_GE(near.tree.exe.size(), 4000u);
    ASSERT_LT(near.tree.exe.size(), 4096u);
    near.ownedByRpm("myapp");
    LaunchResult owned = near.run();
    EXPECT_EQ(owned.exitCode, 0) << owned.stderrText.substr(0, 2000);
    EXPECT_EQ(near.loaded(), near.packagedLib);
    near.env.erase("FAKE_RPM_QUERY_STATUS");
    LaunchResult fallback = near.run();
    EXPECT_EQ(fallback.exitCode, 0);
    EXPECT_EQ(near.loaded(), near.tree.libPath);

    // Past 4095 bytes the path cannot be read: no library, status 1 and no
    // runtime.
    // The application directory is moved below a deep chain by descriptor,
    // since no call takes the whole path, and started one directory at a
    // time; it is moved back before the tree is removed.
    Hostile far;
    std::string chain = deepName(4400);
    chain.resize(chain.rfind('/'));
    ASSERT_GT((far.tree.root + "/" + chain + "/app/bin/applauncher").size(), 4200u);
    std::filesystem::create_directories(far.tree.root + "/" + chain.substr(0, 3000));
    int rootFd = open(far.tree.root.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(rootFd, 0);
    int deepFd = dup(rootFd);
    for (size_t start = 0; start < chain.size();) {
        size_t end = chain.find('/', start);
        end = end == std::string::npos ? chain.size() : end;
        std::string part = chain.substr(start, end - start);
        mkdirat(deepFd, part.c_str(), 0755);
        int next = openat(deepFd, part.c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(next, 0);
        close(deepFd);
        deepFd = next;
        start = end + 1;
    }
    ASSERT_EQ(renameat(rootFd, "app", deepFd, "app"), 0);
    Strings start{EXEC_WITH, "--cd", chain + "/app/bin"};
    Strings launcher = launcherCommand("./applauncher");
    start.insert(start.end(), launcher.begin(), launcher.end());
    LaunchResult cut = runCommand(far.tree, start, far.env);
    EXPECT_EQ(renameat(deepFd, "app", rootFd, "app"), 0);
    close(deepFd);
    close(rootFd);
    EXPECT_EQ(cut.exitCode, 1) << cut.stderrText.substr(0, 3000);
    // The kernel does not resolve /proc/self/exe for a path that long.
    // (A sanitizer build's runtime adds a warning of its own about it.)
    Strings child = messagesOf(debugLines(cut.stderrText), cut.pid, true);
    child.erase(std::remove_if(child.begin(), child.end(),
                               [](const std::string &m) { return m.rfind("==", 0) == 0; }),
                child.end());
    EXPECT_EQ(child, Strings{"File name too long"});
    EXPECT_TRUE(readRecords(far.tree, "runtime").empty());
    std::filesystem::remove_all(far.tree.root + "/" + chain.substr(0, chain.find('/')));
}

TEST(HostileInput, PackageManagerOutputWithNulBytesEndsTheTextWhereCReadsIt) {
    Hostile h;
    h.env["FAKE_RPM_QUERY_STATUS"] = "0";
    h.answerWithFile("RPM_QUERY", std::string("myapp\0$(touch INJECTED8)", 25));
    h.env["FAKE_RPM_LIST_STATUS"] = "0";
    h.answerWithFile("RPM_LIST", std::string("/x\0/libapplauncher.so\n", 22) + h.packagedLib +
                                     std::string("\0trailing\n", 10));
    LaunchResult run = h.run();
    EXPECT_EQ(run.exitCode, 0) << run.stderrText;
    EXPECT_EQ(h.loaded(), h.packagedLib);
    auto commands = readCommands(h.tree);
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[1], (Strings{"rpm", "-ql", "myapp"}));
    EXPECT_TRUE(nothingInjected(h.tree.root));
}

TEST(HostileInput, HugeAndEndlessPackageManagerOutputIsReadToTheEnd) {
    // A 10 MB listing line without a newline before the library's line.
    Hostile longLine;
    longLine.ownedByRpm("myapp");
    longLine.answerWithFile("RPM_LIST",
                            std::string(10u << 20, 'x') + "\n" + longLine.packagedLib);
    longLine.env["SORVANTA_DEBUG"] = "false";
    EXPECT_EQ(longLine.run().exitCode, 0);
    EXPECT_EQ(longLine.loaded(), longLine.packagedLib);

    // A 10 MB package name: the listing command is too long for the shell
    // to be started with, which ends in no library and status 1.
    Hostile longName;
    longName.env["FAKE_RPM_QUERY_STATUS"] = "0";
    longName.answerWithFile("RPM_QUERY", std::string(10u << 20, 'n'));
    longName.env["SORVANTA_DEBUG"] = "false";
    EXPECT_EQ(longName.run().exitCode, 1);
    EXPECT_TRUE(readRecords(longName.tree, "runtime").empty());

    // A million lines, the library's last; with the trace on.
    Hostile manyLines;
    manyLines.ownedByRpm("myapp");
    std::string listing;
    for (int i = 0; i < 1000000; i++) {
        listing += "/opt/app/share/file" + std::to_string(i) + "\n";
    }
    manyLines.answerWithFile("RPM_LIST", listing + manyLines.packagedLib + "\n");
    LaunchResult many = manyLines.run();
    EXPECT_EQ(many.exitCode, 0);
    EXPECT_EQ(manyLines.loaded(), manyLines.packagedLib);
    auto messages = messagesOf(debugLines(many.stderrText), many.pid, true);
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                            [](const std::string &m) {
                                return m.rfind("popen: [/opt/app/share/file", 0) == 0;
                            }),
              1000000);

    // Only newlines: no line, so no owner, and the fallback is taken.
    Hostile newlines;
    newlines.env["FAKE_RPM_QUERY_STATUS"] = "0";
    newlines.answerWithFile("RPM_QUERY", std::string(100000, '\n'));
    EXPECT_EQ(newlines.run().exitCode, 0);
    EXPECT_EQ(newlines.loaded(), newlines.tree.libPath);
}

TEST(HostileInput, RecordsWithAHundredThousandArgumentsAndEmptyStringsArriveWhole) {
    AppTree tree;
    auto env = baseEnvironment(tree);
    env["AUX_MODE"] = "many-args";
    env["RT_SKIP_ARG_RECORDS"] = "1";
    LaunchResult run = runLauncher(tree, {}, env);
    ASSERT_EQ(run.exitCode, 0) << run.stderrText.substr(0, 2000);
    EXPECT_EQ(recordedValue(tree, "runtime", "argc"), "100000");
    EXPECT_EQ(recordedValue(tree, "runtime", "hash"), recordedValue(tree, "aux", "hash"));
    auto messages = messagesOf(debugLines(run.stderrText), run.pid);
    EXPECT_TRUE(contains(messages, "hux arg[99998]: [a99998]"));
    EXPECT_TRUE(contains(messages, "hux arg[99999]: []"));
    EXPECT_TRUE(contains(messages, "hux arg[3]: []"));
}

}  // namespace
