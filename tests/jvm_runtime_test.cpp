// The launcher with the reference auxiliary library and the JVM runtime
// library on a real JDK, compared with that JDK's own java command; and the
// VM search of the runtime library's sources, on temporary JDK directories.
#include <dlfcn.h>
#include <string.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include <gtest/gtest.h>

#include "jvm_locate.c"
#include "jvm_manifest.c"
#include "jvm_tree.h"

namespace {

namespace fs = std::filesystem;

TEST(JvmRuntime, MainSeesArgumentsPropertiesAndConfiguredVariablesOnANewThread) {
    if (launcherIsWrapped()) {
        GTEST_SKIP() << vmUnderValgrind;
    }
    JvmTree app({"-Dconfigured.prop=from the configuration", "-cp", "$APPDIR/share/probe.jar",
                 "probe/Probe"},
                {"APP_GREETING=hello from the configuration"});
    Environment env = jvmEnvironment(app.tree);
    env["APP_GREETING"] = "overwritten";
    LaunchResult run = runLauncher(app.tree,
                                   {"prop", "configured.prop", "env", "APP_GREETING",
                                    "thread-name", "first-thread", "args", "two words", "é", "-Dx=1"},
                                   env);
    EXPECT_EQ(run.exitCode, 0) << run.stderrText;
    EXPECT_EQ(run.stdoutText,
              "configured.prop=from the configuration\n"
              "APP_GREETING=hello from the configuration\n"
              "thread main\n"
              "on a new thread\n"
              "[two words] 74 77 6f 20 77 6f 72 64 73\n"
              "[é] e9\n"
              "[-Dx=1] 2d 44 78 3d 31\n");
    Strings trace = jvmTraceLines(run);
    EXPECT_TRUE(contains(trace, "jvm: libjvm [" + realLibjvm + "] from JAVA_HOME")) << run.stderrText;
    EXPECT_TRUE(contains(trace, "jvm: option[0]: [-Djava.class.path=" + app.tree.appDir +
                                    "/share/probe.jar]"));
    EXPECT_TRUE(contains(trace, "jvm: option[3]: [-Dconfigured.prop=from the configuration]"));
    EXPECT_TRUE(contains(trace, "jvm: main class [probe.Probe]"));
    EXPECT_TRUE(plainLines(run.stderrText).empty()) << run.stderrText;
}

TEST(JvmRuntime, TraceLinesIntoAPipeWithoutReaderNeverEndTheProcess) {
    if (launcherIsWrapped()) {
        GTEST_SKIP() << vmUnderValgrind;
    }
    JvmTree app;
    pid_t pid = startProgram(app.tree.root, "closed", {app.tree.exe, "thread-name"},
                             jvmEnvironment(app.tree), stderrToAbandonedPipe);
    LaunchResult run = finishProgram(pid, app.tree.root, "closed");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.stdoutText, "thread main\n");
}

TEST(JvmRuntime, ExitStatusIsSystemExitsOrOneAfterTheUsualTraceForAnUncaughtException) {
    if (launcherIsWrapped()) {
        GTEST_SKIP() << vmUnderValgrind;
    }
    JvmTree app;
    LaunchResult exited = runLauncher(app.tree, {"exit", "3"}, jvmEnvironment(app.tree));
    EXPECT_EQ(exited.exitCode, 3) << exited.stderrText;
    EXPECT_EQ(exited.stdoutText, "exiting with 3\n");

    LaunchResult threw = runLauncher(app.tree, {"throw", "bad input"}, jvmEnvironment(app.tree));
    EXPECT_EQ(threw.exitCode, 1);
    EXPECT_EQ(threw.stdoutText, "about to throw\n");
    Strings lines = plainLines(threw.stderrText);
    ASSERT_EQ(lines.size(), 2U) << threw.stderrText;
    EXPECT_EQ(lines[0], "Exception in thread \"main\" java.lang.IllegalStateException: bad input");
    EXPECT_EQ(lines[1].rfind("\tat probe.Probe.main(Probe.java:", 0), 0U) << lines[1];
}

TEST(JvmRuntime, NonDaemonThreadFinishesItsOutputBeforeTheLauncherExits) {
    if (launcherIsWrapped()) {
        GTEST_SKIP() << vmUnderValgrind;
    }
    JvmTree app;
    LaunchResult run = runLauncher(app.tree, {"thread", "500"}, jvmEnvironment(app.tree));
    EXPECT_EQ(run.exitCode, 0) << run.stderrText;
    EXPECT_EQ(run.stdoutText, "main done\nworker done\n");
}

