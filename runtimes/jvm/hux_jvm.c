/* Runtime launcher library for the JVM: its "HUX_Launch" reads the launch
 * data's argument vector as the java command reads its command line,
 * loads libjvm.so, creates the VM on a new thread, which becomes Java's
 * main thread, runs the main class there and returns the exit status. */
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

#include "jvm_command.h"
#include "jvm_locate.h"
#include "jvm_program.h"
#include "hux_runtime_api.h"
#include "runtime_trace.h"
#include "secure_environment.h"

enum { FALLBACK_STACK_SIZE = 1 << 20 };

/* What the main thread needs, and the status it leaves. */
typedef struct MainThread {
    const JvmLibrary *library;
    const JvmCommand *command;
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

/* The main thread: creates the VM with the command's options and runs the
 * program in it, leaving the status in the MainThread record. When the VM
 * refuses to start it has printed why; the two lines the java command adds
 * then follow. */
static void *runMainThread(void *data) {
    MainThread *main = (MainThread *)data;
    const JvmCommand *command = main->command;
    main->status = 1;
    JavaVMOption *options = (JavaVMOption *)calloc((size_t)command->vmOptionCount + 2,
                                                   sizeof(JavaVMOption));
    if (options == NULL) {
        (void)fprintf(stderr, "Error: out of memory starting the Java VM\n");
        return NULL;
    }
    int count = 0;
    for (; count < command->vmOptionCount; count++) {
        options[count].optionString = command->vmOptions[count];
        huxTrace("jvm: option[%d]: [%s]", count, command->vmOptions[count]);
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
        (void)fputs("Error: Could not create the Java Virtual Machine.\n"
                    "Error: A fatal exception has occurred. Program will exit.\n",
                    stderr);
        huxTrace("jvm: JNI_CreateJavaVM: %d", (int)created);
    } else {
        main->status = jvmRunProgram(vm, env, command);
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
        (void)fprintf(stderr,
                      "Error: cannot start the Java main thread with a %zu-byte stack: %s\n",
                      stackSize, strerror(failed));
        return 1;
    }
    huxTrace("jvm: main thread stack [%zu] from %s", stackSize, source);
    pthread_join(thread, NULL);
    return main->status;
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
    JvmCommand command;
    char error[JVM_COMMAND_ERROR_SIZE];
    if (!jvmParseCommand(argCount, args, environmentOptions, huxCallerVariable("CLASSPATH"), &command,
                         error)) {
        (void)fprintf(stderr, "%s\n", error);
        return 1;
    }
    JvmLibrary library;
    char problem[JVM_PROBLEM_SIZE];
    int status = 1;
    if (!jvmLoadLibrary(&library, problem)) {
        (void)fprintf(stderr, "Error: %s\n", problem);
    } else {
        MainThread main = {&library, &command, 1};
        const char *source = NULL;
        size_t stackSize = chooseStackSize(&library, command.stackSize, &source);
        status = runOnMainThread(&main, stackSize, source);
    }
    jvmReleaseCommand(&command);
    return status;
}
