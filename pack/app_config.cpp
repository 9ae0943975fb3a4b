#include "app_config.h"

#include <string.h>

#include "config_expand.h"
#include "config_source.h"
#include "java_runtime.h"
#include "launch_config.h"

const char bundledRuntimeDir[] = "lib/runtime";
const char pythonEnvironmentDir[] = "lib/venv";

namespace {

// "$APPDIR/share/<name>/<path>".
std::string shipped(const PackRequest &request, const std::string &path) {
    return "$APPDIR/share/" + request.name + "/" + path;
}

// A configuration value that stands for `text` literally: every '$'
// doubled. For the paths the pack itself writes (file names from --input).
std::string literal(const std::string &text) {
    std::string out;
    for (char c : text) {
        out += c == '$' ? std::string("$$") : std::string(1, c);
    }
    return out;
}

// The lines that start the main of a Java launcher: `-jar JAR` when no
// main class is given, else the class path and the main class.
std::string javaMain(const PackRequest &request, const LauncherSpec &launcher, bool archived) {
    std::string lines;
    if (request.javaRuntime == JavaRuntime::bundled) {
        lines += std::string("env=JAVA_HOME=$APPDIR/") + bundledRuntimeDir + "\n";
        if (archived) {
            lines += "arg=-XX:SharedArchiveFile=$APPDIR/" + bundledArchivePath(request) + "\n";
        }
    } else if (!request.javaVersions.empty()) {
        lines += "env=HUX_JAVA_VERSIONS=" + request.javaVersions + "\n";
    }
    for (const std::string &option : launcher.javaOptions) {
        lines += "arg=" + option + "\n";
    }
    if (launcher.mainClass.empty()) {
        return lines + "arg=-jar\narg=" + shipped(request, literal(launcher.mainJar)) + "\n";
    }
    std::string classPath;
    for (const std::string &jar : launcherClassPath(launcher)) {
        classPath += (classPath.empty() ? "" : ":") + shipped(request, literal(jar));
    }
    if (!classPath.empty()) {
        lines += "arg=-cp\narg=" + classPath + "\n";
    }
    return lines + "arg=" + launcher.mainClass + "\n";
}

// The lines that start the main of a Python launcher.
std::string pythonMain(const PackRequest &request, const LauncherSpec &launcher) {
    std::string lines;
    if (!request.pythonWheels.empty()) {
        lines += std::string("env=HUX_PYTHON_VENV=$APPDIR/") + pythonEnvironmentDir + "\n";
    }
    for (const std::string &option : launcher.pythonOptions) {
        lines += "arg=" + option + "\n";
    }
    if (!launcher.entryPoint.empty() || !launcher.module.empty()) {
        lines += "arg=--module-path\narg=$APPDIR/" + literal(moduleDirectory(request)) + "\n";
    }
    if (!launcher.entryPoint.empty()) {
        lines += "arg=--entry-point\narg=" + launcher.entryPoint + "\n";
    } else if (!launcher.module.empty()) {
        lines += "arg=-m\narg=" + launcher.module + "\n";
    } else {
        lines += "arg=" + shipped(request, literal(launcher.script)) + "\n";
    }
    return lines;
}

// A copy of the file system source in which no variable is set, so that
// a check does not depend on the packer's environment.
const char *noVariable(void *, const char *) {
    return nullptr;
}

}  // namespace

std::string configFileName(const PackRequest &request, const LauncherSpec &launcher) {
    return launcher.name == request.name ? "applauncher.cfg"
                                         : "applauncher-" + launcher.name + ".cfg";
}

std::string runtimeFileName(const PackRequest &request) {
    if (!request.runtimeLibrary.empty()) {
        return request.runtimeLibrary;
    }
    return request.runtime == RuntimeKind::java ? "libhux_jvm.so" : "libhux_python.so";
}

std::string moduleDirectory(const PackRequest &request) {
    return request.modulePath.empty() ? "share/" + request.name : request.modulePath;
}

std::string launcherMainLines(const PackRequest &request, const LauncherSpec &launcher,
                              bool archived) {
    bool java = !launcher.mainJar.empty() || !launcher.mainClass.empty();
    bool python = !launcher.entryPoint.empty() || !launcher.module.empty() ||
                  !launcher.script.empty();
    if (!java && !python) {
        return "";
    }
    return request.runtime == RuntimeKind::java ? javaMain(request, launcher, archived)
                                                : pythonMain(request, launcher);
}

std::string bundledArchivePath(const PackRequest &request) {
    return "lib/" + request.name + ".jsa";
}

std::string optionsVariable(const LauncherSpec &launcher) {
    std::string name;
    for (char c : launcher.name) {
        bool alnum = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        name += alnum ? (char)(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c) : '_';
    }
    return (name[0] >= '0' && name[0] <= '9' ? "_" : "") + name + "_OPTIONS";
}

std::string userConfigPattern(const PackRequest &request, const LauncherSpec &launcher) {
    return "${XDG_CONFIG_HOME:-${HOME}/.config}/" + request.name + "/" +
           configFileName(request, launcher);
}

std::string launcherConfig(const PackRequest &request, const LauncherSpec &launcher,
                           bool archived) {
    std::string text = "# How " + request.name + "'s bin/" + launcher.name +
                       " starts, written by applauncher-pack: the runtime library beside\n"
                       "# this file runs the main; the command line's arguments follow.\n";
    text += "runtime=" + runtimeFileName(request) + "\n";
    text += "arg=$APPDIR/bin/" + launcher.name + "\n";
    text += launcherMainLines(request, launcher, archived);
    for (const std::string &argument : launcher.arguments) {
        text += "arg=" + argument + "\n";
    }
    for (const std::string &entry : launcher.environment) {
        text += "env=" + entry + "\n";
    }
    text += "# Options from the environment, split into words as a shell would split\n"
            "# them, and a user's own lines (arg=, args=, env=), no root needed.\n";
    text += "args=${" + optionsVariable(launcher) + "}\n";
    text += "include-optional=" + userConfigPattern(request, launcher) + "\n";
    return text;
}

std::string checkConfigValue(const std::string &value) {
    if (value.find_first_of("\r\n") != std::string::npos) {
        return "it holds a line break";
    }
    ConfigSource source = *fileSystemSource(false);
    source.variable = noVariable;
    const char *plainReason = nullptr;
    Expansion how = {&source, "/", "/", false, maxValueBytes, valueLimitReason, &plainReason};
    TextBuffer out = {nullptr, 0, 0};
    char reason[configReasonSize] = "";
    bool expanded = expandValue(&how, value.data(), value.size(), &out, reason);
    freeText(&out);
    return expanded ? "" : reason;
}

std::string checkLauncherConfig(const std::string &root, const std::string &file) {
    ConfigSource source = *fileSystemSource(false);
    source.variable = noVariable;
    LaunchConfig config;
    ConfigError error;
    std::string path = root + "/lib/" + file;
    if (loadLaunchConfig(&source, path.c_str(), root.c_str(), 0, &config, &error)) {
        freeLaunchConfig(&config);
        return "";
    }
    std::string where = error.file;
    if (where.compare(0, root.size(), root) == 0) {
        where = where.substr(root.size() + 1);
    }
    return where + (error.line > 0 ? ":" + std::to_string(error.line) : "") + ": " + error.reason;
}
