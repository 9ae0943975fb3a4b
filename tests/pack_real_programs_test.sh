#!/bin/sh
# Usage: pack_real_programs_test.sh PACK LAUNCHER AUXLIB PYTHON_RUNTIME JVM_RUNTIME
# applauncher-pack (PACK, with APPLAUNCHER_PACK_FILES naming links to the
# other four files) packs two programs of Debian's archive, each with one
# command into an app-image, a .deb and an .rpm:
#   rhino-js     Debian's rhino jar (/usr/share/java/js.jar, whose manifest
#                names the main class), on the system's Java
#   yaml-check   Debian's yamllint package directory, started with
#                --entry-point yamllint.cli:run, needing python3-yaml and
#                python3-pathspec from the system (--depends, --requires)
#   rhino-alone  the rhino jar with a bundled runtime of java.base alone
# and checks:
#   same       a second pack with the same SOURCE_DATE_EPOCH, into another
#              --dest, gives the same .deb, .rpm and .tar.gz (cmp), the
#              bundled runtime's too (made from the newest JDK from 21 on
#              when the machine has one; a JDK that records the class data
#              sharing archive differently each time, as the pack then
#              says, leaves the trees the same but for the archive)
#   relations  the .deb's Depends and the .rpm's Requires hold what
#              --depends and --requires added
#   app-image  each .tar.gz unpacked elsewhere runs and prints what
#              Debian's own rhino -e / yamllint print for the same input,
#              with the same exit status
#   lintian    the three .deb files: no error and no warning
#   deb-*/rpm-*  installed with the real dpkg / rpm into private databases
#              in a private mount namespace (private_install.sh) and run
#              through the launcher's owning-package road ("owner pkg:"),
#              printing what Debian's programs print; the bundled one with
#              /usr/lib/jvm an empty tmpfs, on its own runtime
# Exits 77 with the reason without root and private mounts, dpkg-dev,
# rpmbuild, lintian, a JDK, Debian's rhino or yamllint (with python3-yaml
# and python3-pathspec), and, once every other case has passed, when
# lintian cannot run or the files given keep their symbols (a debug or
# sanitizer build).
set -u
# shellcheck source=tests/private_install.sh
. "$(dirname "$0")/private_install.sh"

readonly epoch=1700000000
readonly rhino_jar=/usr/share/java/js.jar
readonly yamllint_dir=/usr/lib/python3/dist-packages/yamllint
readonly script_text="var squares = [1, 2, 3].map(function (x) { return x * x; });
print('six times seven is ' + 6 * 7 + ', squares ' + squares.join(','));"

# version_of NAME: the version application NAME is packed as.
version_of() {
    case "$1" in
    yaml-check) echo 1.29.0 ;;
    *) echo 1.7.14 ;;
    esac
}

# run_program NAME RUN PROGRAM...: runs PROGRAM (a command line) on the
# input of application NAME from $work/yaml, HOME $work/yaml-home; its
# output in $dir/RUN.out and $dir/RUN.err, its status in $status.
run_program() {
    name=$1
    run=$2
    shift 2
    case "$name" in
    yaml-check)
        (cd "$work/yaml" && HOME=$work/yaml-home timeout 120 "$@" -f parsable lint.yaml) \
            >"$dir/$run.out" 2>"$dir/$run.err"
        ;;
    *)
        (cd "$work/yaml" && HOME=$work/yaml-home timeout 120 "$@" -e "$script_text") \
            >"$dir/$run.out" 2>"$dir/$run.err"
        ;;
    esac
    status=$?
}

# expect_like_debian NAME RUN: RUN printed what Debian's program printed
# for application NAME, and ended with its status.
expect_like_debian() {
    diff -u "$work/expected/$1.out" "$dir/$2.out" >"$dir/$2.out-diff" || {
        cat "$dir/$2.out-diff"
        fail "$2: the output differs from Debian's program's (- Debian's, + packed)"
    }
    [ "$status" -eq "$(cat "$work/expected/$1.status")" ] ||
        fail "$2: exit status $status, Debian's program's $(cat "$work/expected/$1.status")"
}

