/*
 * Binary interface between the launcher and a runtime launcher library
 * (the library the launch data's runtimeLibPath names). Plain C, so a
 * library written in C or C++ can include it; the calling convention is
 * that of 64-bit Linux (x86-64 and arm64).
 *
 * The launcher loads the library with immediate binding, once, for the
 * rest of the process (it is never unmapped, so threads the runtime starts
 * may outlive the entry), sets the launch data's environment variables
 * and calls "HUX_Launch" on its main thread. The entry's result becomes
 * the launcher's exit status (its low 8 bits, as for any exit).
 *
 * "HUX_Launch" takes fourteen arguments:
 *   1 argCount  the number of entries in args
 *   2 args      the launch data's argument vector: args[0] is by
 *               convention the program's name (the reference auxiliary
 *               library puts the launcher's path there), and
 *               args[argCount] is null when the auxiliary library put a
 *               null entry after the last argument (the reference library
 *               does). The strings stay valid until the entry returns.
 *   3 to 6      64-bit words, always 0: reserved.
 *   7 and 8     one and the same pointer to the empty text "": reserved
 *               texts, which no runtime library reads.
 *   9 and 10    one and the same pointer to the text "ruvo": the tag of
 *               the interface the launcher calls the entry by, the same
 *               in every launcher of this interface.
 *   11 to 14    64-bit words, always 0: reserved.
 * A runtime library may ignore every argument but the first two, and must
 * not write through the pointers of 7 to 10. "HUX_Launch" must be a
 * function: the launcher refuses a library whose "HUX_Launch" is data.
 *
 * "HUX_Check" is optional: it lets a diagnostic tool (applauncher-doctor)
 * ask, without running the application, whether "HUX_Launch" would start
 * it with the current environment (the launch data's variables set) and
 * the launch data's argument vector, argCount and args, exactly as
 * "HUX_Launch" would receive them: a check reads them as the launch would
 * and refuses what the launch would refuse. It writes one line,
 * zero-terminated and cut to `size` bytes, into `message`: a description
 * of what would run, or the problem and what to do about it; and returns
 * 0 when the runtime would start, else non-zero. The argument vector comes
 * after the message so that a check that takes only the first two
 * arguments stays callable. The launcher itself never calls it.
 *
 * Both are exported under these unmangled names with default visibility;
 * declaring them through this header gives a definition that visibility
 * even in a library built with hidden symbols.
 */
#ifndef HUX_RUNTIME_API_H
#define HUX_RUNTIME_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define HUX_RUNTIME_EXPORT __attribute__((visibility("default")))

/* The runtime's entry, called once by the launcher. */
HUX_RUNTIME_EXPORT int32_t HUX_Launch(int32_t argCount, char **args, uint64_t reserved3,
                                      uint64_t reserved4, uint64_t reserved5,
                                      uint64_t reserved6, const char *reservedText7,
                                      const char *reservedText8, const char *interfaceTag9,
                                      const char *interfaceTag10, uint64_t reserved11,
                                      uint64_t reserved12, uint64_t reserved13,
                                      uint64_t reserved14);

/* The optional check for diagnostic tools. */
HUX_RUNTIME_EXPORT int32_t HUX_Check(char *message, int32_t size, int32_t argCount, char **args);

/* Types under which the launcher and tools call the results of dlsym. */
typedef int32_t (*HuxLaunchFn)(int32_t argCount, char **args, uint64_t reserved3,
                               uint64_t reserved4, uint64_t reserved5, uint64_t reserved6,
                               const char *reservedText7, const char *reservedText8,
                               const char *interfaceTag9, const char *interfaceTag10,
                               uint64_t reserved11, uint64_t reserved12, uint64_t reserved13,
                               uint64_t reserved14);
typedef int32_t (*HuxCheckFn)(char *message, int32_t size, int32_t argCount, char **args);

#ifdef __cplusplus
}
#endif

#endif