TEST(JvmRuntime, DeepRecursionOverflowsTheDefaultStackAndFitsInTheXssOne) {
    if (launcherIsWrapped()) {
        GTEST_SKIP() << vmUnderValgrind;
    }
    JvmTree plain;
    LaunchResult overflowed = runLauncher(plain.tree, {"recurse", "40000"},
                                          jvmEnvironment(plain.tree, false));
    EXPECT_EQ(overflowed.exitCode, 1);
    EXPECT_EQ(overflowed.stderrText.rfind("Exception in thread \"main\" "
                                          "java.lang.StackOverflowError\n",
                                          0),
              0U)
        << overflowed.stderrText.substr(0, 300);

    JvmTree large({"-Xss8m", "-cp", "$APPDIR/share/probe.jar", "probe.Probe"});
    LaunchResult fitted = runLauncher(large.tree, {"recurse", "40000"}, jvmEnvironment(large.tree));
    EXPECT_EQ(fitted.exitCode, 0) << fitted.stderrText.substr(0, 300);
    EXPECT_EQ(fitted.stdoutText, "recursed 40000\n");
    EXPECT_TRUE(contains(jvmTraceLines(fitted), "jvm: main thread stack [8388608] from -Xss"));
}

TEST(JvmRuntime, JarRunsItsManifestsMainClassWithItsClassPath) {
    if (launcherIsWrapped()) {
        GTEST_SKIP() << vmUnderValgrind;
    }
    JvmTree app({"-cp", "ignored", "-jar", "$APPDIR/share/app.jar"});
    LaunchResult run = runLauncher(app.tree, {"one", "two"}, jvmEnvironment(app.tree));
    std::string jar = app.tree.appDir + "/share/app.jar";
    EXPECT_EQ(run.exitCode, 0) << run.stderrText;
    EXPECT_EQ(run.stdoutText, "hello from dep.jar\nclass path " + jar + "\ncommand " + jar +
                                  " one two\narguments one,two\n");
}

TEST(JvmRuntime, WildcardClassPathEntryStandsForEveryJarOfItsDirectory) {
    if (launcherIsWrapped()) {
        GTEST_SKIP() << vmUnderValgrind;
    }
    JvmTree app({"-cp", "$APPDIR/share/jars/*", "jarapp.Main"});
    std::string jars = app.tree.appDir + "/share/jars";
    app.tree.installLibrary(APP_JAR, jars + "/a.JAR");
    app.tree.installLibrary(DEP_JAR, jars + "/b.jar");
    app.tree.installLibrary(PROBE_JAR, jars + "/.hidden.jar");
    app.tree.installLibrary(PROBE_JAR, jars + "/notes.txt");
    fs::create_directories(jars + "/directory.jar");
    LaunchResult run = runLauncher(app.tree, {}, jvmEnvironment(app.tree));
    EXPECT_EQ(run.exitCode, 0) << run.stderrText;
    EXPECT_EQ(run.stdoutText, "hello from dep.jar\nclass path " + jars + "/.hidden.jar:" + jars +
                                  "/a.JAR:" + jars + "/b.jar\ncommand jarapp.Main\narguments \n");
}

TEST(JvmRuntime, JdkJavaOptionsComeBeforeTheVectorsOwnAndAreAnnounced) {
    if (launcherIsWrapped()) {
        GTEST_SKIP() << vmUnderValgrind;
    }
    JvmTree app({"-Dboth=from the configuration", "-cp", "$APPDIR/share/probe.jar",
                 "probe.Probe"});
    Environment env = jvmEnvironment(app.tree, false);
    env["JDK_JAVA_OPTIONS"] = "  -Dquoted=\"two words\" -Dboth=env\t'-Dsingle=a \"b\"' ";
    LaunchResult run = runLauncher(app.tree, {"prop", "quoted", "prop", "both", "prop", "single"},
                                   env);
    EXPECT_EQ(run.exitCode, 0) << run.stderrText;
    EXPECT_EQ(run.stdoutText, "quoted=two words\nboth=from the configuration\nsingle=a \"b\"\n");
    EXPECT_EQ(run.stderrText, "NOTE: Picked up JDK_JAVA_OPTIONS: " + env["JDK_JAVA_OPTIONS"] + "\n");
    LaunchResult java = runJava(app, {"prop", "quoted", "prop", "both", "prop", "single"}, env);
    EXPECT_EQ(run.stdoutText, java.stdoutText);
    EXPECT_EQ(run.stderrText, java.stderrText);
}

