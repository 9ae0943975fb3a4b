#!/bin/sh
# Usage: application_function_test.sh MODULE PACK
# Configures application_function/ with MODULE (ApplauncherApplication.cmake):
#   good     six applications: the generated configuration's lines in
#            order with values kept literally, a given configuration, runtime
#            and auxiliary library installed under their names, DESTINATION,
#            EXCLUDE_FROM_ALL, JAVA_VERSIONS's line and dependencies, and
#            what the packaging side reads (global properties,
#            applauncher_cpack_application's variables);
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
    expect_same good "alpha's generated configuration" "$tmp/alpha.cfg" \
        "$tmp/all/opt/alpha/lib/applauncher.cfg"

    cat >"$tmp/delta.cfg" <<'EOF'
runtime=libhux_jvm.so
arg=$APPDIR/bin/delta
arg=-jar
arg=$APPDIR/share/delta.jar
env=HUX_JAVA_VERSIONS=11-21
EOF
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
epsilon DEBIAN_DEPENDS=java17-runtime-headless
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
EOF

if [ "$failures" -gt 0 ]; then
    echo "$failures failed"
    exit 1
fi
