// The .deb: the package root with Debian's documents (copyright, changelog,
// lintian overrides), DEBIAN/control and DEBIAN/md5sums, built by dpkg-deb.
#include <algorithm>
#include <string>
#include <vector>

#include "app_config.h"
#include "java_runtime.h"
#include "package_root.h"
#include "pack_files.h"
#include "python_files.h"
#include "run_command.h"
#include "system_packages.h"

namespace {

// How many files one md5sum command is given.
const size_t md5Batch = 256;

// Each line of `lines` as a continuation line of a control field: a space
// before it, " ." for an empty one (and for one that is a lone '.'), and
// one more space before a line that starts with '.', which " ." would
// make a control statement.
std::string continuation(const std::vector<std::string> &lines) {
    std::string text;
    for (const std::string &line : lines) {
        size_t first = line.find_first_not_of(' ');
        bool blank = first == std::string::npos || line.compare(first, std::string::npos, ".") == 0;
        text += blank ? " .\n" : line[0] == '.' ? "  " + line + "\n" : " " + line + "\n";
    }
    return text;
}

// The year of `epoch`, in UTC.
std::string yearOf(int64_t epoch) {
    std::string date = mailDate(epoch);
    return date.size() >= 16 ? date.substr(12, 4) : "1970";
}

// The stand-alone licence paragraph of the application's licence: a
// reference to /usr/share/common-licenses, or the text of --license-file.
bool licenseParagraph(const PackRequest &request, std::string *paragraph, std::string *name,
                      std::string *error) {
    const CommonLicense *common = findCommonLicense(request.license);
    if (common != nullptr) {
        *name = common->debianName;
        *paragraph = "License: " + *name + "\n" +
                     continuation(descriptionLines(
                         std::string("On Debian systems, the full text of ") + common->title +
                         " can be found in the file /usr/share/common-licenses/" +
                         common->file + "."));
        return true;
    }
    std::string text;
    if (request.licenseFile.empty()) {
        *error = "--license " + request.license + " is not among the licences of "
                 "/usr/share/common-licenses: give its text with --license-file";
        return false;
    }
    if (!readFile(request.licenseFile, &text, error)) {
        return false;
    }
    std::vector<std::string> lines = textLines(text);
    while (!lines.empty() && lines.front().empty()) {
        lines.erase(lines.begin());
    }
    while (!lines.empty() && lines.back().empty()) {
        lines.pop_back();
    }
    *name = request.license == "MIT" ? "Expat" : request.license;
    *paragraph = "License: " + *name + "\n" + continuation(lines);
    return true;
}

// /usr/share/doc/<name>/copyright in the machine-readable format: the
// application's files under its licence, applauncher's launcher and
// libraries under applauncher's.
bool writeCopyright(const PackRequest &request, const std::string &doc, std::string *error) {
    std::string paragraph;
    std::string name;
    if (!licenseParagraph(request, &paragraph, &name, error)) {
        return false;
    }
    std::string prefix = prefixPath(request);
    std::string text = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
                       "Upstream-Name: " + request.name + "\n"
                       "Upstream-Contact: " + request.maintainer + "\n";
    if (!request.homepage.empty()) {
        text += "Source: " + request.homepage + "\n";
    }
    text += "\nFiles: *\nCopyright: " + yearOf(request.sourceDateEpoch) + " " + request.vendor +
            "\nLicense: " + name + "\n";
    text += "\nFiles: " + prefix + "/bin/* " + prefix + "/lib/libapplauncher.so " + prefix +
            "/lib/" + runtimeFileName(request) + "\nCopyright: " + applauncherCopyright +
            "\nLicense: Expat\n" + continuation(textLines(applauncherLicenseText));
    text += "\n" + paragraph;
    return writeFile(doc + "/copyright", text, 0644, error);
}

// /usr/share/doc/<name>/changelog.Debian.gz: one entry for this version,
// dated SOURCE_DATE_EPOCH, compressed as Debian wants (gzip -9n: no name,
// no time stamp).
bool writeChangelog(const PackRequest &request, const std::string &doc, std::string *error) {
    std::string path = doc + "/changelog.Debian";
    std::string text = request.name + " (" + request.version + "-" + request.release +
                       ") unstable; urgency=medium\n\n  * " + request.name + " " +
                       request.version + ", packaged by applauncher-pack.\n\n -- " +
                       request.maintainer + "  " + mailDate(request.sourceDateEpoch) + "\n";
    if (!writeFile(path, text, 0644, error)) {
        return false;
    }
    std::vector<std::string> gzip = {"gzip", "-9n", "--force", path};
    CommandResult result = runCommand(gzip, {"GZIP="});
    if (!succeeded(result)) {
        *error = "cannot compress the changelog: " + describeFailure(gzip, result);
        return false;
    }
    return true;
}

// Whether some entry's path ends in `suffix` / holds `part`.
bool anyPath(const std::vector<PackageEntry> &entries, const std::string &suffix,
             const std::string &part) {
    return std::any_of(entries.begin(), entries.end(), [&](const PackageEntry &entry) {
        const std::string &path = entry.path;
        return (!suffix.empty() && path.size() >= suffix.size() &&
                path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) ||
               (!part.empty() && path.find(part) != std::string::npos);
    });
}

// An override of lintian's `tag` within `context`, with `reason` as the
// comment above it.
std::string lintianOverride(const PackRequest &request, const std::string &reason,
                            const std::string &tag, const std::string &context) {
    std::string text = "\n";
    for (const std::string &line : descriptionLines(reason)) {
        text += "# " + line + "\n";
    }
    return text + request.name + ": " + tag + " [" + context + "]\n";
}

// /usr/share/lintian/overrides/<name>: only the tags that an add-on
// application's own tree brings, each with the reason above it. "" when
// none applies.
std::string lintianOverrides(const PackRequest &request,
                             const std::vector<PackageEntry> &entries) {
    std::string prefix = prefixPath(request);
    std::string text;
    if (prefix.compare(0, 4, "opt/") == 0) {
        text += lintianOverride(request,
                                request.name + " is an add-on application: its whole tree lies "
                                "under /" + prefix + ", as the Filesystem Hierarchy Standard "
                                "gives add-on packages, and its launcher finds "
                                "lib/libapplauncher.so there through this package's file list.",
                                "dir-or-file-in-opt", prefix.substr(0, prefix.find('/', 4)) + "/*");
    }
    if (anyPath(entries, ".jar", "")) {
        text += lintianOverride(request,
                                "The application's classes stay in its own tree, where its "
                                "launch configuration names them, rather than in "
                                "/usr/share/java, which holds libraries shared between "
                                "packages.",
                                "jar-not-in-usr-share", prefix + "/*");
    }
    if (request.release == "1") {
        text += lintianOverride(request,
                                "The package is made outside Debian's archive, where no bug "
                                "report announces it, so its first changelog entry closes "
                                "none.",
                                "initial-upload-closes-no-bugs",
                                "usr/share/doc/" + request.name + "/changelog.Debian.gz:1");
    }
    if (request.runtime == RuntimeKind::java && request.javaRuntime == JavaRuntime::bundled) {
        text += lintianOverride(request,
                                "The bundled Java runtime is a jlink image of the JDK it was "
                                "made from, its native libraries as that JDK was built: one "
                                "built outside Debian carries its own copy of a library such as "
                                "zlib in them. They serve that runtime alone, which the "
                                "application starts from its own tree.",
                                "embedded-library *", prefix + "/lib/runtime/*");
    }
    if (anyPath(entries, "", "/__pycache__")) {
        text += lintianOverride(request,
                                "The application's own Python modules lie in its tree, which no "
                                "Debian helper compiles at installation: they are shipped "
                                "compiled, so that the read-only installation does not compile "
                                "them at every start.",
                                "package-installs-python-pycache-dir", prefix + "/*");
    }
    return text.empty() ? "" : text.substr(1);
}

// Debian's documents of the package under root/usr/share.
bool writeDebianDocuments(const PackRequest &request, const std::string &root,
                          const std::vector<PackageEntry> &entries, std::string *error) {
    std::string doc = root + "/usr/share/doc/" + request.name;
    std::string overrides = lintianOverrides(request, entries);
    std::string overridesDir = root + "/usr/share/lintian/overrides";
    return makeDirectories(doc, error) && writeCopyright(request, doc, error) &&
           writeChangelog(request, doc, error) &&
           (overrides.empty() || (makeDirectories(overridesDir, error) &&
                                  writeFile(overridesDir + "/" + request.name, overrides, 0644,
                                            error)));
}

// The Depends that dpkg-shlibdeps finds for the ELF files below `root`
// (which holds DEBIAN/), run in `workDir` (which holds debian/control);
// the package's own libraries are looked for in their directories.
bool shlibDepends(const std::vector<PackageEntry> &entries, const std::string &workDir,
                  std::string *depends, std::string *error) {
    std::vector<std::string> command = {"dpkg-shlibdeps", "-Tdebian/substvars"};
    std::vector<std::string> libraryDirs;
    for (const std::string &library : elfFiles(entries, true)) {
        std::string dir = "-lroot/" + library.substr(0, library.rfind('/'));
        if (std::find(libraryDirs.begin(), libraryDirs.end(), dir) == libraryDirs.end()) {
            libraryDirs.push_back(dir);
        }
    }
    command.insert(command.end(), libraryDirs.begin(), libraryDirs.end());
    for (const std::string &file : elfFiles(entries, false)) {
        command.push_back("-eroot/" + file);
    }
    CommandResult result = runCommand(command, {"LC_ALL=C"}, workDir);
    if (!succeeded(result)) {
        *error = "cannot find what the package's programs and libraries need: " +
                 describeFailure({"dpkg-shlibdeps"}, result);
        return false;
    }
    std::string substvars;
    if (!readFile(workDir + "/debian/substvars", &substvars, error)) {
        return false;
    }
    size_t at = substvars.find("shlibs:Depends=");
    *depends = at == std::string::npos
                   ? ""
                   : substvars.substr(at + 15, substvars.find('\n', at) - at - 15);
    return true;
}

// DEBIAN/md5sums: "<md5>  <path>" for each file, in the entries' order.
bool writeMd5sums(const std::string &root, const std::vector<PackageEntry> &entries,
                  std::string *error) {
    std::vector<std::string> files;
    for (const PackageEntry &entry : entries) {
        if (entry.type == 'f') {
            files.push_back(entry.path);
        }
    }
    std::string text;
    for (size_t first = 0; first < files.size(); first += md5Batch) {
        std::vector<std::string> command = {"md5sum", "--zero", "--"};
        size_t last = std::min(files.size(), first + md5Batch);
        command.insert(command.end(), files.begin() + (long)first, files.begin() + (long)last);
        CommandResult result = runCommand(command, {"LC_ALL=C"}, root);
        if (!succeeded(result)) {
            *error = "cannot checksum the package's files: " + describeFailure(command, result);
            return false;
        }
        for (char c : result.output) {
            text += c == '\0' ? '\n' : c;
        }
    }
    return writeFile(root + "/DEBIAN/md5sums", text, 0644, error);
}

// DEBIAN/control.
std::string controlText(const PackRequest &request, const std::vector<PackageEntry> &entries,
                        const std::string &depends) {
    uint64_t kibibytes = 0;
    for (const PackageEntry &entry : entries) {
        kibibytes += entry.type == 'f' ? (entry.size + 1023) / 1024 : 1;
    }
    std::vector<std::string> relations;
    appendRelations(&relations, depends);
    appendRelations(&relations, request.runtime == RuntimeKind::java
                                    ? javaDebianDepends(request)
                                    : pythonDebianDepends(request));
    for (const std::string &relation : request.debDepends) {
        appendRelations(&relations, relation);
    }
    std::string joined;
    for (const std::string &relation : relations) {
        joined += (joined.empty() ? "" : ", ") + relation;
    }
    std::string text = "Package: " + request.name + "\nVersion: " + request.version + "-" +
                       request.release + "\nArchitecture: " + debianArchitecture() +
                       "\nMaintainer: " + request.maintainer +
                       "\nInstalled-Size: " + std::to_string(kibibytes) + "\n";
    if (!joined.empty()) {
        text += "Depends: " + joined + "\n";
    }
    text += "Section: misc\nPriority: optional\n";
    if (!request.homepage.empty()) {
        text += "Homepage: " + request.homepage + "\n";
    }
    return text + "Description: " + request.summary + "\n" +
           continuation(descriptionLines(request.description));
}

}  // namespace

