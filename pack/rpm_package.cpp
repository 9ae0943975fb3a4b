// The .rpm: the package root copied into rpmbuild's build root by a
// generated recipe, built in a directory of its own (its own top
// directory, database, temporary files and HOME), reproducibly.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "java_runtime.h"
#include "package_root.h"
#include "pack_files.h"
#include "python_files.h"
#include "run_command.h"
#include "system_packages.h"

namespace {

// rpm takes no changelog date before 1990-01-01 (it drops the entry).
const int64_t earliestChangelogDate = 631152000;

// The variable through which %install finds the package root, so that its
// path never passes through rpm's macros or a shell's words.
const char packageRootVariable[] = "APPLAUNCHER_PACK_ROOT";

// `text` as rpm reads it literally in a recipe: every '%' doubled.
std::string literal(const std::string &text) {
    std::string out;
    for (char c : text) {
        out += c == '%' ? std::string("%%") : std::string(1, c);
    }
    return out;
}

// `text` as a literal part of an extended regular expression in a macro's
// body: each metacharacter behind a backslash, written twice since rpm's
// macro expansion takes one away; each '%' doubled.
std::string macroRegexLiteral(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (std::string(".[]{}()\\*+?^$|").find(c) != std::string::npos) {
            out += "\\\\";
        }
        out += c == '%' ? std::string("%%") : c == '\\' ? std::string("\\\\") : std::string(1, c);
    }
    return out;
}

// Whether `path` may stand in %files as it is: no glob, quote, macro or
// space character.
bool plainPath(const std::string &path) {
    return std::all_of(path.begin(), path.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::string("/._+-@,=").find(c) != std::string::npos;
    });
}

// The %description lines, or false naming the line that rpmbuild would
// read as a directive (one whose first character but blanks is '%').
bool descriptionSection(const PackRequest &request, std::string *section, std::string *error) {
    for (const std::string &line : descriptionLines(request.description)) {
        size_t first = line.find_first_not_of(' ');
        if (first != std::string::npos && line[first] == '%') {
            *error = "--description: the line \"" + line + "\" starts with '%', which "
                     "rpmbuild reads as a directive: reword it";
            return false;
        }
        *section += literal(line) + "\n";
    }
    return true;
}

// The licence files the package carries under /usr/share/licenses/<name>:
// the application's (--license-file, when given) and applauncher's.
// Returns their %files lines.
bool writeLicenses(const PackRequest &request, const std::string &root, std::string *lines,
                   std::string *error) {
    std::string dir = "/usr/share/licenses/" + request.name;
    std::string text;
    if (!makeDirectories(root + dir, error)) {
        return false;
    }
    if (!request.licenseFile.empty()) {
        if (!readFile(request.licenseFile, &text, error) ||
            !writeFile(root + dir + "/LICENSE", text, 0644, error)) {
            return false;
        }
        *lines += "%license " + dir + "/LICENSE\n";
    }
    *lines += "%dir " + dir + "\n%license " + dir + "/LICENSE.applauncher\n";
    return writeFile(root + dir + "/LICENSE.applauncher",
                     std::string("applauncher's launcher and libraries in ") +
                         request.installPrefix + " (bin/, lib/libapplauncher.so, lib/" +
                         "libhux_*.so):\n\nCopyright " + applauncherCopyright + "\n\n" +
                         applauncherLicenseText + "\n",
                     0644, error);
}

// The %files lines of what lies under /usr (the desktop files), each
// named: the directories there are the system's. False naming a path that
// cannot stand in %files.
bool usrFiles(const std::vector<PackageEntry> &entries, std::string *lines, std::string *error) {
    for (const PackageEntry &entry : entries) {
        if (entry.type == 'd' || entry.path.compare(0, 4, "usr/") != 0 ||
            entry.path.compare(0, 19, "usr/share/licenses/") == 0) {
            continue;
        }
        if (!plainPath(entry.path)) {
            *error = "/" + entry.path + ": an rpm cannot list this file name (use letters, "
                     "digits, '.', '_', '+', '-', '@', ',' and '=')";
            return false;
        }
        *lines += "/" + entry.path + "\n";
    }
    return true;
}

// The recipe's definitions: no debug package, no build-id links, no
// post-install pass (no strip: the files ship as staged), no provides from
// the private tree and no requirement of the libraries it holds itself,
// time stamps clamped to SOURCE_DATE_EPOCH, a fixed build host and a
// single-threaded payload compression, so that two builds are the same.
std::string definitions(const PackRequest &request, const std::vector<PackageEntry> &entries) {
    std::string text = "%global debug_package %{nil}\n"
                       "%global _build_id_links none\n"
                       "%global __os_install_post %{nil}\n"
                       "%global clamp_mtime_to_source_date_epoch 1\n"
                       "%global use_source_date_epoch_as_buildtime 1\n"
                       "%global _buildhost reproducible\n"
                       "%global _binary_payload w9.gzdio\n"
                       "%global __provides_exclude_from ^" +
                       macroRegexLiteral(request.installPrefix) + "/\n";
    std::vector<std::string> names;
    for (const std::string &library : elfFiles(entries, true)) {
        std::string name = library.substr(library.rfind('/') + 1);
        if (std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(name);
        }
    }
    std::string alternatives;
    for (const std::string &name : names) {
        alternatives += (alternatives.empty() ? "" : "|") + macroRegexLiteral(name);
    }
    if (!alternatives.empty()) {
        text += "%global __requires_exclude ^(" + alternatives + ")\\\\(\n";
    }
    return text;
}

