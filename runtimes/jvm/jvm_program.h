/* The Java side of a launch: the main class, String[] and main itself. */
#ifndef JVM_PROGRAM_H
#define JVM_PROGRAM_H

#include <jni.h>

#include "jvm_command.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Runs the program in the VM this thread has just created: finds the main
 * class (the jar's Main-Class with -jar) through the system class loader,
 * starts the command's Launcher-Agent-Class when it names one (its
 * agentmain(String, Instrumentation), else agentmain(String), given "" and
 * the instrumentation of the agent jar the VM started), calls its public static void main(String[]) with the program's
 * arguments decoded in the platform encoding, hands an exception it
 * throws to the thread's uncaught exception handler, and then destroys
 * the VM, which waits for the other non-daemon threads. A missing jar,
 * main class or main method is reported as one line on System.err.
 * Returns 0, or 1 when main threw or could not be called. */
int jvmRunProgram(JavaVM *vm, JNIEnv *env, const JvmCommand *command);

/* What jvmRunProgram does up to main, without calling it or the
 * Launcher-Agent-Class: finds the main class and its main method, saying
 * on System.err what is missing as jvmRunProgram would. Returns 0 when
 * main would be called, else 1. Leaves the VM running. */
int jvmCheckProgram(JNIEnv *env, const JvmCommand *command);

#ifdef __cplusplus
}
#endif

#endif
