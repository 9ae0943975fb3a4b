#include "request_check.h"

#include <string.h>

#include <algorithm>
#include <set>

#include "app_config.h"
#include "java_runtime.h"
#include "pack_files.h"
#include "system_packages.h"

namespace {

// Whether every character of `text` is in `allowed` or alphanumeric ASCII.
bool onlyAlnumOr(const std::string &text, const char *allowed) {
    return std::all_of(text.begin(), text.end(), [allowed](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               (c != '\0' && strchr(allowed, c) != nullptr);
    });
}

// Whether the request asks for an output of `type`.
bool wantsType(const PackRequest &request, const char *type) {
    return std::find(request.types.begin(), request.types.end(), type) != request.types.end();
}

// Whether `name` is a variable name: letters, digits and '_', not
// starting with a digit.
bool isVariableName(const std::string &name) {
    return !name.empty() && !(name[0] >= '0' && name[0] <= '9') && onlyAlnumOr(name, "_");
}

// "MIN" or "MIN-MAX" with MIN <= MAX, feature versions from 8.
bool isVersionRange(const std::string &range) {
    int min = 0;
    int max = 0;
    return parseJavaVersions(range, &min, &max) && min >= 8;
}

// The main of `launcher`, checked: exactly one way is given, and it says
// which runtime. "" or the problem.
std::string checkMain(const PackRequest &request, const LauncherSpec &launcher,
                      RuntimeKind *kind) {
    std::string who = "launcher " + launcher.name;
    int java = !launcher.mainJar.empty() + !launcher.mainClass.empty();
    int python = !launcher.entryPoint.empty() + !launcher.module.empty() +
                 !launcher.script.empty();
    if (java + python == 0) {
        return who + " has no main: give --main-jar, --main-class, --entry-point, --module or "
                     "--script";
    }
    if (java > 0 && python > 0) {
        return who + " mixes Java and Python mains: give one of them";
    }
    if (python > 1) {
        return who + ": give one of --entry-point, --module and --script, not several";
    }
    if (!launcher.classPath.empty() && launcher.mainClass.empty()) {
        return who + ": --class-path goes with --main-class";
    }
    *kind = java > 0 ? RuntimeKind::java : RuntimeKind::python;
    for (const std::string &file : {launcher.mainJar, launcher.script}) {
        if (!file.empty() && !isRegularFile(insidePath(request.input, file))) {
            return who + ": " + file + " is not a file inside --input " + request.input;
        }
    }
    for (const std::string &jar : launcher.classPath) {
        if (!isRegularFile(insidePath(request.input, jar))) {
            return who + ": class path entry " + jar + " is not a file inside --input " +
                   request.input;
        }
    }
    for (const std::string &entry : launcher.environment) {
        size_t equals = entry.find('=');
        if (equals == std::string::npos || !isVariableName(entry.substr(0, equals))) {
            return who + ": --env \"" + entry + "\" is not NAME=VALUE with a variable name "
                         "(letters, digits and _, not starting with a digit)";
        }
    }
    struct Values {
        const std::vector<std::string> &values;
        const char *option;
        bool named;  // NAME=VALUE: the value follows the '='
    };
    for (Values given : {Values{launcher.arguments, "--argument", false},
                         Values{launcher.environment, "--env", true},
                         Values{launcher.javaOptions, "--java-option", false},
                         Values{launcher.pythonOptions, "--python-option", false}}) {
        for (const std::string &value : given.values) {
            std::string refusal =
                checkConfigValue(given.named ? value.substr(value.find('=') + 1) : value);
            if (!refusal.empty()) {
                return who + ": " + given.option + " \"" + value + "\": " + refusal +
                       " (write a literal $ as $$)";
            }
        }
    }
    if (!launcher.javaOptions.empty() && *kind != RuntimeKind::java) {
        return who + ": --java-option is for a Java main";
    }
    if (!launcher.pythonOptions.empty() && *kind != RuntimeKind::python) {
        return who + ": --python-option is for a Python main";
    }
    return "";
}

// The launchers: named, each once, each with a main, all on one runtime.
std::string checkLaunchers(PackRequest &request) {
    std::set<std::string> names;
    for (const LauncherSpec &launcher : request.launchers) {
        if (!isPackageName(launcher.name) && !(launcher.name.size() == 1 &&
                                               isPackageName(launcher.name + launcher.name))) {
            return "--launcher \"" + launcher.name + "\" is not a program name (lower-case "
                   "letters, digits, '.', '+', '-')";
        }
        if (!names.insert(launcher.name).second) {
            return "--launcher " + launcher.name + " is given twice";
        }
        RuntimeKind kind = RuntimeKind::unknown;
        std::string problem = checkMain(request, launcher, &kind);
        if (!problem.empty()) {
            return problem;
        }
        if (request.runtime != RuntimeKind::unknown && kind != request.runtime) {
            return "launcher " + launcher.name + " runs on another runtime than " +
                   request.launchers.front().name + ": one application, one runtime";
        }
        request.runtime = kind;
    }
    return "";
}

// Splits `text` at runs of blanks.
std::vector<std::string> words(const std::string &text) {
    std::vector<std::string> out;
    size_t start = text.find_first_not_of(" \t");
    while (start != std::string::npos) {
        size_t end = text.find_first_of(" \t", start);
        out.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        start = end == std::string::npos ? end : text.find_first_not_of(" \t", end);
    }
    return out;
}

// Whether `version` is a version a relation may name: it starts with a
// digit, then letters, digits and `others`.
bool isRelationVersion(const std::string &version, const char *others) {
    return !version.empty() && version[0] >= '0' && version[0] <= '9' &&
           onlyAlnumOr(version, others);
}

// Whether `alternative` is one Debian relation without '|': NAME,
// NAME:ARCH or either with " (OP VERSION)".
bool isDebianAlternative(const std::string &alternative) {
    std::string spaced;
    for (char c : alternative) {
        spaced += c == '(' || c == ')' ? std::string(" ") + c + " " : std::string(1, c);
    }
    std::vector<std::string> parts = words(spaced);
    if (parts.empty()) {
        return false;
    }
    std::string name = parts[0].substr(0, parts[0].find(':'));
    std::string arch = name.size() < parts[0].size() ? parts[0].substr(name.size() + 1) : "any";
    if (!isPackageName(name) || arch.empty() || !onlyAlnumOr(arch, "-")) {
        return false;
    }
    if (parts.size() == 1) {
        return true;
    }
    static const char *const operators[] = {"<<", "<=", "=", ">=", ">>"};
    return parts.size() == 5 && parts[1] == "(" && parts[4] == ")" &&
           std::find(std::begin(operators), std::end(operators), parts[2]) !=
               std::end(operators) &&
           isRelationVersion(parts[3], ".+~-:");
}

// Whether `relation` is one RPM requirement: NAME or NAME OP VERSION,
// NAME being a package, a capability such as python3dist(pyyaml), or an
// absolute path.
bool isRpmRelation(const std::string &relation) {
    std::vector<std::string> parts = words(relation);
    if (parts.empty() || !onlyAlnumOr(parts[0], "._+-/():") || parts[0][0] == '-' ||
        parts[0][0] == '(' || std::count(parts[0].begin(), parts[0].end(), '(') !=
                                  std::count(parts[0].begin(), parts[0].end(), ')')) {
        return false;
    }
    static const char *const operators[] = {"<", "<=", "=", ">=", ">"};
    return parts.size() == 1 ||
           (parts.size() == 3 &&
            std::find(std::begin(operators), std::end(operators), parts[1]) !=
                std::end(operators) &&
            isRelationVersion(parts[2], ".+~^_-:"));
}

// The relations of --depends and --requires, checked for form and for
// the output they go to. "" or the problem.
std::string checkRelations(const PackRequest &request) {
    if (!request.debDepends.empty() && !wantsType(request, "deb")) {
        return "--depends is for --type deb";
    }
    if (!request.rpmRequires.empty() && !wantsType(request, "rpm")) {
        return "--requires is for --type rpm";
    }
    for (const std::string &relation : request.debDepends) {
        size_t start = 0;
        bool sound = true;
        while (sound && start <= relation.size()) {
            size_t end = std::min(relation.find('|', start), relation.size());
            sound = isDebianAlternative(relation.substr(start, end - start));
            start = end + 1;
        }
        if (!sound) {
            return "--depends \"" + relation + "\" is not a Debian relation: NAME, NAME (OP "
                   "VERSION) with OP one of << <= = >= >>, or such alternatives joined by '|'";
        }
    }
    for (const std::string &relation : request.rpmRequires) {
        if (!isRpmRelation(relation)) {
            return "--requires \"" + relation + "\" is not an RPM requirement: NAME or NAME OP "
                   "VERSION with OP one of < <= = >= >, separated by blanks";
        }
    }
    return "";
}

// What a .deb or .rpm needs besides the tree.
std::string checkPackageFields(const PackRequest &request) {
    struct Needed {
        const std::string &value;
        const char *option;
    };
    for (Needed needed : {Needed{request.summary, "--summary"},
                          Needed{request.description, "--description"},
                          Needed{request.maintainer, "--maintainer"},
                          Needed{request.license, "--license"}}) {
        if (needed.value.empty()) {
            return std::string("a .deb or .rpm needs ") + needed.option;
        }
    }
    size_t open = request.maintainer.find(" <");
    if (open == std::string::npos || open == 0 || request.maintainer.back() != '>' ||
        request.maintainer.find('@', open) == std::string::npos) {
        return "--maintainer \"" + request.maintainer + "\" is not 'NAME <EMAIL>'";
    }
    for (Needed field : {Needed{request.maintainer, "--maintainer"},
                         Needed{request.vendor, "--vendor"},
                         Needed{request.license, "--license"},
                         Needed{request.homepage, "--homepage"}}) {
        if (std::any_of(field.value.begin(), field.value.end(),
                        [](char c) { return (unsigned char)c < 0x20 || c == 0x7f; })) {
            return std::string(field.option) + " must be one line without control characters";
        }
    }
    if (!onlyAlnumOr(request.license, ".+-")) {
        return "--license \"" + request.license + "\" is not one SPDX licence identifier "
               "(e.g. MIT, Apache-2.0, GPL-3.0-or-later, LicenseRef-NAME)";
    }
    std::string problem = checkRelations(request);
    if (!problem.empty()) {
        return problem;
    }
    if (wantsType(request, "deb") && request.licenseFile.empty() && findCommonLicense(request.license) == nullptr) {
        return "--license " + request.license + " is not among the licences a Debian system "
               "keeps in /usr/share/common-licenses: give its text with --license-file";
    }
    if (!request.homepage.empty() && request.homepage.compare(0, 7, "http://") != 0 &&
        request.homepage.compare(0, 8, "https://") != 0) {
        return "--homepage \"" + request.homepage + "\" is not an http:// or https:// URL";
    }
    bool lineStart = true;
    for (char c : request.description) {
        if (lineStart && c == '%' && wantsType(request, "rpm")) {
            return "--description: a line starts with '%', which rpmbuild reads as a "
                   "directive: reword it";
        }
        if (lineStart && c == '.' && wantsType(request, "deb")) {
            return "--description: a line starts with '.', which a .deb's control file "
                   "reserves: reword it";
        }
        lineStart = c == '\n' || (lineStart && ((unsigned char)c <= ' ' || c == 0x7f));
    }
    if (request.installPrefix[0] != '/' || request.installPrefix == "/" ||
        !onlyAlnumOr(request.installPrefix, "/._+-")) {
        return "--prefix \"" + request.installPrefix + "\" is not an absolute directory of "
               "plain names (letters, digits, '.', '_', '+', '-')";
    }
    return "";
}

}  // namespace

