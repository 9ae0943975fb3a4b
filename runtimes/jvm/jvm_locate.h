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

/* The Java feature versions an application runs on (HUX_JAVA_VERSIONS):
 * min and max inclusive, 0 where there is no bound. */
typedef struct JvmVersionRange {
    long min;
    long max;
} JvmVersionRange;

/* A VM library loaded for good, where it came from and its entries. */
typedef struct JvmLibrary {
    char path[PATH_MAX];
    char home[PATH_MAX];  /* the JDK's directory, above lib/server/libjvm.so */
    long feature;         /* its Java feature version (17 for 17.0.15); 0 unknown */
    const char *source;   /* "JAVA_HOME", "the java command", "default-java" or
                             "highest Java version" */
    CreateJavaVMFn createJavaVM;
    GetDefaultJavaVMInitArgsFn getDefaultJavaVMInitArgs;
} JvmLibrary;

/* The size of the buffer for the problem jvmLoadLibrary reports. */
enum { JVM_PROBLEM_SIZE = 4096 };

/* Reads HUX_JAVA_VERSIONS ("N" or "N-M", feature versions) into *range;
 * unset or empty gives no bounds. Returns false, with the reason in
 * `problem`, for any other value. */
bool jvmReadVersionRange(JvmVersionRange *range, char problem[JVM_PROBLEM_SIZE]);

/* Loads libjvm.so (RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE, never
 * unloaded) of the first JDK whose Java version `range` admits:
 * $JAVA_HOME's when JAVA_HOME is set and not empty, and nothing else then
 * (a JAVA_HOME outside the range is an error naming both); otherwise the
 * JDK that /usr/bin/java belongs to (its symbolic links resolved,
 * <jdk>/bin/java), /usr/lib/jvm/default-java, then the other /usr/lib/jvm
 * directories, highest Java version first, until one loads. Returns true
 * with *library filled, or false with `problem` holding one line (no
 * newline) naming every place looked, what was found and what to do. */
bool jvmLoadLibrary(const JvmVersionRange *range, JvmLibrary *library,
                    char problem[JVM_PROBLEM_SIZE]);

#ifdef __cplusplus
}
#endif

#endif
