#include "java_runtime.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/personality.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "app_config.h"
#include "options.h"
#include "package_root.h"
#include "pack_files.h"
#include "run_command.h"

namespace {

// The variables through which a packer's environment would reach the Java
// tools the pack runs (options, a class path), as runCommand's entries
// that remove them: removed for every run, so that the same inputs make
// the same runtime and archive.
std::vector<std::string> javaToolEnvironment() {
    return {"JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS", "JDK_JAVA_OPTIONS", "CLASSPATH"};
}

// The number that the digits at the start of `text` write (0 for none).
int leadingNumber(const char *text) {
    return (int)strtol(text, nullptr, 10);
}

// The lowest Java the JVM runtime library runs on: the dependency when no
// --java-versions is given.
const char defaultJavaVersions[] = "11";

// `words` joined with `separator`.
std::string joined(const std::vector<std::string> &words, const std::string &separator) {
    std::string text;
    for (const std::string &word : words) {
        text += (text.empty() ? "" : separator) + word;
    }
    return text;
}

// `text` without the blanks (spaces, tabs, line ends) at either end.
std::string trimmed(const std::string &text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// `text` split at each `separator`, empty pieces skipped.
std::vector<std::string> splitAt(const std::string &text, char separator) {
    std::vector<std::string> pieces;
    appendSplit(pieces, text, separator);
    return pieces;
}

// Appends to `list` each of `more` that it does not hold yet.
void appendUnique(std::vector<std::string> &list, const std::vector<std::string> &more) {
    for (const std::string &item : more) {
        if (std::find(list.begin(), list.end(), item) == list.end()) {
            list.push_back(item);
        }
    }
}

// `relative` (paths under `dir`) as absolute paths.
std::vector<std::string> under(const std::string &dir, const std::vector<std::string> &relative) {
    std::vector<std::string> paths;
    paths.reserve(relative.size());
    for (const std::string &path : relative) {
        paths.push_back(dir + "/" + path);
    }
    return paths;
}

// Reads the manifest of `jar` with unzip into *manifest ("" when the jar
// has none). False with the reason when unzip is missing or `jar` is no
// zip file.
bool readManifest(const std::string &jar, std::string *manifest, std::string *problem) {
    if (!commandExists("unzip")) {
        *problem = "reading a jar's manifest needs unzip (Debian: unzip)";
        return false;
    }
    std::vector<std::string> argv = {"unzip", "-p", jar, "META-INF/MANIFEST.MF"};
    CommandResult result = runCommand(argv);
    if (succeeded(result)) {
        *manifest = result.output;
        return true;
    }
    if (result.started && result.signal == 0 && result.exitCode == 11) {
        manifest->clear();
        return true;
    }
    *problem = "it is not a jar (zip) file: " + describeFailure(argv, result);
    return false;
}

// The names of the entries of `jar`, from unzip. False with the reason.
bool jarEntries(const std::string &jar, std::vector<std::string> *entries, std::string *error) {
    std::vector<std::string> argv = {"unzip", "-Z1", jar};
    CommandResult result = runCommand(argv);
    if (!succeeded(result)) {
        *error = "cannot list " + jar + ": " + describeFailure(argv, result);
        return false;
    }
    *entries = splitAt(result.output, '\n');
    return true;
}

// A manifest Class-Path entry of the jar at `jar` (relative to the shipped
// files) as a path relative to the shipped files: URL escapes decoded,
// resolved against the jar's directory. "" for an absolute path, a URL
// with a scheme, or one that climbs out.
std::string classPathEntry(const std::string &jar, const std::string &entry) {
    if (entry.empty() || entry[0] == '/' || entry.find(':') != std::string::npos) {
        return "";
    }
    std::string decoded;
    for (size_t i = 0; i < entry.size(); i++) {
        if (entry[i] == '%' && i + 2 < entry.size() && isxdigit((unsigned char)entry[i + 1]) &&
            isxdigit((unsigned char)entry[i + 2])) {
            decoded += (char)strtol(entry.substr(i + 1, 2).c_str(), nullptr, 16);
            i += 2;
        } else {
            decoded += entry[i];
        }
    }
    size_t slash = jar.rfind('/');
    std::string path = (slash == std::string::npos ? "" : jar.substr(0, slash + 1)) + decoded;
    std::vector<std::string> parts;
    for (const std::string &part : splitAt(path, '/')) {
        if (part == "..") {
            if (parts.empty()) {
                return "";
            }
            parts.pop_back();
        } else if (part != ".") {
            parts.push_back(part);
        }
    }
    return joined(parts, "/");
}

// `jars` (relative to `share`) followed by the jars their manifests'
// Class-Path attributes name, and theirs in turn, as the VM reaches them:
// each once, only those that are files under `share`.
std::vector<std::string> reachedJars(const std::string &share, const std::vector<std::string> &jars) {
    std::vector<std::string> reached;
    std::vector<std::string> pending = jars;
    while (!pending.empty()) {
        std::string jar = pending.front();
        pending.erase(pending.begin());
        if (std::find(reached.begin(), reached.end(), jar) != reached.end() ||
            !isRegularFile(share + "/" + jar)) {
            continue;
        }
        reached.push_back(jar);
        std::string manifest;
        std::string ignored;
        if (!readManifest(share + "/" + jar, &manifest, &ignored)) {
            continue;
        }
        for (const std::string &entry :
             splitAt(manifestAttribute(manifest, "Class-Path"), ' ')) {
            std::string path = classPathEntry(jar, entry);
            if (!path.empty()) {
                pending.push_back(path);
            }
        }
    }
    return reached;
}

// Whether `kit` has module `name` (when its release file lists them).
bool hasModule(const JavaKit &kit, const std::string &name) {
    return kit.modules.empty() ||
           std::find(kit.modules.begin(), kit.modules.end(), name) != kit.modules.end();
}

// "the JDK at HOME (SOURCE)", for messages.
std::string kitName(const JavaKit &kit) {
    return "the JDK at " + kit.home + " (" + kit.source + ")";
}

// The modules jdeps finds over `jars` (absolute), into *modules. False
// with one line: a module it cannot resolve, or one the JDK lacks, named
// with what to do.
bool findModules(const JavaKit &kit, const std::vector<std::string> &jars,
                 std::vector<std::string> *modules, std::string *error) {
    if (jars.empty()) {
        *modules = {"java.base"};
        return true;
    }
    std::vector<std::string> argv = {kit.home + "/bin/jdeps", "--print-module-deps",
                                     "--ignore-missing-deps", "--multi-release",
                                     std::to_string(kit.feature)};
    argv.insert(argv.end(), jars.begin(), jars.end());
    CommandResult result = runCommand(argv, javaToolEnvironment());
    std::string advice = ": give --java-modules with the JDK modules the application needs, or "
                         "add the jar that holds it to --class-path";
    std::string requiredBy;
    std::string missing = unresolvedModule(result.output, &requiredBy);
    if (!missing.empty()) {
        *error = "jdeps cannot resolve module " + missing +
                 (requiredBy.empty() ? "" : ", required by " + requiredBy) + advice;
        return false;
    }
    *modules = printedModules(result.output);
    if (!succeeded(result) || modules->empty()) {
        *error = "cannot find the modules the application needs: " +
                 describeFailure(argv, result) + " (give --java-modules)";
        return false;
    }
    for (const std::string &module : *modules) {
        if (!hasModule(kit, module)) {
            *error = "jdeps finds module " + module + ", which " + kitName(kit) +
                     " does not have" + advice;
            return false;
        }
    }
    return true;
}

// Links `modules` of `kit` into the runtime image `output`. False with
// the reason.
bool linkRuntime(const JavaKit &kit, const std::vector<std::string> &modules,
                 const std::string &output, std::string *error) {
    std::vector<std::string> argv = {kit.home + "/bin/jlink", "--add-modules", joined(modules, ","),
                                     "--strip-debug", "--no-man-pages", "--no-header-files",
                                     "--output", output};
    CommandResult result = runCommand(argv, javaToolEnvironment());
    if (!succeeded(result)) {
        *error = "cannot make the runtime with jlink: " + describeFailure(argv, result);
        return false;
    }
    return true;
}

// Strips the native files of the runtime image `runtime` as Debian strips
// a package's: the libraries of the symbols no relocation needs, the
// programs of every symbol, both of their .comment and .note sections
// (binutils' strip). False with the reason.
bool stripRuntime(const std::string &runtime, std::string *error) {
    std::vector<PackageEntry> entries;
    if (!listPackageRoot(runtime, "", &entries, error)) {
        return false;
    }
    std::vector<std::string> libraries = elfFiles(entries, true);
    std::vector<std::string> programs;
    for (const std::string &file : elfFiles(entries, false)) {
        if (std::find(libraries.begin(), libraries.end(), file) == libraries.end()) {
            programs.push_back(file);
        }
    }
    for (const std::vector<std::string> *files : {&libraries, &programs}) {
        if (files->empty()) {
            continue;
        }
        std::vector<std::string> argv = {"strip", "--remove-section=.comment",
                                         "--remove-section=.note"};
        if (files == &libraries) {
            argv.push_back("--strip-unneeded");
        }
        std::vector<std::string> paths = under(runtime, *files);
        argv.insert(argv.end(), paths.begin(), paths.end());
        CommandResult result = runCommand(argv, {"LC_ALL=C"});
        if (!succeeded(result)) {
            *error = "cannot strip the runtime's native files: " + describeFailure(argv, result);
            return false;
        }
    }
    return true;
}

// The class path entries that every launcher's class path starts with,
// relative to the shipped files: the ones an archive may record.
std::vector<std::string> sharedClassPath(const PackRequest &request) {
    std::vector<std::string> common = launcherClassPath(request.launchers.front());
    for (const LauncherSpec &launcher : request.launchers) {
        std::vector<std::string> own = launcherClassPath(launcher);
        size_t same = 0;
        while (same < common.size() && same < own.size() && common[same] == own[same]) {
            same++;
        }
        common.resize(same);
    }
    return common;
}

// Where the archive is recorded, so that two packs record the same paths:
// in a private mount namespace, a tmpfs on /tmp holds this directory, in
// which the tree is bound as <tree's name>.
const char recordingDirectory[] = "/tmp/applauncher-pack";

// The VM options that make a dump give the same bytes from the same
// runtime and classes, found by dumping again and again: a fixed heap, no
// compiler and a serial collector (no thread's timing decides where
// metadata or objects land) and one identity hash for every object the
// dump hashes (otherwise drawn from a per-thread random state), with the
// performance data file off (it would be written under /tmp).
std::vector<std::string> reproducibleDumpOptions() {
    return {"-Xmx128m", "-Xint", "-XX:+UseSerialGC", "-XX:+UnlockExperimentalVMOptions",
            "-XX:hashCode=2", "-XX:-UsePerfData"};
}

// Where the dumps of one tree run: the tree's real path, the path the
// dump sees it at, and, when that is not the fixed place, why.
struct RecordingPlace {
    std::string root;         // the tree, absolute
    std::string seen;         // recordingDirectory/<tree's name>, or root
    std::string unfixedWhy;   // "" while the fixed place can be had
};

// Writes `text` to the file `path` (a /proc file of this process); 0 or
// the errno.
int writeProcFile(const std::string &path, const std::string &text) {
    int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    int error = write(fd, text.data(), text.size()) == (ssize_t)text.size() ? 0 : errno;
    close(fd);
    return error;
}

// In runPreparedCommand's child: a private mount namespace (inside a user
// namespace of its own when this process may not make one alone) in which
// a tmpfs covers /tmp and a copy of the mount of the tree `root`, taken in
// that namespace before /tmp is covered (a bind from another namespace is
// refused), is moved to `place`; then address randomisation off for the
// program it starts. 0 or the errno of the step that failed (nothing
// outside the child is changed).
int enterRecordingPlace(const std::string &root, const std::string &place) {
    uid_t uid = getuid();
    gid_t gid = getgid();
    if (unshare(CLONE_NEWNS) != 0) {
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            return errno;
        }
        int error = writeProcFile("/proc/self/setgroups", "deny");
        error = error != 0 ? error
                           : writeProcFile("/proc/self/uid_map",
                                           "0 " + std::to_string(uid) + " 1\n");
        error = error != 0 ? error
                           : writeProcFile("/proc/self/gid_map",
                                           "0 " + std::to_string(gid) + " 1\n");
        if (error != 0) {
            return error;
        }
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return errno;
    }
    int tree = open_tree(AT_FDCWD, root.c_str(), OPEN_TREE_CLONE | OPEN_TREE_CLOEXEC | AT_RECURSIVE);
    if (tree < 0) {
        return errno;
    }
    if (mount("tmpfs", "/tmp", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0 ||
        mkdir(recordingDirectory, 0755) != 0 || mkdir(place.c_str(), 0755) != 0 ||
        move_mount(tree, "", AT_FDCWD, place.c_str(), MOVE_MOUNT_F_EMPTY_PATH) != 0 ||
        personality(ADDR_NO_RANDOMIZE) == -1) {
        return errno;
    }
    return 0;
}

// Runs the runtime of the tree to dump the archive `archive` from the
// class list `list` (both relative to the tree), with the class path
// `classPath` (relative to the shipped files; may be empty), as the
// tree lies at place->seen: the fixed place while it can be had, else
// the tree's own path (place->unfixedWhy then says why). False with the
// reason.
bool dumpArchive(const PackRequest &request, RecordingPlace *place, const std::string &list,
                 const std::string &archive, const std::vector<std::string> &classPath,
                 std::string *error) {
    for (;;) {
        std::string seen = place->seen;
        std::string base = seen + "/";
        std::string listOption = "-XX:SharedClassListFile=";
        listOption += base;
        listOption += list;
        std::string archiveOption = "-XX:SharedArchiveFile=";
        archiveOption += base;
        archiveOption += archive;
        std::vector<std::string> argv = {base + bundledRuntimeDir + "/bin/java", "-Xshare:dump",
                                         listOption, archiveOption};
        std::vector<std::string> options = reproducibleDumpOptions();
        argv.insert(argv.end(), options.begin(), options.end());
        if (!classPath.empty()) {
            argv.insert(argv.end(),
                        {"-cp", joined(under(seen + "/share/" + request.name, classPath), ":")});
        }
        bool fixed = place->unfixedWhy.empty();
        std::string root = place->root;
        CommandResult result = runPreparedCommand(
            argv, javaToolEnvironment(), seen + "/lib", [fixed, root, seen]() {
                if (fixed) {
                    return enterRecordingPlace(root, seen);
                }
                return personality(ADDR_NO_RANDOMIZE) == -1 ? errno : 0;
            });
        if (!result.started && fixed) {
            place->unfixedWhy = result.output;
            place->seen = place->root;
            continue;
        }
        if (!succeeded(result)) {
            *error = "cannot record the class data sharing archive: " +
                     describeFailure(argv, result);
            return false;
        }
        return true;
    }
}

// Whether the runtime under `root` maps `archive` (-Xshare:on, which
// refuses to start otherwise) with the class path of every launcher of
// `request`, the tree lying where it is now. Sets *refusal to the VM's
// words when it does not.
bool archiveMaps(const PackRequest &request, const std::string &root, const std::string &archive,
                 std::string *refusal) {
    std::string share = root + "/share/" + request.name;
    for (const LauncherSpec &launcher : request.launchers) {
        std::vector<std::string> argv = {root + "/" + bundledRuntimeDir + "/bin/java",
                                         "-Xshare:on", "-XX:SharedArchiveFile=" + archive};
        std::vector<std::string> classPath = under(share, launcherClassPath(launcher));
        if (!classPath.empty()) {
            argv.insert(argv.end(), {"-cp", joined(classPath, ":")});
        }
        argv.push_back("-version");
        CommandResult result = runCommand(argv, javaToolEnvironment(), root + "/lib");
        if (!succeeded(result)) {
            *refusal = describeFailure(argv, result);
            return false;
        }
    }
    return true;
}

// Whether the files `a` and `b` hold the same bytes (false when either
// cannot be read).
bool sameFiles(const std::string &a, const std::string &b) {
    std::string first;
    std::string second;
    std::string ignored;
    return readFile(a, &first, &ignored) && readFile(b, &second, &ignored) && first == second;
}

// Records <root>/lib/<name>.jsa, the tree seen at the fixed recording
// place: first with the application's classes of the class path every
// launcher shares, kept only when the VM maps it with the tree's files
// where they are now (another place than they were recorded at); else
// with the JDK's classes alone, which must map. The class list lies in
// the tree's lib/ while the dumps run. It is recorded a second time,
// beside, and compared: some JDKs do not record the same bytes twice.
// *held says what it holds, and whether two packs record the same bytes.
// False with the reason.
bool recordArchive(const PackRequest &request, const JavaKit &kit, const std::string &root,
                   std::string *held, std::string *error) {
    std::string share = root + "/share/" + request.name;
    std::string archive = root + "/" + bundledArchivePath(request);
    std::string listName = "lib/" + request.name + ".classlist";
    std::string list = root + "/" + listName;
    RecordingPlace place = {root, std::string(recordingDirectory) + "/" +
                                      root.substr(root.rfind('/') + 1), ""};
    std::string defaults;
    std::string ignored;
    if (!readFile(root + "/" + bundledRuntimeDir + "/lib/classlist", &defaults, &ignored)) {
        defaults.clear();
    }
    if (!defaults.empty() && defaults.back() != '\n') {
        defaults += "\n";
    }
    std::vector<std::string> shared = sharedClassPath(request);
    std::set<std::string> names;
    for (const std::string &jar : reachedJars(share, shared)) {
        std::vector<std::string> entries;
        if (!jarEntries(share + "/" + jar, &entries, error)) {
            return false;
        }
        for (const std::string &name : archiveClassNames(entries, kit.feature)) {
            names.insert(name);
        }
    }
    std::string refusal;
    bool kept = false;
    std::string withNames = defaults;
    const std::vector<std::string> noClassPath;
    if (!names.empty()) {
        for (const std::string &name : names) {
            withNames += name + "\n";
        }
        bool dumped = writeFile(list, withNames, 0644, error) &&
                      dumpArchive(request, &place, listName, bundledArchivePath(request), shared,
                                  error);
        removeTree(list);
        if (!dumped) {
            return false;
        }
        kept = archiveMaps(request, root, archive, &refusal);
        if (!kept) {
            removeTree(archive);
        }
    }
    if (!kept) {
        bool dumped = writeFile(list, defaults, 0644, error) &&
                      dumpArchive(request, &place, listName, bundledArchivePath(request),
                                  noClassPath, error);
        removeTree(list);
        if (!dumped) {
            return false;
        }
        if (!archiveMaps(request, root, archive, &refusal)) {
            *error = "the runtime made from " + kitName(kit) +
                     " does not map the class data sharing archive it recorded: " + refusal;
            return false;
        }
    }
    std::string again = bundledArchivePath(request) + ".again";
    bool recorded = writeFile(list, kept ? withNames : defaults, 0644, error) &&
                    dumpArchive(request, &place, listName, again,
                                kept ? shared : noClassPath, error);
    bool same = recorded && sameFiles(archive, root + "/" + again);
    removeTree(list);
    removeTree(root + "/" + again);
    if (!recorded) {
        return false;
    }
    *held = kept ? "the JDK's classes and " + std::to_string(names.size()) +
                       " of the application's"
                 : names.empty() ? "the JDK's classes"
                                 : "the JDK's classes alone (Java " + kit.version +
                                       " maps the application's only from the place they "
                                       "were recorded at)";
    if (!place.unfixedWhy.empty()) {
        std::string why = place.unfixedWhy;
        while (!why.empty() && why.back() == '\n') {
            why.pop_back();
        }
        *held += "; recorded where the pack works, as no private mount namespace could be "
                 "made (" + why + "), so another pack's archive differs";
    } else if (!same) {
        *held += "; not the same bytes on a second recording (Java " + kit.version +
                 " does not record an archive the same way twice), so another pack's archive "
                 "differs";
    }
    return true;
}

// Checks that the main jar of `launcher` names its main class, unless one
// is given. "" or one line naming the jar.
std::string checkMainClass(const PackRequest &request, const LauncherSpec &launcher) {
    if (!launcher.mainClass.empty() || launcher.mainJar.empty()) {
        return "";
    }
    std::string manifest;
    std::string problem;
    if (!readManifest(request.input + "/" + launcher.mainJar, &manifest, &problem)) {
        return "launcher " + launcher.name + ": --main-jar " + launcher.mainJar + ": " + problem;
    }
    if (manifestAttribute(manifest, "Main-Class").empty()) {
        return "launcher " + launcher.name + ": --main-jar " + launcher.mainJar +
               " names no Main-Class in its manifest: give --main-class CLASS";
    }
    return "";
}

// The text of a version bound for rpm: feature version 8 is written 1.8.
std::string rpmVersion(int feature) {
    return feature >= 9 ? std::to_string(feature) : "1." + std::to_string(feature);
}

}  // namespace

bool parseJavaVersions(const std::string &versions, int *min, int *max) {
    size_t dash = versions.find('-');
    auto number = [](const std::string &text) {
        bool digits = !text.empty() && text.size() <= 3 &&
                      std::all_of(text.begin(), text.end(),
                                  [](char c) { return c >= '0' && c <= '9'; });
        return digits ? leadingNumber(text.c_str()) : -1;
    };
    *min = number(versions.substr(0, dash));
    *max = dash == std::string::npos ? 0 : number(versions.substr(dash + 1));
    return *min > 0 && (*max == 0 ? dash == std::string::npos : *max >= *min);
}

int javaFeatureVersion(const std::string &version) {
    size_t digits = version.find_first_not_of("0123456789");
    int first = leadingNumber(version.c_str());
    if (first == 1 && digits != std::string::npos && version[digits] == '.') {
        return leadingNumber(version.c_str() + digits + 1);
    }
    return first;
}

std::string manifestAttribute(const std::string &manifest, const std::string &name) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < manifest.size()) {
        size_t end = manifest.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            end = manifest.size();
        }
        std::string line = manifest.substr(start, end - start);
        if (line.empty()) {
            break;
        }
        if (line[0] == ' ' && !lines.empty()) {
            lines.back() += line.substr(1);
        } else {
            lines.push_back(line);
        }
        start = end + (manifest.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    for (const std::string &line : lines) {
        size_t colon = line.find(':');
        std::string key = line.substr(0, colon);
        if (colon != std::string::npos && key.size() == name.size() &&
            std::equal(key.begin(), key.end(), name.begin(),
                       [](char a, char b) { return tolower(a) == tolower(b); })) {
            return trimmed(line.substr(colon + 1));
        }
    }
    return "";
}

