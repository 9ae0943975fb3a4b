#include "python_files.h"

#include <dirent.h>

#include <algorithm>
#include <vector>

#include "app_config.h"
#include "pack_files.h"
#include "request_check.h"
#include "run_command.h"

#ifndef PACK_PYTHON_INTERPRETER
#define PACK_PYTHON_INTERPRETER "/usr/bin/python3"
#endif
#ifndef PACK_PYTHON_DEBIAN_DEPENDS
#define PACK_PYTHON_DEBIAN_DEPENDS ""
#endif
#ifndef PACK_PYTHON_RPM_REQUIRES
#define PACK_PYTHON_RPM_REQUIRES ""
#endif

namespace {

// Whether `text` is a dotted Python name: identifiers separated by dots.
bool isDottedName(const std::string &text) {
    if (text.empty() || text.front() == '.' || text.back() == '.' ||
        text.find("..") != std::string::npos) {
        return false;
    }
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        bool start = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
        bool digit = c >= '0' && c <= '9';
        if (!start && !(digit && i > 0 && text[i - 1] != '.') && c != '.') {
            return false;
        }
    }
    return true;
}

// The wheel files of `directory`, sorted; false with the reason when it
// cannot be read.
bool listWheels(const std::string &directory, std::vector<std::string> *wheels,
                std::string *error) {
    DIR *dir = opendir(directory.c_str());
    if (dir == nullptr) {
        *error = "--python-wheels " + directory + " cannot be read";
        return false;
    }
    for (struct dirent *entry = readdir(dir); entry != nullptr; entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".whl") == 0) {
            wheels->push_back(name);
        }
    }
    closedir(dir);
    std::sort(wheels->begin(), wheels->end());
    return true;
}

// The distribution name of a wheel file ("name-version-...whl").
std::string wheelProject(const std::string &wheel) {
    return wheel.substr(0, wheel.find('-'));
}

// Removes what a virtual environment holds of the machine it was made on
// and that the tree does not need: the activation scripts and the scripts
// pip wrote (their first lines name the build's paths; the runtime library
// starts the application itself), and pyvenv.cfg's "command" line.
bool makeEnvironmentRelocatable(const std::string &venv, std::string *error) {
    DIR *dir = opendir((venv + "/bin").c_str());
    if (dir == nullptr) {
        *error = venv + "/bin cannot be read";
        return false;
    }
    std::vector<std::string> drop;
    for (struct dirent *entry = readdir(dir); entry != nullptr; entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != ".." && name.compare(0, 6, "python") != 0) {
            drop.push_back(venv + "/bin/" + name);
        }
    }
    closedir(dir);
    for (const std::string &path : drop) {
        removeTree(path);
    }
    std::string config;
    if (!readFile(venv + "/pyvenv.cfg", &config, error)) {
        return false;
    }
    std::string kept;
    size_t start = 0;
    while (start < config.size()) {
        size_t end = config.find('\n', start);
        end = end == std::string::npos ? config.size() : end + 1;
        std::string line = config.substr(start, end - start);
        if (line.compare(0, 7, "command") != 0) {
            kept += line;
        }
        start = end;
    }
    return writeFile(venv + "/pyvenv.cfg", kept, 0644, error);
}

// Makes <root>/lib/venv holding the wheels of `directory` and nothing
// else: no index is asked, no dependency beyond the wheels is fetched.
bool makeEnvironment(const std::string &directory, const std::string &root,
                     std::string *error) {
    std::vector<std::string> wheels;
    if (!listWheels(directory, &wheels, error)) {
        return false;
    }
    std::string venv = root + "/" + pythonEnvironmentDir;
    std::vector<std::string> create = {PACK_PYTHON_INTERPRETER, "-m", "venv", "--without-pip",
                                       venv};
    CommandResult made = runCommand(create);
    if (!succeeded(made)) {
        *error = "cannot make the private environment: " + describeFailure(create, made);
        return false;
    }
    std::vector<std::string> install = {PACK_PYTHON_INTERPRETER, "-m", "pip", "--python",
                                        venv + "/bin/python3", "install", "--no-index",
                                        "--no-cache-dir", "--no-compile",
                                        "--disable-pip-version-check", "--find-links",
                                        absolutePath(directory)};
    for (const std::string &wheel : wheels) {
        install.push_back(wheelProject(wheel));
    }
    CommandResult installed = runCommand(install, {"PIP_CONFIG_FILE=/dev/null",
                                                   "PYTHONNOUSERSITE=1"});
    if (!succeeded(installed)) {
        *error = "the wheels of --python-wheels " + directory +
                 " do not install on their own: " + describeFailure(install, installed);
        return false;
    }
    return makeEnvironmentRelocatable(venv, error);
}

}  // namespace

