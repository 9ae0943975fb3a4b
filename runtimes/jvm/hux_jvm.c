/* Runtime launcher library for the JVM: its "HUX_Launch" reads the launch
 * data's argument vector as the java command reads its command line,
 * loads libjvm.so, applies the -jar file's manifest attributes, maps or
 * records the application's class data archive, creates the VM on a new
 * thread, which becomes Java's main thread, runs the main class there and
 * returns the exit status. Its "HUX_Check" does the same reading and
 * creates the VM in a child process without running main. */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <errno.h>
#include <jni.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fcntl.h>
#include <sys/wait.h>

#include "jvm_agent.h"
#include "jvm_archive.h"
#include "jvm_command.h"
#include "jvm_locate.h"
#include "jvm_manifest.h"
#include "jvm_program.h"
#include "hux_runtime_api.h"
#include "runtime_trace.h"
#include "secure_environment.h"

enum { FALLBACK_STACK_SIZE = 1 << 20 };

enum { CHECK_OUTPUT_SIZE = 4096 };

/* What a launch, or a check, reads before any VM starts. */
typedef struct Preparation {
    JvmCommand command;
    JvmLibrary library;
    JarManifest manifest;
    bool manifestRead;
    char **manifestOptions;  /* heap, each heap: --add-opens=..., -javaagent:... */
    int manifestOptionCount;
} Preparation;

/* What the main thread needs, and the status it leaves. */
typedef struct MainThread {
    const JvmLibrary *library;
    const JvmCommand *command;
    char **options;
    int optionCount;
    bool checkOnly;  /* create the VM, find main without calling it, destroy it */
    int status;
} MainThread;

/* The main thread's stack size: the -Xss size when given, else the VM's
 * default thread stack size (the javaStackSize that
 * JNI_GetDefaultJavaVMInitArgs writes into the zeroed JDK 1.1 arguments,
 * whatever status it returns), else 1 MiB; rounded up to whole pages.
 * Stores which in *source. */
static size_t chooseStackSize(const JvmLibrary *library, size_t requested,
                              const char **source) {
    size_t size = requested;
    *source = "-Xss";
    if (size == 0 && library->getDefaultJavaVMInitArgs != NULL) {
        InitArgs11 defaults = {0};
        defaults.version = JNI_VERSION_1_1;
        jint status = library->getDefaultJavaVMInitArgs(&defaults);
        if (defaults.javaStackSize > 0) {
            size = (size_t)defaults.javaStackSize;
            *source = "the VM's default";
        }
        huxTrace("jvm: JNI_GetDefaultJavaVMInitArgs(1.1): %d, javaStackSize %d", (int)status,
                 (int)defaults.javaStackSize);
    }
    if (size == 0) {
        size = FALLBACK_STACK_SIZE;
        *source = "1 MiB, the VM reporting no default";
    }
    size_t page = (size_t)sysconf(_SC_PAGESIZE);
    return (size + page - 1) / page * page;
}

/* The main thread: creates the VM with the thread record's options and
 * runs the program in it (or, for a check, finds main and destroys the
 * VM), leaving the status in the record. When the VM refuses to start it
 * has printed why; the two lines the java command adds then follow. */
static void *runMainThread(void *data) {
    MainThread *main = (MainThread *)data;
    main->status = 1;
    JavaVMOption *options = (JavaVMOption *)calloc((size_t)main->optionCount + 1,
                                                   sizeof(JavaVMOption));
    if (options == NULL) {
        huxReport("Error: out of memory starting the Java VM");
        return NULL;
    }
    int count = 0;
    for (; count < main->optionCount; count++) {
        options[count].optionString = main->options[count];
        huxTrace("jvm: option[%d]: [%s]", count, main->options[count]);
    }
    if (huxSecureMode()) {
        static char noAttach[] = "-XX:+DisableAttachMechanism";
        options[count].optionString = noAttach;
        huxTrace("jvm: option[%d]: [%s] (secure mode)", count, noAttach);
        count++;
    }
    JavaVMInitArgs initArgs = {0};
    initArgs.version = JNI_VERSION_1_8;
    initArgs.nOptions = count;
    initArgs.options = options;
    initArgs.ignoreUnrecognized = JNI_FALSE;
    JavaVM *vm = NULL;
    JNIEnv *env = NULL;
    jint created = main->library->createJavaVM(&vm, (void **)&env, &initArgs);
    if (created != JNI_OK) {
        huxReport("Error: Could not create the Java Virtual Machine.\n"
                  "Error: A fatal exception has occurred. Program will exit.");
        huxTrace("jvm: JNI_CreateJavaVM: %d", (int)created);
    } else if (main->checkOnly) {
        main->status = jvmCheckProgram(env, main->command);
        if ((*vm)->DestroyJavaVM(vm) != JNI_OK) {
            main->status = 1;
        }
    } else {
        main->status = jvmRunProgram(vm, env, main->command);
    }
    free(options);
    return NULL;
}

