#include "cmake_parts.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <vector>

#include "app_config.h"
#include "desktop_files.h"
#include "java_runtime.h"
#include "pack_files.h"
#include "python_files.h"
#include "request_check.h"

const char cmakeProblemPrefix[] = "applauncher_add_application: ";

namespace {

// Each option the CMake function passes for a keyword, and the keyword.
struct KeywordOption {
    const char *option;
    const char *keyword;
};
const KeywordOption keywordOptions[] = {
    {"--argument", "ARGS"},          {"--env", "ENV"},
    {"--entry-point", "ENTRY_POINT"}, {"--module-path", "MODULE_PATH"},
    {"--java-versions", "JAVA_VERSIONS"}, {"--launcher", "LAUNCHER"},
    {"--desktop-entry", "DESKTOP_ENTRY"}, {"--display-name", "DISPLAY_NAME"},
    {"--comment", "COMMENT"},        {"--categories", "CATEGORIES"},
    {"--terminal", "TERMINAL"},      {"--file-type", "FILE_TYPES"},
    {"--wm-class", "WM_CLASS"},      {"--icon", "ICONS"},
    {"--app-id", "APP_ID"},          {"--appstream", "APPSTREAM"},
    {"--summary", "SUMMARY"},        {"--description", "DESCRIPTION"},
    {"--license", "LICENSE"},        {"--vendor", "VENDOR"},
    {"--homepage", "HOMEPAGE"},      {"--prefix", "PREFIX"},
    {"--app-version", "VERSION"},    {"--name", "NAME"},
    {"--runtime", "RUNTIME"},        {"--compile-python", "COMPILE_PYTHON"},
};

// Whether `c` may continue an option's name.
bool optionCharacter(char c) {
    return (c >= 'a' && c <= 'z') || c == '-';
}

// A launcher's name as the function takes it: a plain file name.
bool isFileName(const std::string &name) {
    if (name.empty() || name[0] == '.' || name[0] == '-' || name[0] == '_' ||
        name[0] == '+') {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '_' || c == '+' || c == '-';
    });
}

// "" for the main launcher, "LAUNCHER <name>: " for another: where the
// function's caller gave the keyword.
std::string section(const PackRequest &request, const LauncherSpec &launcher) {
    return launcher.name == request.name ? "" : "LAUNCHER " + launcher.name + ": ";
}

// "<where><keyword> entry \"<entry>\"<rest>": what the function says of
// one ARGS or ENV entry.
std::string entryProblem(const std::string &where, const char *keyword, const std::string &entry,
                         const std::string &rest) {
    std::string problem = where;
    problem.append(keyword).append(" entry \"").append(entry).append("\"").append(rest);
    return problem;
}

// The launchers: plain file names, each once; a main only as an entry
// point; every argument and variable one the reference library takes.
std::string checkCMakeLaunchers(const PackRequest &request) {
    std::set<std::string> names;
    for (const LauncherSpec &launcher : request.launchers) {
        if (!isFileName(launcher.name)) {
            return "LAUNCHER \"" + launcher.name + "\" is not a plain file name (letters, "
                   "digits, '.', '_', '+', '-')";
        }
        if (!names.insert(launcher.name).second) {
            return "LAUNCHER " + launcher.name + " is given twice (or is NAME)";
        }
        std::string where = section(request, launcher);
        if (!launcher.mainJar.empty() || !launcher.mainClass.empty() ||
            !launcher.classPath.empty() || !launcher.module.empty() ||
            !launcher.script.empty() || !launcher.javaOptions.empty() ||
            !launcher.pythonOptions.empty()) {
            return where + "a launcher's main is given by ENTRY_POINT or by its ARGS";
        }
        if (!launcher.entryPoint.empty() && request.runtime != RuntimeKind::python) {
            return where + "ENTRY_POINT is for RUNTIME python";
        }
        for (const std::string &entry : launcher.environment) {
            size_t equals = entry.find('=');
            if (equals == std::string::npos || equals == 0) {
                return entryProblem(where, "ENV", entry, " is not NAME=VALUE");
            }
        }
        struct Values {
            const std::vector<std::string> &values;
            const char *keyword;
            bool named;
        };
        for (Values given : {Values{launcher.arguments, "ARGS", false},
                             Values{launcher.environment, "ENV", true}}) {
            for (const std::string &value : given.values) {
                std::string refusal =
                    checkConfigValue(given.named ? value.substr(value.find('=') + 1) : value);
                if (!refusal.empty()) {
                    return entryProblem(where, given.keyword, value,
                                        ": " + refusal + " (write a literal $ as $$)");
                }
            }
        }
    }
    return "";
}