bool isPackageName(const std::string &name) {
    return name.size() >= 2 && ((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= '0' && name[0] <= '9')) &&
           std::all_of(name.begin(), name.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '+' ||
                      c == '-';
           });
}

bool isPackageVersion(const std::string &version) {
    return !version.empty() && version[0] >= '0' && version[0] <= '9' &&
           onlyAlnumOr(version, ".+~");
}

std::string insidePath(const std::string &root, const std::string &relative) {
    if (relative.empty() || relative[0] == '/' || relative == ".." ||
        relative.compare(0, 3, "../") == 0 || relative.find("/../") != std::string::npos) {
        return "";
    }
    return root + "/" + relative;
}

std::string checkRequest(PackRequest &request) {
    if (request.name.empty()) {
        return "--name is required: the package's and the program's name";
    }
    if (!isPackageName(request.name)) {
        return "--name \"" + request.name + "\" is not a valid package name: use lower-case "
               "letters, digits, '.', '+' and '-', at least two, starting with a letter or digit";
    }
    if (request.version.empty()) {
        return "--app-version is required (e.g. 1.0.0)";
    }
    if (!isPackageVersion(request.version)) {
        return "--app-version \"" + request.version + "\" is not a version dpkg and rpm both "
               "take: start with a digit, then letters, digits, '.', '+' or '~'";
    }
    if (!isPackageVersion(request.release)) {
        return "--release \"" + request.release + "\" is not a package revision: digits, "
               "letters, '.', '+' or '~'";
    }
    if (request.input.empty()) {
        return "--input is required: the directory of the application's files";
    }
    if (!isDirectory(request.input)) {
        return "--input " + request.input + " is not a directory";
    }
    request.input = absolutePath(request.input);
    if (request.summary.find('\n') != std::string::npos) {
        return "--summary must be one line";
    }
    for (const std::string &type : request.types) {
        if (type != "app-image" && type != "deb" && type != "rpm") {
            return "--type \"" + type + "\" is not app-image, deb or rpm";
        }
    }
    std::string problem = checkLaunchers(request);
    if (!problem.empty()) {
        return problem;
    }
    if (!request.javaVersions.empty() && !isVersionRange(request.javaVersions)) {
        return "--java-versions \"" + request.javaVersions + "\" is not MIN or MIN-MAX (Java "
               "feature versions from 8, e.g. 17 or 11-21)";
    }
    bool java = request.runtime == RuntimeKind::java;
    if (!java && (!request.javaVersions.empty() || request.javaRuntime == JavaRuntime::bundled ||
                  !request.javaModules.empty())) {
        return "--java-versions, --java-runtime and --java-modules are for a Java application";
    }
    if (java && !request.pythonWheels.empty()) {
        return "--python-wheels is for a Python application";
    }
    if (!request.pythonWheels.empty() && !isDirectory(request.pythonWheels)) {
        return "--python-wheels " + request.pythonWheels + " is not a directory";
    }
    if (!request.licenseFile.empty() && !isRegularFile(request.licenseFile)) {
        return "--license-file " + request.licenseFile + " is not a file";
    }
    if (request.installPrefix.empty()) {
        request.installPrefix = "/opt/" + request.name;
    }
    if (request.vendor.empty()) {
        request.vendor = request.maintainer.substr(0, request.maintainer.find(" <"));
    }
    return wantsType(request, "deb") || wantsType(request, "rpm") ? checkPackageFields(request)
                                                                  : checkRelations(request);
}