/* In secure mode, removes from the environment every variable the VM or
 * the java command reads options or a class path from, so that the
 * caller's cannot reach the VM (which itself distrusts them only when the
 * real and effective user differ, not for a file capability), saying so
 * in the trace. Outside secure mode it changes nothing. */
static void forgetCallerOptions(void) {
    static const char *const optionVariables[] = {"JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS",
                                                  "JDK_JAVA_OPTIONS", "CLASSPATH"};
    if (!huxSecureMode()) {
        return;
    }
    for (size_t i = 0; i < sizeof optionVariables / sizeof optionVariables[0]; i++) {
        if (getenv(optionVariables[i]) != NULL) {
            (void)unsetenv(optionVariables[i]);
            huxTrace("jvm: secure mode: %s removed", optionVariables[i]);
        }
    }
}

/* Runs the main thread with a stack of `stackSize` bytes (`source` says
 * where that size came from) and waits for it; returns its status, or 1
 * after one line when it cannot start. */
static int runOnMainThread(MainThread *main, size_t stackSize, const char *source) {
    pthread_attr_t attributes;
    pthread_t thread;
    int failed = pthread_attr_init(&attributes);
    if (failed == 0) {
        failed = pthread_attr_setstacksize(&attributes, stackSize);
        if (failed == 0) {
            failed = pthread_create(&thread, &attributes, runMainThread, main);
        }
        pthread_attr_destroy(&attributes);
    }
    if (failed != 0) {
        huxReport("Error: cannot start the Java main thread with a %zu-byte stack: %s", stackSize,
                  strerror(failed));
        return 1;
    }
    huxTrace("jvm: main thread stack [%zu] from %s", stackSize, source);
    pthread_join(thread, NULL);
    return main->status;
}

/* Adds the option formatted like printf to the preparation's manifest
 * options; false when memory runs out. */
static bool addManifestOption(Preparation *preparation, const char *format, const char *value,
                              size_t length) {
    char *option = NULL;
    char **grown = (char **)realloc(preparation->manifestOptions,
                                    ((size_t)preparation->manifestOptionCount + 1) * sizeof(char *));
    if (grown == NULL) {
        return false;
    }
    preparation->manifestOptions = grown;
    if (asprintf(&option, format, (int)length, value) < 0) {
        return false;
    }
    preparation->manifestOptions[preparation->manifestOptionCount++] = option;
    return true;
}

/* Adds the option `format` (which takes the entry's length and text)
 * for each blank-separated entry of `pairs`. False when memory runs out. */
static bool addModuleOptions(Preparation *preparation, const char *format, const char *pairs) {
    for (const char *at = pairs; *at != '\0';) {
        at += strspn(at, " \t");
        size_t length = strcspn(at, " \t");
        if (length > 0 && !addManifestOption(preparation, format, at, length)) {
            return false;
        }
        at += length;
    }
    return true;
}

/* The options that the -jar file's manifest stands for, as the java
 * command applies them: Add-Opens and Add-Exports (to ALL-UNNAMED),
 * Enable-Native-Access (from Java 22 on, when the VM knows it), and
 * Launcher-Agent-Class (an agent jar of this library's, whose
 * instrumentation the class's agentmain gets). Returns false, the reason
 * in `error`. */
