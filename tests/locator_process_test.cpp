// Where the launcher finds the auxiliary library, decided by what substitute
// rpm and dpkg commands answer, and how its commands reach the shell.

#include <filesystem>

#include <gtest/gtest.h>

#include "launch_harness.h"

using Strings = std::vector<std::string>;
using Commands = std::vector<Strings>;

namespace {

// A tree with both substitute commands installed and a second copy of the
// auxiliary library outside the fallback location, for packages to list.
struct PackagedTree {
    AppTree tree;
    std::string packagedLib;
    std::map<std::string, std::string> env;

    explicit PackagedTree(const std::string &appName = "app")
        : tree(appName), packagedLib(tree.root + "/pkg/lib/libapplauncher.so"),
          env(baseEnvironment(tree)) {
        tree.installLibrary(AUX_LIBRARY, packagedLib);
        tree.installCommand("rpm");
        tree.installCommand("dpkg");
    }
};

// The path of the auxiliary library the child loaded, "" when none; checks
// that the runtime was started exactly when one was.
std::string loadedLibrary(const AppTree &tree, const LaunchResult &run) {
    std::string loaded;
    for (const std::string &entry : readRecords(tree, "aux")) {
        if (entry.rfind("library=", 0) == 0) {
            loaded = entry.substr(8);
        }
    }
    EXPECT_EQ(run.exitCode, loaded.empty() ? 1 : 0) << run.stderrText;
    EXPECT_EQ(readRecords(tree, "runtime").empty(), loaded.empty());
    return loaded;
}

std::string loadedLibrary(PackagedTree &p) {
    return loadedLibrary(p.tree, runLauncher(p.tree, {}, p.env));
}

Strings rpmQuery(const std::string &exe) {
    return {"rpm", "--queryformat", "%{NAME}", "-qf", exe};
}

Strings dpkgSearch(const std::string &exe) {
    return {"dpkg", "-S", exe};
}

TEST(LibraryLocation, RpmOwnerListingTheLibraryGivesTheFirstListedPath) {
    PackagedTree p;
    p.env["FAKE_RPM_QUERY_STATUS"] = "0";
    p.env["FAKE_RPM_QUERY_OUT"] = "myapp";
    p.env["FAKE_RPM_LIST_STATUS"] = "0";
    p.env["FAKE_RPM_LIST_OUT"] = "/opt/x/bin/app\n\n/x/libapplauncher.so.1\n" + p.packagedLib +
                                 "\n/elsewhere/libapplauncher.so\n";
    LaunchResult run = runLauncher(p.tree, {}, p.env);
    EXPECT_EQ(loadedLibrary(p.tree, run), p.packagedLib);
    EXPECT_EQ(readCommands(p.tree), (Commands{rpmQuery(p.tree.exe), {"rpm", "-ql", "myapp"}}));
    EXPECT_EQ(messagesOf(debugLines(run.stderrText), run.pid, true),
              (Strings{
                  "popen: (rpm --queryformat '%{NAME}' -qf '" + p.tree.exe + "' 2>/dev/null)",
                  "popen: [myapp]",
                  "popen: exit: 0",
                  "owner pkg: (myapp|1)",
                  "popen: (rpm -ql 'myapp' 2>/dev/null)",
                  "popen: [/opt/x/bin/app]",
                  "popen: [/x/libapplauncher.so.1]",
                  "popen: [" + p.packagedLib + "]",
                  "popen: exit: 0",
              }));
}

TEST(LibraryLocation, DebOwnerIsTheNameBeforeTheFirstColonAndListsWithDpkg) {
    PackagedTree p;
    p.env["FAKE_RPM_QUERY_OUT"] = "file " + p.tree.exe + " is not owned by any package\n";
    p.env["FAKE_DPKG_SEARCH_STATUS"] = "0";
    p.env["FAKE_DPKG_SEARCH_OUT"] = "myapp:amd64: " + p.tree.exe + "\nother: line\n";
    p.env["FAKE_DPKG_LIST_STATUS"] = "0";
    p.env["FAKE_DPKG_LIST_OUT"] = "/.\n/opt\n" + p.packagedLib + "\n";
    LaunchResult run = runLauncher(p.tree, {}, p.env);
    EXPECT_EQ(loadedLibrary(p.tree, run), p.packagedLib);
    EXPECT_EQ(readCommands(p.tree),
              (Commands{rpmQuery(p.tree.exe), dpkgSearch(p.tree.exe), {"dpkg", "-L", "myapp"}}));
    Strings child = messagesOf(debugLines(run.stderrText), run.pid, true);
    EXPECT_TRUE(contains(child, "popen: exit: 256"));
    EXPECT_TRUE(contains(child, "owner pkg: (myapp|2)"));
    EXPECT_FALSE(contains(child, "popen: [other: line]")) << "delivery stops after the first line";
}

// Rows of the decision table in which an owner is known but no library
// comes of it: no fallback follows, the launcher ends in status 1.
TEST(LibraryLocation, OwnerWithoutAUsableListingGivesNoLibraryAndNoFallback) {
    const std::string listed = "<packaged library>";
    std::vector<std::pair<std::string, std::map<std::string, std::string>>> cases = {
        {"rpm listing without the library",
         {{"FAKE_RPM_QUERY_STATUS", "0"}, {"FAKE_RPM_QUERY_OUT", "myapp"},
          {"FAKE_RPM_LIST_STATUS", "0"}, {"FAKE_RPM_LIST_OUT", "/opt/a\nlibapplauncher.so\n"}}},
        {"rpm listing that fails",
         {{"FAKE_RPM_QUERY_STATUS", "0"}, {"FAKE_RPM_QUERY_OUT", "myapp"},
          {"FAKE_RPM_LIST_STATUS", "1"}, {"FAKE_RPM_LIST_OUT", listed}}},
        {"dpkg listing without the library",
         {{"FAKE_DPKG_SEARCH_STATUS", "0"}, {"FAKE_DPKG_SEARCH_OUT", "myapp: /x"},
          {"FAKE_DPKG_LIST_STATUS", "0"}, {"FAKE_DPKG_LIST_OUT", "/x/libapplauncher.so.2"}}},
        {"dpkg listing that fails",
         {{"FAKE_DPKG_SEARCH_STATUS", "0"}, {"FAKE_DPKG_SEARCH_OUT", "myapp: /x"},
          {"FAKE_DPKG_LIST_STATUS", "2"}, {"FAKE_DPKG_LIST_OUT", listed}}},
    };
    for (auto &[name, answers] : cases) {
        SCOPED_TRACE(name);
        PackagedTree p;
        for (auto &[variable, value] : answers) {
            p.env[variable] = value == listed ? p.packagedLib : value;
        }
        EXPECT_EQ(loadedLibrary(p), "");
        Commands commands = readCommands(p.tree);
        ASSERT_FALSE(commands.empty());
        EXPECT_EQ(commands.back()[1], commands.back()[0] == "rpm" ? "-ql" : "-L");
    }
}

// Rows in which no owner is known: the library beside the executable's
// directory is used, and exactly the table's commands ran.
TEST(LibraryLocation, NoOwnerFallsBackToTheLibBesideTheExecutableDirectory) {
    struct Case {
        std::string name;
        std::map<std::string, std::string> answers;
        size_t commandsRun;
    };
    std::vector<Case> cases = {
        {"rpm succeeds without a line", {{"FAKE_RPM_QUERY_STATUS", "0"}}, 1},
        {"dpkg succeeds without a line",
         {{"FAKE_RPM_QUERY_OUT", "junk"}, {"FAKE_DPKG_SEARCH_STATUS", "0"}}, 2},
        {"both fail",
         {{"FAKE_RPM_QUERY_OUT", "not owned"}, {"FAKE_DPKG_SEARCH_OUT", "dpkg-query: no path"}}, 2},
        {"dpkg names a package but fails", {{"FAKE_DPKG_SEARCH_OUT", "myapp: /x"}}, 2},
    };
    for (Case &c : cases) {
        SCOPED_TRACE(c.name);
        PackagedTree p;
        p.env.insert(c.answers.begin(), c.answers.end());
        EXPECT_EQ(loadedLibrary(p), p.tree.libPath);
        Commands commands = readCommands(p.tree);
        ASSERT_EQ(commands.size(), c.commandsRun);
        EXPECT_EQ(commands[0], rpmQuery(p.tree.exe));
        if (c.commandsRun == 2) {
            EXPECT_EQ(commands[1], dpkgSearch(p.tree.exe));
        }
    }
}

TEST(LibraryLocation, WithoutPackageManagersTheFallbackIsUsed) {
    AppTree tree;
    EXPECT_EQ(loadedLibrary(tree, runLauncher(tree, {}, baseEnvironment(tree))), tree.libPath);
}

TEST(LibraryLocation, DebLineStartingWithAColonListsAnEmptyPackageName) {
    PackagedTree p;
    p.env["FAKE_DPKG_SEARCH_STATUS"] = "0";
    p.env["FAKE_DPKG_SEARCH_OUT"] = ": " + p.tree.exe;
    p.env["FAKE_DPKG_LIST_STATUS"] = "0";
    p.env["FAKE_DPKG_LIST_OUT"] = p.packagedLib;
    LaunchResult run = runLauncher(p.tree, {}, p.env);
    EXPECT_EQ(loadedLibrary(p.tree, run), p.packagedLib);
    Commands commands = readCommands(p.tree);
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[2], (Strings{"dpkg", "-L", ""}));
    EXPECT_TRUE(contains(messagesOf(debugLines(run.stderrText), run.pid, true), "owner pkg: (|2)"));
}

