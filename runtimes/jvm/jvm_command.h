/* The runtime library's argument vector read as the java command reads
 * its command line. */
#ifndef JVM_COMMAND_H
#define JVM_COMMAND_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* What one launch asks of the VM. */
typedef struct JvmCommand {
    char **vmOptions;       /* the options for JNI_CreateJavaVM, heap-owned */
    int vmOptionCount;
    const char *mainClass;  /* as given (dotted or slashed); null with -jar */
    const char *jarFile;    /* the -jar file, or null */
    char **programArgs;     /* the words for main(String[]), in the entry's vector */
    int programArgCount;
    size_t stackSize;       /* the -Xss size in bytes; 0 when not given */
    const char *launcherAgentClass;  /* the -jar file's Launcher-Agent-Class, or
                                        null; set by the caller, not parsed */
} JvmCommand;

/* The size of the buffer for jvmParseCommand's error line. */
enum { JVM_COMMAND_ERROR_SIZE = 1024 };

/* Reads args (args[0] the program name) preceded by the words of
 * environmentOptions (JDK_JAVA_OPTIONS, or null), with classPathVariable
 * (CLASSPATH, or null) as the class path when no option gives one.
 * Returns true with *command filled (release it with jvmReleaseCommand),
 * or false with *command empty and the reason in `error` (truncated to
 * fit): one line without newline, or for an -Xss size the java command
 * refuses, its lines as it prints them, joined by newlines. */
bool jvmParseCommand(int32_t argCount, char **args, const char *environmentOptions,
                     const char *classPathVariable, JvmCommand *command,
                     char error[JVM_COMMAND_ERROR_SIZE]);

/* Frees what jvmParseCommand allocated in *command and empties it. */
void jvmReleaseCommand(JvmCommand *command);

#ifdef __cplusplus
}
#endif

#endif
