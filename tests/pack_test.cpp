// applauncher-pack run as a process: what it refuses (one line naming the
// option, exit 1 or 2, nothing left in --dest) and the trees it makes,
// started from wherever they are unpacked.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "launch_harness.h"

namespace fs = std::filesystem;

namespace {

using Env = std::map<std::string, std::string>;

// A temporary directory with an input directory holding two Python
// scripts and a package, an output directory, and the files applauncher
// ships (APPLAUNCHER_PACK_FILES).
struct PackTree {
    AppTree tree{"unused", false};
    std::string input = tree.root + "/input";
    std::string dest = tree.root + "/dest";
    std::string files = tree.root + "/files";

    PackTree() {
        fs::create_directories(input + "/tool");
        fs::create_directories(dest);
        fs::create_directories(files);
        write(input + "/hello.py",
              "import sys\nprint('hello', sys.argv[1:])\nsys.exit(len(sys.argv) - 1)\n");
        write(input + "/admin.py", "import sys\nprint('admin', sys.argv[1:])\n");
        write(input + "/tool/__init__.py", "");
        for (const auto &[name, built] :
             std::map<std::string, std::string>{{"applauncher", LAUNCHER_BINARY},
                                                {"libapplauncher.so", REFERENCE_AUX_LIBRARY},
                                                {"libhux_python.so", PYTHON_RUNTIME_LIBRARY}}) {
            fs::create_symlink(built, files + "/" + name);
        }
    }

    static void write(const std::string &path, const std::string &text) {
        std::ofstream(path) << text;
    }

    // Runs applauncher-pack with `args` after the options every case gives.
    LaunchResult pack(const std::vector<std::string> &args, Env env = {}) const {
        std::vector<std::string> words = {PACK_BINARY, "--input", input, "--dest", dest};
        words.insert(words.end(), args.begin(), args.end());
        env["APPLAUNCHER_PACK_FILES"] = files;
        env["PATH"] = "/usr/bin:/bin";
        env.emplace("SOURCE_DATE_EPOCH", "1700000000");
        return runCommand(tree, words, env);
    }