TEST(JvmRuntime, CommandLineFaultsAreOneLineBeforeAnyVmStarts) {
    JvmTree app({"-cp", "$APPDIR/share/probe.jar"});
    std::string program = app.tree.appDir + "/bin/app";
    struct Case {
        Strings args;
        std::string jdkJavaOptions;
        std::string line;
    };
    const Case cases[] = {
        {{"probe.Probe"}, "probe.Probe",
         "Error: Cannot specify main class in environment variable JDK_JAVA_OPTIONS"},
        {{"probe.Probe"}, "-jar x.jar",
         "Error: Option -jar is not allowed in environment variable JDK_JAVA_OPTIONS"},
        {{"probe.Probe"}, "-Dx=\"open", "Error: Unmatched quote in environment variable "
                                        "JDK_JAVA_OPTIONS"},
        {{"-Xmx64m", "-cp"}, "", "Error: -cp requires a class path"},
        {{"--add-opens"}, "", "Error: --add-opens requires modules to be specified"},
        {{"-jar"}, "", "Error: -jar requires a jar file"},
        {{"@options.txt", "probe.Probe"}, "", "Error: argument files are not supported: "
                                              "@options.txt"},
        {{"-m", "some.module"}, "",
         "Error: -m is not supported here: name the main class, with --module-path and "
         "--add-modules for a class in a module"},
        {{"-Xmx64m"}, "",
         "Error: no main class given; usage: " + program + " [options] <mainclass> "
         "[args...] or " + program + " [options] -jar <jarfile> [args...]"},
    };
    for (const Case &fault : cases) {
        Environment env = launchEnvironment(app.tree);
        if (!fault.jdkJavaOptions.empty()) {
            env["JDK_JAVA_OPTIONS"] = fault.jdkJavaOptions;
        }
        LaunchResult run = runLauncher(app.tree, fault.args, env);
        EXPECT_EQ(run.exitCode, 1) << fault.line;
        Strings expected{fault.line};
        if (!fault.jdkJavaOptions.empty()) {
            expected.insert(expected.begin(),
                            "NOTE: Picked up JDK_JAVA_OPTIONS: " + fault.jdkJavaOptions);
        }
        EXPECT_EQ(plainLines(run.stderrText), expected);
        EXPECT_TRUE(withPrefix(jvmTraceLines(run), "jvm: libjvm").empty()) << fault.line;
    }
}

TEST(JvmRuntime, SigtermRunsTheShutdownHooksAndEndsWith143) {
    if (launcherIsWrapped()) {
        GTEST_SKIP() << vmUnderValgrind;
    }
    JvmTree app;
    Strings argv{app.tree.exe, "hook"};
    pid_t pid = startProgram(app.tree.root, "hook", argv, jvmEnvironment(app.tree));
    bool ready = waitForText(app.tree.root + "/hook.out", "ready\n", 30);
    EXPECT_TRUE(ready);
    kill(pid, SIGTERM);
    LaunchResult run = finishProgram(pid, app.tree.root, "hook");
    EXPECT_EQ(run.exitCode, 143) << run.stderrText;
    EXPECT_EQ(run.stdoutText, "ready\nhook ran\n");
}

TEST(JvmRuntime, MissingJarMainClassOrMainMethodIsOneLine) {
    if (launcherIsWrapped()) {
        GTEST_SKIP() << vmUnderValgrind;
    }
    JvmTree app({"-cp", "$APPDIR/share/probe.jar"});
    LaunchResult noClass = runLauncher(app.tree, {"no.Such"}, jvmEnvironment(app.tree));
    EXPECT_EQ(noClass.exitCode, 1);
    EXPECT_EQ(plainLines(noClass.stderrText),
              Strings{"Error: Could not find or load main class no.Such: "
                      "java.lang.ClassNotFoundException: no.Such"});

    LaunchResult noMethod = runLauncher(app.tree, {"nomain/NoMain"}, jvmEnvironment(app.tree));
    EXPECT_EQ(noMethod.exitCode, 1);
    EXPECT_EQ(plainLines(noMethod.stderrText),
              Strings{"Error: Main method not found in class nomain.NoMain, please define the "
                      "main method as: public static void main(String[] args)"});

    std::string probeJar = app.tree.appDir + "/share/probe.jar";
    LaunchResult noAttribute = runLauncher(app.tree, {"-jar", probeJar}, jvmEnvironment(app.tree));
    EXPECT_EQ(noAttribute.exitCode, 1);
    EXPECT_EQ(plainLines(noAttribute.stderrText),
              Strings{"no main manifest attribute, in " + probeJar});

    LaunchResult noJar = runLauncher(app.tree, {"-jar", "missing.jar"}, jvmEnvironment(app.tree));
    EXPECT_EQ(noJar.exitCode, 1);
    EXPECT_EQ(plainLines(noJar.stderrText), Strings{"Error: Unable to access jarfile missing.jar"});
}

