// applauncher-doctor run as a process against application trees broken in
// each way its steps can fail: the failing step, its hint and the exit
// status, and that the launcher itself agrees that the tree does not start.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include <gtest/gtest.h>

#include "launch_harness.h"

using Strings = std::vector<std::string>;
using Env = std::map<std::string, std::string>;
namespace fs = std::filesystem;

namespace {

struct DoctorStep {
    std::string name;
    std::string result;
    Strings detail;
    std::string hint;  // "" for a passed step
};

// The doctor's text output taken apart into its steps and its verdict.
struct Diagnosis {
    LaunchResult run;
    std::vector<DoctorStep> steps;
    std::string verdict;

    Strings names() const {
        Strings names;
        for (const DoctorStep &step : steps) {
            names.push_back(step.name);
        }
        return names;
    }
    std::string detailText(const DoctorStep &step) const {
        std::string text;
        for (const std::string &line : step.detail) {
            text += line + "\n";
        }
        return text;
    }
};

Diagnosis parseDiagnosis(const LaunchResult &run) {
    Diagnosis diagnosis{run, {}, ""};
    std::istringstream in(run.stdoutText);
    for (std::string line; std::getline(in, line);) {
        size_t dot = line.find(". ");
        size_t colon = line.find(": ");
        if (line.rfind("verdict: ", 0) == 0) {
            diagnosis.verdict = line.substr(9);
        } else if (line.rfind("hint: ", 0) == 0 && !diagnosis.steps.empty()) {
            diagnosis.steps.back().hint = line.substr(6);
        } else if (line.rfind("     ", 0) == 0 && !diagnosis.steps.empty()) {
            diagnosis.steps.back().detail.push_back(line.substr(5));
        } else if (dot != std::string::npos && colon != std::string::npos && dot < colon &&
                   isdigit((unsigned char)line[0])) {
            diagnosis.steps.push_back({line.substr(dot + 2, colon - dot - 2),
                                       line.substr(colon + 2), {}, ""});
        } else {
            ADD_FAILURE() << "unexpected line: " << line;
        }
    }
    return diagnosis;
}

Diagnosis runDoctor(const AppTree &tree, const Strings &args, const Env &env) {
    Strings words = {DOCTOR_BINARY};
    words.insert(words.end(), args.begin(), args.end());
    return parseDiagnosis(runCommand(tree, words, env));
}

// The tree's launcher explained with `args`.
Diagnosis diagnose(const AppTree &tree, const Env &env, const Strings &args = {"Alice"}) {
    Strings words = {"--timeout", "2", tree.exe};
    words.insert(words.end(), args.begin(), args.end());
    return runDoctor(tree, words, env);
}

void writeFile(const std::string &path, const std::string &text) {
    std::ofstream(path) << text;
}

// One way to break a tree, and what the doctor must say about it.
struct Breakage {
    std::string what;
    std::function<void(AppTree &, Env &)> breakIt;
    std::string step;
    std::string result;  // part of the failed step's result
    std::string hint;    // part of its hint
    bool launcherAgrees = true;  // false where the launcher would wait for ever or
                                 // HUX_Launch does not fail as HUX_Check does
};

void ownedByHello(AppTree &tree, Env &env) {
    tree.installCommand("rpm");
    tree.installCommand("dpkg");
    env["FAKE_DPKG_SEARCH_STATUS"] = "0";
    env["FAKE_DPKG_SEARCH_OUT"] = "hello: " + tree.exe + "\n";
    env["FAKE_DPKG_LIST_STATUS"] = "0";
}

#ifdef PYTHON_RUNTIME_LIBRARY
// The reference library and a configuration that starts the CPython
// runtime library with `words` after the program's name.
void pythonLaunch(AppTree &tree, Env &env, const std::string &words) {
    tree.installLibrary(REFERENCE_AUX_LIBRARY, tree.libPath);
    writeFile(tree.appDir + "/lib/applauncher.cfg",
              std::string("runtime=") + PYTHON_RUNTIME_LIBRARY + "\narg=" + tree.exe + "\n" +
                  words);
    env["ASAN_OPTIONS"] = "detect_leaks=0";
}
#endif

std::vector<Breakage> breakages() {
    return {
        {"owned but not listed",
         [](AppTree &t, Env &e) {
             ownedByHello(t, e);
             e["FAKE_DPKG_LIST_OUT"] = "/opt\n" + t.exe + "\n" + t.libPath + ".1\n";
         },
         "auxiliary library", "package hello does not list a libapplauncher.so",
         "add lib/libapplauncher.so to package hello"},
        {"owner's listing fails",
         [](AppTree &t, Env &e) {
             ownedByHello(t, e);
             e["FAKE_DPKG_LIST_STATUS"] = "2";
             e["FAKE_DPKG_LIST_OUT"] = t.libPath + "\n";
         },
         "auxiliary library", "could not be read (exit status 2)",
         "make `dpkg -L 'hello' 2>/dev/null` succeed"},
        {"package query hangs",
         [](AppTree &t, Env &e) {
             t.installCommand("rpm");
             e["FAKE_RPM_QUERY_SLEEP"] = "30";
         },
         "package owner", "did not finish within 2 s", "would wait for it for ever", false},
        {"unowned, library missing", [](AppTree &t, Env &) { fs::remove(t.libPath); },
         "library interface", "cannot open shared object file",
         "put the application's auxiliary library at "},
        {"no exports",
         [](AppTree &t, Env &) { t.installLibrary(NO_EXPORTS_LIBRARY, t.libPath); },
         "library interface", "kivLauncherGetAPI is not exported",
         "export kivLauncherGetAPI and kivLauncherCreate"},
        {"no kivLauncherCreate",
         [](AppTree &t, Env &) { t.installLibrary(AUX_NO_CREATE_LIBRARY, t.libPath); },
         "library interface", "kivLauncherCreate is not exported", "unmangled names"},
        {"null table", [](AppTree &, Env &e) { e["AUX_MODE"] = "table-null"; },
         "library interface", "kivLauncherGetAPI returned no table", "function table"},
        {"null table entry",
         [](AppTree &t, Env &e) {
             t.installLibrary(CONTRACT_AUX_LIBRARY, t.libPath);
             e["CONTRACT_MODE"] = "null-entry";
         },
         "library interface", "its table has null entries: fillData",
         "set release, getDataSize and fillData"},
        {"malformed configuration",
         [](AppTree &t, Env &) {
             t.installLibrary(REFERENCE_AUX_LIBRARY, t.libPath);
             writeFile(t.appDir + "/lib/applauncher.cfg",
                       std::string("runtime=") + RUNTIME_LIBRARY + "\narg=x\nmode=fast\n");
         },
         "launch data", "kivLauncherCreate returned null",
         "applauncher.cfg:3: unknown key \"mode\""},
        {"no handle, no word", [](AppTree &, Env &e) { e["AUX_MODE"] = "handle-null"; },
         "launch data", "kivLauncherCreate returned null", "--auxlib "},
        {"size zero", [](AppTree &, Env &e) { e["AUX_MODE"] = "size-zero"; }, "launch data",
         "getDataSize returned 0", "says nothing"},
        {"rejected record", [](AppTree &, Env &e) { e["AUX_MODE"] = "count-negative"; },
         "launch data", "rejected record: negative count", "single-block rule"},
        {"string outside the block", [](AppTree &, Env &e) { e["AUX_MODE"] = "arg-outside"; },
         "launch data", "rejected record: string outside the block", "points into the block"},
        {"fillData elsewhere", [](AppTree &, Env &e) { e["AUX_MODE"] = "fill-foreign"; },
         "launch data", "fillData returned a pointer other than its buffer",
         "return that buffer"},
        {"library killed mid-frame", [](AppTree &, Env &e) { e["AUX_MODE"] = "killed-mid-frame"; },
         "launch data", "pipe: end of file after 65536 of 1048576 bytes", "killed by signal 9"},
        {"library hangs",
         [](AppTree &t, Env &e) {
             t.installLibrary(CONTRACT_AUX_LIBRARY, t.libPath);
             e["CONTRACT_MODE"] = "hang";
         },
         "launch data", "did not finish within 2 s", "say nothing", false},
        {"runtime library missing",
         [](AppTree &, Env &e) { e["AUX_RUNTIME"] = "/nonexistent/libhux_none.so"; },
         "runtime library", "does not load", "no file at /nonexistent/libhux_none.so"},
        {"no HUX_Launch", [](AppTree &, Env &e) { e["AUX_RUNTIME"] = NO_EXPORTS_LIBRARY; },
         "runtime library", "does not export HUX_Launch", "export int32_t HUX_Launch"},
        {"HUX_Launch is data", [](AppTree &, Env &e) { e["AUX_RUNTIME"] = DATA_ENTRY_LIBRARY; },
         "runtime library", "its HUX_Launch is not a function but data",
         "define HUX_Launch as a function"},
        {"unresolvable dependency",
         [](AppTree &t, Env &e) {
             t.installLibrary(DEPENDENT_RUNTIME_LIBRARY, t.appDir + "/lib/libdependent.so");
             e["AUX_RUNTIME"] = t.appDir + "/lib/libdependent.so";
         },
         "runtime library", "libdoctor_stub.so: cannot open shared object file",
         "install libdoctor_stub.so where the dynamic loader finds it"},
        {"runtime check fails",
         [](AppTree &, Env &e) { e["AUX_RUNTIME"] = CHECKING_RUNTIME_LIBRARY; },
         "runtime check", "DOCTOR_CHECK_HOME is not set", "set it in the launch data", false},
        {"runtime check crashes",
         [](AppTree &, Env &e) {
             e["AUX_RUNTIME"] = CHECKING_RUNTIME_LIBRARY;
             e["AUX_ENV"] = "DOCTOR_CHECK_HOME=crash";
         },
         "runtime check", "HUX_Check: the process was killed by signal 6", "HUX_Check itself",
         false},
#ifdef JVM_RUNTIME_LIBRARY
        {"no JDK where JAVA_HOME says",
         [](AppTree &, Env &e) {
             e["AUX_RUNTIME"] = JVM_RUNTIME_LIBRARY;
             e["AUX_ENV"] = "JAVA_HOME=/nonexistent/jdk";
         },
         "runtime check", "no usable libjvm.so in /nonexistent/jdk/lib/server/libjvm.so",
         "set JAVA_HOME to a JDK's directory or unset it"},
#endif
#ifdef PYTHON_RUNTIME_LIBRARY
        {"python entry point of no module",
         [](AppTree &t, Env &e) { pythonLaunch(t, e, "arg=--entry-point\narg=nosuch:run\n"); },
         "runtime check", "python: ModuleNotFoundError: No module named 'nosuch'",
         "install the module where the interpreter finds it"},
        {"python entry point without a function",
         [](AppTree &t, Env &e) { pythonLaunch(t, e, "arg=--entry-point\narg=json.tool\n"); },
         "runtime check", "--entry-point takes MODULE:FUNCTION", "write it as MODULE:FUNCTION"},
        {"python -m of no module",
         [](AppTree &t, Env &e) { pythonLaunch(t, e, "arg=-m\narg=nosuch\n"); },
         "runtime check", ": No module named nosuch", "install the module"},
#endif
    };
}

TEST(Doctor, EachBreakageFailsItsStepWithItsHintAndTheLauncherAgrees) {
    for (const Breakage &b : breakages()) {
        SCOPED_TRACE(b.what);
        AppTree tree;
        Env env = baseEnvironment(tree);
        b.breakIt(tree, env);
        Diagnosis d = diagnose(tree, env);
        EXPECT_EQ(d.run.exitCode, 1) << d.run.stdoutText << d.run.stderrText;
        EXPECT_EQ(d.run.stderrText, "");
        ASSERT_FALSE(d.steps.empty()) << d.run.stderrText;
        const DoctorStep &last = d.steps.back();
        EXPECT_EQ(last.name, b.step) << d.run.stdoutText;
        EXPECT_NE(last.result.find(b.result), std::string::npos) << d.run.stdoutText;
        EXPECT_NE(last.hint.find(b.hint), std::string::npos) << d.run.stdoutText;
        for (size_t i = 0; i + 1 < d.steps.size(); i++) {
            EXPECT_TRUE(d.steps[i].hint.empty()) << d.steps[i].name << " failed too";
        }
        EXPECT_EQ(d.verdict, "applauncher would not start: " + b.step + ": " + last.result);
        EXPECT_TRUE(readRecords(tree, "runtime").empty()) << "the entry was called";
        EXPECT_FALSE(fs::exists(tree.records + "/entry-called")) << "the entry was called";
        if (b.launcherAgrees) {
            EXPECT_EQ(runLauncher(tree, {"Alice"}, env).exitCode, 1);
        }
    }
}

TEST(Doctor, HealthyTreeWouldStartAndShowsTheLaunchDataWithoutCallingTheEntry) {
    AppTree tree;
    Env env = baseEnvironment(tree);
    env["AUX_ENV"] = "FIRST=1\nSECOND=two words";
    Diagnosis d = diagnose(tree, env, {"Alice", ""});
    EXPECT_EQ(d.run.exitCode, 0) << d.run.stdoutText;
    EXPECT_EQ(d.names(), (Strings{"executable", "package owner", "auxiliary library",
                                  "library interface", "launch data", "runtime library",
                                  "runtime check"}));
    EXPECT_EQ(d.verdict, "applauncher would start");
    EXPECT_EQ(d.steps.at(2).result, tree.libPath);
    EXPECT_EQ(d.steps.at(1).result, "none");
    EXPECT_EQ(d.steps.at(1).detail.at(0),
              "rpm --queryformat '%{NAME}' -qf '" + tree.exe +
                  "' 2>/dev/null: exit status 127: the shell did not find the command");
    EXPECT_EQ(d.steps.at(4).detail,
              (Strings{"command line: [" + tree.exe + "] [Alice] []",
                       std::string("runtime library: [") + RUNTIME_LIBRARY + "]",
                       "arg[0]: [--from-record]", "arg[1]: [Alice]", "arg[2]: []",
                       "env[0]: FIRST=[1]", "env[1]: SECOND=[two words]"}));
    EXPECT_EQ(d.steps.at(6).result, "not checked: the runtime library has no HUX_Check");
    EXPECT_TRUE(readRecords(tree, "runtime").empty()) << "the entry was called";
    EXPECT_EQ(runLauncher(tree, {"Alice", ""}, env).exitCode, 0);
}

TEST(Doctor, ACommandNameIsFoundOnPathAndPassedOnAsTyped) {
    AppTree tree;
    Env env = baseEnvironment(tree);
    env["PATH"] = tree.fakeBin + ":" + tree.appDir + "/bin";
    Diagnosis d = runDoctor(tree, {"applauncher", "Alice"}, env);
    EXPECT_EQ(d.run.exitCode, 0) << d.run.stdoutText;
    EXPECT_EQ(d.steps.at(0).result, tree.exe);
    EXPECT_EQ(d.steps.at(4).detail.at(0), "command line: [applauncher] [Alice]");
}

TEST(Doctor, RuntimeCheckSeesTheLaunchDataVariables) {
    AppTree tree;
    Env env = baseEnvironment(tree);
    env["AUX_RUNTIME"] = CHECKING_RUNTIME_LIBRARY;
    env["AUX_ENV"] = "DOCTOR_CHECK_HOME=/opt/checked";
    Diagnosis d = diagnose(tree, env);
    EXPECT_EQ(d.run.exitCode, 0) << d.run.stdoutText;
    EXPECT_EQ(d.steps.back().result, "checking runtime: home /opt/checked");
    EXPECT_FALSE(fs::exists(tree.records + "/entry-called"));
}

TEST(Doctor, ARuntimeWithItsDependencyBesideItWouldStart) {
    AppTree tree;
    Env env = baseEnvironment(tree);
    tree.installLibrary(DEPENDENT_RUNTIME_LIBRARY, tree.appDir + "/lib/libdependent.so");
    tree.installLibrary(STUB_LIBRARY, tree.appDir + "/lib/libdoctor_stub.so");
    env["AUX_RUNTIME"] = tree.appDir + "/lib/libdependent.so";
    EXPECT_EQ(diagnose(tree, env).run.exitCode, 0);
    EXPECT_EQ(runLauncher(tree, {}, env).exitCode, 0);
}

// The doctor's process holds the C++ runtime, the launcher's does not; a
// runtime library that silently relies on it must be judged as the
// launcher finds it.
TEST(Doctor, AnUnderlinkedRuntimeIsJudgedAsTheLauncherLoadsIt) {
    AppTree tree;
    Env env = baseEnvironment(tree);
    env["AUX_RUNTIME"] = UNDERLINKED_RUNTIME_LIBRARY;
    Diagnosis d = diagnose(tree, env);
    int launcher = runLauncher(tree, {}, env).exitCode;
    EXPECT_EQ(d.run.exitCode, launcher) << d.run.stdoutText;
    if (launcher != 0) {
        EXPECT_NE(d.steps.back().result.find("undefined symbol: _ZSt9terminatev"),
                  std::string::npos)
            << d.run.stdoutText;
    }
}

TEST(Doctor, AskedTheOwnerItRunsTheLaunchersCommandsAndNamesTheFirstListedCopy) {
    AppTree tree;
    Env env = baseEnvironment(tree);
    ownedByHello(tree, env);
    std::string copy = tree.root + "/other/lib/libapplauncher.so";
    tree.installLibrary(AUX_LIBRARY, copy);
    env["FAKE_DPKG_LIST_OUT"] = "/opt\n" + copy + "\n" + tree.libPath + "\n";
    Diagnosis d = diagnose(tree, env);
    EXPECT_EQ(d.run.exitCode, 0) << d.run.stdoutText;
    EXPECT_EQ(d.steps.at(1).result, "package hello (deb)");
    EXPECT_EQ(d.steps.at(2).result, copy);
    EXPECT_NE(d.detailText(d.steps.at(2)).find("path 2 of its file list"), std::string::npos);
    EXPECT_NE(d.detailText(d.steps.at(2)).find("note: this is not the library beside the "
                                               "executable (" + tree.libPath + ")"),
              std::string::npos);
    auto doctorCommands = readCommands(tree);
    fs::remove(tree.records + "/commands");
    EXPECT_EQ(runLauncher(tree, {"Alice"}, env).exitCode, 0);
    EXPECT_EQ(doctorCommands, readCommands(tree));
    EXPECT_EQ(doctorCommands.size(), 3u);
}

TEST(Doctor, UsageErrorsExitTwo) {
    AppTree tree;
    for (const Strings &args : std::vector<Strings>{{},
                                                    {"--bogus", tree.exe},
                                                    {"--timeout", "soon", tree.exe},
                                                    {"--timeout", "0", tree.exe},
                                                    {"--auxlib"},
                                                    {"--json"}}) {
        Strings words = {DOCTOR_BINARY};
        words.insert(words.end(), args.begin(), args.end());
        LaunchResult run = runCommand(tree, words, {});
        EXPECT_EQ(run.exitCode, 2) << testing::PrintToString(args);
        EXPECT_NE(run.stderrText.find("usage: applauncher-doctor"), std::string::npos);
        EXPECT_TRUE(run.stdoutText.empty());
    }
    EXPECT_EQ(runCommand(tree, {DOCTOR_BINARY, "--help"}, {}).exitCode, 0);
    Diagnosis missing = runDoctor(tree, {tree.root + "/nowhere"}, {});
    EXPECT_EQ(missing.run.exitCode, 1);
    EXPECT_EQ(missing.names(), Strings{"executable"});
}

const char python[] = "/usr/bin/python3";

// What python3's json module reads from `json`: "name|ok|hint" per step,
// then the verdict; "invalid: ..." when it does not parse.
Strings readWithPython(const AppTree &tree, const std::string &json) {
    writeFile(tree.root + "/doctor.json", json);
    LaunchResult read = runCommand(
        tree,
        {python, "-c",
         "import json, sys\n"
         "try:\n"
         "    d = json.load(open(sys.argv[1], encoding='utf-8'))\n"
         "except Exception as e:\n"
         "    sys.exit('invalid: %s' % e)\n"
         "for s in d['steps']:\n"
         "    print('%s|%s|%s' % (s['name'], s['ok'], s['hint'] or ''))\n"
         "print(d['verdict'])\n",
         tree.root + "/doctor.json"},
        {{"PATH", "/usr/bin:/bin"}});
    EXPECT_EQ(read.exitCode, 0) << read.stderrText << json;
    EXPECT_EQ(runCommand(tree, {python, "-m", "json.tool", tree.root + "/doctor.json"},
                         {{"PATH", "/usr/bin:/bin"}})
                  .exitCode,
              0);
    Strings lines;
    std::istringstream in(read.stdoutText);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST(Doctor, JsonSaysWhatTheTextSays) {
    if (access(python, X_OK) != 0) {
        GTEST_SKIP() << python << " not found (Debian: python3), which reads the JSON";
    }
    for (const char *mode : {"", "count-negative", "table-null"}) {
        SCOPED_TRACE(mode);
        AppTree tree;
        Env env = baseEnvironment(tree);
        env["AUX_MODE"] = mode;
        Diagnosis text = diagnose(tree, env);
        LaunchResult json = runCommand(tree, {DOCTOR_BINARY, "--json", tree.exe, "Alice"}, env);
        EXPECT_EQ(json.exitCode, text.run.exitCode);
        Strings expected;
        for (const DoctorStep &step : text.steps) {
            expected.push_back(step.name + "|" + (step.hint.empty() ? "True" : "False") + "|" +
                               step.hint);
        }
        expected.push_back(text.verdict);
        EXPECT_EQ(readWithPython(tree, json.stdoutText), expected);
    }
}

TEST(Doctor, ControlCharactersAndBytesThatAreNotUtf8AreEscaped) {
    AppTree tree("app\x01\xff\xc3\xa9");
    Env env = baseEnvironment(tree);
    LaunchResult json = runCommand(tree, {DOCTOR_BINARY, "--json", tree.exe}, env);
    EXPECT_EQ(json.exitCode, 0) << json.stdoutText;
    EXPECT_NE(json.stdoutText.find("app\\u0001\\ufffd\xc3\xa9/bin"), std::string::npos);
    if (access(python, X_OK) == 0) {
        EXPECT_EQ(readWithPython(tree, json.stdoutText).back(), "applauncher would start");
    }
    Diagnosis text = diagnose(tree, env);
    EXPECT_EQ(text.steps.at(0).result, tree.root + "/app\\x01\xff\xc3\xa9/bin/applauncher");
}

// One --auxlib case: the library and its settings, the step that fails
// ("" when it keeps the contract), a part of its result and of its hint.
struct ContractCase {
    std::string what;
    std::string library;
    Env env;
    std::string step;
    std::string result;
    std::string hint;
};

TEST(DoctorAuxlib, ChecksEachTermOfTheContract) {
    const std::string reference = "reference with a malformed configuration";
    std::vector<ContractCase> cases = {
        {"keeps it", AUX_LIBRARY, {}, "", "", ""},
        {"no exports", NO_EXPORTS_LIBRARY, {}, "exports",
         "kivLauncherGetAPI and kivLauncherCreate not exported", "unmangled"},
        {"missing file", "/nonexistent/libapplauncher.so", {}, "loads", "cannot open",
         "no file at /nonexistent/libapplauncher.so"},
        {"null table", AUX_LIBRARY, {{"AUX_MODE", "table-null"}}, "table",
         "kivLauncherGetAPI returned null", "function table"},
        {"null entry", CONTRACT_AUX_LIBRARY, {{"CONTRACT_MODE", "null-entry"}}, "table",
         "null entries: fillData", "the launcher calls each"},
        {"no handle", AUX_LIBRARY, {{"AUX_MODE", "handle-null"}}, "handle",
         "kivLauncherCreate returned null", "say why not"},
        {reference, REFERENCE_AUX_LIBRARY, {}, "handle", "kivLauncherCreate returned null",
         "applauncher.cfg:3: unknown key \"mode\""},
        {"small size", AUX_LIBRARY, {{"AUX_MODE", "small-block"}}, "size",
         "getDataSize returned 16, less than the record", "at least 40"},
        {"foreign fill", AUX_LIBRARY, {{"AUX_MODE", "fill-foreign"}}, "fillData",
         "returned a pointer other than its buffer", "return that buffer"},
        {"bad record", AUX_LIBRARY, {{"AUX_MODE", "unterminated"}}, "record check",
         "rejected record: string outside the block or not terminated", "its zero"},
        {"release crashes", CONTRACT_AUX_LIBRARY, {{"CONTRACT_MODE", "crash-in-release"}},
         "release", "did not return: the process", "free the handle"},
        {"varies", CONTRACT_AUX_LIBRARY, {{"CONTRACT_MODE", "varying"}}, "second run",
         "different launch data", "the process id"},
        {"hangs", CONTRACT_AUX_LIBRARY, {{"CONTRACT_MODE", "hang"}}, "handle",
         "did not finish within 2 s in kivLauncherCreate", "debug the library there"},
    };
    for (const ContractCase &c : cases) {
        SCOPED_TRACE(c.what);
        AppTree tree("app", false);
        std::string library = c.library;
        if (c.what == reference) {
            library = tree.libPath;
            tree.installLibrary(REFERENCE_AUX_LIBRARY, library);
            writeFile(tree.appDir + "/lib/applauncher.cfg", "runtime=/bin/sh\narg=x\nmode=fast\n");
        }
        Env env = c.env;
        env["AUX_RUNTIME"] = RUNTIME_LIBRARY;
        env["CONTRACT_RUNTIME"] = RUNTIME_LIBRARY;
        Diagnosis d = runDoctor(tree, {"--timeout", "2", "--auxlib", library, "Alice"}, env);
        if (c.step.empty()) {
            EXPECT_EQ(d.run.exitCode, 0) << d.run.stdoutText;
            EXPECT_EQ(d.names(), (Strings{"loads", "exports", "table", "handle", "size",
                                          "fillData", "release", "record check", "second run"}));
            EXPECT_EQ(d.steps.at(7).detail.at(2), "arg[1]: [Alice]");
            EXPECT_EQ(d.verdict, library + " keeps the contract");
            continue;
        }
        EXPECT_EQ(d.run.exitCode, 1) << d.run.stdoutText;
        ASSERT_FALSE(d.steps.empty()) << d.run.stderrText;
        EXPECT_EQ(d.steps.back().name, c.step) << d.run.stdoutText;
        EXPECT_NE(d.steps.back().result.find(c.result), std::string::npos) << d.run.stdoutText;
        EXPECT_NE(d.steps.back().hint.find(c.hint), std::string::npos) << d.run.stdoutText;
    }
}

}  // namespace
