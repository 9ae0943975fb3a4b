// Functions shared between the launcher's entry and its interface code.
#ifndef LAUNCHER_H
#define LAUNCHER_H

#include <stdint.h>

#include "kivlauncher_api.h"

// The runtime launcher library's entry "HUX_Launch". Arguments 3 to 6 and
// 11 to 14 are 64-bit words that the launcher passes as zero.
typedef int32_t (*HuxLaunchFn)(int32_t argCount, char **args, uint64_t, uint64_t,
                               uint64_t, uint64_t, const char *, const char *,
                               const char *, const char *, uint64_t, uint64_t,
                               uint64_t, uint64_t);

// True while SORVANTA_DEBUG is exactly "true"; read at every call.
bool kivLauncherDebugEnabled();

// Writes one diagnostic line "[pid]: message\n" to standard error, in a
// single write, while SORVANTA_DEBUG is exactly "true"; otherwise nothing.
void kivLauncherLog(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Has the auxiliary library build the launch data block. Always releases a
// non-null handle. Returns the block (heap memory the caller frees) and
// stores its size in *outSize when outSize is not null, or returns null and
// leaves *outSize unchanged.
KivlLauncherData *kivLauncherCreateKivlLauncherData(const KivlLauncherAPI *api,
                                                    KivLauncherHandle handle,
                                                    int32_t *outSize);

// Logs the record, sets its environment variables (overwriting) and calls
// the entry with the record's arguments; returns the entry's result.
int32_t kivLauncherStartKiv(const KivlLauncherData *record, HuxLaunchFn entry);

#endif