TEST(JvmRuntime, OptionTheVmRefusesEndsWithTheVmsOwnMessage) {
    if (launcherIsWrapped()) {
        GTEST_SKIP() << vmUnderValgrind;
    }
    JvmTree app({"-XX:+NoSuchFlagAtAll", "-cp", "$APPDIR/share/probe.jar", "probe.Probe"});
    LaunchResult run = runLauncher(app.tree, {"thread-name"}, jvmEnvironment(app.tree, false));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.stdoutText, "");
    EXPECT_EQ(run.stderrText,
              "Unrecognized VM option 'NoSuchFlagAtAll'\n"
              "Error: Could not create the Java Virtual Machine.\n"
              "Error: A fatal exception has occurred. Program will exit.\n");
    LaunchResult java = runJava(app, {"thread-name"}, jvmEnvironment(app.tree, false));
    EXPECT_EQ(run.exitCode, java.exitCode);
    EXPECT_EQ(run.stderrText, java.stderrText);
}

TEST(JvmRuntime, MissingVmIsOneLineNamingWhereItLooked) {
    JvmTree app;
    Environment env = launchEnvironment(app.tree);
    env["JAVA_HOME"] = app.tree.root + "/no-jdk";
    LaunchResult run = runLauncher(app.tree, {"thread-name"}, env);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(plainLines(run.stderrText),
              Strings{"Error: no usable libjvm.so in " + app.tree.root +
                      "/no-jdk/lib/server/libjvm.so (JAVA_HOME): set JAVA_HOME to a JDK's "
                      "directory or unset it"});
}

TEST(JvmRuntime, OutputAndStatusMatchTheJavaCommandByteForByte) {
    if (launcherIsWrapped()) {
        GTEST_SKIP() << vmUnderValgrind;
    }
    JvmTree app;
    const Strings awkward{"args", "é ü ß", "it's \"quoted\"", "line\nbreak", "tab\there",
                          "\xff\xfe not UTF-8", "\xc3", "", "--exit", "-Dx=1"};
    const struct {
        Strings args;
        std::string locale;
    } scenarios[] = {
        {awkward, "C.UTF-8"},
        {awkward, "C"},
        {{"throw", "boom"}, "C.UTF-8"},
        {{"thread", "200", "exit", "4"}, "C.UTF-8"},
        {{"prop", "java.class.path", "prop", "sun.java.command", "prop", "tool.prop", "prop",
          "sun.java.launcher"},
         "C.UTF-8"},
    };
    for (const auto &scenario : scenarios) {
        Environment env = jvmEnvironment(app.tree, false);
        env["LANG"] = scenario.locale;
        env["LC_ALL"] = scenario.locale;
        env["JAVA_TOOL_OPTIONS"] = "-Dtool.prop=left-to-the-VM";
        LaunchResult launched = runLauncher(app.tree, scenario.args, env);
        LaunchResult java = runJava(app, scenario.args, env);
        std::string label = scenario.args[0] + " under " + scenario.locale;
        EXPECT_NE(launched.stdoutText, "") << label;
        EXPECT_EQ(launched.exitCode, java.exitCode) << label;
        EXPECT_EQ(launched.stdoutText, java.stdoutText) << label;
        EXPECT_EQ(launched.stderrText, java.stderrText) << label;
    }
}

// A version range that admits every JDK.
const JvmVersionRange anyVersion = {0, 0};

// A temporary directory standing for /usr/lib/jvm.
struct JdkRoot {
    std::string root;

    JdkRoot() {
        char pattern[] = "/tmp/applauncher-jdks-XXXXXX";
        root = mkdtemp(pattern);
    }
    ~JdkRoot() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    JdkRoot(const JdkRoot &) = delete;
    JdkRoot &operator=(const JdkRoot &) = delete;

    // Adds JDK directory `name` whose lib/server/libjvm.so is a link to
    // `library` (none when empty, a text file when "text"), with a release
    // file naming `version` when that is not empty.
    std::string add(const std::string &name, const std::string &library,
                    const std::string &version = "") const {
        std::string dir = root + "/" + name;
        fs::create_directories(dir + "/lib/server");
        if (library == "text") {
            std::ofstream(dir + "/lib/server/libjvm.so") << "not a library\n";
        } else if (!library.empty()) {
            fs::create_symlink(library, dir + "/lib/server/libjvm.so");
        }
        if (!version.empty()) {
            std::ofstream(dir + "/release") << "IMPLEMENTOR=\"test\"\nJAVA_VERSION=\"" << version
                                            << "\"\nOS_NAME=\"Linux\"\n";
        }
        return dir;
    }