bool buildDeb(const PackRequest &request, const std::string &tree, const std::string &workDir,
              const std::string &output, std::string *error) {
    std::string root = workDir + "/root";
    std::vector<PackageEntry> entries;
    std::string depends;
    if (!makeDirectories(workDir + "/debian", error) ||
        !writeFile(workDir + "/debian/control",
                   "Source: " + request.name + "\n\nPackage: " + request.name +
                       "\nArchitecture: any\n",
                   0644, error) ||
        !preparePackageRoot(request, tree, root, error) ||
        !listPackageRoot(root, "DEBIAN", &entries, error) ||
        !writeDebianDocuments(request, root, entries, error) ||
        !makeDirectories(root + "/DEBIAN", error) ||
        !listPackageRoot(root, "DEBIAN", &entries, error) ||
        !shlibDepends(entries, workDir, &depends, error) ||
        !writeMd5sums(root, entries, error) ||
        !writeFile(root + "/DEBIAN/control", controlText(request, entries, depends), 0644,
                   error) ||
        !stampTree(root, request.sourceDateEpoch, error)) {
        return false;
    }
    std::vector<std::string> build = {"dpkg-deb", "--root-owner-group", "-Zxz", "--threads-max=1",
                                      "--build", root, output};
    CommandResult result = runCommand(
        build, {"SOURCE_DATE_EPOCH=" + std::to_string(request.sourceDateEpoch), "LC_ALL=C"});
    if (!succeeded(result)) {
        *error = "cannot build the .deb: " + describeFailure(build, result);
        removeTree(output);
        return false;
    }
    return true;
}
