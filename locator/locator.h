// Finding the auxiliary library libapplauncher.so.
#ifndef LOCATOR_H
#define LOCATOR_H

// The auxiliary library's full path (heap text the caller frees), or null.
// Taken from the file list of the rpm or deb package that owns the running
// executable; when no package owns it, <executable's dir>/../lib.
char *getKivLauncherLibPath();

#endif