    std::string libjvmOf(const std::string &name) const {
        return root + "/" + name + "/lib/server/libjvm.so";
    }
};

// The names of the JDK directories findVersionedJdks lists, in its order.
Strings versionedNames(const std::string &root) {
    Candidate *candidates = nullptr;
    int count = findVersionedJdks(root.c_str(), &candidates);
    Strings names;
    for (int i = 0; i < count; i++) {
        names.push_back(candidates[i].name);
    }
    freeCandidates(candidates, count < 0 ? 0 : count);
    return names;
}

TEST(JvmSearch, TakesJavaHomeElseDefaultJavaElseTheHighestJavaVersionThatLoads) {
    JdkRoot jdks;
    jdks.add("default-java", realLibjvm);
    jdks.add("jdk-11", realLibjvm, "11.0.2");
    jdks.add("named-21", realLibjvm);
    jdks.add("alias-1.17.0", realLibjvm);
    jdks.add("legacy-1.8.0_292", realLibjvm, "1.8.0_292");
    jdks.add("broken-30", "text", "30");
    jdks.add("patch-21.0.1", realLibjvm, "21.0.1");
    jdks.add("nolib-99", "");
    jdks.add(".hidden-50", realLibjvm);
    EXPECT_EQ(versionedNames(jdks.root), (Strings{"broken-30", "patch-21.0.1", "named-21",
                                                  "alias-1.17.0", "jdk-11",
                                                  "legacy-1.8.0_292"}));

    JvmLibrary library;
    char problem[JVM_PROBLEM_SIZE];
    ASSERT_TRUE(loadLibraryFrom(jdks.root.c_str(), nullptr, nullptr, &anyVersion, &library, problem)) << problem;
    EXPECT_EQ(std::string(library.path), jdks.libjvmOf("default-java"));
    EXPECT_STREQ(library.source, "default-java");
    EXPECT_NE(library.createJavaVM, nullptr);
    EXPECT_NE(library.getDefaultJavaVMInitArgs, nullptr);

    ASSERT_TRUE(loadLibraryFrom(jdks.root.c_str(), (jdks.root + "/jdk-11/").c_str(), nullptr,
                                &anyVersion, &library,
                                problem));
    EXPECT_EQ(std::string(library.path), jdks.libjvmOf("jdk-11"));
    EXPECT_STREQ(library.source, "JAVA_HOME");

    EXPECT_FALSE(loadLibraryFrom(jdks.root.c_str(), (jdks.root + "/nolib-99").c_str(), nullptr,
                                 &anyVersion, &library,
                                 problem));
    EXPECT_EQ(std::string(problem), "no usable libjvm.so in " + jdks.libjvmOf("nolib-99") +
                                        " (JAVA_HOME): set JAVA_HOME to a JDK's directory or "
                                        "unset it");

    fs::remove_all(jdks.root + "/default-java");
    ASSERT_TRUE(loadLibraryFrom(jdks.root.c_str(), "", nullptr, &anyVersion, &library, problem)) << problem;
    EXPECT_EQ(std::string(library.path), jdks.libjvmOf("patch-21.0.1"));
    EXPECT_STREQ(library.source, "highest Java version");
}

TEST(JvmSearch, NamesEveryPlaceItLookedWhenNoneLoads) {
    JdkRoot jdks;
    jdks.add("default-java", "");
    jdks.add("broken-30", "text");
    jdks.add("runtime-40", JVM_RUNTIME_LIBRARY);
    jdks.add("nolib-99", "");
    JvmLibrary library;
    char problem[JVM_PROBLEM_SIZE];
    EXPECT_FALSE(loadLibraryFrom(jdks.root.c_str(), nullptr, nullptr, &anyVersion, &library, problem));
    std::string text = problem;
    std::regex expected("no usable libjvm\\.so in " + jdks.libjvmOf("default-java") + ", " +
                        jdks.libjvmOf("runtime-40") + " \\(no JNI_CreateJavaVM in it\\), " +
                        jdks.libjvmOf("broken-30") + " \\([^()]+\\), " + jdks.root +
                        "/\\*/lib/server/libjvm\\.so: set JAVA_HOME or install a JDK "
                        "\\(Debian: openjdk-17-jre-headless\\)");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;

    std::string missing = jdks.root + "/missing";
    EXPECT_FALSE(loadLibraryFrom(missing.c_str(), nullptr, nullptr, &anyVersion, &library, problem));
    EXPECT_EQ(std::string(problem), "no usable libjvm.so in " + missing +
                                        "/default-java/lib/server/libjvm.so, " + missing +
                                        "/*/lib/server/libjvm.so: set JAVA_HOME or install a "
                                        "JDK (Debian: openjdk-17-jre-headless)");
}

