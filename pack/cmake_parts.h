// applauncher-pack for a CMake project: what applauncher_add_application()
// (packaging/ApplauncherApplication.cmake) installs besides the launcher
// and the libraries, made by the same code as the packages' trees, and the
// byte-compiling of an installed tree's Python files.
//
// --cmake-parts DIR writes, whole or not at all:
//
//   DIR/lib/applauncher.cfg             the main launcher's configuration,
//   DIR/lib/applauncher-<launcher>.cfg  each other launcher's
//   DIR/share/applications/, icons/, mime/, metainfo/
//                                       the desktop files (desktop_files.h),
//                                       when a launcher asks for an entry
//   DIR/application.cmake               sets, for the CMake function,
//     applauncher_pack_launchers        the launchers' names, in order
//     applauncher_pack_debian_depends   what --java-versions makes the
//     applauncher_pack_rpm_requires     package need instead of the JVM
//                                       runtime library's own dependencies
//                                       (javaDebianDependsFor,
//                                       javaRpmRequiresFor); "" without it
//
// A launcher's configuration is, one line each and in this order:
//
//   runtime=<runtimeFileName>
//   arg=$APPDIR/bin/<launcher>          the program name the runtime sees
//   <launcherMainLines>                 with --entry-point: the module path
//                                       and the entry point
//   arg=<each --argument>
//   env=<each --env>
//   env=HUX_JAVA_VERSIONS=<range>       with --java-versions
//
// and the reference library's own parser reads it as at start before it
// is kept (the runtime library, which the parser wants beside it, stands
// there as an empty file while it reads). The problems name the CMake function's keywords (ARGS, ENV,
// APP_ID...) rather than the options, as the function passes each keyword
// as its option.
#ifndef PACK_CMAKE_PARTS_H
#define PACK_CMAKE_PARTS_H

#include <string>

#include "pack_request.h"

// The prefix of every problem the CMake mode reports, the CMake function's
// name: "applauncher_add_application: ".
extern const char cmakeProblemPrefix[];

// `problem` (a check's or a step's one line) with each option of the pack
// the CMake function gives as a keyword named by that keyword ("--app-id"
// as "APP_ID", "--env" as "ENV"...).
std::string cmakeKeywords(const std::string &problem);

// Checks a --cmake-parts request: --runtime given; the launchers named as
// files, each once, their mains given by --entry-point (Python) or their
// arguments alone; each --argument and --env value one the reference
// library takes at start ("ARGS entry \"$HOME\": <its reason>"); the Java
// versions, the Python and the desktop options as the pack checks them.
// Completes the install prefix (/opt/<name>). "" or the first problem,
// in the function's keywords, without the prefix.
std::string checkCMakeRequest(PackRequest &request);

// Writes what --cmake-parts makes into `dir` (a directory to make), every
// time stamp SOURCE_DATE_EPOCH's. The request must have passed
// checkCMakeRequest. False with the reason.
bool writeCMakeParts(const PackRequest &request, const std::string &dir, std::string *error);

// Runs the CMake mode for `request` (its cmakeParts set): checks, writes
// in a work directory beside --cmake-parts DIR and puts the result in
// DIR's place. Prints "made DIR", or the problem with cmakeProblemPrefix on
// standard error. Returns the exit status: 0 made, 1 not.
int runCMakeParts(PackRequest &request);

// Runs --compile-python: byte-compiles the Python files under each of its
// directories of the installed tree --tree, recording their paths under
// --prefix (compilePythonFiles). Returns the exit status, 0 or 1 (with
// the problem on standard error, prefixed as above).
int runCompilePython(const PackRequest &request);

#endif