std::vector<std::string> launcherClassPath(const LauncherSpec &launcher) {
    std::vector<std::string> classPath;
    if (!launcher.mainJar.empty()) {
        classPath.push_back(launcher.mainJar);
    }
    if (!launcher.mainClass.empty()) {
        classPath.insert(classPath.end(), launcher.classPath.begin(), launcher.classPath.end());
    }
    return classPath;
}

std::vector<std::string> archiveClassNames(const std::vector<std::string> &entries,
                                           int feature) {
    static const std::string suffix = ".class";
    static const std::string versions = "META-INF/versions/";
    std::set<std::string> names;
    for (const std::string &entry : entries) {
        if (entry.size() <= suffix.size() ||
            entry.compare(entry.size() - suffix.size(), suffix.size(), suffix) != 0) {
            continue;
        }
        std::string name = entry.substr(0, entry.size() - suffix.size());
        if (name.compare(0, versions.size(), versions) == 0) {
            size_t slash = name.find('/', versions.size());
            std::string release = name.substr(versions.size(), slash - versions.size());
            if (slash == std::string::npos || release.empty() || release.size() > 4 ||
                release.find_first_not_of("0123456789") != std::string::npos ||
                leadingNumber(release.c_str()) > feature) {
                continue;
            }
            name = name.substr(slash + 1);
        } else if (name.compare(0, 9, "META-INF/") == 0) {
            continue;
        }
        std::string base = name.substr(name.rfind('/') + 1);
        if (base.empty() || base == "module-info" || base == "package-info" ||
            name.find_first_of(" \t\r\n") != std::string::npos) {
            continue;
        }
        names.insert(name);
    }
    return std::vector<std::string>(names.begin(), names.end());
}