TEST(JvmSearch, TheSystemsJavaCommandComesBeforeDefaultJavaAndTheVersionRangeSkipsOthers) {
    JdkRoot jdks;
    jdks.add("default-java", realLibjvm, "21.0.2");
    jdks.add("jdk-11", realLibjvm, "11.0.2");
    jdks.add("jdk-17", realLibjvm, "17.0.15");
    jdks.add("jdk-21", realLibjvm, "21.0.2");
    jdks.add("jdk-25", realLibjvm, "25.0.3");
    fs::create_directories(jdks.root + "/jdk-17/bin");
    std::ofstream(jdks.root + "/jdk-17/bin/java") << "#!/bin/sh\n";
    fs::create_directories(jdks.root + "/etc-alternatives");
    fs::create_symlink(jdks.root + "/jdk-17/bin/java", jdks.root + "/etc-alternatives/java");
    fs::create_symlink(jdks.root + "/etc-alternatives/java", jdks.root + "/usr-bin-java");
    fs::create_directories(jdks.root + "/jdk-11/bin");
    std::ofstream(jdks.root + "/jdk-11/bin/java") << "#!/bin/sh\n";
    fs::create_symlink(jdks.root + "/jdk-11/bin/java", jdks.root + "/java-of-11");
    std::ofstream(jdks.root + "/not-a-jdk-java") << "#!/bin/sh\n";
    const std::string systemJava = jdks.root + "/usr-bin-java";
    struct Case {
        std::string what;
        std::string javaHome;
        std::string javaCommand;
        JvmVersionRange range;
        bool removeDefault;
        std::string chosen;  // JDK directory name, "" when none
        std::string source;
        std::string problem;  // regular expression, when none is chosen
    };
    const Case cases[] = {
        {"JAVA_HOME first", jdks.root + "/jdk-11", systemJava, {0, 0}, false, "jdk-11",
         "JAVA_HOME", ""},
        {"the java command's JDK next", "", systemJava, {0, 0}, false, "jdk-17",
         "the java command", ""},
        {"a java command outside any JDK", "", jdks.root + "/not-a-jdk-java", {0, 0}, false,
         "default-java", "default-java", ""},
        {"no java command: default-java", "", "", {0, 0}, false, "default-java", "default-java",
         ""},
        {"neither: the highest version", "", jdks.root + "/missing-java", {0, 0}, true, "jdk-25",
         "highest Java version", ""},
        {"the java command's JDK outside the range", "", jdks.root + "/java-of-11", {17, 0}, false,
         "default-java", "default-java", ""},
        {"a range that keeps the highest out", "", "", {11, 17}, true, "jdk-17",
         "highest Java version", ""},
        {"a range of one version", "", systemJava, {21, 21}, true, "jdk-21",
         "highest Java version", ""},
        {"JAVA_HOME outside the range", jdks.root + "/jdk-25", systemJava, {11, 21}, false, "",
         "",
         "JAVA_HOME " + jdks.root + "/jdk-25 holds Java 25, but this application runs on Java "
         "11 to 21 \\(HUX_JAVA_VERSIONS\\): set JAVA_HOME to a JDK of Java 11 to 21 or unset it"},
        {"a range nothing satisfies", "", systemJava, {30, 0}, false, "", "",
         "no Java 30 or later VM \\(HUX_JAVA_VERSIONS\\) among " + jdks.root +
             "/jdk-17/lib/server/libjvm.so \\(Java 17, outside the range\\), " + jdks.root +
             "/default-java/lib/server/libjvm.so \\(Java 21, outside the range\\), .*" +
             "jdk-25/lib/server/libjvm.so \\(Java 25, outside the range\\).*: install Java 30 or "
             "later or set JAVA_HOME to one"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.removeDefault) {
            fs::remove_all(jdks.root + "/default-java");
        } else if (!fs::exists(jdks.root + "/default-java")) {
            jdks.add("default-java", realLibjvm, "21.0.2");
        }
        JvmLibrary library;
        char problem[JVM_PROBLEM_SIZE];
        bool loaded = loadLibraryFrom(jdks.root.c_str(), c.javaHome.c_str(),
                                      c.javaCommand.empty() ? nullptr : c.javaCommand.c_str(),
                                      &c.range, &library, problem);
        if (c.chosen.empty()) {
            EXPECT_FALSE(loaded);
            EXPECT_TRUE(std::regex_match(std::string(problem), std::regex(c.problem))) << problem;
            continue;
        }
        ASSERT_TRUE(loaded) << problem;
        EXPECT_EQ(std::string(library.path), jdks.libjvmOf(c.chosen));
        EXPECT_EQ(std::string(library.home), jdks.root + "/" + c.chosen);
        EXPECT_STREQ(library.source, c.source.c_str());
    }
}

