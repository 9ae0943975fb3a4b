// The .deb and the .rpm of an application: its tree under the install
// prefix, the desktop files where the desktop looks, dependencies from its
// ELF files and its runtime, a maintainer, a licence, a changelog and a
// copyright file, reproducible from the same inputs and SOURCE_DATE_EPOCH.
#ifndef PACK_SYSTEM_PACKAGES_H
#define PACK_SYSTEM_PACKAGES_H

#include <string>

#include "pack_request.h"

// The file names dpkg-deb and rpmbuild would give them:
// <name>_<version>-<release>_<arch>.deb, <name>-<version>-<release>.<arch>.rpm.
std::string debFileName(const PackRequest &request);
std::string rpmFileName(const PackRequest &request);

// Checks that the tools are there (dpkg-deb, dpkg-shlibdeps / rpmbuild).
// "" or one line saying what to install.
std::string checkDebTools();
std::string checkRpmTools();

// Builds the package from the staged tree `tree` into `output`, working in
// `workDir` (a directory of its own). False with the reason.
bool buildDeb(const PackRequest &request, const std::string &tree, const std::string &workDir,
              const std::string &output, std::string *error);
bool buildRpm(const PackRequest &request, const std::string &tree, const std::string &workDir,
              const std::string &output, std::string *error);

#endif
