// A Java application's runtime: checks of its jars, the distribution's
// Java it depends on, or a runtime image of its own made with jlink from
// the installed JDK, holding only the modules it needs, with a class data
// sharing archive recorded for that runtime when the package is made.
#ifndef PACK_JAVA_RUNTIME_H
#define PACK_JAVA_RUNTIME_H

#include <string>
#include <vector>

#include "pack_request.h"

// Checks a Java request before anything is made: each main jar's manifest
// names a main class (read with unzip) unless --main-class is given;
// --java-modules goes with a bundled runtime; for a bundled runtime, a JDK
// with jdeps and jlink (findJavaKit) whose version fits --java-versions
// and which has every module --java-modules names. "" or one line naming
// the input at fault and what to do.
std::string checkJavaRequest(const PackRequest &request);

// Makes the bundled runtime at <root>/lib/runtime with the JDK's jlink,
// holding the modules --java-modules names, else those jdeps finds over
// every launcher's class path (main jars' manifest Class-Path included),
// without debug data, man pages or headers; then the class data sharing
// archive <root>/lib/<name>.jsa, recorded from the runtime's own class
// list and the application's classes (listed from its jars, loaded and
// linked by the dump, never run), and kept only when the runtime maps it
// with -Xshare:on from the tree's final place: a JDK that cannot follow a
// class path whose directory moved gets an archive of the JDK's classes
// alone. The shipped files under <root>/share/<name> are stamped with
// SOURCE_DATE_EPOCH first, as the archive records their times. Prints one
// line saying which JDK, which modules and what the archive holds.
// *archived says whether the archive is there. False with one line in
// *error (a module jdeps cannot resolve names it and what to do).
bool bundleJavaRuntime(const PackRequest &request, const std::string &root, bool *archived,
                       std::string *error);

// What the package needs of the system for Java, from --java-versions
// (MIN, or 11 when not given, the lowest the JVM runtime library runs on):
// a Debian Depends entry and an RPM Requires entry ("" for a bundled
// runtime). See javaDebianDependsFor and javaRpmRequiresFor.
std::string javaDebianDepends(const PackRequest &request);
std::string javaRpmRequires(const PackRequest &request);

// Debian: every JDK N provides the virtual packages java5..javaN-runtime-
// headless (openjdk-17-jre-headless: java5 to java17; openjdk-21: to 21),
// so MIN alone is "javaMIN-runtime-headless", met by any later JDK too,
// after a real package as a virtual one needs: "default-jre-headless
// (>= 2:1.MIN) | javaMIN-runtime-headless" (the default JRE N is 2:1.N).
// Those cannot bound a maximum, so MIN-MAX is the alternatives
// "openjdk-MAX-jre-headless | ... | openjdk-MIN-jre-headless", newest
// first. "" when `versions` is not MIN or MIN-MAX.
std::string javaDebianDependsFor(const std::string &versions);

// RPM: Fedora's JDK packages provide "java-headless = 1:N" (epoch 1, N the
// feature version, 1.8.0 for 8); openSUSE's "java-headless = N" (no
// epoch, which rpm reads as epoch 0). One rich dependency meets either
// family and no other version:
//   (java-headless >= 1:17 or (java-headless >= 17 with java-headless < 1:0))
// and with a maximum of 21 each side bounded below 22. "" when `versions`
// is not MIN or MIN-MAX.
std::string javaRpmRequiresFor(const std::string &versions);

// "MIN" or "MIN-MAX" read into *min and *max (0: no maximum); false
// when it is neither.
bool parseJavaVersions(const std::string &versions, int *min, int *max);

// The feature version of a Java version string: "17.0.15" and "17" give
// 17, "1.8.0_292" gives 8, "25-ea" gives 25; 0 when there is none.
int javaFeatureVersion(const std::string &version);

// The value of attribute `name` (matched without regard to case) in the
// main section of a jar manifest (up to the first empty line), its
// continuation lines (starting with one space) joined, surrounding blanks
// trimmed; lines end in CR LF, LF or CR. "" when it is not there.
std::string manifestAttribute(const std::string &manifest, const std::string &name);

// The class path `launcher` runs with, relative to the shipped files: its
// main jar when it runs as `java -jar` does (no --main-class), else the
// main jar, when given, then --class-path.
std::vector<std::string> launcherClassPath(const LauncherSpec &launcher);

// The names a class list gives the classes among `entries` (a jar's entry
// names): "a/b/C.class" gives "a/b/C"; an entry under
// META-INF/versions/N/ counts for a runtime of feature version `feature`
// from N; module-info, package-info and other META-INF entries do not
// count. Sorted, each once.
std::vector<std::string> archiveClassNames(const std::vector<std::string> &entries, int feature);

// The module and its requirer of jdeps' complaint "Module X not found,
// required by Y" in `output`: "X" and "Y", or "" when there is none.
std::string unresolvedModule(const std::string &output, std::string *requiredBy);

// The modules jdeps --print-module-deps printed in `output` (its last line
// of the form "a.b,c.d"), in its order; empty when there is none.
std::vector<std::string> printedModules(const std::string &output);

// A JDK a bundled runtime is made from.
struct JavaKit {
    std::string home;     // its directory
    std::string source;   // why this one: "JAVA_HOME", "the JDK of javac on PATH", ...
    std::string version;  // its release file's JAVA_VERSION, e.g. "17.0.15"
    int feature = 0;      // e.g. 17
    std::vector<std::string> modules;  // its release file's MODULES
};

// The JDK to take: JAVA_HOME's when JAVA_HOME is set (the developer's
// explicit choice, as every JDK tool takes it); else the one the `javac`
// on PATH belongs to (a JDK's own command, which a runtime alone lacks);
// else the one of `java` on PATH; links resolved. It must hold bin/jlink,
// bin/jdeps and a release file naming its version. False with one line
// saying what to install or set.
bool findJavaKit(JavaKit *kit, std::string *problem);

// JAVA_VERSION and MODULES of a JDK's release file text.
void readReleaseFile(const std::string &text, std::string *version,
                     std::vector<std::string> *modules);

#endif