# Inside a private mount namespace: one case, "<manager>-<application>".
if [ "${1:-}" = --case ]; then
    work=$3
    begin_case "$2" "$3" "$4" || exit 1
    manager=${casename%%-*}
    name=${casename#*-}
    exe=/opt/$name/bin/$name
    if [ "$name" = rhino-alone ]; then
        mount -t tmpfs none /usr/lib/jvm && [ -z "$(ls -A /usr/lib/jvm)" ] || {
            fail "cannot hide /usr/lib/jvm under an empty tmpfs"
            exit 1
        }
    fi
    install_owned "$manager" "$name" "$work/first"
    sanitizer=${ASAN_OPTIONS:+ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=0:handle_segv=0:handle_sigbus=0:handle_sigfpe=0:allow_user_segv_handler=1}
    cd "$work/yaml" || exit 1
    if [ "$name" = yaml-check ]; then
        run_launcher run ${sanitizer:+"$sanitizer"} "$exe" -f parsable lint.yaml
        expect_runtime run "/opt/$name/lib/libhux_python.so"
    else
        run_launcher run ${sanitizer:+"$sanitizer"} "$exe" -e "$script_text"
        expect_runtime run "/opt/$name/lib/libhux_jvm.so"
    fi
    expect_child run "$dir/expected"
    expect_like_debian "$name" run
    if [ "$name" = rhino-alone ]; then
        grep -Fq "jvm: libjvm [/opt/$name/lib/runtime/lib/server/libjvm.so] from JAVA_HOME" \
            "$dir/run.err" || fail "the VM is not the bundled runtime's"
    fi
    exit $((failures > 0))
fi

[ $# -eq 5 ] || {
    echo "usage: $0 PACK LAUNCHER AUXLIB PYTHON_RUNTIME JVM_RUNTIME" >&2
    exit 2
}
pack=$1
for tool in dpkg-deb dpkg-shlibdeps rpmbuild rpm readelf lintian java jlink unzip; do
    command -v "$tool" >/dev/null ||
        skip "$tool not found (Debian: dpkg-dev, rpm, lintian, openjdk-17-jdk-headless, unzip)"
done
[ -f "$rhino_jar" ] && command -v rhino >/dev/null || skip "no $rhino_jar (Debian: rhino)"
[ -d "$yamllint_dir" ] && command -v yamllint >/dev/null || skip "no $yamllint_dir (Debian: yamllint)"
python3 -c 'import yaml, pathspec' 2>/dev/null ||
    skip "python3 cannot import yaml and pathspec (Debian: python3-yaml, python3-pathspec)"
require_private_installs
script=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
work=$(mktemp -d "${TMPDIR:-/tmp}/applauncher-pack-real-XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM
mkdir -p "$work/files" "$work/first" "$work/second dest" "$work/in/rhino" "$work/in/yaml" \
    "$work/expected" "$work/yaml" "$work/yaml-home" "$work/home" "$work/moved"
ln -s "$2" "$work/files/applauncher"
for library in "$3" "$4" "$5"; do
    ln -s "$library" "$work/files/$(basename "$library")"
done
export APPLAUNCHER_PACK_FILES="$work/files"
deb_arch=$(dpkg --print-architecture)
rpm_arch=$(HOME=$work/home rpm --dbpath "$work/rpmdb" --eval '%{_target_cpu}')
dir=$work/expected

# ---------------------------------------------------------------------------
casename=inputs
unzip -p "$rhino_jar" META-INF/MANIFEST.MF | tr -d '\r' |
    grep -qx 'Main-Class: org.mozilla.javascript.tools.shell.Main' ||
    fail "$rhino_jar's manifest does not name org.mozilla.javascript.tools.shell.Main"
cp "$rhino_jar" "$work/in/rhino/js.jar"
(cd "$(dirname "$yamllint_dir")" && tar -cf - --exclude=__pycache__ yamllint) |
    tar -xf - -C "$work/in/yaml" || fail "cannot copy $yamllint_dir"
printf 'key: value\nlist: [1,2]\nkey: again   \n' >"$work/yaml/lint.yaml"
# What Debian's own programs print, from the same directory and HOME.
run_program rhino-js debian env -i PATH=/usr/bin:/bin rhino
cp "$dir/debian.out" "$work/expected/rhino-js.out"
echo "$status" >"$work/expected/rhino-js.status"
run_program yaml-check debian env -i PATH=/usr/bin:/bin yamllint
cp "$dir/debian.out" "$work/expected/yaml-check.out"
echo "$status" >"$work/expected/yaml-check.status"
cp "$work/expected/rhino-js.out" "$work/expected/rhino-alone.out"
cp "$work/expected/rhino-js.status" "$work/expected/rhino-alone.status"
grep -q 'six times seven is 42, squares 1,4,9' "$work/expected/rhino-js.out" ||
    fail "Debian's rhino printed: $(cat "$work/expected/rhino-js.out")"
grep -q 'lint.yaml:3:1: \[error\] duplication of key' "$work/expected/yaml-check.out" &&
    [ "$(cat "$work/expected/yaml-check.status")" -eq 1 ] ||
    fail "Debian's yamllint printed: $(cat "$work/expected/yaml-check.out")"
[ "$failures" -eq 0 ] || finish_cases

# ---------------------------------------------------------------------------
casename=same
# options NAME: the options of application NAME.
options() {
    case "$1" in
    rhino-js)
        echo --input "$work/in/rhino" --main-jar js.jar --license MPL-2.0
        ;;
    rhino-alone)
        echo --input "$work/in/rhino" --main-jar js.jar --license MPL-2.0 \
            --java-runtime bundled --java-modules java.base
        ;;
    yaml-check)
        echo --input "$work/in/yaml" --entry-point yamllint.cli:run --license GPL-3.0-or-later \
            --depends python3-yaml,python3-pathspec --requires python3-pyyaml,python3-pathspec
        ;;
    esac
}
# The bundled runtime comes from the newest JDK of the machine from 21 on
# with jlink and jdeps (they record a class data sharing archive the same
# way each time), else from the JDK of javac on PATH.
newest=0
for home in /usr/lib/jvm/*; do
    real=$(readlink -f "$home")
    feature=$(sed -n 's/^JAVA_VERSION="\([0-9]*\).*/\1/p' "$real/release" 2>/dev/null)
    if [ -x "$real/bin/jlink" ] && [ -x "$real/bin/jdeps" ] && [ "${feature:-0}" -ge 21 ] &&
        [ "$feature" -gt "$newest" ]; then
        newest=$feature
        bundled_home=$real
    fi
