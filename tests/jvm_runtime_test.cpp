// The launcher with the reference auxiliary library and the JVM runtime
// library on a real JDK, compared with that JDK's own java command; and the
// VM search of the runtime library's sources, on temporary JDK directories.
#include <dlfcn.h>
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

#include "configured_tree.h"
#include "jvm_locate.c"

namespace {

namespace fs = std::filesystem;
using Environment = std::map<std::string, std::string>;

const std::string javaHome = JVM_TEST_JAVA_HOME;
const std::string realLibjvm = javaHome + "/lib/server/libjvm.so";

// The environment for a launch that stops before any VM starts: the test
// JDK as JAVA_HOME and a UTF-8 locale. A sanitizer build checks these runs
// for leaks too.
Environment launchEnvironment(const AppTree &tree, bool debug = true) {
    Environment env = baseEnvironment(tree);
    env["JAVA_HOME"] = javaHome;
    env["LANG"] = "C.UTF-8";
    if (!debug) {
        env.erase("SORVANTA_DEBUG");
    }
    return env;
}

// The environment for a launch that starts a VM. A sanitizer build hosts
// the VM once the VM handles SIGSEGV, SIGBUS and SIGFPE itself, as it must;
// leak checking stays off, as LeakSanitizer's tracer crashes (signal 11)
// walking the VM's reserved memory.
Environment jvmEnvironment(const AppTree &tree, bool debug = true) {
    Environment env = launchEnvironment(tree, debug);
    env["ASAN_OPTIONS"] =
        "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:allow_user_segv_handler=1:"
        "detect_leaks=0:exitcode=99";
    return env;
}

// An application tree with the JVM runtime library, share/probe.jar,
// share/app.jar and share/lib/dep.jar, whose configuration passes
// `configuredArgs` after the program name and sets `variables`.
struct JvmTree : ConfiguredTree {
    explicit JvmTree(const Strings &configuredArgs = {"-cp", "$APPDIR/share/probe.jar",
                                                      "probe.Probe"},
                     const Strings &variables = {})
        : ConfiguredTree(configuration(configuredArgs, variables)), args(configuredArgs) {
        tree.installLibrary(JVM_RUNTIME_LIBRARY, tree.appDir + "/lib/libhux_jvm.so");
        tree.installLibrary(PROBE_JAR, tree.appDir + "/share/probe.jar");
        tree.installLibrary(APP_JAR, tree.appDir + "/share/app.jar");
        tree.installLibrary(DEP_JAR, tree.appDir + "/share/lib/dep.jar");
    }

    static std::string configuration(const Strings &configuredArgs, const Strings &variables) {
        std::string text = "runtime=libhux_jvm.so\narg=$APPDIR/bin/app\n";
        for (const std::string &arg : configuredArgs) {
            text += "arg=" + arg + "\n";
        }
        for (const std::string &variable : variables) {
            text += "env=" + variable + "\n";
        }
        return text;
    }

    // The configured arguments with $APPDIR replaced, for the java command.
    Strings expandedArgs() const {
        Strings expanded;
        for (std::string arg : args) {
            size_t at = arg.find("$APPDIR");
            if (at != std::string::npos) {
                arg.replace(at, 7, tree.appDir);
            }
            expanded.push_back(arg);
        }
        return expanded;
    }