std::string unresolvedModule(const std::string &output, std::string *requiredBy) {
    static const std::string before = "Module ";
    static const std::string after = " not found";
    static const std::string by = ", required by ";
    requiredBy->clear();
    for (const std::string &line : splitAt(output, '\n')) {
        size_t start = line.find(before);
        size_t end = start == std::string::npos ? start : line.find(after, start);
        if (end == std::string::npos || end == start + before.size()) {
            continue;
        }
        size_t requirer = line.compare(end + after.size(), by.size(), by) == 0
                              ? end + after.size() + by.size()
                              : std::string::npos;
        if (requirer != std::string::npos) {
            *requiredBy = trimmed(line.substr(requirer));
        }
        return line.substr(start + before.size(), end - start - before.size());
    }
    return "";
}

std::vector<std::string> printedModules(const std::string &output) {
    std::vector<std::string> lines = splitAt(output, '\n');
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        std::string text = trimmed(*line);
        bool moduleList = !text.empty() && text.front() != ',' && text.back() != ',' &&
                          std::all_of(text.begin(), text.end(), [](char c) {
                              return isalnum((unsigned char)c) || c == '.' || c == '_' ||
                                     c == ',';
                          });
        if (moduleList) {
            return splitAt(text, ',');
        }
    }
    return {};
}