static bool applyManifest(Preparation *preparation, char *error, size_t size) {
    const JarManifest *manifest = &preparation->manifest;
    bool fine = (manifest->addOpens == NULL ||
                 addModuleOptions(preparation, "--add-opens=%.*s=ALL-UNNAMED",
                                  manifest->addOpens)) &&
                (manifest->addExports == NULL ||
                 addModuleOptions(preparation, "--add-exports=%.*s=ALL-UNNAMED",
                                  manifest->addExports));
    if (!fine) {
        (void)snprintf(error, size, "Error: out of memory reading the jar's manifest");
        return false;
    }
    const char *nativeAccess = manifest->enableNativeAccess;
    if (nativeAccess != NULL && preparation->library.feature >= 22) {
        if (strcmp(nativeAccess, "ALL-UNNAMED") != 0) {
            (void)snprintf(error, size,
                           "Error: illegal value \"%s\" for Enable-Native-Access manifest "
                           "attribute. Only ALL-UNNAMED is allowed", nativeAccess);
            return false;
        }
        fine = addManifestOption(preparation, "--enable-native-access=%.*s", nativeAccess,
                                 strlen(nativeAccess));
    }
    if (manifest->launcherAgentClass != NULL) {
        char option[128];
        if (!jvmWriteAgentJar(manifest, option, sizeof option)) {
            (void)snprintf(error, size, "Error: cannot start Launcher-Agent-Class %s: %s",
                           manifest->launcherAgentClass, option);
            return false;
        }
        fine = fine && addManifestOption(preparation, "%.*s", option, strlen(option));
        preparation->command.launcherAgentClass = manifest->launcherAgentClass;
    }
    if (!fine) {
        (void)snprintf(error, size, "Error: out of memory reading the jar's manifest");
    }
    return fine;
}

/* Frees what prepare filled. */
static void releasePreparation(Preparation *preparation) {
    static const Preparation empty = {0};
    jvmReleaseCommand(&preparation->command);
    jvmReleaseManifest(&preparation->manifest);
    for (int i = 0; i < preparation->manifestOptionCount; i++) {
        free(preparation->manifestOptions[i]);
    }
    free(preparation->manifestOptions);
    *preparation = empty;
}

/* Everything a launch reads before the VM: the argument vector with
 * JDK_JAVA_OPTIONS and CLASSPATH as the caller may give them, the version
 * range, the VM library, the -jar file and its manifest. Returns true with
 * *preparation filled (releasePreparation), or false with what the launch
 * prints in `error` and *vmNotFound telling whether no VM was to be had
 * (then `error` is "Error: " followed by the problem and what to do). */
static bool prepare(int32_t argCount, char **args, const char *environmentOptions,
                    Preparation *preparation, char *error, size_t size, bool *vmNotFound) {
    static const Preparation empty = {0};
    char problem[JVM_PROBLEM_SIZE];
    char commandError[JVM_COMMAND_ERROR_SIZE];
    JvmVersionRange range;
    *preparation = empty;
    if (!jvmParseCommand(argCount, args, environmentOptions, huxCallerVariable("CLASSPATH"),
                         &preparation->command, commandError)) {
        (void)snprintf(error, size, "%s", commandError);
        return false;
    }
    if (!jvmReadVersionRange(&range, problem) ||
        !jvmLoadLibrary(&range, &preparation->library, problem)) {
        (void)snprintf(error, size, "Error: %s", problem);
        *vmNotFound = true;
        releasePreparation(preparation);
        return false;
    }
    const char *jar = preparation->command.jarFile;
    JarStatus read = jar != NULL ? jvmReadManifest(jar, &preparation->manifest) : JAR_UNKNOWN;
    preparation->manifestRead = read == JAR_READ;
    if (read == JAR_UNREADABLE) {
        (void)snprintf(error, size, "Error: Unable to access jarfile %s", jar);
        releasePreparation(preparation);
        return false;
    }
    if (jar != NULL && read == JAR_UNKNOWN) {
        huxTrace("jvm: manifest of [%s] not read here: the VM reads the jar", jar);
    }
    if (preparation->manifestRead && !applyManifest(preparation, error, size)) {
        releasePreparation(preparation);
        return false;
    }
    return true;
}

