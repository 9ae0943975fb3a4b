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
 * calls its public static void main(String[]) with the program's
 * arguments decoded in the platform encoding, hands an exception it
 * throws to the thread's uncaught exception handler, and then destroys
 * the VM, which waits for the other non-daemon threads. A missing jar,
 * main class or main method is reported as one line on System.err.
 * Returns 0, or 1 when main threw or could not be called. */
int jvmRunProgram(JavaVM *vm, JNIEnv *env, const JvmCommand *command);

#ifdef __cplusplus
}
#endif

#endif
