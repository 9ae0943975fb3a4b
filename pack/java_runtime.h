// A Java application's runtime: checks of its jars, the distribution's
// Java it depends on, or a runtime image of its own made with jlink from
// the installed JDK, holding only the modules it needs, with a class data
// sharing archive recorded for that runtime when the package is made.
#ifndef PACK_JAVA_RUNTIME_H
#define PACK_JAVA_RUNTIME_H

#include <string>

#include "pack_request.h"

// Checks a Java request before anything is made: a main jar whose
// manifest names a main class (unless --main-class is given), and, for a
// bundled runtime, a JDK with jdeps and jlink whose version fits. "" or
// one line naming the input at fault and what to do.
std::string checkJavaRequest(const PackRequest &request);

// Makes the bundled runtime at <root>/lib/runtime and its archive
// <root>/lib/<name>.jsa; *archived says whether the archive was made.
bool bundleJavaRuntime(const PackRequest &request, const std::string &root, bool *archived,
                       std::string *error);

// What the package needs of the system for Java: a Debian Depends list and
// an RPM Requires list ("" for a bundled runtime).
std::string javaDebianDepends(const PackRequest &request);
std::string javaRpmRequires(const PackRequest &request);

#endif