// With /proc hidden (an empty tmpfs over it in a mount namespace of the
// test's own) the executable's path cannot be read: no command runs, no
// library is loaded, status 1.
TEST(LibraryLocation, UnreadableExecutablePathGivesNoLibrary) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizers' runtime needs /proc";
#endif
    if (launcherIsEmulated()) {
        GTEST_SKIP() << "the emulator answers for /proc/self/exe itself";
    }
    PackagedTree p;
    std::string refusals;
    Strings hideProc = privateMountNamespace(
        p.tree, "/bin/mount --make-private /proc && /bin/mount -t tmpfs none /proc", &refusals);
    if (hideProc.empty()) {
        GTEST_SKIP() << "no mount namespace of its own to hide /proc in: " << refusals;
    }
    LaunchResult run = runLauncherUnder(hideProc, p.tree, {}, p.env);
    EXPECT_EQ(loadedLibrary(p.tree, run), "");
    EXPECT_TRUE(readCommands(p.tree).empty());
    std::vector<DebugLine> lines = debugLines(run.stderrText);
    EXPECT_EQ(messagesOf(lines, run.pid, true), Strings{"No such file or directory"});
    EXPECT_EQ(messagesOf(lines, run.pid), Strings{"pipe: end of file after 0 of 4 bytes"});
}

