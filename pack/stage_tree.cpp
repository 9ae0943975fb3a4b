#include "stage_tree.h"

#include "app_config.h"
#include "desktop_files.h"
#include "java_runtime.h"
#include "pack_files.h"
#include "python_files.h"

namespace {

// Copies the launcher, the reference library and the runtime library.
bool placeApplauncher(const PackRequest &request, const InstalledFiles &files,
                      const std::string &root, std::string *error) {
    const std::string &runtime =
        request.runtime == RuntimeKind::java ? files.jvmRuntime : files.pythonRuntime;
    if (runtime.empty()) {
        *error = std::string("applauncher is installed without its ") +
                 (request.runtime == RuntimeKind::java ? "JVM" : "CPython") +
                 " runtime library: install " +
                 (request.runtime == RuntimeKind::java ? "applauncher-jvm" : "applauncher-python");
        return false;
    }
    for (const LauncherSpec &launcher : request.launchers) {
        if (!copyFile(files.launcher, root + "/bin/" + launcher.name, error)) {
            return false;
        }
    }
    return copyFile(files.referenceAux, root + "/lib/libapplauncher.so", error) &&
           copyFile(runtime, root + "/lib/" + runtimeFileName(request), error);
}

// Writes each launcher's configuration and has the reference library read it.
bool writeConfigurations(const PackRequest &request, const std::string &root, bool archived,
                         std::string *error) {
    for (const LauncherSpec &launcher : request.launchers) {
        std::string file = configFileName(request, launcher);
        if (!writeFile(root + "/lib/" + file, launcherConfig(request, launcher, archived), 0644,
                       error)) {
            return false;
        }
        std::string refusal = checkLauncherConfig(root, file);
        if (!refusal.empty()) {
            *error = "the reference library refuses the configuration made for launcher " +
                     launcher.name + ": " + refusal;
            return false;
        }
    }
    return true;
}

}  // namespace

std::string userOptionsReadme(const PackRequest &request) {
    std::string text = request.name + " " + request.version + "\n\n";
    text += "Options without root\n--------------------\n\n";
    text += "Each program of " + request.name + " takes options from an environment variable\n"
            "and from a file of the user's own, besides its command line:\n\n";
    for (const LauncherSpec &launcher : request.launchers) {
        std::string file = "~/.config/" + request.name + "/" + configFileName(request, launcher);
        text += "  " + launcher.name + "\n";
        text += "    " + optionsVariable(launcher) + "=\"--opt 'two words'\" " + launcher.name +
                "\n";
        text += "        words split as a shell splits them (quotes group, nothing else\n"
                "        is interpreted), after the package's own arguments and before\n"
                "        the command line's\n";
        text += "    " + file + " (or under $XDG_CONFIG_HOME)\n";
        text += "        lines arg=WORD, args=WORDS and env=NAME=VALUE, read after the\n"
                "        package's own: a user's env= replaces the package's value\n\n";
    }
    return text;
}

bool stageTree(const PackRequest &request, const InstalledFiles &files, const std::string &root,
               std::string *error) {
    std::string share = root + "/share/" + request.name;
    std::string doc = root + "/share/doc/" + request.name;
    for (const std::string &dir : {root + "/bin", root + "/lib", share, doc}) {
        if (!makeDirectories(dir, error)) {
            return false;
        }
    }
    if (!copyTree(request.input, share, error) ||
        !placeApplauncher(request, files, root, error)) {
        return false;
    }
    bool archived = false;
    if (request.runtime == RuntimeKind::java && request.javaRuntime == JavaRuntime::bundled &&
        !bundleJavaRuntime(request, root, &archived, error)) {
        return false;
    }
    if (request.runtime == RuntimeKind::python && !preparePythonFiles(request, root, error)) {
        return false;
    }
    return writeConfigurations(request, root, archived, error) &&
           writeFile(doc + "/README", userOptionsReadme(request), 0644, error) &&
           writeDesktopFiles(request, root + "/share", request.installPrefix + "/bin", error) &&
           stampTree(root, request.sourceDateEpoch, error);
}