// The recipe.
bool specText(const PackRequest &request, const std::vector<PackageEntry> &entries,
              const std::string &licenseLines, std::string *spec, std::string *error) {
    std::string description;
    std::string usr;
    if (!descriptionSection(request, &description, error) || !usrFiles(entries, &usr, error)) {
        return false;
    }
    std::string requires = request.runtime == RuntimeKind::java ? javaRpmRequires(request)
                                                                : pythonRpmRequires(request);
    std::vector<std::string> relations;
    appendRelations(&relations, requires);
    for (const std::string &relation : request.rpmRequires) {
        appendRelations(&relations, relation);
    }
    std::string text = "# " + literal(request.name) + " " + request.version + "-" +
                       request.release + ", made by applauncher-pack.\n" +
                       definitions(request, entries) + "\nName: " + request.name +
                       "\nVersion: " + request.version + "\nRelease: " + request.release +
                       "\nSummary: " + literal(request.summary) +
                       "\nLicense: " + literal(request.license) +
                       "\nVendor: " + literal(request.vendor) +
                       "\nPackager: " + literal(request.maintainer) + "\n";
    if (!request.homepage.empty()) {
        text += "URL: " + literal(request.homepage) + "\n";
    }
    for (const std::string &relation : relations) {
        text += "Requires: " + literal(relation) + "\n";
    }
    text += "\n%description\n" + description;
    text += "\n%install\ncp -a \"$" + std::string(packageRootVariable) +
            "/.\" \"$RPM_BUILD_ROOT/\"\n";
    text += "\n%files\n%defattr(-,root,root,-)\n" + request.installPrefix + "\n" + usr +
            licenseLines;
    text += "\n%changelog\n* " +
            changelogDay(std::max(request.sourceDateEpoch, earliestChangelogDate)) + " " +
            literal(request.maintainer) + " - " + request.version + "-" + request.release +
            "\n- " + literal(request.name) + " " + request.version +
            ", packaged by applauncher-pack.\n";
    *spec = text;
    return true;
}

}  // namespace

bool buildRpm(const PackRequest &request, const std::string &tree, const std::string &work,
              const std::string &output, std::string *error) {
    std::string workDir = absolutePath(work);
    std::string root = workDir + "/root";
    std::string spec;
    std::string licenseLines;
    std::vector<PackageEntry> entries;
    bool laidOut = makeDirectories(workDir, error) &&
                   preparePackageRoot(request, tree, root, error) &&
                   writeLicenses(request, root, &licenseLines, error) &&
                   listPackageRoot(root, "", &entries, error) &&
                   specText(request, entries, licenseLines, &spec, error) &&
                   writeFile(workDir + "/" + request.name + ".spec", spec, 0644, error) &&
                   stampTree(root, request.sourceDateEpoch, error);
    if (!laidOut) {
        return false;
    }
    // rpmbuild runs its scripts by paths it splits at spaces and expands
    // '%' in: a work directory whose path has such characters gets a
    // directory of rpmbuild's own under TMPDIR (or /tmp), removed after.
    std::string scratch;
    std::string rpmDir = workDir + "/rpmbuild";
    if (!plainPath(workDir)) {
        const char *tmp = getenv("TMPDIR");
        scratch = makeWorkDirectory(tmp != nullptr && plainPath(tmp) && isDirectory(tmp) ? tmp
                                                                                        : "/tmp",
                                    error);
        if (scratch.empty()) {
            return false;
        }
        rpmDir = scratch;
    }
    std::vector<std::string> build = {"rpmbuild", "-bb",
                                      "--define", "_topdir " + rpmDir + "/top",
                                      "--define", "_rpmdir " + rpmDir + "/out",
                                      "--define", "_dbpath " + rpmDir + "/rpmdb",
                                      "--define", "_tmppath " + rpmDir + "/tmp",
                                      workDir + "/" + request.name + ".spec"};
    std::string made = rpmDir + "/out/" + rpmArchitecture() + "/" + rpmFileName(request);
    CommandResult result;
    bool built = makeDirectories(rpmDir + "/tmp", error) &&
                 makeDirectories(rpmDir + "/home", error);
    if (built) {
        result = runCommand(build,
                            {"SOURCE_DATE_EPOCH=" + std::to_string(request.sourceDateEpoch),
                             std::string(packageRootVariable) + "=" + root,
                             "HOME=" + rpmDir + "/home", "LC_ALL=C", "TZ=UTC"});
        built = succeeded(result) && isRegularFile(made);
        *error = built ? "" : "cannot build the .rpm: " + describeFailure(build, result);
    }
    if (built && rename(made.c_str(), output.c_str()) != 0) {
        built = copyFile(made, output, error);
    }
    if (!scratch.empty()) {
        removeTree(scratch);
    }
    return built;
}