bool injectedFileExists(const std::string &root) {
    for (const auto &entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.path().filename().string().rfind("INJECTED", 0) == 0) {
            return true;
        }
    }
    return false;
}

// Whatever the executable's path or the package's name contains, each
// reaches the command as one unchanged argument and nothing injected runs.
TEST(ShellSafety, HostilePathsAndPackageNamesStayOneWord) {
    PackagedTree p(R"(it's a 'dir' $(touch INJECTED1) `touch INJECTED2`; touch INJECTED3 | x
& "q" '\'')");
    const std::string package = "pkg 'o' $(touch INJECTED4);`touch INJECTED5`";
    p.env["FAKE_RPM_QUERY_STATUS"] = "0";
    p.env["FAKE_RPM_QUERY_OUT"] = package;
    p.env["FAKE_RPM_LIST_STATUS"] = "0";
    p.env["FAKE_RPM_LIST_OUT"] = p.packagedLib;
    LaunchResult run = runLauncher(p.tree, {}, p.env);
    EXPECT_EQ(loadedLibrary(p.tree, run), p.packagedLib);
    EXPECT_EQ(readCommands(p.tree), (Commands{rpmQuery(p.tree.exe), {"rpm", "-ql", package}}));
    EXPECT_FALSE(injectedFileExists(p.tree.root));
    Strings child = messagesOf(debugLines(run.stderrText), run.pid, true);
    EXPECT_TRUE(contains(
        child, R"(popen: (rpm -ql 'pkg '\''o'\'' $(touch INJECTED4);`touch INJECTED5`' 2>/dev/null))"));
    // The trace shows the command text with its newline as '?' (the
    // command itself received it, as readCommands shows).
    EXPECT_NE(run.stderrText.find(R"(-qf ')" + p.tree.root +
                                  R"(/it'\''s a '\''dir'\'' $(touch INJECTED1) `touch INJECTED2`; touch INJECTED3 | x?& "q" '\''\'\'''\''/bin/applauncher' 2>/dev/null))"),
              std::string::npos)
        << run.stderrText;
}

// The fallback road with such a path: the raw path gives the library's.
TEST(ShellSafety, HostilePathOnTheFallbackRoad) {
    AppTree tree("a'b $(touch INJECTED) \n;`touch INJECTED2`'");
    tree.installCommand("rpm");
    LaunchResult run = runLauncher(tree, {}, baseEnvironment(tree));
    EXPECT_EQ(loadedLibrary(tree, run), tree.libPath);
    EXPECT_EQ(readCommands(tree), Commands{rpmQuery(tree.exe)});
    EXPECT_FALSE(injectedFileExists(tree.root));
}

}  // namespace
