// The .deb and the .rpm of an application: its tree under the install
// prefix, the desktop files where the desktop looks, dependencies from its
// ELF files and its runtime, a maintainer, a licence, a changelog and a
// copyright file, reproducible from the same inputs and SOURCE_DATE_EPOCH.
#ifndef PACK_SYSTEM_PACKAGES_H
#define PACK_SYSTEM_PACKAGES_H

#include <string>

#include "pack_request.h"

// The file names dpkg-deb and rpmbuild would give them, with the
// architecture as `dpkg --print-architecture` and rpm's %{_target_cpu} name
// it: <name>_<version>-<release>_<arch>.deb, <name>-<version>-<release>.<arch>.rpm.
std::string debFileName(const PackRequest &request);
std::string rpmFileName(const PackRequest &request);

// Checks that the tools are there (dpkg-deb, dpkg-shlibdeps, objdump,
// md5sum and gzip / rpmbuild and rpm). "" or one line saying which Debian
// package to install.
std::string checkDebTools();
std::string checkRpmTools();

// A licence that Debian ships in /usr/share/common-licenses, by its SPDX
// identifier (e.g. GPL-3.0-or-later): the name the machine-readable
// copyright format gives it ("GPL-3+"), the file ("GPL-3") and what it is
// called in a sentence. Null for another licence, whose text a .deb must
// then carry (--license-file).
struct CommonLicense {
    const char *spdx;
    const char *debianName;
    const char *file;
    const char *title;
};
const CommonLicense *findCommonLicense(const std::string &spdx);

// Builds the package from the staged tree `tree` into `output`, working in
// `workDir` (a directory of its own, made here). Runs dpkg-shlibdeps and
// dpkg-deb / rpmbuild with SOURCE_DATE_EPOCH set, never touching the
// machine's package databases or the user's own rpm settings. False with
// the reason; `output` is then not made.
bool buildDeb(const PackRequest &request, const std::string &tree, const std::string &workDir,
              const std::string &output, std::string *error);
bool buildRpm(const PackRequest &request, const std::string &tree, const std::string &workDir,
              const std::string &output, std::string *error);

#endif
