// The application on the desktop: a .desktop entry for each launcher that
// asks for one, its icon in the icon theme's places, the file types it
// opens (shared-mime-info) and AppStream metadata for software centres.
//
//   applications/<id>.desktop            the main launcher's entry
//   applications/<id>.<launcher>.desktop each other launcher's ('-', '+'
//                                        and '.' of its name as '_')
//   icons/hicolor/<N>x<N>/apps/<id>.png  each PNG, at its own size
//   icons/hicolor/scalable/apps/<id>.svg an SVG
//   mime/packages/<id>.xml               the file types, when some are given
//   metainfo/<id>.metainfo.xml           AppStream metadata, with --appstream
//
// The AppStream metadata is under CC0-1.0 (it says only what the options
// say, and anyone may copy it without a notice). Every file depends on the
// request alone: the same options give the same bytes.
//
// What their validators say (tests/pack_desktop_test.sh holds the pack to
// it): desktop-file-validate nothing, not even a hint, and `appstreamcli
// validate --no-net --strict --pedantic` no issue at any level, for what the
// pack writes itself. The checks refuse what would draw an error or a
// warning (an id of two parts, an unknown category, Audio without
// AudioVideo...). The text a user gives may still draw advice, which the
// validators count as no failure: an "info" for a first paragraph under 80
// characters, a summary ending in '.', a '-' in --app-id, a "pedantic" note
// for its capitals; and a warning for a --license of the right form that
// the SPDX list does not have.
#ifndef PACK_DESKTOP_FILES_H
#define PACK_DESKTOP_FILES_H

#include <string>

#include "pack_request.h"

// Whether any launcher asks for a menu entry.
bool wantsDesktopFiles(const PackRequest &request);

// The reverse-DNS id the desktop files are named by: --app-id, else one
// made from --homepage's host (reversed, without "www.") and the name, each
// part with '-', '+' and '.' as '_' and a leading digit behind '_'
// (https://www.example.org/x and name my-app: org.example.my_app). "" when
// neither gives one.
std::string applicationId(const PackRequest &request);

// Checks the desktop options before anything is made: desktop options only
// on launchers with --desktop-entry; an id; icons that are square PNG
// images of a size the icon theme has, or SVG images, one of each size;
// file types that are MIME types with globs, each defined once; categories
// that the desktop knows, the first a main one; text that is UTF-8 without
// control characters; what --appstream needs. "" or one line naming the
// option at fault and what to do.
std::string checkDesktopRequest(const PackRequest &request);

// Writes the desktop files into `shareDir` (a share/ directory: its
// applications/, icons/hicolor/, mime/packages/ and metainfo/), for the
// programs installed in `programDir` (the Exec= and TryExec= lines name
// `programDir`/<launcher>, quoted as a desktop entry needs). Writes nothing
// when no launcher asks for an entry. The request must have passed
// checkDesktopRequest. False with the reason.
bool writeDesktopFiles(const PackRequest &request, const std::string &shareDir,
                       const std::string &programDir, std::string *error);

#endif