void readReleaseFile(const std::string &text, std::string *version,
                     std::vector<std::string> *modules) {
    version->clear();
    modules->clear();
    for (const std::string &line : splitAt(text, '\n')) {
        size_t equals = line.find('=');
        std::string key = line.substr(0, equals);
        std::string value = equals == std::string::npos ? "" : trimmed(line.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        if (key == "JAVA_VERSION") {
            *version = value;
        } else if (key == "MODULES") {
            *modules = splitAt(value, ' ');
        }
    }
}

bool findJavaKit(JavaKit *kit, std::string *problem) {
    const char *javaHome = getenv("JAVA_HOME");
    if (javaHome != nullptr && *javaHome != '\0') {
        kit->home = absolutePath(javaHome);
        kit->source = "JAVA_HOME";
    } else {
        for (const char *program : {"javac", "java"}) {
            std::string path = findCommand(program);
            if (path.empty()) {
                continue;
            }
            std::string real = absolutePath(path);
            std::string bin = real.substr(0, real.rfind('/'));
            kit->home = bin.substr(0, bin.rfind('/'));
            kit->source = std::string("the JDK of ") + program + " on PATH";
            break;
        }
    }
    std::string install = ": set JAVA_HOME to a JDK, or install one (Debian: "
                          "openjdk-17-jdk-headless)";
    if (kit->home.empty()) {
        *problem = "--java-runtime bundled needs a JDK with jlink and jdeps, and none is "
                   "there" + install;
        return false;
    }
    for (const char *tool : {"jlink", "jdeps"}) {
        if (access((kit->home + "/bin/" + tool).c_str(), X_OK) != 0) {
            *problem = "--java-runtime bundled needs jlink and jdeps: " + kitName(*kit) +
                       " has no bin/" + tool + install;
            return false;
        }
    }
    std::string release;
    std::string ignored;
    if (readFile(kit->home + "/release", &release, &ignored)) {
        readReleaseFile(release, &kit->version, &kit->modules);
    }
    kit->feature = javaFeatureVersion(kit->version);
    if (kit->feature == 0) {
        *problem = "--java-runtime bundled: " + kitName(*kit) +
                   " has no release file naming its JAVA_VERSION" + install;
        return false;
    }
    return true;
}

std::string checkJavaRequest(const PackRequest &request) {
    for (const LauncherSpec &launcher : request.launchers) {
        std::string problem = checkMainClass(request, launcher);
        if (!problem.empty()) {
            return problem;
        }
    }
    if (request.javaRuntime == JavaRuntime::system) {
        return request.javaModules.empty()
                   ? ""
                   : "--java-modules is for --java-runtime bundled (the system's Java has every "
                     "module)";
    }
    if (!commandExists("strip")) {
        return "--java-runtime bundled strips the runtime's native files with strip, which is "
               "not there (Debian: binutils)";
    }
    JavaKit kit;
    std::string problem;
    if (!findJavaKit(&kit, &problem)) {
        return problem;
    }
    int min = 0;
    int max = 0;
    if (parseJavaVersions(request.javaVersions, &min, &max) &&
        (kit.feature < min || (max != 0 && kit.feature > max))) {
        return "--java-versions " + request.javaVersions + ": " + kitName(kit) + " is Java " +
               kit.version + ": set JAVA_HOME to a JDK whose version fits";
    }
    for (const std::string &module : request.javaModules) {
        if (!hasModule(kit, module)) {
            return "--java-modules: " + kitName(kit) + " has no module " + module +
                   " (its modules: " + kit.home + "/bin/java --list-modules)";
        }
    }
    return "";
}

bool bundleJavaRuntime(const PackRequest &request, const std::string &tree, bool *archived,
                       std::string *error) {
    *archived = false;
    std::string root = absolutePath(tree);
    JavaKit kit;
    if (!findJavaKit(&kit, error)) {
        return false;
    }
    std::string share = root + "/share/" + request.name;
    std::vector<std::string> modules = request.javaModules;
    if (modules.empty()) {
        std::vector<std::string> jars;
        for (const LauncherSpec &launcher : request.launchers) {
            appendUnique(jars, reachedJars(share, launcherClassPath(launcher)));
        }
        if (!findModules(kit, under(share, jars), &modules, error)) {
            return false;
        }
    }
    std::string held;
    if (!linkRuntime(kit, modules, root + "/" + bundledRuntimeDir, error) ||
        !stripRuntime(root + "/" + bundledRuntimeDir, error) ||
        !stampTree(share, request.sourceDateEpoch, error) ||
        !recordArchive(request, kit, root, &held, error)) {
        return false;
    }
    *archived = true;
    (void)printf("bundled runtime: Java %s from %s (%s); modules %s; class data sharing "
                 "archive %s: %s\n",
                 kit.version.c_str(), kit.home.c_str(), kit.source.c_str(),
                 joined(modules, ",").c_str(), bundledArchivePath(request).c_str(),
                 held.c_str());
    return true;
}

std::string javaDebianDependsFor(const std::string &versions) {
    int min = 0;
    int max = 0;
    if (!parseJavaVersions(versions, &min, &max)) {
        return "";
    }
    if (max == 0) {
        return "default-jre-headless (>= 2:1." + std::to_string(min) + ") | java" +
               std::to_string(min) + "-runtime-headless";
    }
    std::vector<std::string> alternatives;
    for (int version = max; version >= min; version--) {
        alternatives.push_back("openjdk-" + std::to_string(version) + "-jre-headless");
    }
    return joined(alternatives, " | ");
}

std::string javaRpmRequiresFor(const std::string &versions) {
    int min = 0;
    int max = 0;
    if (!parseJavaVersions(versions, &min, &max)) {
        return "";
    }
    std::string epochOne = "java-headless >= 1:" + rpmVersion(min);
    std::string epochZero = "java-headless >= " + rpmVersion(min) + " with java-headless < " +
                            (max == 0 ? "1:0" : rpmVersion(max + 1));
    if (max != 0) {
        epochOne = "(" + epochOne + " with java-headless < 1:" + rpmVersion(max + 1) + ")";
    }
    return "(" + epochOne + " or (" + epochZero + "))";
}

std::string javaDebianDepends(const PackRequest &request) {
    if (request.javaRuntime == JavaRuntime::bundled) {
        return "";
    }
    return javaDebianDependsFor(request.javaVersions.empty() ? defaultJavaVersions
                                                             : request.javaVersions);
}

std::string javaRpmRequires(const PackRequest &request) {
    if (request.javaRuntime == JavaRuntime::bundled) {
        return "";
    }
    return javaRpmRequiresFor(request.javaVersions.empty() ? defaultJavaVersions
                                                           : request.javaVersions);
}