done
# run_pack DEST NAME: packs application NAME into DEST (output DEST/NAME.log).
run_pack() {
    home_setting=""
    [ "$2" = rhino-alone ] && home_setting=${bundled_home:+JAVA_HOME=$bundled_home}
    # shellcheck disable=SC2046
    env $home_setting SOURCE_DATE_EPOCH=$epoch "$pack" --name "$2" --app-version "$(version_of "$2")" \
        --type app-image,deb,rpm --dest "$1" --summary "program of Debian's archive, packed" \
        --description "Checks that a real program runs once packed." \
        --maintainer "Pack Testers <pack@example.org>" $(options "$2") >"$1/$2.log" 2>&1
}
for name in rhino-js yaml-check rhino-alone; do
    for dest in "$work/first" "$work/second dest"; do
        run_pack "$dest" "$name" || {
            cat "$dest/$name.log"
            fail "applauncher-pack $name into $dest failed"
        }
    done
done
[ "$failures" -eq 0 ] || finish_cases
unsame=""
for name in rhino-js yaml-check rhino-alone; do
    version=$(version_of "$name")
    for file in "${name}_$version-1_$deb_arch.deb" "$name-$version-1.$rpm_arch.rpm" \
        "$name-$version-$(uname -m).tar.gz"; do
        [ -f "$work/first/$file" ] || fail "no $file (made: $(cat "$work/first/$name.log"))"
        cmp -s "$work/first/$file" "$work/second dest/$file" && continue
        if grep -q "not the same bytes on a second recording" "$work/first/$name.log"; then
            unsame="$unsame $file"
        else
            fail "$file differs between two packs"
        fi
    done
    cp "$work/first/${name}_$version-1_$deb_arch.deb" "$work/first/$name.deb"
    cp "$work/first/$name-$version-1.$rpm_arch.rpm" "$work/first/$name.rpm"
    cp "$work/first/$name-$version-$(uname -m).tar.gz" "$work/first/$name.tar.gz"