std::string checkPythonRequest(const PackRequest &request) {
    for (const LauncherSpec &launcher : request.launchers) {
        std::string who = "launcher " + launcher.name;
        if (!launcher.entryPoint.empty()) {
            size_t colon = launcher.entryPoint.find(':');
            if (colon == std::string::npos ||
                !isDottedName(launcher.entryPoint.substr(0, colon)) ||
                !isDottedName(launcher.entryPoint.substr(colon + 1))) {
                return who + ": --entry-point \"" + launcher.entryPoint +
                       "\" is not MODULE:FUNCTION (e.g. mytool.cli:main)";
            }
        }
        if (!launcher.module.empty() && !isDottedName(launcher.module)) {
            return who + ": --module \"" + launcher.module + "\" is not a module name";
        }
    }
    if (!request.modulePath.empty()) {
        bool used = std::any_of(request.launchers.begin(), request.launchers.end(),
                                [](const LauncherSpec &l) {
                                    return !l.entryPoint.empty() || !l.module.empty();
                                });
        if (!used) {
            return "--module-path goes with --entry-point or --module: it is where they are "
                   "found";
        }
        if (request.modulePath.back() == '/' ||
            insidePath("", request.modulePath).empty()) {
            return "--module-path \"" + request.modulePath + "\" is not a directory inside the "
                   "tree (relative, without \"..\", e.g. share/" + request.name + "/src)";
        }
    }
    if (!request.pythonWheels.empty()) {
        std::vector<std::string> wheels;
        std::string error;
        if (!listWheels(request.pythonWheels, &wheels, &error)) {
            return error;
        }
        if (wheels.empty()) {
            return "--python-wheels " + request.pythonWheels + " holds no .whl file";
        }
    }
    if (!isRegularFile(PACK_PYTHON_INTERPRETER)) {
        return std::string("no ") + PACK_PYTHON_INTERPRETER +
               ", the interpreter of the CPython runtime library: install it";
    }
    return "";
}

bool compilePythonFiles(const std::string &directory, const std::string &root,
                        const std::string &prefix, int64_t epoch, std::string *error) {
    std::vector<std::string> compile = {PACK_PYTHON_INTERPRETER, "-I", "-m", "compileall",
                                        "-q", "-f", "--invalidation-mode", "checked-hash",
                                        "-s", root, "-p", prefix, directory};
    CommandResult result =
        runCommand(compile, {"SOURCE_DATE_EPOCH=" + std::to_string(epoch)});
    if (!succeeded(result)) {
        *error = "the application's Python files do not compile: " +
                 describeFailure(compile, result);
        return false;
    }
    return true;
}

bool preparePythonFiles(const PackRequest &request, const std::string &root,
                        std::string *error) {
    if (!request.pythonWheels.empty() && !makeEnvironment(request.pythonWheels, root, error)) {
        return false;
    }
    std::string share = root + "/share/" + request.name;
    if (!compilePythonFiles(share, root, request.installPrefix, request.sourceDateEpoch, error)) {
        return false;
    }
    return request.pythonWheels.empty() ||
           compilePythonFiles(root + "/" + pythonEnvironmentDir, root, request.installPrefix,
                       request.sourceDateEpoch, error);
}

std::string pythonDebianDepends(const PackRequest &) {
    return PACK_PYTHON_DEBIAN_DEPENDS;
}

std::string pythonRpmRequires(const PackRequest &) {
    return PACK_PYTHON_RPM_REQUIRES;
}