TEST(JvmSearch, TheVersionRangeIsOneOrTwoFeatureVersions) {
    const struct {
        const char *value;
        bool valid;
        JvmVersionRange range;
    } cases[] = {
        {"17", true, {17, 0}},     {"11-21", true, {11, 21}},   {"21-21", true, {21, 21}},
        {"", true, {0, 0}},        {"21-11", false, {0, 0}},    {"17-", false, {0, 0}},
        {"-17", false, {0, 0}},    {"017", false, {0, 0}},      {"17.0", false, {0, 0}},
        {"java17", false, {0, 0}}, {" 17", false, {0, 0}},      {"99999", false, {0, 0}},
    };
    const char *saved = getenv("HUX_JAVA_VERSIONS");
    std::string savedValue = saved != nullptr ? saved : "";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        setenv("HUX_JAVA_VERSIONS", c.value, 1);
        JvmVersionRange range = {-1, -1};
        char problem[JVM_PROBLEM_SIZE] = "";
        EXPECT_EQ(jvmReadVersionRange(&range, problem), c.valid);
        EXPECT_EQ(range.min, c.range.min);
        EXPECT_EQ(range.max, c.range.max);
        if (!c.valid) {
            EXPECT_EQ(std::string(problem),
                      std::string("HUX_JAVA_VERSIONS=") + c.value +
                          " is not a Java version range: write N or N-M (feature versions, as "
                          "17 or 11-21)");
        }
    }
    if (saved != nullptr) {
        setenv("HUX_JAVA_VERSIONS", savedValue.c_str(), 1);
    } else {
        unsetenv("HUX_JAVA_VERSIONS");
    }
}

TEST(JvmRuntime, AJavaHomeOutsideTheVersionRangeIsOneLineNamingBoth) {
    JvmTree app({"-cp", "$APPDIR/share/probe.jar", "probe.Probe"}, {"HUX_JAVA_VERSIONS=11-16"});
    LaunchResult run = runLauncher(app.tree, {"thread-name"}, launchEnvironment(app.tree));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(plainLines(run.stderrText),
              Strings{"Error: JAVA_HOME " + javaHome + " holds Java 17, but this application "
                      "runs on Java 11 to 16 (HUX_JAVA_VERSIONS): set JAVA_HOME to a JDK of "
                      "Java 11 to 16 or unset it"});
}