done
# A JDK that records the archive differently each time (the pack says
# so): the trees of the two app-images are the same but for the archive.
if [ -n "$unsame" ]; then
    for dest in "$work/first" "$work/second dest"; do
        mkdir -p "$dest/unpacked"
        tar -xzf "$dest/rhino-alone-1.7.14-$(uname -m).tar.gz" -C "$dest/unpacked"
    done
    diff -r -x rhino-alone.jsa "$work/first/unpacked" "$work/second dest/unpacked" >"$dir/trees" ||
        fail "the bundled trees differ beyond the archive: $(head -5 "$dir/trees")"
    cmp -s "$work/first/unpacked/rhino-alone-1.7.14/lib/rhino-alone.jsa" \
        "$work/second dest/unpacked/rhino-alone-1.7.14/lib/rhino-alone.jsa" &&
        fail "the pack said the archive differs, but it is the same"
    unsame_note=" (but$unsame: the pack says $(sed -n 's/.*(\(Java [^)]*\)).*/\1/p' \
        "$work/first/rhino-alone.log"))"
fi
[ "$failures" -eq 0 ] &&
    echo "PASS same: byte-identical .deb, .rpm and .tar.gz from two packs${unsame_note:-}"

# ---------------------------------------------------------------------------
casename=relations
dpkg-deb -f "$work/first/yaml-check.deb" Depends | tr ',' '\n' | sed 's/^ *//' >"$dir/depends"
HOME=$work/home rpm --dbpath "$work/rpmdb" -qp --requires "$work/first/yaml-check.rpm" \
    >"$dir/requires"
for relation in python3-yaml python3-pathspec; do
    grep -qx "$relation" "$dir/depends" || fail "the .deb's Depends lacks $relation: $(cat "$dir/depends")"
done
for relation in python3-pyyaml python3-pathspec; do
    grep -qx "$relation" "$dir/requires" ||
        fail "the .rpm's Requires lacks $relation: $(cat "$dir/requires")"
done
grep -Eq '^python3(\.[0-9]+)?( |$)' "$dir/depends" ||
    fail "the .deb's Depends lost the runtime's own packages: $(cat "$dir/depends")"
dpkg-deb -f "$work/first/rhino-alone.deb" Depends | grep -Eq 'jre|jdk|java' &&
    fail "the bundled runtime's .deb depends on the system's Java"
[ "$failures" -eq 0 ] && echo "PASS relations"

# ---------------------------------------------------------------------------
for name in rhino-js yaml-check rhino-alone; do
    casename=app-image-$name
    mkdir -p "$work/moved/$name"
    tar -xzf "$work/first/$name.tar.gz" -C "$work/moved/$name" || fail "cannot unpack"
    tree=$work/moved/$name/$name-$(version_of "$name")
    run_program "$name" "app-image-$name" env -i PATH=/usr/bin:/bin "$tree/bin/$name"
    expect_like_debian "$name" "app-image-$name"
    [ "$failures" -eq 0 ] && echo "PASS $casename: unpacked elsewhere, prints what Debian's prints"
done

# ---------------------------------------------------------------------------
casename=lintian
unstripped=""
for file in "$2" "$3" "$4" "$5"; do
    readelf -S "$file" 2>/dev/null | grep -q ' \.symtab ' && unstripped="$unstripped $file"
done
if [ -n "$unstripped" ]; then
    lintian_skipped="lintian not run: the launcher and libraries given keep their symbols:$unstripped"
    echo "SKIPPED lintian: $lintian_skipped"
else
    "$(dirname "$0")/lintian_check.sh" --allow initial-upload-closes-no-bugs \
        --allow package-installs-python-pycache-dir --allow embedded-library \
        "$work/first/rhino-js.deb" "$work/first/yaml-check.deb" "$work/first/rhino-alone.deb"
    case $? in
    0) echo "PASS lintian" ;;
    77) lintian_skipped="lintian cannot run" ;;
    *) fail "lintian reports errors or warnings, or an override without its reason" ;;
    esac
fi

# ---------------------------------------------------------------------------
outer_ns=$(readlink /proc/self/ns/mnt)
for name in deb-rhino-js rpm-rhino-js deb-yaml-check rpm-yaml-check deb-rhino-alone \
    rpm-rhino-alone; do
    run_private_case "$name" ": installed, started through its owning package, prints what Debian's prints"
done

finish_cases "${lintian_skipped:+$lintian_skipped; the other cases passed}"
