// A Python application's files: its own code byte-compiled when the
// package is made (so that a read-only install never compiles it at
// start), and, given a directory of wheels, a private virtual environment
// inside the tree holding those dependencies and nothing from the user's
// site.
#ifndef PACK_PYTHON_FILES_H
#define PACK_PYTHON_FILES_H

#include <cstdint>
#include <string>

#include "pack_request.h"

// Checks a Python request before anything is made: an entry point of the
// form module:function, a module name, a --module-path inside the tree for
// an entry point or a module, wheels that are wheels. "" or one line
// naming the input at fault.
std::string checkPythonRequest(const PackRequest &request);

// Byte-compiles the Python files under <root>/share/<name> and makes
// <root>/lib/venv from the wheels, when there are some.
bool preparePythonFiles(const PackRequest &request, const std::string &root,
                        std::string *error);

// Byte-compiles every Python file under `directory` (inside the tree at
// `root`, whose final place is `prefix`) with hash-checked caches whose
// bytes depend on the sources and `prefix` alone (the file names they
// record are those under `prefix`; time stamps `epoch`'s). False with the
// reason.
bool compilePythonFiles(const std::string &directory, const std::string &root,
                        const std::string &prefix, int64_t epoch, std::string *error);

// What the package needs of the system for Python: a Debian Depends list
// and an RPM Requires list.
std::string pythonDebianDepends(const PackRequest &request);
std::string pythonRpmRequires(const PackRequest &request);

#endif
