#!/bin/sh
# Usage: application_function_test.sh MODULE PACK
# Configures application_function/ with MODULE (ApplauncherApplication.cmake):
#   good     six applications: the generated configuration's lines in
#            order with values kept literally, a given configuration, runtime
#            and auxiliary library installed under their names, DESTINATION,
#            EXCLUDE_FROM_ALL, JAVA_VERSIONS's line and dependencies, and
#            what the packaging side reads (global properties,
#            applauncher_cpack_application's variables);
#   parts    the pack's keywords: three programs with their own
#            configurations (entry point, module path, arguments that the
#            reference library takes), the desktop files under usr/share
#            naming /opt/notes/bin, the Python files of a later directory
#            byte-compiled at install with the installed paths recorded,
#            and what applauncher_cpack_application() keeps of the caller's
#            CPack variables and appends to; PREFIX, DESTINATION and
#            DESKTOP_DESTINATION with the desktop keywords of a third;
#   at-build the pack built by the project: the configure passes, the
#            build writes the same configurations ("$<" kept literal), and
#            the Java versions' dependencies are appended when cpack reads
#            its project configuration file, after the caller's own;
#   at-build-refused  a value the reference library refuses fails the build
#            with the configure's message;
#   errors   each wrong call fails the configure with a message naming the
#            wrong or missing argument.
set -u
module=$1
pack=$2
source_dir=$(cd "$(dirname "$0")/application_function" && pwd)
tmp=$(mktemp -d "${TMPDIR:-/tmp}/applauncher-function-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
failures=0

fail() {
    echo "FAIL [$1]: $2"
    failures=$((failures + 1))
}

configure() {
    cmake -S "$source_dir" -B "$tmp/$1" -DMODULE="$module" -DPACK="$pack" -DCASE="$1" \
        >"$tmp/$1.log" 2>&1
}

# expect_same CASE WHAT EXPECTED_FILE SEEN_FILE
expect_same() {
    diff -u "$3" "$4" >"$tmp/diff" || {
        fail "$1" "$2 differs (- expected, + seen):"
        cat "$tmp/diff"
    }
}

cat >"$tmp/alpha.cfg" <<'EOF'
runtime=libhux_python.so
arg=$APPDIR/bin/alpha
arg=$APPDIR/share/alpha/alpha.py
arg=two  words
arg=
arg=$$<literal>
env=ALPHA_HOME=$APPDIR
env=EMPTY=
EOF
cat >"$tmp/delta.cfg" <<'EOF'
runtime=libhux_jvm.so
arg=$APPDIR/bin/delta
arg=-jar
arg=$APPDIR/share/delta.jar
env=HUX_JAVA_VERSIONS=11-21
EOF
if configure good; then
    cmake --install "$tmp/good" --prefix "$tmp/all" >/dev/null &&
        cmake --install "$tmp/good" --prefix "$tmp/gamma" --component gamma >/dev/null &&
        cmake --install "$tmp/good" --prefix "$tmp/delta" --component delta >/dev/null ||
        fail good "cmake --install failed"
    (cd "$tmp/all" && find . -type f | sort) >"$tmp/all.files"
    printf '%s\n' ./apps/beta/bin/beta ./apps/beta/lib/applauncher.cfg \
        ./apps/beta/lib/libapplauncher.so ./apps/beta/lib/libother_runtime.so \
        ./opt/alpha/bin/alpha ./opt/alpha/lib/applauncher.cfg \
        ./opt/alpha/lib/libapplauncher.so ./opt/alpha/lib/libhux_python.so >"$tmp/all.expected"
    expect_same good "the plain install's files" "$tmp/all.expected" "$tmp/all.files"
    [ -x "$tmp/all/opt/alpha/bin/alpha" ] || fail good "bin/alpha is not executable"
    for pair in opt/alpha/bin/alpha:applauncher opt/alpha/lib/libapplauncher.so:libapplauncher.so \
        apps/beta/lib/libapplauncher.so:libother_aux.so apps/beta/lib/applauncher.cfg:other.cfg \
        apps/beta/lib/libother_runtime.so:libother_runtime.so; do
        [ "$(cat "$tmp/all/${pair%%:*}")" = "${pair#*:}" ] ||
            fail good "${pair%%:*} is not the stand-in ${pair#*:}"
    done
    [ -f "$tmp/gamma/opt/gamma/bin/gamma" ] || fail good "component gamma did not install bin/gamma"

    expect_same good "alpha's generated configuration" "$tmp/alpha.cfg" \
        "$tmp/all/opt/alpha/lib/applauncher.cfg"

    expect_same good "delta's generated configuration" "$tmp/delta.cfg" \
        "$tmp/delta/opt/delta/lib/applauncher.cfg"

    cat >"$tmp/seen.expected" <<'EOF'
APPLAUNCHER_APPLICATIONS=alpha;beta;gamma;delta;epsilon;zeta
alpha DESTINATION=opt/alpha
alpha RUNTIME=python
alpha DEBIAN_DEPENDS=libpython-x, python-x
alpha RPM_REQUIRES=python-x
beta DESTINATION=apps/beta
beta RUNTIME=@standins@/libother_runtime.so
beta DEBIAN_DEPENDS=
beta RPM_REQUIRES=
gamma DESTINATION=opt/gamma
gamma RUNTIME=python
gamma DEBIAN_DEPENDS=libpython-x, python-x
gamma RPM_REQUIRES=python-x
delta DESTINATION=opt/delta
delta RUNTIME=jvm
delta DEBIAN_DEPENDS=openjdk-21-jre-headless | openjdk-20-jre-headless | openjdk-19-jre-headless | openjdk-18-jre-headless | openjdk-17-jre-headless | openjdk-16-jre-headless | openjdk-15-jre-headless | openjdk-14-jre-headless | openjdk-13-jre-headless | openjdk-12-jre-headless | openjdk-11-jre-headless
delta RPM_REQUIRES=((java-headless >= 1:11 with java-headless < 1:22) or (java-headless >= 11 with java-headless < 22))
epsilon DESTINATION=opt/epsilon
epsilon RUNTIME=jvm
epsilon DEBIAN_DEPENDS=default-jre-headless (>= 2:1.17) | java17-runtime-headless
epsilon RPM_REQUIRES=(java-headless >= 1:17 or (java-headless >= 17 with java-headless < 1:0))
zeta DESTINATION=opt/zeta
zeta RUNTIME=jvm
zeta DEBIAN_DEPENDS=jre-x
zeta RPM_REQUIRES=jre-x
CPACK_COMPONENTS_ALL=alpha;beta;delta
CPACK_DEBIAN_ALPHA_PACKAGE_NAME=alpha
CPACK_DEBIAN_ALPHA_PACKAGE_DEPENDS=libpython-x, python-x
CPACK_DEBIAN_ALPHA_PACKAGE_SHLIBDEPS=ON
CPACK_DEBIAN_ALPHA_DESCRIPTION=alpha summary
alpha text
CPACK_RPM_alpha_PACKAGE_NAME=alpha
CPACK_RPM_alpha_PACKAGE_REQUIRES=python-x
CPACK_RPM_alpha_PACKAGE_AUTOREQ=ON
CPACK_RPM_alpha_PACKAGE_AUTOPROV=OFF
CPACK_RPM_alpha_PACKAGE_SUMMARY=alpha summary
CPACK_RPM_alpha_PACKAGE_DESCRIPTION=alpha text
CPACK_DEBIAN_BETA_PACKAGE_DEPENDS not set
CPACK_RPM_beta_PACKAGE_REQUIRES not set
CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION=/opt;/apps
CPACK_DEBIAN_DELTA_PACKAGE_DEPENDS=openjdk-21-jre-headless | openjdk-20-jre-headless | openjdk-19-jre-headless | openjdk-18-jre-headless | openjdk-17-jre-headless | openjdk-16-jre-headless | openjdk-15-jre-headless | openjdk-14-jre-headless | openjdk-13-jre-headless | openjdk-12-jre-headless | openjdk-11-jre-headless
CPACK_RPM_delta_PACKAGE_REQUIRES=((java-headless >= 1:11 with java-headless < 1:22) or (java-headless >= 11 with java-headless < 22))
EOF
    sed "s#@standins@#$tmp/good/standins#" "$tmp/seen.expected" >"$tmp/seen.expected-here"
    expect_same good "what the packaging side sees" "$tmp/seen.expected-here" "$tmp/good/seen.txt"
else
    cat "$tmp/good.log"
    fail good "the configure failed"
fi
[ "$failures" -eq 0 ] && echo "PASS good"

# The pack's keywords.
failures_before=$failures
if configure parts; then
    cmake --install "$tmp/parts" --prefix "$tmp/parts-all" >/dev/null ||
        fail parts "cmake --install failed"
    (cd "$tmp/parts-all" && find . -type f | sed 's/\.cpython-[0-9]*\.pyc$/.pyc/' | LC_ALL=C sort) \
        >"$tmp/parts.files"
    printf '%s\n' ./opt/notes/bin/notes ./opt/notes/bin/notes-admin ./opt/notes/bin/notes-sync \
        ./opt/notes/lib/applauncher-notes-admin.cfg ./opt/notes/lib/applauncher-notes-sync.cfg \
        ./opt/notes/lib/applauncher.cfg ./opt/notes/lib/libapplauncher.so \
        ./opt/notes/lib/libhux_python.so ./opt/notes/share/notes/src/notes/__init__.py \
        ./opt/notes/share/notes/src/notes/__pycache__/__init__.pyc \
        ./opt/notes/share/notes/src/notes/__pycache__/admin.pyc \
        ./opt/notes/share/notes/src/notes/__pycache__/cli.pyc \
        ./opt/notes/share/notes/src/notes/admin.py ./opt/notes/share/notes/src/notes/cli.py \
        ./usr/share/applications/org.example.notes.desktop \
        ./usr/share/applications/org.example.notes.notes_sync.desktop \
        ./usr/share/icons/hicolor/scalable/apps/org.example.notes.svg \
        ./usr/share/metainfo/org.example.notes.metainfo.xml \
        ./usr/share/mime/packages/org.example.notes.xml >"$tmp/parts.expected"
    expect_same parts "the installed files" "$tmp/parts.expected" "$tmp/parts.files"
    lib=$tmp/parts-all/opt/notes/lib
    cat >"$tmp/notes.cfg" <<'EOF'
runtime=libhux_python.so
arg=$APPDIR/bin/notes
arg=--module-path
arg=$APPDIR/share/notes/src
arg=--entry-point
arg=notes.cli:main
arg=--data
arg=${XDG_DATA_HOME:-${HOME}/.local/share}/notes
env=NOTES_HOME=$APPDIR
EOF
    expect_same parts "notes's configuration" "$tmp/notes.cfg" "$lib/applauncher.cfg"
    cat >"$tmp/notes-admin.cfg" <<'EOF'
runtime=libhux_python.so
arg=$APPDIR/bin/notes-admin
arg=--module-path
arg=$APPDIR/share/notes/src
arg=--entry-point
arg=notes.admin:main
arg=
arg=--all
env=EMPTY=
EOF
    expect_same parts "notes-admin's configuration" "$tmp/notes-admin.cfg" \
        "$lib/applauncher-notes-admin.cfg"
    printf '%s\n' runtime=libhux_python.so 'arg=$APPDIR/bin/notes-sync' \
        'arg=$APPDIR/share/notes/sync.py' >"$tmp/notes-sync.cfg"
    expect_same parts "notes-sync's configuration" "$tmp/notes-sync.cfg" \
        "$lib/applauncher-notes-sync.cfg"
    # Each desktop file line the case's keywords decide: file and line.
    while IFS='|' read -r file line; do
        grep -Fqx -e "$line" "$tmp/parts-all/usr/share/$file" ||
            fail parts "$file has no line \"$line\""
    done <<'EOF'
applications/org.example.notes.desktop|Exec=/opt/notes/bin/notes %F
applications/org.example.notes.desktop|TryExec=/opt/notes/bin/notes
applications/org.example.notes.desktop|Name=Notes
applications/org.example.notes.desktop|Categories=Office;TextEditor;
applications/org.example.notes.desktop|MimeType=application/x-notes;
applications/org.example.notes.notes_sync.desktop|Exec=/opt/notes/bin/notes-sync
applications/org.example.notes.notes_sync.desktop|Terminal=true
mime/packages/org.example.notes.xml|    <glob pattern="*.notes"/>
EOF
    # mini: DESTINATION srv/mini installed once at PREFIX /usr/local/mini,
    # its desktop files under DESKTOP_DESTINATION share.
    cmake --install "$tmp/parts" --prefix "$tmp/parts-mini" --component mini >/dev/null ||
        fail parts "cmake --install --component mini failed"
    (cd "$tmp/parts-mini" && find . -type f | LC_ALL=C sort) >"$tmp/mini.files"
    printf '%s\n' ./share/applications/org.example.mini.desktop \
        ./share/metainfo/org.example.mini.metainfo.xml ./srv/mini/bin/mini \
        ./srv/mini/lib/applauncher.cfg ./srv/mini/lib/libapplauncher.so \
        ./srv/mini/lib/libhux_python.so >"$tmp/mini.expected"
    expect_same parts "mini's installed files" "$tmp/mini.expected" "$tmp/mini.files"
    while IFS='|' read -r file line; do
        grep -Fqx -e "$line" "$tmp/parts-mini/share/$file" ||
            fail parts "mini's $file has no line \"$line\""
    done <<'EOF'
applications/org.example.mini.desktop|Exec=/usr/local/mini/bin/mini
applications/org.example.mini.desktop|Comment=Runs mini
applications/org.example.mini.desktop|StartupWMClass=MiniWindow
metainfo/org.example.mini.metainfo.xml|  <developer_name>Mini makers</developer_name>
EOF
    grep -Fq '<release version="1.2"' \
        "$tmp/parts-all/usr/share/metainfo/org.example.notes.metainfo.xml" ||
        fail parts "the AppStream metadata has no release 1.2"
    # The caches record where the files are once installed, not where the
    # install put them.
    for cache in "$tmp/parts-all"/opt/notes/share/notes/src/notes/__pycache__/cli.*.pyc; do
        grep -aFq /opt/notes/share/notes/src/notes/cli.py "$cache" ||
            fail parts "$cache does not record /opt/notes/share/notes/src/notes/cli.py"
        ! grep -aFq "$tmp" "$cache" || fail parts "$cache records the install's own directory"
    done
    cat >"$tmp/parts-seen.expected" <<'EOF'
notes LAUNCHERS=notes;notes-admin;notes-sync
CPACK_DEBIAN_NOTES_PACKAGE_NAME=notes-app
CPACK_RPM_notes_PACKAGE_NAME=notes
CPACK_DEBIAN_NOTES_PACKAGE_DEPENDS=libfoo1 (>= 2), libpython-x, python-x
CPACK_RPM_notes_PACKAGE_REQUIRES=foo-libs, python-x
CPACK_RPM_notes_PACKAGE_AUTOREQ=OFF
CPACK_RPM_notes_PACKAGE_AUTOPROV=OFF
CPACK_DEBIAN_NOTES_PACKAGE_SHLIBDEPS=ON
CPACK_DEBIAN_JAVAAPP_PACKAGE_DEPENDS=default-jre-headless (>= 2:1.17) | java17-runtime-headless, libbar1
CPACK_RPM_javaapp_PACKAGE_REQUIRES=(java-headless >= 1:17 or (java-headless >= 17 with java-headless < 1:0))
CPACK_PROJECT_CONFIG_FILE not set
EOF
    expect_same parts "what the packaging side sees" "$tmp/parts-seen.expected" \
        "$tmp/parts/seen.txt"
else
    cat "$tmp/parts.log"
    fail parts "the configure failed"
fi
[ "$failures" -eq "$failures_before" ] && echo "PASS parts"

# The pack as a target of the project: the same files, written when the
# project is built.
failures_before=$failures
if configure at-build; then
    cmake --build "$tmp/at-build" >"$tmp/at-build.build.log" 2>&1 || {
        cat "$tmp/at-build.build.log"
        fail at-build "the build failed"
    }
    cmake --install "$tmp/at-build" --prefix "$tmp/at-build-all" >/dev/null &&
        cmake --install "$tmp/at-build" --prefix "$tmp/at-build-all" --component delta \
            >/dev/null || fail at-build "cmake --install failed"
    expect_same at-build "alpha's configuration" "$tmp/alpha.cfg" \
        "$tmp/at-build-all/opt/alpha/lib/applauncher.cfg"
    printf '%s\n' runtime=libhux_python.so 'arg=$APPDIR/bin/alpha-tool' 'arg=$$<other>' \
        >"$tmp/alpha-tool.cfg"
    expect_same at-build "alpha-tool's configuration" "$tmp/alpha-tool.cfg" \
        "$tmp/at-build-all/opt/alpha/lib/applauncher-alpha-tool.cfg"
    expect_same at-build "delta's configuration" "$tmp/delta.cfg" \
        "$tmp/at-build-all/opt/delta/lib/applauncher.cfg"
    [ -x "$tmp/at-build-all/opt/alpha/bin/alpha-tool" ] ||
        fail at-build "bin/alpha-tool is not installed"
    printf '%s\n' "delta DEBIAN_DEPENDS=" "CPACK_DEBIAN_DELTA_PACKAGE_DEPENDS=libfoo1" \
        >"$tmp/at-build-seen.expected"
    expect_same at-build "what the packaging side sees at configure time" \
        "$tmp/at-build-seen.expected" "$tmp/at-build/seen.txt"
    # What cpack sees: its configuration, then the project configuration file.
    cat >"$tmp/cpack-driver.cmake" <<EOF
include("$tmp/at-build/CPackConfig.cmake")
include("\${CPACK_PROJECT_CONFIG_FILE}")
file(WRITE "$tmp/cpack-seen.txt" "CALLERS_FILE_READ=\${CALLERS_FILE_READ}
CPACK_DEBIAN_DELTA_PACKAGE_DEPENDS=\${CPACK_DEBIAN_DELTA_PACKAGE_DEPENDS}
CPACK_RPM_delta_PACKAGE_REQUIRES=\${CPACK_RPM_delta_PACKAGE_REQUIRES}
")
EOF
    cmake -P "$tmp/cpack-driver.cmake" >"$tmp/cpack-driver.log" 2>&1 || {
        cat "$tmp/cpack-driver.log"
        fail at-build "reading the CPack configuration failed"
    }
    cat >"$tmp/cpack-seen.expected" <<'EOF'
CALLERS_FILE_READ=yes
CPACK_DEBIAN_DELTA_PACKAGE_DEPENDS=libfoo1, openjdk-21-jre-headless | openjdk-20-jre-headless | openjdk-19-jre-headless | openjdk-18-jre-headless | openjdk-17-jre-headless | openjdk-16-jre-headless | openjdk-15-jre-headless | openjdk-14-jre-headless | openjdk-13-jre-headless | openjdk-12-jre-headless | openjdk-11-jre-headless
CPACK_RPM_delta_PACKAGE_REQUIRES=((java-headless >= 1:11 with java-headless < 1:22) or (java-headless >= 11 with java-headless < 22))
EOF
    expect_same at-build "what cpack sees" "$tmp/cpack-seen.expected" "$tmp/cpack-seen.txt"
else
    cat "$tmp/at-build.log"
    fail at-build "the configure failed"
fi
[ "$failures" -eq "$failures_before" ] && echo "PASS at-build"

if ! configure at-build-refused; then
    cat "$tmp/at-build-refused.log"
    fail at-build-refused "the configure failed"
elif cmake --build "$tmp/at-build-refused" >"$tmp/at-build-refused.build.log" 2>&1; then
    fail at-build-refused "the build succeeded"
elif ! grep -Fq 'applauncher_add_application: ARGS entry "$HOME": unknown "$HOME"' \
    "$tmp/at-build-refused.build.log"; then
    cat "$tmp/at-build-refused.build.log"
    fail at-build-refused "the build's error does not name ARGS entry \"\$HOME\""
else
    echo "PASS at-build-refused"
fi

# Each wrong call: the case and a text its error must hold.
while IFS='|' read -r case expected; do
    if configure "$case"; then
        fail "$case" "the configure succeeded"
    elif ! tr -s ' \n' ' ' <"$tmp/$case.log" | grep -Fq -e "$expected"; then
        fail "$case" "no \"$expected\" in the error:"
        cat "$tmp/$case.log"
    else
        echo "PASS $case: $expected"
    fi
done <<'EOF'
no-name|applauncher_add_application: NAME is required
no-runtime|applauncher_add_application: RUNTIME is required
runtime-without-value|applauncher_add_application: RUNTIME given without a value
unknown-keyword|applauncher_add_application: unknown argument(s): RUNTIM;jvm
name-with-slash|NAME "../x" is not a plain file name
name-twice|NAME x is already an application
config-and-args|CONFIG excludes ARGS, ENV and JAVA_VERSIONS
config-missing|CONFIG missing.cfg is not an existing file
newline-in-args|ARGS entry "b runtime=/evil.so" holds a line break
return-in-env|ENV entry
env-without-name|ENV entry "=value" is not NAME=VALUE
absolute-destination|DESTINATION /opt/x must be relative to the install prefix
escaping-destination|DESTINATION "opt/../../x" must name a directory inside the install prefix
python-missing|RUNTIME python: this applauncher was built or installed without its python runtime library
jvm-missing|RUNTIME jvm: this applauncher was built or installed without its jvm runtime library
runtime-not-found|RUNTIME ruby is neither a library target nor an existing file
runtime-named-as-auxlib|the file name libapplauncher.so is the auxiliary library's
auxlib-not-a-library|AUXLIB helper is a UTILITY target, not a shared library
java-versions-not-jvm|JAVA_VERSIONS is for RUNTIME jvm, not python
java-versions-reversed|JAVA_VERSIONS 21-11: the versions must be 11 or later
java-versions-too-old|JAVA_VERSIONS 8: the versions must be 11 or later
java-versions-not-a-range|JAVA_VERSIONS "17+" is not N or N-M
java-versions-without-value|applauncher_add_application: JAVA_VERSIONS given without a value
java-versions-and-config|CONFIG excludes ARGS, ENV and JAVA_VERSIONS
cpack-unknown-name|applauncher_cpack_application: NAME nobody is no application
cpack-bad-package-name|NAME Upper is not a valid package name
args-dollar-name|applauncher_add_application: ARGS entry "$HOME": unknown "$HOME" (a variable is written ${HOME})
args-generator-expression|applauncher_add_application: ARGS entry "$<literal>": "$" must start
env-unterminated|applauncher_add_application: ENV entry "A=${HOME": unterminated "${"
env-not-a-variable-name|applauncher_add_application: ENV entry "1X=y": env= name "1X" is not a variable name
launcher-args-dollar-name|applauncher_add_application: LAUNCHER tool: ARGS entry "a$HOME": unknown "$HOME"
launcher-env-without-name|applauncher_add_application: LAUNCHER tool: ENV entry "=v" is not NAME=VALUE
launcher-newline|LAUNCHER tool: ARGS entry "a runtime=/evil.so" holds a line break
launcher-without-name|applauncher_add_application: LAUNCHER given without a name
launcher-twice|applauncher_add_application: LAUNCHER tool is given twice
launcher-named-as-application|applauncher_add_application: LAUNCHER x is given twice (or is NAME)
launcher-bad-name|LAUNCHER "../tool" is not a plain file name
launcher-application-keyword|LAUNCHER tool: unknown argument(s): JAVA_VERSIONS;17
entry-point-not-python|applauncher_add_application: ENTRY_POINT is for RUNTIME python
entry-point-malformed|ENTRY_POINT "a.b" is not MODULE:FUNCTION
module-path-without-entry-point|applauncher_add_application: MODULE_PATH goes with ENTRY_POINT
module-path-escaping|applauncher_add_application: MODULE_PATH "../src" is not a directory inside the tree
desktop-without-id|applauncher_add_application: a desktop entry needs an id: give APP_ID
desktop-keyword-without-entry|applauncher_add_application: APP_ID goes with DESKTOP_ENTRY
icon-not-an-image|standins/other.cfg is neither a PNG nor an SVG image
file-type-malformed|applauncher_add_application: FILE_TYPES "notes" is not TYPE=GLOB
appstream-without-version|applauncher_add_application: APPSTREAM needs VERSION
config-and-launcher|CONFIG excludes LAUNCHER
config-and-desktop|and DESKTOP_ENTRY, LAUNCHER and the desktop keywords with them
compile-python-not-python|COMPILE_PYTHON is for RUNTIME python, not jvm
relative-prefix|PREFIX opt/x must be the absolute directory
runtime-named-as-configuration|the file name applauncher-x.cfg is the auxiliary library's or a configuration's
EOF

if [ "$failures" -gt 0 ]; then
    echo "$failures failed"
    exit 1
fi