/* The VM options of a prepared launch: the command's, the manifest's,
 * then `archive`'s (may be null). A heap array of borrowed strings, its
 * length in *count; null when memory runs out. */
static char **gatherOptions(const Preparation *preparation, const JvmArchive *archive,
                            int *count) {
    int archiveCount = archive != NULL ? archive->optionCount : 0;
    int total = preparation->command.vmOptionCount + preparation->manifestOptionCount +
                archiveCount;
    char **options = (char **)malloc(((size_t)total + 1) * sizeof(char *));
    if (options == NULL) {
        return NULL;
    }
    int at = 0;
    for (int i = 0; i < preparation->command.vmOptionCount; i++) {
        options[at++] = preparation->command.vmOptions[i];
    }
    for (int i = 0; i < preparation->manifestOptionCount; i++) {
        options[at++] = preparation->manifestOptions[i];
    }
    for (int i = 0; i < archiveCount; i++) {
        options[at++] = archive->options[i];
    }
    *count = total;
    return options;
}

/* Runs the prepared program's VM on its own main thread (a check when
 * `checkOnly`) with `archive`'s options (may be null); returns its status. */
static int startVm(const Preparation *preparation, const JvmArchive *archive, bool checkOnly) {
    MainThread main = {&preparation->library, &preparation->command, NULL, 0, checkOnly, 1};
    main.options = gatherOptions(preparation, archive, &main.optionCount);
    if (main.options == NULL) {
        huxReport("Error: out of memory starting the Java VM");
        return 1;
    }
    const char *source = NULL;
    size_t stackSize = chooseStackSize(&preparation->library, preparation->command.stackSize,
                                       &source);
    int status = runOnMainThread(&main, stackSize, source);
    free(main.options);
    return status;
}

/* Runs the Java program that the argument vector names, as the java
 * command would with args[1..] as its command line, and returns the exit
 * status: 0 after main returned and every non-daemon thread ended, 1 when
 * main threw or the VM, the main class or main could not be had (after
 * one line on standard error). System.exit ends the process itself. The
 * other twelve arguments carry nothing for this runtime. */
int32_t HUX_Launch(int32_t argCount, char **args, uint64_t w3, uint64_t w4, uint64_t w5,
                   uint64_t w6, const char *t7, const char *t8, const char *t9, const char *t10,
                   uint64_t w11, uint64_t w12, uint64_t w13, uint64_t w14) {
    (void)w3, (void)w4, (void)w5, (void)w6, (void)t7, (void)t8, (void)t9, (void)t10;
    (void)w11, (void)w12, (void)w13, (void)w14;
    forgetCallerOptions();
    const char *environmentOptions = huxCallerVariable("JDK_JAVA_OPTIONS");
    if (environmentOptions != NULL) {
        (void)fprintf(stderr, "NOTE: Picked up JDK_JAVA_OPTIONS: %s\n", environmentOptions);
    }
    Preparation preparation;
    char error[JVM_PROBLEM_SIZE + 64];
    bool vmNotFound = false;
    if (!prepare(argCount, args, environmentOptions, &preparation, error, sizeof error,
                 &vmNotFound)) {
        huxReport("%s", error);
        return 1;
    }
    JvmArchive archive;
    jvmPrepareArchive(argCount > 0 ? args[0] : NULL, &preparation.library, &preparation.command,
                      preparation.manifestRead ? &preparation.manifest : NULL, &archive);
    int status = startVm(&preparation, &archive, false);
    jvmReleaseArchive(&archive);
    releasePreparation(&preparation);
    return status;
}

/* Reads what the child writes on `fd` until its end into `text` (of
 * `size` bytes, zero-terminated, the rest dropped). */
static void readAll(int fd, char *text, size_t size) {
    size_t used = 0;
    for (;;) {
        char chunk[512];
        ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        size_t take = (size_t)got < size - 1 - used ? (size_t)got : size - 1 - used;
        for (size_t i = 0; i < take; i++) {
            text[used++] = chunk[i];
        }
    }
    text[used] = '\0';
}

/* Turns the lines the VM's check printed into one: joined by " / ",
 * without the java command's two closing lines, followed by ": `remedy`". */
