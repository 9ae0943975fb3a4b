// What one applauncher-pack run is asked to make: the application, its
// launchers, its runtime, its desktop integration and the outputs.
#ifndef PACK_REQUEST_H
#define PACK_REQUEST_H

#include <cstdint>
#include <string>
#include <vector>

// The runtime an application runs on, from how its main is given.
enum class RuntimeKind { unknown, java, python };

// How a Java application gets its runtime.
enum class JavaRuntime { system, bundled };

// One program of the application: bin/<name>, with its own main, its own
// arguments and options, sharing the tree and the runtime with the rest.
struct LauncherSpec {
    std::string name;
    // Java: a main jar (its manifest names the main class), or a main
    // class with a class path; paths relative to the input directory.
    std::string mainJar;
    std::string mainClass;
    std::vector<std::string> classPath;
    std::vector<std::string> javaOptions;  // VM options, before the main class
    // Python: an entry point "module:function", a module, or a script
    // (relative to the input directory).
    std::string entryPoint;
    std::string module;
    std::string script;
    std::vector<std::string> pythonOptions;  // interpreter options, before the main
    std::vector<std::string> arguments;      // before the command line's own
    std::vector<std::string> environment;    // NAME=VALUE
    bool desktop = false;                    // gets a menu entry
    std::vector<std::string> mimeTypes;      // the MIME types it opens
    std::string displayName;                 // the menu entry's name ("": its name)
    std::string comment;                     // the menu entry's tooltip
    std::vector<std::string> categories;     // the menu entry's categories
    bool terminal = false;                   // it runs in a terminal
    std::string wmClass;                     // its windows' class, for the desktop
};

// A file type the application opens: "type/subtype" with its glob
// patterns ("*.ext") and a comment, for shared-mime-info.
struct MimeTypeSpec {
    std::string type;
    std::vector<std::string> globs;
    std::string comment;
};

// The whole request, as the options give it (pack/options.h) and
// checkRequest (pack/request_check.h) finds it sound.
struct PackRequest {
    // What to make and where.
    std::vector<std::string> types;  // "app-image", "deb", "rpm"
    std::string destination;         // where the outputs go
    std::string installPrefix;       // deb and rpm: /opt/<name> by default
    // The application.
    std::string name;
    std::string version;
    std::string release = "1";       // the package's own revision
    std::string summary;
    std::string description;
    std::string maintainer;          // "Name <email>"
    std::string vendor;
    std::string license;             // an SPDX identifier
    std::string licenseFile;         // its full text, when not a common licence
    std::string homepage;
    std::string input;               // the files to ship, as share/<name>/
    // The runtime.
    RuntimeKind runtime = RuntimeKind::unknown;
    std::string javaVersions;        // "MIN" or "MIN-MAX"
    JavaRuntime javaRuntime = JavaRuntime::system;
    std::vector<std::string> javaModules;  // overrides what jdeps finds
    std::string pythonWheels;        // a directory of wheels for a private environment
    std::string modulePath;          // Python: the application's own modules, relative
                                     // to the tree ("": share/<name>, where --input goes)
    // Packages the application needs beyond what the pack finds itself:
    // one relation each, as --depends (.deb) and --requires (.rpm) give them.
    std::vector<std::string> debDepends;   // e.g. "python3-yaml (>= 5.1)", "a | b"
    std::vector<std::string> rpmRequires;  // e.g. "python3-pyyaml >= 5.1"
    // The programs: the first is named <name>.
    std::vector<LauncherSpec> launchers;
    // Desktop integration.
    std::string appId;               // reverse-DNS id, e.g. org.example.App
    std::vector<std::string> icons;  // PNG files (their sizes) or SVG
    std::vector<MimeTypeSpec> mimeTypes;
    bool appstream = false;
    // Reproducibility: every time stamp in every output.
    int64_t sourceDateEpoch = 0;
    // The CMake mode (pack/cmake_parts.h): what applauncher_add_application()
    // installs, written into this directory instead of any package.
    std::string cmakeParts;
    std::string runtimeLibrary;  // a runtime library not applauncher's, by file name
    // Byte-compiling an installed tree at `compileRoot`: its directories
    // holding the Python files, relative to it.
    std::vector<std::string> compilePython;
    std::string compileRoot;
};

#endif
