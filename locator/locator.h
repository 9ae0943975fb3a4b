// Finding the auxiliary library libapplauncher.so.
#ifndef LOCATOR_H
#define LOCATOR_H

// The auxiliary library's full path (heap text the caller frees), or null.
// Taken from the file list of the rpm or deb package that owns the running
// executable; when no package owns it, <executable's dir>/../lib.
char *getKivLauncherLibPath();

// The same answer, by the same queries and the same log lines, for the
// executable at `exePath` (a resolved path, as "/proc/self/exe" gives it),
// for tools that explain a launcher's start. The caller keeps `exePath`.
char *getKivLauncherLibPathOf(const char *exePath);

#endif
