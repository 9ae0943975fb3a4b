// applauncher-pack's Java parts that need no JDK: the manifest reader,
// the version range, the Debian and RPM dependencies on the system's
// Java, the class names an archive lists, what jdeps says, a JDK's
// release file, and the Java lines of a launcher's configuration.
#include <gtest/gtest.h>

#include "app_config.h"
#include "java_runtime.h"

using Strings = std::vector<std::string>;

namespace {

TEST(PackJavaManifest, AttributeOfTheMainSection) {
    struct Case {
        const char *what;
        std::string manifest;
        std::string expected;
    };
    const Case cases[] = {
        {"CR LF", "Manifest-Version: 1.0\r\nMain-Class: a.B\r\n\r\n", "a.B"},
        {"LF", "Manifest-Version: 1.0\nMain-Class: a.B\n", "a.B"},
        {"CR", "Manifest-Version: 1.0\rMain-Class: a.B\r", "a.B"},
        {"no line end", "Main-Class: a.B", "a.B"},
        {"name in another case", "main-class: a.B\n", "a.B"},
        {"blanks around the value", "Main-Class:   a.B  \r\n", "a.B"},
        {"continued over two lines",
         "Main-Class: org.example.averyveryveryverylongpackagenamethatthejartoolwra\r\n ps.Main\r\n",
         "org.example.averyveryveryverylongpackagenamethatthejartoolwraps.Main"},
        {"continued over three lines", "Main-Class: a.\n b.\n C\nX: y\n", "a.b.C"},
        {"only in an entry's section", "Manifest-Version: 1.0\n\nName: a/B.class\nMain-Class: a.B\n",
         ""},
        {"absent", "Manifest-Version: 1.0\r\nCreated-By: 17\r\n", ""},
        {"empty value", "Main-Class: \r\n", ""},
        {"a longer name that starts alike", "Main-Class-Path: x\n", ""},
        {"empty manifest", "", ""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(manifestAttribute(c.manifest, "Main-Class"), c.expected) << c.what;
    }
    EXPECT_EQ(manifestAttribute("Main-Class: M\nClass-Path: lib/a.jar\n  lib/b.jar\n", "Class-Path"),
              "lib/a.jar lib/b.jar");
}

TEST(PackJavaVersions, RangesAndFeatureVersions) {
    struct Range {
        std::string text;
        bool valid;
        int min;
        int max;
    };
    const Range ranges[] = {
        {"17", true, 17, 0},  {"11-21", true, 11, 21}, {"17-17", true, 17, 17},
        {"21-11", false, 0, 0}, {"17-", false, 0, 0}, {"-17", false, 0, 0},
        {"", false, 0, 0},    {"1x", false, 0, 0},   {"1234", false, 0, 0},
    };
    for (const Range &range : ranges) {
        int min = -1;
        int max = -1;
        EXPECT_EQ(parseJavaVersions(range.text, &min, &max), range.valid) << range.text;
        if (range.valid) {
            EXPECT_EQ(min, range.min) << range.text;
            EXPECT_EQ(max, range.max) << range.text;
        }
    }
    const std::pair<std::string, int> versions[] = {
        {"17.0.15", 17}, {"17", 17}, {"1.8.0_292", 8}, {"25-ea", 25}, {"21.0.2+13", 21},
        {"", 0},         {"x", 0},
    };
    for (const auto &version : versions) {
        EXPECT_EQ(javaFeatureVersion(version.first), version.second) << version.first;
    }
}

TEST(PackJavaDependencies, DebianAndRpm) {
    struct Case {
        std::string versions;
        std::string debian;
        std::string rpm;
    };
    const Case cases[] = {
        {"17", "default-jre-headless (>= 2:1.17) | java17-runtime-headless",
         "(java-headless >= 1:17 or (java-headless >= 17 with java-headless < 1:0))"},
        {"8", "default-jre-headless (>= 2:1.8) | java8-runtime-headless",
         "(java-headless >= 1:1.8 or (java-headless >= 1.8 with java-headless < 1:0))"},
        {"11-17",
         "openjdk-17-jre-headless | openjdk-16-jre-headless | openjdk-15-jre-headless | "
         "openjdk-14-jre-headless | openjdk-13-jre-headless | openjdk-12-jre-headless | "
         "openjdk-11-jre-headless",
         "((java-headless >= 1:11 with java-headless < 1:18) or "
         "(java-headless >= 11 with java-headless < 18))"},
        {"21-21", "openjdk-21-jre-headless",
         "((java-headless >= 1:21 with java-headless < 1:22) or "
         "(java-headless >= 21 with java-headless < 22))"},
        {"8-8", "openjdk-8-jre-headless",
         "((java-headless >= 1:1.8 with java-headless < 1:9) or "
         "(java-headless >= 1.8 with java-headless < 9))"},
        {"nonsense", "", ""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(javaDebianDependsFor(c.versions), c.debian) << c.versions;
        EXPECT_EQ(javaRpmRequiresFor(c.versions), c.rpm) << c.versions;
    }
    PackRequest request;
    request.runtime = RuntimeKind::java;
    EXPECT_EQ(javaDebianDepends(request),
              "default-jre-headless (>= 2:1.11) | java11-runtime-headless");
    request.javaVersions = "17";
    EXPECT_EQ(javaDebianDepends(request),
              "default-jre-headless (>= 2:1.17) | java17-runtime-headless");
    EXPECT_EQ(javaRpmRequires(request), javaRpmRequiresFor("17"));
    request.javaRuntime = JavaRuntime::bundled;
    EXPECT_EQ(javaDebianDepends(request), "");
    EXPECT_EQ(javaRpmRequires(request), "");
}

TEST(PackJavaArchive, ClassNamesFromJarEntries) {
    const Strings entries = {
        "META-INF/",
        "META-INF/MANIFEST.MF",
        "module-info.class",
        "a/",
        "a/B.class",
        "a/B$Inner.class",
        "a/package-info.class",
        "a/notes.txt",
        "Top.class",
        "META-INF/versions/9/a/B.class",
        "META-INF/versions/11/a/Only11.class",
        "META-INF/versions/21/a/Only21.class",
        "META-INF/versions/x/a/Bad.class",
        "META-INF/versions/99999999999/a/Huge.class",
        "META-INF/versions/17/module-info.class",
        "META-INF/services/a.B.class",
        "a/With Space.class",
        ".class",
    };
    EXPECT_EQ(archiveClassNames(entries, 17),
              (Strings{"Top", "a/B", "a/B$Inner", "a/Only11"}));
    EXPECT_EQ(archiveClassNames(entries, 21),
              (Strings{"Top", "a/B", "a/B$Inner", "a/Only11", "a/Only21"}));
    EXPECT_EQ(archiveClassNames({}, 17), Strings{});
}

TEST(PackJavaJdeps, WhatItPrints) {
    std::string requiredBy;
    EXPECT_EQ(unresolvedModule("Exception in thread \"main\" java.lang.module.FindException: "
                               "Module org.dep not found, required by app\n\tat java.base/...\n",
                               &requiredBy),
              "org.dep");
    EXPECT_EQ(requiredBy, "app");
    EXPECT_EQ(unresolvedModule("Error: Module org.gone not found\n", &requiredBy), "org.gone");
    EXPECT_EQ(requiredBy, "");
    EXPECT_EQ(unresolvedModule("java.base,java.desktop\n", &requiredBy), "");
    EXPECT_EQ(unresolvedModule("Module  not found\n", &requiredBy), "");

    struct Case {
        std::string output;
        Strings modules;
    };
    const Case cases[] = {
        {"java.base\n", {"java.base"}},
        {"java.base,java.compiler,java.desktop,java.scripting\n",
         {"java.base", "java.compiler", "java.desktop", "java.scripting"}},
        {"Warning: split package: org.dep file:///x/dep.jar dep.jar\njava.base,jdk.unsupported\n",
         {"java.base", "jdk.unsupported"}},
        {"java.base\r\n\r\n", {"java.base"}},
        {"Error: something went wrong.\n", {}},
        {"", {}},
        {",\n", {}},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(printedModules(c.output), c.modules) << c.output;
    }
}

TEST(PackJavaKit, ReleaseFile) {
    std::string version;
    Strings modules;
    readReleaseFile("IMPLEMENTOR=\"Debian\"\nJAVA_VERSION=\"17.0.15\"\n"
                    "MODULES=\"java.base java.desktop jdk.jlink\"\nOS_ARCH=\"x86_64\"\n",
                    &version, &modules);
    EXPECT_EQ(version, "17.0.15");
    EXPECT_EQ(modules, (Strings{"java.base", "java.desktop", "jdk.jlink"}));
    readReleaseFile("JAVA_VERSION=21\r\n", &version, &modules);
    EXPECT_EQ(version, "21");
    EXPECT_TRUE(modules.empty());
    readReleaseFile("", &version, &modules);
    EXPECT_EQ(version, "");
}

// The Java lines of the configuration of a launcher with this main, and
// its class path.
struct MainCase {
    const char *what;
    LauncherSpec launcher;
    Strings classPath;
    std::string lines;
};

TEST(PackJavaConfig, MainJarMainClassAndClassPath) {
    LauncherSpec jarOnly;
    jarOnly.mainJar = "app.jar";
    LauncherSpec classOnly;
    classOnly.mainClass = "a.Main";
    classOnly.classPath = {"lib/a.jar", "lib/b.jar"};
    LauncherSpec both = classOnly;
    both.mainJar = "app.jar";
    LauncherSpec jarAndClass = jarOnly;
    jarAndClass.mainClass = "a.Other";
    const MainCase cases[] = {
        {"a main jar runs as java -jar", jarOnly, {"app.jar"},
         "arg=-jar\narg=$APPDIR/share/app/app.jar\n"},
        {"a main class with a class path", classOnly, {"lib/a.jar", "lib/b.jar"},
         "arg=-cp\narg=$APPDIR/share/app/lib/a.jar:$APPDIR/share/app/lib/b.jar\narg=a.Main\n"},
        {"a main jar and a main class: the class, the jar first on the class path", both,
         {"app.jar", "lib/a.jar", "lib/b.jar"},
         "arg=-cp\narg=$APPDIR/share/app/app.jar:$APPDIR/share/app/lib/a.jar:"
         "$APPDIR/share/app/lib/b.jar\narg=a.Main\n"},
        {"a main jar without a manifest's main class", jarAndClass, {"app.jar"},
         "arg=-cp\narg=$APPDIR/share/app/app.jar\narg=a.Other\n"},
    };
    for (const MainCase &c : cases) {
        PackRequest request;
        request.name = "app";
        request.runtime = RuntimeKind::java;
        LauncherSpec launcher = c.launcher;
        launcher.name = "app";
        request.launchers = {launcher};
        EXPECT_EQ(launcherClassPath(launcher), c.classPath) << c.what;
        std::string text = launcherConfig(request, launcher, false);
        EXPECT_NE(text.find("arg=$APPDIR/bin/app\n" + c.lines + "# "), std::string::npos)
            << c.what << ":\n" << text;
    }
}

TEST(PackJavaConfig, BundledRuntimeLines) {
    PackRequest request;
    request.name = "app";
    request.runtime = RuntimeKind::java;
    request.javaVersions = "17";
    LauncherSpec launcher;
    launcher.name = "app";
    launcher.mainJar = "app.jar";
    request.launchers = {launcher};
    EXPECT_NE(launcherConfig(request, launcher, false).find("env=HUX_JAVA_VERSIONS=17\n"),
              std::string::npos);
    request.javaRuntime = JavaRuntime::bundled;
    std::string archived = launcherConfig(request, launcher, true);
    EXPECT_NE(archived.find("env=JAVA_HOME=$APPDIR/lib/runtime\n"
                            "arg=-XX:SharedArchiveFile=$APPDIR/lib/app.jsa\narg=-jar\n"),
              std::string::npos)
        << archived;
    EXPECT_EQ(archived.find("HUX_JAVA_VERSIONS"), std::string::npos);
    EXPECT_EQ(launcherConfig(request, launcher, false).find("SharedArchiveFile"),
              std::string::npos);
}

}  // namespace
