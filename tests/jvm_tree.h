// Application trees that run the JVM runtime library on the test JDK
// through the reference auxiliary library, and the JDK's own java command
// on the same arguments, for the JVM tests.
#ifndef JVM_TREE_H
#define JVM_TREE_H

#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "configured_tree.h"

using Environment = std::map<std::string, std::string>;

inline const std::string javaHome = JVM_TEST_JAVA_HOME;
inline const std::string realLibjvm = javaHome + "/lib/server/libjvm.so";

// The environment for a launch that stops before any VM starts: the test
// JDK as JAVA_HOME and a UTF-8 locale. A sanitizer build checks these runs
// for leaks too.
inline Environment launchEnvironment(const AppTree &tree, bool debug = true) {
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
inline Environment jvmEnvironment(const AppTree &tree, bool debug = true) {
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
inline LaunchResult runJava(const JvmTree &app, const Strings &args, const Environment &env) {
    Strings argv{javaHome + "/bin/java"};
    for (const std::string &arg : app.expandedArgs()) {
        argv.push_back(arg);
    }
    argv.insert(argv.end(), args.begin(), args.end());
    return finishProgram(startProgram(app.tree.root, "java", argv, env), app.tree.root, "java");
}

// Why a test that starts a VM does not run with the launcher under
// valgrind (tests/under_valgrind.sh): the runs that stop before the VM do.
inline const char vmUnderValgrind[] =
    "valgrind runs the VM (some 20 s a start) but counts its compiled code's stack banging "
    "below the stack pointer as thousands of invalid writes and the heap it keeps to the end "
    "as leaks, so no clean run can be had";

// Whether the file at `path` holds `text`, waiting up to `seconds`.
inline bool waitForText(const std::string &path, const std::string &text, double seconds) {
    for (int i = 0; i < seconds * 100; i++) {
        if (readFile(path).find(text) != std::string::npos) {
            return true;
        }
        usleep(10000);
    }
    return false;
}

// The debug lines of `run` that the runtime library wrote ("jvm: ...").
inline Strings jvmTraceLines(const LaunchResult &run) {
    return withPrefix(messagesOf(debugLines(run.stderrText), run.pid), "jvm: ");
}

#endif
