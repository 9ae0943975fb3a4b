// The RPM requirement on the system's Java, judged by the real rpm: tiny
// packages built here with rpmbuild provide java-headless as Fedora's JDK
// packages do (epoch 1: "1:17", "1:1.8.0") and as openSUSE's do (no
// epoch: "17", "1.8.0"); a package requiring javaRpmRequiresFor(range) is
// installable (rpm -i --test, a private database holding one provider)
// exactly beside the providers whose version lies in the range. Skipped
// without rpm and rpmbuild.
#include <stdlib.h>

#include <map>
#include <set>

#include <gtest/gtest.h>

#include "java_runtime.h"
#include "pack_files.h"
#include "run_command.h"

using Strings = std::vector<std::string>;

namespace {

// A JDK package's Provides: java-headless = EVR.
struct Provider {
    std::string name;
    std::string evr;
};

const Provider providers[] = {
    {"fedora8", "1:1.8.0"}, {"fedora11", "1:11"}, {"fedora17", "1:17"}, {"fedora21", "1:21"},
    {"suse8", "1.8.0"},     {"suse11", "11"},     {"suse17", "17"},     {"suse21", "21"},
};

// Builds a noarch package NAME, with the rpmbuild lines `extra`, into `dir`;
// returns its path, or "" after a failed expectation.
std::string buildPackage(const std::string &dir, const std::string &name,
                         const std::string &extra) {
    std::string spec = dir + "/" + name + ".spec";
    std::string error;
    std::string text = "Name: " + name + "\nVersion: 1\nRelease: 1\nSummary: " + name +
                       "\nLicense: MIT\nBuildArch: noarch\n" + extra +
                       "\n%description\n" + name + "\n%files\n";
    EXPECT_TRUE(writeFile(spec, text, 0644, &error)) << error;
    Strings argv = {"rpmbuild", "-bb", "--quiet", "--define", "_topdir " + dir + "/top",
                    "--define", "_rpmdir " + dir + "/rpms", "--define",
                    "_build_name_fmt %{NAME}.rpm", spec};
    CommandResult result = runCommand(argv, {"HOME=" + dir});
    EXPECT_TRUE(succeeded(result)) << describeFailure(argv, result);
    return dir + "/rpms/" + name + ".rpm";
}

TEST(PackJavaRpm, RequirementMeetsExactlyTheVersionsInRange) {
    if (!commandExists("rpm") || !commandExists("rpmbuild")) {
        GTEST_SKIP() << "rpm and rpmbuild are needed (Debian: rpm)";
    }
    char pattern[] = "/tmp/applauncher-pack-rpm-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string dir = pattern;
    std::map<std::string, std::string> databases;
    for (const Provider &provider : providers) {
        std::string rpm =
            buildPackage(dir, provider.name, "Provides: java-headless = " + provider.evr);
        std::string db = dir + "/db-" + provider.name;
        Strings install = {"rpm", "--dbpath", db, "-i", "--justdb", "--nodeps", "--force-debian",
                           rpm};
        CommandResult result = runCommand({"rpm", "--dbpath", db, "--initdb"}, {"HOME=" + dir});
        if (succeeded(result)) {
            result = runCommand(install, {"HOME=" + dir});
        }
        ASSERT_TRUE(succeeded(result)) << describeFailure(install, result);
        databases[provider.name] = db;
    }
    struct Case {
        std::string versions;
        std::set<std::string> satisfied;
    };
    const Case cases[] = {
        {"17", {"fedora17", "fedora21", "suse17", "suse21"}},
        {"11-17", {"fedora11", "fedora17", "suse11", "suse17"}},
        {"8", {"fedora8", "fedora11", "fedora17", "fedora21", "suse8", "suse11", "suse17",
               "suse21"}},
        {"8-8", {"fedora8", "suse8"}},
        {"18-25", {"fedora21", "suse21"}},
        {"22", {}},
    };
    for (const Case &c : cases) {
        std::string requirement = javaRpmRequiresFor(c.versions);
        std::string name = "needs" + c.versions;
        std::string rpm = buildPackage(dir, name, "Requires: " + requirement);
        for (const Provider &provider : providers) {
            Strings test = {"rpm", "--dbpath", databases[provider.name], "-i", "--test",
                            "--force-debian", rpm};
            CommandResult result = runCommand(test, {"HOME=" + dir});
            ASSERT_TRUE(result.started) << result.output;
            bool installable = succeeded(result);
            EXPECT_EQ(installable, c.satisfied.count(provider.name) == 1)
                << requirement << " beside java-headless = " << provider.evr << ": "
                << result.output;
            if (!installable) {
                EXPECT_NE(result.output.find("Failed dependencies"), std::string::npos)
                    << result.output;
            }
        }
    }
    removeTree(dir);
}

}  // namespace
