// Finding the auxiliary library libapplauncher.so.
#ifndef LOCATOR_H
#define LOCATOR_H

#include <stdint.h>

// The auxiliary library's full path (heap text the caller frees), or null.
// Taken from the file list of the rpm or deb package that owns the running
// executable; when no package owns it, <executable's dir>/../lib.
char *getKivLauncherLibPath();

// What a tool that explains a launcher's start is told of the package
// queries as they run, through all four callbacks; `context` is passed on.
struct LocatorObserver {
    void *context;
    // A query starts: the command text exactly as the shell receives it.
    void (*queryStarted)(void *context, const char *command);
    // A line of its output that the locator takes in (empty lines never are).
    void (*queryLine)(void *context, const char *line);
    // The query ended: pclose's undecoded wait status, or -1 when the
    // command could not be built or started (then no queryStarted may
    // have come before).
    void (*queryEnded)(void *context, int32_t status);
    // The owner queries found the package that owns the executable (type 1
    // rpm, 2 deb); the file list query follows.
    void (*ownerFound)(void *context, const char *name, int32_t type);
};

// The same answer, by the same queries and the same log lines, for the
// executable at `exePath` (a resolved path, as "/proc/self/exe" gives it),
// for tools that explain a launcher's start; `observer` (or null) is told
// of each query. The caller keeps `exePath`.
char *getKivLauncherLibPathOf(const char *exePath, const LocatorObserver *observer);

#endif
