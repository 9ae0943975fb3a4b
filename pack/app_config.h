// The reference auxiliary library's configuration for each launcher of an
// application, and its check by the reference library's own parser.
#ifndef PACK_APP_CONFIG_H
#define PACK_APP_CONFIG_H

#include <string>

#include "pack_request.h"

// The configuration file of `launcher`, relative to the tree's lib/: the
// main launcher's is applauncher.cfg, another's applauncher-<name>.cfg,
// which the reference library reads for the program of that name.
std::string configFileName(const PackRequest &request, const LauncherSpec &launcher);

// The file name of the runtime library the application needs: the CMake
// mode's --runtime FILE, else applauncher's for its runtime.
std::string runtimeFileName(const PackRequest &request);

// The directory of the application's own Python modules, relative to the
// tree: --module-path, else share/<name>.
std::string moduleDirectory(const PackRequest &request);

// Where a bundled Java runtime and its class data sharing archive, and a
// private Python environment, lie in the tree.
extern const char bundledRuntimeDir[];   // "lib/runtime"
extern const char pythonEnvironmentDir[];  // "lib/venv"
std::string bundledArchivePath(const PackRequest &request);  // "lib/<name>.jsa"

// The variable through which a user adds options to `launcher` without
// root: <NAME>_OPTIONS, NAME the launcher's name in upper case with every
// character but letters and digits as '_'.
std::string optionsVariable(const LauncherSpec &launcher);

// The user's own configuration file of `launcher`, as the configuration
// names it: ${XDG_CONFIG_HOME:-${HOME}/.config}/<name>/<file>.
std::string userConfigPattern(const PackRequest &request, const LauncherSpec &launcher);

// The configuration text of `launcher`: the runtime library, the program
// name, the runtime's options and the main, the launcher's arguments and
// variables, then the user's options and file. `archived` says whether a
// bundled runtime comes with a class data sharing archive.
std::string launcherConfig(const PackRequest &request, const LauncherSpec &launcher,
                           bool archived);

// The lines that start `launcher`'s main on the application's runtime:
// the runtime's options and the main (see launcherConfig); "" for a
// launcher without a main, which the CMake mode allows (its arguments say
// what runs).
std::string launcherMainLines(const PackRequest &request, const LauncherSpec &launcher,
                              bool archived);

// Why the reference library would refuse `value` as the value of an arg=
// or env= line ("" when it takes it): a '$' form it does not know, an
// unterminated "${", a line break.
std::string checkConfigValue(const std::string &value);

// Reads the configuration file `lib/<file>` of the staged tree at `root`
// with the reference library's own parser, as it reads it at start (no
// variable of this process counts). Returns "" or the library's complaint,
// "<file>:<line>: <reason>".
std::string checkLauncherConfig(const std::string &root, const std::string &file);

#endif
