// The JVM runtime library's HUX_Check called directly, and
// applauncher-doctor and the launcher on the same JVM applications: for
// each way the launch refuses one, the doctor's verdict is that it would
// not start, at the step that refuses, and the launcher ends with status 1
// and its message; a healthy application starts under both.
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "hux_runtime_api.h"
#include "jvm_tree.h"

namespace {

// In a process of its own: a process that loaded libjvm.so through another
// path (the search tests' JDK trees) keeps that path for it, and a VM
// created from it looks for its modules there.
TEST(JvmCheck, CheckExportReportsTheLibraryItWouldUseOrWhatToDo) {
    void *runtime = dlopen(JVM_RUNTIME_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(runtime, nullptr) << dlerror();
    auto check = (HuxCheckFn)dlsym(runtime, "HUX_Check");
    ASSERT_NE(check, nullptr) << dlerror();
    const char *saved = getenv("JAVA_HOME");
    std::string savedHome = saved != nullptr ? saved : "";
    std::string program = "/opt/app/bin/app";
    std::string jar = PROBE_JAR;
    std::string cp = "-cp";
    std::string mainClass = "probe.Probe";
    char *args[] = {program.data(), cp.data(), jar.data(), mainClass.data(), nullptr};

    setenv("JAVA_HOME", javaHome.c_str(), 1);
    char message[512];
    EXPECT_EQ(check(message, sizeof message, 4, args), 0);
    EXPECT_EQ(std::string(message), "libjvm.so: " + realLibjvm + " (JAVA_HOME)");
    char small[12];
    memset(small, 'x', sizeof small);
    EXPECT_EQ(check(small, sizeof small, 4, args), 0);
    EXPECT_EQ(std::string(small), "libjvm.so: ");

    setenv("JAVA_HOME", "/nonexistent-jdk", 1);
    EXPECT_EQ(check(message, sizeof message, 4, args), 1);
    EXPECT_EQ(std::string(message), "no usable libjvm.so in /nonexistent-jdk/lib/server/libjvm.so "
                                    "(JAVA_HOME): set JAVA_HOME to a JDK's directory or unset it");
    EXPECT_EQ(check(nullptr, 0, 4, args), 1);

    if (saved != nullptr) {
        setenv("JAVA_HOME", savedHome.c_str(), 1);
    } else {
        unsetenv("JAVA_HOME");
    }
    dlclose(runtime);
}

// The doctor's verdict: its exit status, the last step's name and result.
struct Verdict {
    int exitCode;
    std::string lastStep;
    std::string result;
    std::string output;
};

Verdict runDoctor(const JvmTree &app, const Environment &env) {
    LaunchResult run = runCommand(app.tree, {DOCTOR_BINARY, "--timeout", "60", app.tree.exe},
                                  env);
    Verdict verdict{run.exitCode, "", "", run.stdoutText + run.stderrText};
    std::istringstream in(run.stdoutText);
    for (std::string line; std::getline(in, line);) {
        size_t dot = line.find(". ");
        size_t colon = line.find(": ");
        if (!line.empty() && isdigit((unsigned char)line[0]) && dot != std::string::npos &&
            colon != std::string::npos && dot < colon) {
            verdict.lastStep = line.substr(dot + 2, colon - dot - 2);
            verdict.result = line.substr(colon + 2);
        }
    }
    return verdict;
}

TEST(JvmDoctor, TheDoctorRefusesWhatTheLaunchRefusesAndPassesWhatStarts) {
    if (launcherIsWrapped()) {
        GTEST_SKIP() << vmUnderValgrind;
    }
    struct Case {
        std::string what;
        Strings configuredArgs;
        Strings variables;
        std::string jdkJavaOptions;
        std::string step;     // the doctor's failing step; "" when both start
        std::string message;  // in the doctor's result and the launcher's standard error
    };
    const Strings probe{"-cp", "$APPDIR/share/probe.jar", "probe.Probe"};
    const Case cases[] = {
        {"an argument file", {"@options.txt", "probe.Probe"}, {}, "", "runtime check",
         "Error: argument files are not supported: @options.txt"},
        {"a main module", {"-m", "some.module"}, {}, "", "runtime check",
         "Error: -m is not supported here"},
        {"an unmatched quote", probe, {}, "-Dx=\"open", "runtime check",
         "Error: Unmatched quote in environment variable JDK_JAVA_OPTIONS"},
        {"a missing jar", {"-jar", "$APPDIR/share/missing.jar"}, {}, "", "runtime check",
         "Error: Unable to access jarfile "},
        {"a jar without Main-Class", {"-jar", "$APPDIR/share/probe.jar"}, {}, "",
         "runtime check", "no main manifest attribute, in "},
        {"a main class that is not there", {"-cp", "$APPDIR/share/probe.jar", "no.Such"}, {}, "",
         "runtime check", "Error: Could not find or load main class no.Such"},
        {"a heap size the VM refuses", {"-Xmxlots", "-cp", "$APPDIR/share/probe.jar",
                                        "probe.Probe"}, {}, "", "runtime check",
         "Invalid maximum heap size: -Xmxlots"},
        {"a thread stack too large", {"-Xss100g", "-cp", "$APPDIR/share/probe.jar",
                                      "probe.Probe"}, {}, "", "runtime check",
         "Invalid thread stack size: -Xss100g"},
        {"no JDK in the version range", probe, {"HUX_JAVA_VERSIONS=30"}, "", "runtime check",
         "holds Java 17, but this application runs on Java 30 or later"},
        {"a version range that is not one", probe, {"HUX_JAVA_VERSIONS=seventeen"}, "",
         "runtime check", "HUX_JAVA_VERSIONS=seventeen is not a Java version range"},
        {"a runtime library whose HUX_Launch is data", {"DATA"}, {}, "", "runtime library",
         "HUX_Launch is not a function"},
        {"a healthy application", probe, {}, "", "", ""},
        {"a healthy jar", {"-jar", "$APPDIR/share/agentapp.jar"}, {}, "", "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        bool dataEntry = c.configuredArgs == Strings{"DATA"};
        JvmTree app(dataEntry ? Strings{} : c.configuredArgs, c.variables);
        app.tree.installLibrary(AGENT_APP_JAR, app.tree.appDir + "/share/agentapp.jar");
        if (dataEntry) {
            std::ofstream(app.configPath) << "runtime=" << DATA_ENTRY_LIBRARY << "\narg=x\n";
        }
        Environment env = jvmEnvironment(app.tree);
        if (!c.jdkJavaOptions.empty()) {
            env["JDK_JAVA_OPTIONS"] = c.jdkJavaOptions;
        }
        Verdict doctor = runDoctor(app, env);
        LaunchResult launched = runLauncher(app.tree, {"thread-name"}, env);
        if (c.step.empty()) {
            EXPECT_EQ(doctor.exitCode, 0) << doctor.output;
            EXPECT_EQ(doctor.result, "libjvm.so: " + realLibjvm + " (JAVA_HOME)");
            EXPECT_EQ(launched.exitCode, 0) << launched.stderrText;
            EXPECT_NE(launched.stdoutText, "");
            continue;
        }
        EXPECT_EQ(doctor.exitCode, 1) << doctor.output;
        EXPECT_EQ(doctor.lastStep, c.step) << doctor.output;
        EXPECT_NE(doctor.result.find(c.message), std::string::npos) << doctor.output;
        EXPECT_EQ(launched.exitCode, 1) << launched.stderrText;
        EXPECT_NE(launched.stderrText.find(c.message), std::string::npos) << launched.stderrText;
        EXPECT_EQ(launched.stdoutText, "");
    }
}

}  // namespace
