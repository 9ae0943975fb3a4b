// Makes each allocation of the launcher's own code fail in turn, in the
// child and in the parent, on each road to the auxiliary library, and
// checks every run: no crash, no hang, no block left, the failure logged,
// and an outcome the launcher allows for it (the owner's library, the
// fallback while no owner is known yet, or status 1 without the runtime).
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "launch_harness.h"

using Strings = std::vector<std::string>;

namespace {

struct Report {
    long calls = -1;
    long failed = -1;
    long live = -1;
};

Report readReport(const std::string &path) {
    Report report;
    std::string text = readFile(path);
    sscanf(text.c_str(), "calls=%ld failed=%ld live=%ld", &report.calls, &report.failed,
           &report.live);
    return report;
}

bool anyContains(const Strings &entries, const std::string &part) {
    for (const std::string &entry : entries) {
        if (entry.find(part) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// One road to the library: the environment that steers the substitute
// package managers and the auxiliary double, and where the owner's
// listing puts the library (empty: the fallback road).
struct Road {
    std::string name;
    std::map<std::string, std::string> env;
    bool owned;
};

std::vector<Road> roads(const AppTree &tree, const std::string &packagedLib) {
    std::string exe = tree.exe;
    return {
        {"fallback", {}, false},
        {"rpm owner",
         {{"FAKE_RPM_QUERY_STATUS", "0"},
          {"FAKE_RPM_QUERY_OUT", "myapp"},
          {"FAKE_RPM_LIST_STATUS", "0"},
          {"FAKE_RPM_LIST_OUT", "/opt/x/bin/app\n" + packagedLib + "\n/opt/x/share/doc\n"}},
         true},
        {"deb owner",
         {{"FAKE_DPKG_SEARCH_STATUS", "0"},
          {"FAKE_DPKG_SEARCH_OUT", "myapp: " + exe + "\n"},
          {"FAKE_DPKG_LIST_STATUS", "0"},
          {"FAKE_DPKG_LIST_OUT", "/.\n" + packagedLib + "\n"}},
         true},
        {"large record", {{"AUX_MODE", "large"}}, false},
    };
}

struct Totals {
    int points = 0;
    int launched = 0;
    int fellBack = 0;
    int refused = 0;
};

// Runs the road once with the Nth allocation of `role` failing (N = 0: none)
// and checks the run; returns false once N is past the last allocation.
bool runWithFailure(const AppTree &tree, const Road &road, const std::string &packagedLib,
                    const std::string &role, long n, long expectedCalls, Totals *totals) {
    std::string reports = tree.root + "/reports";
    std::filesystem::remove_all(reports);
    std::filesystem::remove_all(tree.records);
    std::filesystem::create_directories(reports);
    std::filesystem::create_directories(tree.records);
    auto env = baseEnvironment(tree);
    env.insert(road.env.begin(), road.env.end());
    env["ALLOC_FAIL_IN"] = role;
    env["ALLOC_FAIL_AT"] = std::to_string(n);
    env["ALLOC_REPORT_DIR"] = reports;
    env["RT_EXIT"] = "42";
    LaunchResult run = runLauncherUnder({"/usr/bin/timeout", "20"}, tree, {"--arg"}, env);
    std::string where = road.name + ", " + role + " allocation " + std::to_string(n);
    EXPECT_NE(run.exitCode, -1) << where << ": killed by a signal\n" << run.stderrText;
    EXPECT_NE(run.exitCode, 124) << where << ": hung";
    // A parent that gave up early leaves the child writing into a closed
    // pipe, which ends it with SIGPIPE; nothing else may end a process.
    Strings signals = withPrefix(reapOrphans(20.0), "s");  // "signal N", "still running"
    bool childBrokenPipe =
        signals == Strings{"signal " + std::to_string(SIGPIPE)} && run.exitCode == 1;
    EXPECT_TRUE(signals.empty() || childBrokenPipe) << where << ": a process died by a signal";
    Report parent = readReport(reports + "/parent");
    Report child = readReport(reports + "/child");
    EXPECT_EQ(parent.live, 0) << where << ": parent left blocks";
    if (!childBrokenPipe) {
        EXPECT_EQ(child.live, 0) << where << ": child left blocks";
    }
    Report counted = role == "parent" ? parent : child;
    if (n == 0) {
        EXPECT_EQ(run.exitCode, 42) << where << run.stderrText;
        return true;
    }
    if (counted.failed == 0) {
        EXPECT_EQ(counted.calls, expectedCalls) << where;
        return false;
    }
    totals->points++;
    auto lines = debugLines(run.stderrText);
    Strings messages;
    for (const DebugLine &line : lines) {
        messages.push_back(line.message);
    }
    // Every failure is logged where it is found, the log's own buffer for
    // a long line included (the line then goes out cut, and the failure
    // after it); a run whose failure left no line must have launched whole.
    if (!contains(messages, "Cannot allocate memory")) {
        long argLines = std::count_if(messages.begin(), messages.end(), [](const std::string &m) {
            return m.rfind("hux arg[", 0) == 0 && m.size() > 1024;
        });
        EXPECT_TRUE(run.exitCode == 42 && argLines == 200) << where << ": failure not logged";
    }
    Strings runtime = readRecords(tree, "runtime");
    Strings aux = readRecords(tree, "aux");
    bool ownerKnown = anyContains(messages, "owner pkg: (myapp|");
    if (run.exitCode == 42) {
        EXPECT_TRUE(contains(runtime, road.env.count("AUX_MODE") ? "argc=200" : "arg=--arg"))
            << where;
        bool fromPackage = contains(aux, "library=" + packagedLib);
        EXPECT_TRUE(fromPackage || contains(aux, "library=" + tree.libPath)) << where;
        if (road.owned && !fromPackage) {
            EXPECT_FALSE(ownerKnown) << where << ": fell back after the owner was known";
            totals->fellBack++;
        } else {
            totals->launched++;
        }
    } else {
        EXPECT_EQ(run.exitCode, 1) << where << run.stderrText;
        EXPECT_TRUE(runtime.empty()) << where << ": the runtime ran after a failure";
        totals->refused++;
    }
    return true;
}

TEST(AllocationFailure, EveryAllocationOfChildAndParentFailsSafelyOnEveryRoad) {
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    AppTree tree;
    std::filesystem::copy_file(ALLOC_FAILURE_LAUNCHER, tree.exe,
                               std::filesystem::copy_options::overwrite_existing);
    tree.installCommand("rpm");
    tree.installCommand("dpkg");
    std::string packagedLib = tree.root + "/pkglib/libapplauncher.so";
    tree.installLibrary(AUX_LIBRARY, packagedLib);
    Totals totals;
    for (const Road &road : roads(tree, packagedLib)) {
        for (const std::string role : {"child", "parent"}) {
            ASSERT_TRUE(runWithFailure(tree, road, packagedLib, role, 0, 0, &totals));
            long expected = readReport(tree.root + "/reports/" + role).calls;
            ASSERT_GT(expected, 0) << road.name << ", " << role;
            long n = 1;
            while (runWithFailure(tree, road, packagedLib, role, n, expected, &totals)) {
                n++;
                if (::testing::Test::HasFailure()) {
                    return;
                }
            }
            EXPECT_EQ(n, expected + 1) << road.name << ", " << role;
        }
    }
    std::cout << "allocation failure points exercised: " << totals.points
              << " (launched anyway: " << totals.launched
              << ", fell back before an owner was known: " << totals.fellBack
              << ", status 1: " << totals.refused << ")\n";
    EXPECT_GT(totals.fellBack, 0);
    EXPECT_GT(totals.refused, 0);
}

}  // namespace
