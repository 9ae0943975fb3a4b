#include "system_packages.h"

#include "package_root.h"
#include "run_command.h"

namespace {

// The licences of /usr/share/common-licenses (Debian's base-files), by
// their SPDX identifiers, the deprecated forms included. BSD is left out:
// that file is one holder's text, not a licence to refer to.
const CommonLicense commonLicenses[] = {
    {"Apache-2.0", "Apache-2.0", "Apache-2.0", "the Apache License, Version 2.0"},
    {"Artistic-1.0-Perl", "Artistic", "Artistic", "the Artistic License"},
    {"CC0-1.0", "CC0-1.0", "CC0-1.0", "the Creative Commons CC0 1.0 Universal licence"},
    {"GFDL-1.2-only", "GFDL-1.2", "GFDL-1.2", "the GNU Free Documentation License, version 1.2"},
    {"GFDL-1.2-or-later", "GFDL-1.2+", "GFDL-1.2",
     "the GNU Free Documentation License, version 1.2"},
    {"GFDL-1.3-only", "GFDL-1.3", "GFDL-1.3", "the GNU Free Documentation License, version 1.3"},
    {"GFDL-1.3-or-later", "GFDL-1.3+", "GFDL-1.3",
     "the GNU Free Documentation License, version 1.3"},
    {"GPL-1.0-only", "GPL-1", "GPL-1", "the GNU General Public License, version 1"},
    {"GPL-1.0-or-later", "GPL-1+", "GPL-1", "the GNU General Public License, version 1"},
    {"GPL-2.0-only", "GPL-2", "GPL-2", "the GNU General Public License, version 2"},
    {"GPL-2.0", "GPL-2", "GPL-2", "the GNU General Public License, version 2"},
    {"GPL-2.0-or-later", "GPL-2+", "GPL-2", "the GNU General Public License, version 2"},
    {"GPL-2.0+", "GPL-2+", "GPL-2", "the GNU General Public License, version 2"},
    {"GPL-3.0-only", "GPL-3", "GPL-3", "the GNU General Public License, version 3"},
    {"GPL-3.0", "GPL-3", "GPL-3", "the GNU General Public License, version 3"},
    {"GPL-3.0-or-later", "GPL-3+", "GPL-3", "the GNU General Public License, version 3"},
    {"GPL-3.0+", "GPL-3+", "GPL-3", "the GNU General Public License, version 3"},
    {"LGPL-2.0-only", "LGPL-2", "LGPL-2", "the GNU Library General Public License, version 2"},
    {"LGPL-2.0-or-later", "LGPL-2+", "LGPL-2",
     "the GNU Library General Public License, version 2"},
    {"LGPL-2.1-only", "LGPL-2.1", "LGPL-2.1",
     "the GNU Lesser General Public License, version 2.1"},
    {"LGPL-2.1", "LGPL-2.1", "LGPL-2.1", "the GNU Lesser General Public License, version 2.1"},
    {"LGPL-2.1-or-later", "LGPL-2.1+", "LGPL-2.1",
     "the GNU Lesser General Public License, version 2.1"},
    {"LGPL-2.1+", "LGPL-2.1+", "LGPL-2.1",
     "the GNU Lesser General Public License, version 2.1"},
    {"LGPL-3.0-only", "LGPL-3", "LGPL-3", "the GNU Lesser General Public License, version 3"},
    {"LGPL-3.0", "LGPL-3", "LGPL-3", "the GNU Lesser General Public License, version 3"},
    {"LGPL-3.0-or-later", "LGPL-3+", "LGPL-3",
     "the GNU Lesser General Public License, version 3"},
    {"LGPL-3.0+", "LGPL-3+", "LGPL-3", "the GNU Lesser General Public License, version 3"},
    {"MPL-1.1", "MPL-1.1", "MPL-1.1", "the Mozilla Public License, version 1.1"},
    {"MPL-2.0", "MPL-2.0", "MPL-2.0", "the Mozilla Public License, version 2.0"},
};

// "" when every program is found, else what to install for the first one
// missing.
std::string missingTool(const std::vector<std::pair<const char *, const char *>> &tools,
                        const char *type) {
    for (const auto &tool : tools) {
        if (!commandExists(tool.first)) {
            return std::string("a ") + type + " is made with " + tool.first +
                   ", which is not installed: install " + tool.second + " (Debian: apt-get "
                   "install " + tool.second + ")";
        }
    }
    return "";
}

}  // namespace

std::string debFileName(const PackRequest &request) {
    return request.name + "_" + request.version + "-" + request.release + "_" +
           debianArchitecture() + ".deb";
}

std::string rpmFileName(const PackRequest &request) {
    return request.name + "-" + request.version + "-" + request.release + "." +
           rpmArchitecture() + ".rpm";
}

std::string checkDebTools() {
    return missingTool({{"dpkg-deb", "dpkg"},
                        {"dpkg-shlibdeps", "dpkg-dev"},
                        {"objdump", "binutils"},
                        {"md5sum", "coreutils"},
                        {"gzip", "gzip"}},
                       ".deb");
}

std::string checkRpmTools() {
    return missingTool({{"rpmbuild", "rpm"}, {"rpm", "rpm"}}, ".rpm");
}

const CommonLicense *findCommonLicense(const std::string &spdx) {
    for (const CommonLicense &license : commonLicenses) {
        if (spdx == license.spdx) {
            return &license;
        }
    }
    return nullptr;
}