// The text of one launcher's configuration (see cmake_parts.h).
std::string cmakeLauncherConfig(const PackRequest &request, const LauncherSpec &launcher) {
    std::string text = "runtime=" + runtimeFileName(request) + "\n";
    text += "arg=$APPDIR/bin/" + launcher.name + "\n";
    text += launcherMainLines(request, launcher, false);
    for (const std::string &argument : launcher.arguments) {
        text += "arg=" + argument + "\n";
    }
    for (const std::string &entry : launcher.environment) {
        text += "env=" + entry + "\n";
    }
    if (!request.javaVersions.empty()) {
        text += "env=HUX_JAVA_VERSIONS=" + request.javaVersions + "\n";
    }
    return text;
}

// Line `number` (from 1) of `text`, "" when there is none.
std::string lineOf(const std::string &text, long number) {
    size_t start = 0;
    for (long i = 1; i < number && start != std::string::npos; i++) {
        start = text.find('\n', start);
        start = start == std::string::npos ? start : start + 1;
    }
    if (start == std::string::npos || start >= text.size()) {
        return "";
    }
    return text.substr(start, text.find('\n', start) - start);
}

// The refusal "<file>:<line>: <reason>" of `launcher`'s configuration
// `text` by the reference library, told by the keyword entry that made
// that line when one did.
std::string configRefusal(const PackRequest &request, const LauncherSpec &launcher,
                          const std::string &text, const std::string &refusal) {
    std::string where = section(request, launcher);
    size_t colon = refusal.find(':');
    size_t reasonAt = refusal.find(": ");
    long number =
        colon == std::string::npos ? 0 : strtol(refusal.c_str() + colon + 1, nullptr, 10);
    std::string line = lineOf(text, number);
    std::string reason = reasonAt == std::string::npos ? refusal : refusal.substr(reasonAt + 2);
    struct Made {
        const std::vector<std::string> &entries;
        const char *keyword;
        const char *key;
    };
    for (Made made : {Made{launcher.environment, "ENV", "env="},
                      Made{launcher.arguments, "ARGS", "arg="}}) {
        auto found =
            std::find_if(made.entries.begin(), made.entries.end(),
                         [&](const std::string &entry) { return line == made.key + entry; });
        if (found != made.entries.end()) {
            return entryProblem(where, made.keyword, *found, ": " + reason);
        }
    }
    return where + "the reference library refuses the configuration made for launcher " +
           launcher.name + ": " + refusal;
}

// `text` as a CMake bracket argument, [=[text]=] with as many '=' as keep
// it from closing early.
std::string cmakeBracket(const std::string &text) {
    std::string equals;
    std::string closing = "]]";
    while ((text + closing).find(closing) != text.size()) {
        equals += "=";
        closing = "]" + equals + "]";
    }
    return "[" + equals + "[" + text + "]" + equals + "]";
}

// The text of application.cmake (see cmake_parts.h).
std::string applicationCMake(const PackRequest &request) {
    std::string launchers;
    for (const LauncherSpec &launcher : request.launchers) {
        launchers += (launchers.empty() ? "" : ";") + launcher.name;
    }
    bool range = request.runtime == RuntimeKind::java && !request.javaVersions.empty();
    std::string text = "# What applauncher-pack --cmake-parts made for " + request.name +
                       ", for applauncher_add_application().\n";
    text += "set(applauncher_pack_launchers " + cmakeBracket(launchers) + ")\n";
    text += "set(applauncher_pack_debian_depends " +
            cmakeBracket(range ? javaDebianDependsFor(request.javaVersions) : "") + ")\n";
    text += "set(applauncher_pack_rpm_requires " +
            cmakeBracket(range ? javaRpmRequiresFor(request.javaVersions) : "") + ")\n";
    return text;
}

// Says `problem` as the CMake function and returns 1.
int cmakeFailure(const std::string &problem) {
    (void)fprintf(stderr, "%s%s\n", cmakeProblemPrefix, cmakeKeywords(problem).c_str());
    return 1;
}

}  // namespace

