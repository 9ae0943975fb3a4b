#include "installed_files.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include "pack_files.h"

#ifndef PACK_TO_LAUNCHER
#error "PACK_TO_LAUNCHER must give the launcher's path relative to this program's directory"
#endif
#ifndef PACK_TO_LIBRARIES
#error "PACK_TO_LIBRARIES must give the libraries' directory relative to this program's directory"
#endif

namespace {

// This program's directory, from /proc/self/exe; "" when unknown.
std::string ownDirectory() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return "";
    }
    std::string self(path, (size_t)length);
    return self.substr(0, self.rfind('/'));
}

// Sets the runtime libraries found in `directory`.
void findRuntimes(const std::string &directory, InstalledFiles *files) {
    std::string python = directory + "/libhux_python.so";
    std::string jvm = directory + "/libhux_jvm.so";
    files->pythonRuntime = isRegularFile(python) ? python : "";
    files->jvmRuntime = isRegularFile(jvm) ? jvm : "";
}

}  // namespace

bool findInstalledFiles(InstalledFiles *files, std::string *error) {
    const char *override = getenv("APPLAUNCHER_PACK_FILES");
    std::string libraries;
    if (override != nullptr && *override != '\0') {
        libraries = override;
        files->launcher = libraries + "/applauncher";
    } else {
        std::string own = ownDirectory();
        files->launcher = absolutePath(own + "/" + PACK_TO_LAUNCHER);
        libraries = absolutePath(own + "/" + PACK_TO_LIBRARIES);
    }
    files->referenceAux = libraries + "/libapplauncher.so";
    findRuntimes(libraries, files);
    for (const std::string &needed : {files->launcher, files->referenceAux}) {
        if (!isRegularFile(needed)) {
            *error = "applauncher is not installed beside applauncher-pack: no " + needed +
                     " (install applauncher-dev, or the whole applauncher tree)";
            return false;
        }
    }
    return true;
}