    Strings args;
};

// The JDK's java command with the tree's configured arguments and `args`,
// run in the tree's root with `env`.
LaunchResult runJava(const JvmTree &app, const Strings &args, const Environment &env) {
    Strings argv{javaHome + "/bin/java"};
    for (const std::string &arg : app.expandedArgs()) {
        argv.push_back(arg);
    }
    argv.insert(argv.end(), args.begin(), args.end());
    return finishProgram(startProgram(app.tree.root, "java", argv, env), app.tree.root, "java");
}

// Why a test that starts a VM does not run with the launcher under
// valgrind (tests/under_valgrind.sh): the runs that stop before the VM do.
const char vmUnderValgrind[] =
    "valgrind runs the VM (some 20 s a start) but counts its compiled code's stack banging "
    "below the stack pointer as thousands of invalid writes and the heap it keeps to the end "
    "as leaks, so no clean run can be had";

// Whether the file at `path` holds `text`, waiting up to `seconds`.
bool waitForText(const std::string &path, const std::string &text, double seconds) {
    for (int i = 0; i < seconds * 100; i++) {
        if (readFile(path).find(text) != std::string::npos) {
            return true;
        }
        usleep(10000);
    }
    return false;
}

// The debug lines of `run` that the runtime library wrote ("jvm: ...").
Strings jvmTraceLines(const LaunchResult &run) {
    return withPrefix(messagesOf(debugLines(run.stderrText), run.pid), "jvm: ");
}

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
    EXPECT_TRUE(contains(trace, "jvm: option[2]: [-Dconfigured.prop=from the configuration]"));
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
        {{"prop", "java.class.path", "prop", "sun.java.command", "prop", "tool.prop"},
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
    ASSERT_TRUE(loadLibraryFrom(jdks.root.c_str(), nullptr, &library, problem)) << problem;
    EXPECT_EQ(std::string(library.path), jdks.libjvmOf("default-java"));
    EXPECT_STREQ(library.source, "default-java");
    EXPECT_NE(library.createJavaVM, nullptr);
    EXPECT_NE(library.getDefaultJavaVMInitArgs, nullptr);

    ASSERT_TRUE(loadLibraryFrom(jdks.root.c_str(), (jdks.root + "/jdk-11/").c_str(), &library,
                                problem));
    EXPECT_EQ(std::string(library.path), jdks.libjvmOf("jdk-11"));
    EXPECT_STREQ(library.source, "JAVA_HOME");

    EXPECT_FALSE(loadLibraryFrom(jdks.root.c_str(), (jdks.root + "/nolib-99").c_str(), &library,
                                 problem));
    EXPECT_EQ(std::string(problem), "no usable libjvm.so in " + jdks.libjvmOf("nolib-99") +
                                        " (JAVA_HOME): set JAVA_HOME to a JDK's directory or "
                                        "unset it");

    fs::remove_all(jdks.root + "/default-java");
    ASSERT_TRUE(loadLibraryFrom(jdks.root.c_str(), "", &library, problem)) << problem;
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
    EXPECT_FALSE(loadLibraryFrom(jdks.root.c_str(), nullptr, &library, problem));
    std::string text = problem;
    std::regex expected("no usable libjvm\\.so in " + jdks.libjvmOf("default-java") + ", " +
                        jdks.libjvmOf("runtime-40") + " \\(no JNI_CreateJavaVM in it\\), " +
                        jdks.libjvmOf("broken-30") + " \\([^()]+\\), " + jdks.root +
                        "/\\*/lib/server/libjvm\\.so: set JAVA_HOME or install a JDK "
                        "\\(Debian: openjdk-17-jre-headless\\)");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;

    std::string missing = jdks.root + "/missing";
    EXPECT_FALSE(loadLibraryFrom(missing.c_str(), nullptr, &library, problem));
    EXPECT_EQ(std::string(problem), "no usable libjvm.so in " + missing +
                                        "/default-java/lib/server/libjvm.so, " + missing +
                                        "/*/lib/server/libjvm.so: set JAVA_HOME or install a "
                                        "JDK (Debian: openjdk-17-jre-headless)");
}

TEST(JvmSearch, CheckExportReportsTheLibraryItWouldUseOrWhatToDo) {
    void *runtime = dlopen(JVM_RUNTIME_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(runtime, nullptr) << dlerror();
    using CheckFn = int32_t (*)(char *, int32_t);
    auto check = (CheckFn)dlsym(runtime, "HUX_Check");
    ASSERT_NE(check, nullptr) << dlerror();
    const char *saved = getenv("JAVA_HOME");
    std::string savedHome = saved != nullptr ? saved : "";

    setenv("JAVA_HOME", javaHome.c_str(), 1);
    char message[512];
    EXPECT_EQ(check(message, sizeof message), 0);
    EXPECT_EQ(std::string(message), "libjvm.so: " + realLibjvm + " (JAVA_HOME)");
    char small[12];
    memset(small, 'x', sizeof small);
    EXPECT_EQ(check(small, sizeof small), 0);
    EXPECT_EQ(std::string(small), "libjvm.so: ");

    setenv("JAVA_HOME", "/nonexistent-jdk", 1);
    EXPECT_EQ(check(message, sizeof message), 1);
    EXPECT_EQ(std::string(message), "no usable libjvm.so in /nonexistent-jdk/lib/server/libjvm.so "
                                    "(JAVA_HOME): set JAVA_HOME to a JDK's directory or unset it");
    EXPECT_EQ(check(nullptr, 0), 1);

    if (saved != nullptr) {
        setenv("JAVA_HOME", savedHome.c_str(), 1);
    } else {
        unsetenv("JAVA_HOME");
    }
    dlclose(runtime);
}

}  // namespace
