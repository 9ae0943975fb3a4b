/*
 * Binary interface between the launcher and an auxiliary library
 * (libapplauncher.so). Plain C, so a library written in C or C++ can
 * include it; the layout below is fixed for 64-bit little-endian Linux
 * (x86-64 and arm64).
 *
 * The library exports "kivLauncherGetAPI" and "kivLauncherCreate" under
 * these unmangled names. The launcher loads the library, asks it for its
 * function table and a handle for the command line, and has it build one
 * self-contained launch data block.
 */
#ifndef KIVLAUNCHER_API_H
#define KIVLAUNCHER_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque handle owned by the auxiliary library; released through the table. */
typedef void *KivLauncherHandle;

/*
 * Launch data record: the first 40 bytes of one block. Every pointer in it,
 * the four fields and every array entry, points into that same block, and
 * none of the four fields is null even when a count is 0, so the block can
 * be copied as raw bytes and rebased at another address.
 */
typedef struct KivlLauncherData {
    char *runtimeLibPath; /* offset 0: path of the runtime launcher library */
    int32_t argCount;     /* offset 8: entries in args */
    int32_t envCount;     /* offset 12: entries in envNames and envValues */
    char **args;          /* offset 16: arguments for the runtime entry */
    char **envNames;      /* offset 24: environment variable names */
    char **envValues;     /* offset 32: values, entry i belongs to envNames[i] */
} KivlLauncherData;

/* The record crosses a pipe between processes and a library built on its
 * own, so its layout is checked where the header is compiled: 64-bit
 * pointers, 32-bit counts, little-endian, fields at these offsets. */
#ifdef __cplusplus
#define KIVLAUNCHER_LAYOUT_CHECK(condition, text) static_assert(condition, text)
#else
#define KIVLAUNCHER_LAYOUT_CHECK(condition, text) _Static_assert(condition, text)
#endif
KIVLAUNCHER_LAYOUT_CHECK(sizeof(void *) == 8, "the record needs 64-bit pointers");
KIVLAUNCHER_LAYOUT_CHECK(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
                         "the record is little-endian");
KIVLAUNCHER_LAYOUT_CHECK(sizeof(KivlLauncherData) == 40, "the record is 40 bytes");
KIVLAUNCHER_LAYOUT_CHECK(__builtin_offsetof(KivlLauncherData, argCount) == 8 &&
                             __builtin_offsetof(KivlLauncherData, envCount) == 12 &&
                             __builtin_offsetof(KivlLauncherData, args) == 16 &&
                             __builtin_offsetof(KivlLauncherData, envNames) == 24 &&
                             __builtin_offsetof(KivlLauncherData, envValues) == 32,
                         "record fields at offsets 0, 8, 12, 16, 24, 32");
#undef KIVLAUNCHER_LAYOUT_CHECK

/* The library's function table; the launcher only reads it, never frees it. */
typedef struct KivlLauncherAPI {
    /* Frees the handle and everything it owns. */
    void (*release)(KivLauncherHandle handle);
    /* Bytes the record block needs (at least 40); 0 or less means failure. */
    int32_t (*getDataSize)(KivLauncherHandle handle);
    /* Builds the record at the start of buffer and returns buffer itself,
     * or null on failure. The launcher frees the buffer with free(). */
    KivlLauncherData *(*fillData)(KivLauncherHandle handle, void *buffer,
                                  int32_t bufferSize);
} KivlLauncherAPI;

/* Exported by the auxiliary library. */
const KivlLauncherAPI *kivLauncherGetAPI(void);
KivLauncherHandle kivLauncherCreate(int32_t argc, char **argv);

/* Types under which the launcher calls the results of dlsym. */
typedef const KivlLauncherAPI *(*KivLauncherGetAPIFn)(void);
typedef KivLauncherHandle (*KivLauncherCreateFn)(int32_t argc, char **argv);

#ifdef __cplusplus
}
#endif

#endif
