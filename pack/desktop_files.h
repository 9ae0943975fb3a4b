// The application on the desktop: a .desktop entry for each launcher that
// asks for one, its icon in the icon theme's places, the file types it
// opens (shared-mime-info) and AppStream metadata for software centres.
#ifndef PACK_DESKTOP_FILES_H
#define PACK_DESKTOP_FILES_H

#include <string>

#include "pack_request.h"

// Checks the desktop options before anything is made: icons that are PNG
// or SVG images, file types that are MIME types with globs, an id. "" or
// one line naming the input at fault.
std::string checkDesktopRequest(const PackRequest &request);

// Writes the desktop files into `shareDir` (a share/ directory: its
// applications/, icons/hicolor/, mime/packages/ and metainfo/), for the
// programs installed in `programDir` (the Exec= lines name
// `programDir`/<launcher>). Writes nothing when the request asks for no
// desktop integration. False with the reason.
bool writeDesktopFiles(const PackRequest &request, const std::string &shareDir,
                       const std::string &programDir, std::string *error);

#endif