static void summarise(const char *output, const char *remedy, char *message, size_t size) {
    static const char *const closing[] = {"Error: Could not create the Java Virtual Machine.",
                                          "Error: A fatal exception has occurred. Program will exit."};
    message[0] = '\0';
    size_t used = 0;
    for (const char *line = output; *line != '\0';) {
        size_t length = strcspn(line, "\n");
        bool skip = length == 0 || (length == strlen(closing[0]) &&
                                    strncmp(line, closing[0], length) == 0) ||
                    (length == strlen(closing[1]) && strncmp(line, closing[1], length) == 0);
        if (!skip && used < size) {
            int written = snprintf(message + used, size - used, "%s%.*s", used > 0 ? " / " : "",
                                   (int)length, line);
            used += written > 0 ? (size_t)written : 0;
        }
        line += length + (line[length] == '\n');
    }
    if (used < size) {
        (void)snprintf(message + used, size - used, "%s%s", used > 0 ? ": " : "", remedy);
    }
}

/* Creates the prepared program's VM in a child process, as the launch
 * would (without an archive), finds its main class and main method, and
 * destroys it. Returns the child's status, what it printed in `output`. */
static int checkInChild(const Preparation *preparation, char *output, size_t size) {
    int pipeEnds[2];
    output[0] = '\0';
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        (void)snprintf(output, size, "cannot start the VM's check: %s", strerror(errno));
        return 1;
    }
    (void)fflush(NULL);
    pid_t child = fork();
    if (child == 0) {
        huxKeepReportsFromJournal();
        (void)dup2(pipeEnds[1], STDOUT_FILENO);
        (void)dup2(pipeEnds[1], STDERR_FILENO);
        _exit(startVm(preparation, NULL, true));
    }
    close(pipeEnds[1]);
    if (child > 0) {
        readAll(pipeEnds[0], output, size);
    }
    close(pipeEnds[0]);
    int status = 0;
    while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (child < 0) {
        (void)snprintf(output, size, "cannot start the VM's check: %s", strerror(errno));
        return 1;
    }
    if (WIFSIGNALED(status)) {
        size_t used = strlen(output);
        (void)snprintf(output + used, size - used, "%sthe VM was killed by signal %d",
                       used > 0 ? "\n" : "", WTERMSIG(status));
        return 1;
    }
    return WEXITSTATUS(status);
}

/* For diagnostic tools: reads the launch data's argument vector (with
 * JDK_JAVA_OPTIONS and CLASSPATH as the launch takes them, the version
 * range and the VM search), checks the -jar file, then creates the VM
 * with the launch's options in a child process, finds the main class and
 * main without calling it, and destroys it. Returns 0 and writes
 * "libjvm.so: PATH (SOURCE)" into `message`, or returns 1 and writes what
 * the launch would print and what to do, as one line; zero-terminated,
 * truncated to `size` bytes. Records no archive. */
int32_t HUX_Check(char *message, int32_t size, int32_t argCount, char **args) {
    Preparation preparation;
    char error[JVM_PROBLEM_SIZE + 64];
    char line[CHECK_OUTPUT_SIZE + 64];
    int status = 1;
    bool vmNotFound = false;
    if (!prepare(argCount, args, huxCallerVariable("JDK_JAVA_OPTIONS"), &preparation, error,
                 sizeof error, &vmNotFound)) {
        if (vmNotFound) {
            (void)snprintf(line, sizeof line, "%s", error + strlen("Error: "));
        } else {
            summarise(error, "correct the application's arguments, its jar or JDK_JAVA_OPTIONS",
                      line, sizeof line);
        }
    } else {
        char output[CHECK_OUTPUT_SIZE];
        status = checkInChild(&preparation, output, sizeof output);
        if (status == 0) {
            (void)snprintf(line, sizeof line, "libjvm.so: %s (%s)", preparation.library.path,
                           preparation.library.source);
        } else {
            summarise(output, "correct the application's options or classes", line, sizeof line);
        }
        releasePreparation(&preparation);
    }
    if (message != NULL && size > 0) {
        (void)snprintf(message, (size_t)size, "%s", line);
    }
    return status == 0 ? 0 : 1;
}
