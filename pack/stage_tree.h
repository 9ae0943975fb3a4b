// The application's tree as it ships: what app-image packs as it is, and
// what the deb and rpm packages install under their prefix.
//
//   bin/<launcher>                  the applauncher launcher, once per launcher
//   lib/libapplauncher.so           the reference auxiliary library
//   lib/applauncher.cfg             the main launcher's configuration, and
//   lib/applauncher-<launcher>.cfg  each other launcher's
//   lib/libhux_jvm.so | libhux_python.so   the runtime library
//   lib/runtime/, lib/<name>.jsa    a bundled Java runtime and its archive
//   lib/venv/                       a private Python environment
//   share/<name>/                   the files of --input
//   share/doc/<name>/README         how a user adds options without root
//   share/applications/, share/icons/, share/mime/, share/metainfo/
//                                   the desktop files, when asked for
#ifndef PACK_STAGE_TREE_H
#define PACK_STAGE_TREE_H

#include <string>

#include "installed_files.h"
#include "pack_request.h"

// Lays the tree out at `root` (a directory to make), every time stamp
// SOURCE_DATE_EPOCH's. False with one line naming what is wrong in *error.
bool stageTree(const PackRequest &request, const InstalledFiles &files, const std::string &root,
               std::string *error);

// The text of share/doc/<name>/README: for each launcher, the variable
// and the file through which a user adds options, without root.
std::string userOptionsReadme(const PackRequest &request);

#endif
