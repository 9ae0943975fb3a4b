// The files of applauncher that an application tree ships: the launcher,
// the reference auxiliary library and the runtime libraries, found where
// applauncher is installed beside this program.
#ifndef PACK_INSTALLED_FILES_H
#define PACK_INSTALLED_FILES_H

#include <string>

// Where they are; "" for a runtime library that is not installed.
struct InstalledFiles {
    std::string launcher;        // .../libexec/applauncher/applauncher
    std::string referenceAux;    // .../lib/<arch>/applauncher/libapplauncher.so
    std::string pythonRuntime;   // .../libhux_python.so
    std::string jvmRuntime;      // .../libhux_jvm.so
};

// The installed files for this program, applauncher-pack, at its own
// path: the launcher and the reference library must exist (else false
// with the reason in *error, naming where they were looked for). The
// variable APPLAUNCHER_PACK_FILES, when set, names a directory holding all
// four files instead (a build tree's, for tests).
bool findInstalledFiles(InstalledFiles *files, std::string *error);

#endif