TEST(JvmRuntime, ManifestAttributesAndStackSizesGiveWhatTheJavaCommandGives) {
    if (launcherIsWrapped()) {
        GTEST_SKIP() << vmUnderValgrind;
    }
    const struct {
        std::string what;
        Strings configuredArgs;
        Strings args;
        std::string javaOptions;
    } cases[] = {
        {"Add-Opens, Add-Exports and Launcher-Agent-Class", {"-jar", "$APPDIR/share/agentapp.jar"},
         {}, ""},
        {"an agent that throws", {"-Dagent.throw=1", "-jar", "$APPDIR/share/agentapp.jar"}, {}, ""},
        {"sun.java.launcher", {"-cp", "$APPDIR/share/probe.jar", "probe.Probe"},
         {"prop", "sun.java.launcher"}, ""},
        {"-Xss wrapping 64 bits", {"-Xss99999999999999999999", "-cp", "x", "probe.Probe"}, {}, ""},
        {"-Xss of 100 GiB", {"-Xss100g", "-cp", "x", "probe.Probe"}, {}, ""},
        {"-Xss of a terabyte", {"-Xss1T", "-cp", "x", "probe.Probe"}, {}, ""},
        {"-Xss just above 1 GiB", {"-Xss0x40000001", "-cp", "x", "probe.Probe"}, {}, ""},
        {"-Xss with an unknown unit", {"-Xss1b", "-cp", "x", "probe.Probe"}, {}, ""},
        {"-Xss without a size", {"-Xss", "-cp", "x", "probe.Probe"}, {}, ""},
        {"-Xss signed", {"-Xss+1m", "-cp", "x", "probe.Probe"}, {}, ""},
        {"-Xss from JDK_JAVA_OPTIONS", {"-cp", "x", "probe.Probe"}, {}, "-Xss2g"},
        {"-Xss of 1 GiB in hexadecimal", {"-Xss0x40000000", "-cp", "$APPDIR/share/probe.jar",
                                          "probe.Probe"}, {"recurse", "100"}, ""},
        {"-Xss in octal", {"-Xss04000000", "-cp", "$APPDIR/share/probe.jar", "probe.Probe"},
         {"recurse", "100"}, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        JvmTree app(c.configuredArgs);
        app.tree.installLibrary(AGENT_APP_JAR, app.tree.appDir + "/share/agentapp.jar");
        Environment env = jvmEnvironment(app.tree, false);
        if (!c.javaOptions.empty()) {
            env["JDK_JAVA_OPTIONS"] = c.javaOptions;
        }
        LaunchResult launched = runLauncher(app.tree, c.args, env);
        LaunchResult java = runJava(app, c.args, env);
        EXPECT_EQ(launched.exitCode, java.exitCode) << launched.stderrText;
        EXPECT_EQ(launched.stdoutText, java.stdoutText);
        if (c.what != "an agent that throws") {
            EXPECT_EQ(launched.stderrText, java.stderrText);
        } else {
            EXPECT_NE(launched.stderrText.find("java.lang.IllegalStateException: the agent "
                                               "refuses"),
                      std::string::npos)
                << launched.stderrText;
        }
    }
}

TEST(JvmManifest, ReadsTheMainSectionOfRealJarsAndSurvivesDamagedOnes) {
    JdkRoot scratch;
    const std::string text = scratch.root + "/text.jar";
    std::ofstream(text) << "not a zip file at all\n";
    std::string whole = readFile(AGENT_APP_JAR);
    const std::string cut = scratch.root + "/cut.jar";
    std::ofstream(cut, std::ios::binary) << whole.substr(0, whole.size() / 2);
    const struct {
        std::string what;
        std::string path;
        JarStatus status;
        const char *mainClass;
        const char *addOpens;
        const char *agent;
    } cases[] = {
        {"a jar with module and agent attributes, a continued line", AGENT_APP_JAR, JAR_READ,
         "agentjar.Main", "java.base/java.util java.base/java.lang", "agentjar.Agent"},
        {"a jar without Main-Class", PROBE_JAR, JAR_READ, nullptr, nullptr, nullptr},
        {"a jar whose Class-Path names another", APP_JAR, JAR_READ, "jarapp.Main", nullptr,
         nullptr},
        {"no file", scratch.root + "/missing.jar", JAR_UNREADABLE, nullptr, nullptr, nullptr},
        {"a directory", scratch.root, JAR_UNREADABLE, nullptr, nullptr, nullptr},
        {"a text file", text, JAR_UNKNOWN, nullptr, nullptr, nullptr},
        {"a jar cut in half", cut, JAR_UNKNOWN, nullptr, nullptr, nullptr},
    };
    auto same = [](const char *seen, const char *wanted) {
        return seen == nullptr || wanted == nullptr ? seen == wanted
                                                    : std::string(seen) == wanted;
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        JarManifest manifest;
        EXPECT_EQ(jvmReadManifest(c.path.c_str(), &manifest), c.status);
        EXPECT_TRUE(same(manifest.mainClass, c.mainClass)) << manifest.mainClass;
        EXPECT_TRUE(same(manifest.addOpens, c.addOpens)) << manifest.addOpens;
        EXPECT_TRUE(same(manifest.launcherAgentClass, c.agent));
        if (c.path == AGENT_APP_JAR) {
            EXPECT_STREQ(manifest.addExports, "java.base/sun.nio.ch");
            EXPECT_TRUE(manifest.canRedefineClasses);
            EXPECT_FALSE(manifest.canRetransformClasses);
        }
        if (c.path == APP_JAR) {
            EXPECT_STREQ(manifest.classPath, "lib/dep.jar");
        }
        jvmReleaseManifest(&manifest);
    }
    // Every byte of the jar changed in turn: the reader answers, whatever
    // it answers, without reading or writing out of bounds.
    const std::string damaged = scratch.root + "/damaged.jar";
    int read = 0;
    for (size_t at = 0; at < whole.size(); at++) {
        std::string bytes = whole;
        bytes[at] = (char)(bytes[at] ^ 0x5a);
        std::ofstream(damaged, std::ios::binary | std::ios::trunc) << bytes;
        JarManifest manifest;
        read += jvmReadManifest(damaged.c_str(), &manifest) == JAR_READ;
        jvmReleaseManifest(&manifest);
    }
    EXPECT_GT(read, 0);
}

}  // namespace