    // The names in --dest.
    std::vector<std::string> outputs() const {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(dest)) {
            names.push_back(entry.path().filename());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

// Every wrong input is refused with one line naming it, the status of its
// kind, and nothing in --dest.
TEST(PackRefusals, EachWrongInputIsNamedAndNothingIsLeft) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string said;
    };
    const std::vector<std::string> good = {"--name", "hello", "--app-version", "1.0",
                                           "--script", "hello.py"};
    auto with = [&good](std::vector<std::string> extra) {
        std::vector<std::string> args = good;
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    };
    for (const Case &c : std::vector<Case>{
             {with({"--colour", "red"}), 2, "unknown option --colour"},
             {with({"--type"}), 2, "--type needs a value"},
             {with({"--desktop-entry=yes"}), 2, "--desktop-entry takes no value"},
             {with({"stray"}), 2, "unexpected argument \"stray\""},
             {with({"--name", "again"}), 2, "--name is given twice"},
             {{"--app-version", "1.0", "--script", "hello.py"}, 1, "--name is required"},
             {{"--name", "Hello_World", "--app-version", "1.0", "--script", "hello.py"}, 1,
              "--name \"Hello_World\" is not a valid package name"},
             {{"--name", "hello", "--app-version", "v1", "--script", "hello.py"}, 1,
              "--app-version \"v1\" is not a version"},
             {{"--name", "hello", "--app-version", "1-2", "--script", "hello.py"}, 1,
              "--app-version \"1-2\""},
             {{"--name", "hello", "--app-version", "1.0"}, 1, "has no main"},
             {with({"--module", "tool"}), 1, "give one of --entry-point, --module and --script"},
             {{"--name", "hello", "--app-version", "1.0", "--script", "missing.py"}, 1,
              "missing.py is not a file inside --input"},
             {{"--name", "hello", "--app-version", "1.0", "--script", "../etc/passwd"}, 1,
              "../etc/passwd is not a file inside --input"},
             {with({"--type", "snap"}), 1, "--type \"snap\" is not app-image, deb or rpm"},
             {with({"--env", "1X=2"}), 1, "--env \"1X=2\" is not NAME=VALUE"},
             {with({"--argument", "$HOME"}), 1, "--argument \"$HOME\": unknown \"$HOME\""},
             {with({"--argument", "${X"}), 1, "--argument \"${X\": unterminated"},
             {with({"--java-versions", "17"}), 1, "are for a Java application"},
             {with({"--python-option", "-O", "--launcher", "b", "--main-class", "B"}), 1,
              "runs on another runtime"},
             {with({"--launcher", "hello", "--script", "admin.py"}), 1,
              "--launcher hello is given twice"},
             {with({"--type", "deb"}), 1, "a .deb or .rpm needs --summary"},
             {with({"--type", "deb", "--summary", "s", "--description", "d", "--license", "MIT",
                    "--maintainer", "nobody"}),
              1, "--maintainer \"nobody\" is not 'NAME <EMAIL>'"},
             {with({"--source-date-epoch", "yesterday"}), 2, "--source-date-epoch needs seconds"},
             {with({"--depends", " , "}), 2, "--depends needs at least one package"},
             {with({"--depends", "python3-yaml"}), 1, "--depends is for --type deb"},
             {with({"--type", "deb", "--summary", "s", "--description", "d", "--license",
                    "Apache-2.0", "--maintainer", "A <a@example.org>", "--requires",
                    "python3-pyyaml"}),
              1, "--requires is for --type rpm"},
         }) {
        PackTree pack;
        std::string shown;
        for (const std::string &word : c.args) {
            shown += " " + word;
        }
        LaunchResult run = pack.pack(c.args);
        EXPECT_EQ(run.exitCode, c.status) << shown << "\n" << run.stderrText;
        EXPECT_EQ(run.stderrText.rfind("applauncher-pack: ", 0), 0u) << shown;
        EXPECT_NE(run.stderrText.find(c.said), std::string::npos) << shown << "\n"
                                                                  << run.stderrText;
        if (c.status == 1) {
            EXPECT_EQ(std::count(run.stderrText.begin(), run.stderrText.end(), '\n'), 1)
                << shown << ": one line\n" << run.stderrText;
        }
        EXPECT_EQ(pack.outputs(), std::vector<std::string>{}) << shown;
    }
}

// The relations --depends and --requires add are held to their package
// manager's form before anything is made: the sound ones pass the check
// (the pack then fails later only for want of a licence text here), the
// others are named.
TEST(PackRefusals, PackageRelationsAreCheckedForForm) {
    struct Case {
        const char *option;
        std::string relations;
        bool sound;
    };
    for (const Case &c : std::vector<Case>{
             {"--depends", "python3-yaml, python3-pathspec (>= 0.9)", true},
             {"--depends", "aa | bb (<< 2:1.0-1)", true},
             {"--depends", "libfoo1:any (= 1.2~rc1)", true},
             {"--depends", "Python3-yaml", false},
             {"--depends", "python3-yaml (>= )", false},
             {"--depends", "python3-yaml (=> 1)", false},
             {"--depends", "python3-yaml >= 1", false},
             {"--depends", "python3-yaml (>= 1", false},
             {"--depends", "aa | ", false},
             {"--depends", "aa; rm -rf /", false},
             {"--requires", "python3-pyyaml >= 5, python3dist(pathspec)", true},
             {"--requires", "/usr/bin/python3", true},
             {"--requires", "python3-pyyaml => 5", false},
             {"--requires", "python3-pyyaml >=", false},
             {"--requires", "(aa or bb)", false},
             {"--requires", "python3dist(pathspec", false},
             {"--requires", "%{name}-data", false},
         }) {
        PackTree pack;
        LaunchResult run = pack.pack({"--name", "hello", "--app-version", "1.0", "--script",
                                      "hello.py", "--type", "deb,rpm", "--summary", "s",
                                      "--description", "d", "--maintainer", "A <a@example.org>",
                                      "--license", "LicenseRef-none", c.option, c.relations});
        std::string shown = std::string(c.option) + " '" + c.relations + "'";
        EXPECT_EQ(run.exitCode, 1) << shown << "\n" << run.stderrText;
        bool named = run.stderrText.find(std::string(c.option) + " \"") != std::string::npos;
        EXPECT_EQ(named, !c.sound) << shown << "\n" << run.stderrText;
        if (c.sound) {
            EXPECT_NE(run.stderrText.find("--license LicenseRef-none"), std::string::npos)
                << shown << "\n" << run.stderrText;
        }
        EXPECT_EQ(pack.outputs(), std::vector<std::string>{}) << shown;
    }
}

// Two launchers in one tree: each bin/<launcher> runs its own main with
// its own arguments, from wherever the tree is moved to; the archive
// holds the same tree and is byte for byte the same on a second pack.
TEST(PackAppImage, TwoLaunchersShareOneTreeAndTheArchiveIsReproducible) {
    PackTree pack;
    std::vector<std::string> args = {"--name", "hello", "--app-version", "2.1", "--script",
                                     "hello.py", "--argument", "first", "--launcher", "admin",
                                     "--script", "admin.py", "--argument", "--admin"};
    LaunchResult made = pack.pack(args);
    ASSERT_EQ(made.exitCode, 0) << made.stderrText;
    std::string archive = "hello-2.1-" + std::string(LAUNCHER_MACHINE) + ".tar.gz";
    EXPECT_EQ(pack.outputs(), (std::vector<std::string>{"hello-2.1", archive}));
    std::string moved = pack.tree.root + "/elsewhere";
    fs::rename(pack.dest + "/hello-2.1", moved);
    Env env = {{"PATH", "/usr/bin:/bin"}, {"HOME", pack.tree.root}};
    LaunchResult hello = runCommand(pack.tree, {moved + "/bin/hello", "x"}, env);
    EXPECT_EQ(hello.stdoutText, "hello ['first', 'x']\n");
    EXPECT_EQ(hello.exitCode, 2);
    LaunchResult admin = runCommand(pack.tree, {moved + "/bin/admin"}, env);
    EXPECT_EQ(admin.stdoutText, "admin ['--admin']\n") << admin.stderrText;
    env["ADMIN_OPTIONS"] = "'two words'";
    admin = runCommand(pack.tree, {moved + "/bin/admin", "y"}, env);
    EXPECT_EQ(admin.stdoutText, "admin ['--admin', 'two words', 'y']\n") << admin.stderrText;

    // A type given twice is made once.
    made = pack.pack({"--name", "again", "--app-version", "1", "--script", "hello.py", "--type",
                      "app-image,app-image", "--type", "app-image"});
    EXPECT_EQ(made.exitCode, 0) << made.stderrText;
    EXPECT_TRUE(fs::exists(pack.dest + "/again-1")) << made.stderrText;

    std::string first = readFile(pack.dest + "/" + archive);
    fs::remove(pack.dest + "/" + archive);
    made = pack.pack(args);
    ASSERT_EQ(made.exitCode, 0) << made.stderrText;
    EXPECT_TRUE(readFile(pack.dest + "/" + archive) == first) << "a second pack differs";
}

// A pack interrupted while a tool runs stops that tool, leaves no work
// directory, and leaves the outputs of the pack before it as they were.
TEST(PackInterruption, LeavesThePreviousOutputsAsTheyWere) {
    PackTree pack;
    std::vector<std::string> args = {"--name", "hello", "--app-version", "2.1", "--script",
                                     "hello.py"};
    ASSERT_EQ(pack.pack(args).exitCode, 0);
    std::string archive = pack.dest + "/hello-2.1-" + std::string(LAUNCHER_MACHINE) + ".tar.gz";
    std::string script = pack.dest + "/hello-2.1/share/hello/hello.py";
    std::string archiveBefore = readFile(archive);
    std::string scriptBefore = readFile(script);
    std::vector<std::string> namesBefore = pack.outputs();
    PackTree::write(pack.input + "/hello.py", "print('changed')\n");

    // A tar that says it started, waits, and says how it ended.
    std::string tools = pack.tree.root + "/tools";
    std::string mark = pack.tree.root + "/tar";
    fs::create_directories(tools);
    PackTree::write(tools + "/tar",
                    "#!/bin/sh\n"
                    "trap 'kill $child; echo terminated > \"$PACK_TEST_MARK.end\"; exit 143' TERM\n"
                    "sleep 20 & child=$!\n"
                    ": > \"$PACK_TEST_MARK.started\"\n"
                    "wait $child\n"
                    "echo finished > \"$PACK_TEST_MARK.end\"\n");
    fs::permissions(tools + "/tar", fs::perms::owner_all);
    std::vector<std::string> words = {PACK_BINARY, "--input", pack.input, "--dest", pack.dest};
    words.insert(words.end(), args.begin(), args.end());
    pid_t pid = startProgram(pack.tree.root, "interrupted", words,
                             {{"APPLAUNCHER_PACK_FILES", pack.files},
                              {"PATH", tools + ":/usr/bin:/bin"},
                              {"PACK_TEST_MARK", mark},
                              {"SOURCE_DATE_EPOCH", "1700000000"}});
    for (int i = 0; i < 200 && !fs::exists(mark + ".started"); i++) {
        usleep(50000);
    }
    kill(pid, SIGTERM);
    LaunchResult run = finishProgram(pid, pack.tree.root, "interrupted");
    ASSERT_TRUE(fs::exists(mark + ".started")) << "the pack never ran tar\n" << run.stderrText;

    EXPECT_TRUE(WIFSIGNALED(run.waitStatus) && WTERMSIG(run.waitStatus) == SIGTERM)
        << "status " << run.waitStatus << "\n" << run.stderrText;
    EXPECT_NE(run.stderrText.find("interrupted; earlier outputs are as they were"),
              std::string::npos)
        << run.stderrText;
    EXPECT_EQ(readFile(mark + ".end"), "terminated\n") << "tar was not stopped";
    EXPECT_EQ(pack.outputs(), namesBefore);
    EXPECT_TRUE(readFile(archive) == archiveBefore) << "the earlier archive changed";
    EXPECT_EQ(readFile(script), scriptBefore);
}

}  // namespace