std::string cmakeKeywords(const std::string &problem) {
    std::string out;
    size_t i = 0;
    while (i < problem.size()) {
        bool replaced = false;
        if (problem.compare(i, 2, "--") == 0 && (i == 0 || !optionCharacter(problem[i - 1]))) {
            for (const KeywordOption &pair : keywordOptions) {
                size_t length = strlen(pair.option);
                if (problem.compare(i, length, pair.option) == 0 &&
                    (i + length == problem.size() || !optionCharacter(problem[i + length]))) {
                    out += pair.keyword;
                    i += length;
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) {
            out += problem[i++];
        }
    }
    return out;
}

std::string checkCMakeRequest(PackRequest &request) {
    if (request.name.empty()) {
        return "NAME is required";
    }
    if (request.runtime == RuntimeKind::unknown && request.runtimeLibrary.empty()) {
        return "--cmake-parts needs --runtime: python, jvm or a runtime library's file name";
    }
    const std::string &library = request.runtimeLibrary;
    if (!library.empty() &&
        (!isFileName(library) || library == "libapplauncher.so" ||
         (library.compare(0, 11, "applauncher") == 0 && library.size() >= 4 &&
          library.compare(library.size() - 4, 4, ".cfg") == 0))) {
        return "RUNTIME file name \"" + library + "\" is not a plain file name other than "
               "the auxiliary library's and the configurations'";
    }
    if (!request.input.empty() || request.types.size() != 1 || request.types[0] != "app-image") {
        return "--cmake-parts makes no package: it takes no --input and no --type";
    }
    if (!request.javaVersions.empty()) {
        int min = 0;
        int max = 0;
        if (request.runtime != RuntimeKind::java) {
            return "JAVA_VERSIONS is for RUNTIME jvm";
        }
        if (!parseJavaVersions(request.javaVersions, &min, &max)) {
            return "JAVA_VERSIONS \"" + request.javaVersions + "\" is not N or N-M";
        }
    }
    if (request.installPrefix.empty()) {
        request.installPrefix = "/opt/" + request.name;
    }
    if (request.appstream && request.version.empty()) {
        return "APPSTREAM needs VERSION (or a project version): the release it describes";
    }
    std::string problem = checkCMakeLaunchers(request);
    if (problem.empty() && request.runtime == RuntimeKind::python) {
        problem = checkPythonRequest(request);
    } else if (problem.empty() && !request.modulePath.empty()) {
        problem = "--module-path is for RUNTIME python";
    }
    return problem.empty() ? checkDesktopRequest(request) : problem;
}

bool writeCMakeParts(const PackRequest &request, const std::string &dir, std::string *error) {
    if (!makeDirectories(dir + "/lib", error) || !makeDirectories(dir + "/share", error)) {
        return false;
    }
    std::string standIn = dir + "/lib/" + runtimeFileName(request);
    if (!writeFile(standIn, "", 0644, error)) {
        return false;
    }
    for (const LauncherSpec &launcher : request.launchers) {
        std::string file = configFileName(request, launcher);
        std::string text = cmakeLauncherConfig(request, launcher);
        std::string path = dir + "/lib/";
        path += file;
        if (!writeFile(path, text, 0644, error)) {
            return false;
        }
        std::string refusal = checkLauncherConfig(dir, file);
        if (!refusal.empty()) {
            *error = configRefusal(request, launcher, text, refusal);
            return false;
        }
    }
    if (unlink(standIn.c_str()) != 0) {
        *error = standIn + ": " + strerror(errno);
        return false;
    }
    return writeDesktopFiles(request, dir + "/share", request.installPrefix + "/bin", error) &&
           writeFile(dir + "/application.cmake", applicationCMake(request), 0644, error) &&
           stampTree(dir, request.sourceDateEpoch, error);
}

int runCMakeParts(PackRequest &request) {
    std::string problem = checkCMakeRequest(request);
    if (!problem.empty()) {
        return cmakeFailure(problem);
    }
    std::string final = absolutePath(request.cmakeParts);
    std::string parent = final.substr(0, final.rfind('/'));
    if (!makeDirectories(parent.empty() ? "/" : parent, &problem)) {
        return cmakeFailure(problem);
    }
    catchInterruptions();
    std::string work = makeWorkDirectory(parent, &problem);
    if (work.empty()) {
        return cmakeFailure(problem);
    }
    bool made = writeCMakeParts(request, work + "/parts", &problem) &&
                packInterrupted() == 0 && publishOutput(work + "/parts", final, &problem);
    removeTree(work);
    if (packInterrupted() != 0) {
        return cmakeFailure("interrupted; " + final + " is as it was");
    }
    if (!made) {
        return cmakeFailure(problem);
    }
    (void)printf("made %s\n", final.c_str());
    return fflush(stdout) == 0 ? 0 : 1;
}

int runCompilePython(const PackRequest &request) {
    if (request.compileRoot.empty() || !isDirectory(request.compileRoot)) {
        return cmakeFailure("--compile-python needs --tree, the installed tree's directory (\"" +
                            request.compileRoot + "\" is none)");
    }
    if (request.installPrefix.empty() || request.installPrefix[0] != '/') {
        return cmakeFailure("--compile-python needs --prefix, the absolute directory the tree "
                            "is at once installed");
    }
    std::string root = absolutePath(request.compileRoot);
    for (const std::string &directory : request.compilePython) {
        std::string inside = insidePath(root, directory);
        std::string problem;
        if (inside.empty() || !isDirectory(inside)) {
            problem = "--compile-python " + directory;
            problem.append(" is no directory of the installed tree ").append(root);
            return cmakeFailure(problem);
        }
        if (!compilePythonFiles(inside, root, request.installPrefix, request.sourceDateEpoch,
                                &problem)) {
            std::string said = "--compile-python " + directory + ": ";
            said += problem;
            return cmakeFailure(said);
        }
    }
    return 0;
}
