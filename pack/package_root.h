// What the .deb and the .rpm share: the package's root directory (the
// staged tree under the install prefix, the desktop files under
// /usr/share), its entries with their modes made uniform, its ELF files,
// the description as lines, and the tools' names for this machine.
#ifndef PACK_PACKAGE_ROOT_H
#define PACK_PACKAGE_ROOT_H

#include <cstdint>
#include <string>
#include <vector>

#include "pack_request.h"

// One entry below a package root.
struct PackageEntry {
    std::string path;    // relative to the root, e.g. "opt/hi/bin/hi"
    char type = 'f';     // 'd' directory, 'f' regular file, 'l' symbolic link
    uint64_t size = 0;   // a regular file's size in bytes
    bool elf = false;    // a regular file that is an ELF executable or shared object
};

// The install prefix without its leading '/', e.g. "opt/hi".
std::string prefixPath(const PackRequest &request);

// Lays out the package root `root` (a directory to make): the staged tree
// `tree` copied to root/<prefix> as it is, and the desktop files written
// under root/usr/share for the programs in <prefix>/bin. False with the
// reason.
bool preparePackageRoot(const PackRequest &request, const std::string &tree,
                        const std::string &root, std::string *error);

// Lists everything below `root`, sorted by path, and gives `root`, every
// directory and every executable file below it mode 0755, every other file
// 0644, and so every shared library (named *.so or *.so.*), as Debian
// installs them. Entries below the top-level directory `hidden` (e.g. "DEBIAN") get
// their modes but are not listed. Refuses (false, naming it) a path that
// holds a line break, which no package's file list can carry, and anything
// but a directory, a file or a symbolic link.
bool listPackageRoot(const std::string &root, const std::string &hidden,
                     std::vector<PackageEntry> *entries, std::string *error);

// The relative paths of the ELF files among `entries`; with `sharedOnly`,
// of the libraries alone: those whose file name holds ".so" (an
// executable built as PIE is a shared object too, so the name tells; a
// library an application tree bundles is named by its soname).
std::vector<std::string> elfFiles(const std::vector<PackageEntry> &entries, bool sharedOnly);

// `text` split into lines, each with its tabs expanded, its control
// characters made spaces and its trailing spaces removed.
std::vector<std::string> textLines(const std::string &text);

// The description as lines of at most 76 columns: paragraphs (separated
// by blank lines) refilled, a line that starts with a space or a tab kept
// as it is (tabs expanded), control characters made spaces, and "" for
// each paragraph break. A word starting with '%' (which rpmbuild would
// read as a directive) or '.' (a control file reserves " ." lines) never
// starts a refilled line.
std::vector<std::string> descriptionLines(const std::string &text);

// `list` ("a, b (>= 1), c") split at its commas, each entry trimmed, the
// empty ones and the repeated ones left out, appended to `out`.
void appendRelations(std::vector<std::string> *out, const std::string &list);

// The day of `epoch` in UTC, as RFC 5322 writes a date
// ("Thu, 01 Jan 1970 00:00:00 +0000"), and as an rpm changelog does
// ("Thu Jan 01 1970").
std::string mailDate(int64_t epoch);
std::string changelogDay(int64_t epoch);

// The machine's architecture as dpkg and rpm name it ("amd64", "x86_64"),
// asked of them once; from uname when they cannot say.
std::string debianArchitecture();
std::string rpmArchitecture();

// applauncher's own licence (its LICENSE file): the holder line
// ("2026 applauncher developers") and the text after it.
extern const char applauncherCopyright[];
extern const char applauncherLicenseText[];

#endif
