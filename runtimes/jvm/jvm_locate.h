/* Finding and loading the VM library, libjvm.so. */
#ifndef JVM_LOCATE_H
#define JVM_LOCATE_H

#include <limits.h>
#include <stdbool.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>

#include <jni.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The invocation functions of a loaded VM library. */
typedef jint(JNICALL *CreateJavaVMFn)(JavaVM **vm, void **env, void *args);
typedef jint(JNICALL *GetDefaultJavaVMInitArgsFn)(void *args);

/* The JDK 1.1 initialisation arguments, as the JNI 1.1 invocation
 * interface defines them. Current jni.h headers no longer declare them;
 * JNI_GetDefaultJavaVMInitArgs still fills javaStackSize in them, though
 * it then reports the version as unsupported (JNI_ERR). */
typedef struct InitArgs11 {
    jint version;
    char **properties;
    jint checkSource;
    jint nativeStackSize;
    jint javaStackSize;
    jint minHeapSize;
    jint maxHeapSize;
    jint verifyMode;
    char *classpath;
    jint(JNICALL *vfprintf)(FILE *stream, const char *format, va_list args);
    void(JNICALL *exit)(jint code);
    void(JNICALL *abort)(void);
    jint enableClassGC;
    jint enableVerboseGC;
    jint disableAsyncGC;
    jint verbose;
    jboolean debugging;
    jint debugPort;
} InitArgs11;

/* A VM library loaded for good, where it came from and its entries. */
typedef struct JvmLibrary {
    char path[PATH_MAX];
    const char *source;  /* "JAVA_HOME", "default-java" or "highest Java version" */
    CreateJavaVMFn createJavaVM;
    GetDefaultJavaVMInitArgsFn getDefaultJavaVMInitArgs;
} JvmLibrary;

/* The size of the buffer for the problem jvmLoadLibrary reports. */
enum { JVM_PROBLEM_SIZE = 4096 };

/* Loads libjvm.so (RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE, never
 * unloaded): $JAVA_HOME/lib/server/libjvm.so when JAVA_HOME is set and
 * not empty, and nothing else then; otherwise
 * /usr/lib/jvm/default-java/lib/server/libjvm.so, then those of the other
 * /usr/lib/jvm directories, highest Java version first, until one loads.
 * Returns true with *library filled, or false with `problem` holding one
 * line (no newline) naming every place looked and what to do. */
bool jvmLoadLibrary(JvmLibrary *library, char problem[JVM_PROBLEM_SIZE]);

#ifdef __cplusplus
}
#endif

#endif
