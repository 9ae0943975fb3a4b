#!/bin/sh
# Usage: pack_packages_test.sh PACK LAUNCHER AUXLIB PYTHON_RUNTIME JVM_RUNTIME
# applauncher-pack (PACK, with APPLAUNCHER_PACK_FILES naming links to the
# other four files) turns a small Python program and a small Java program
# (a jar built here with javac and jar) into a .deb and an .rpm each:
#   refusals  requests a package cannot carry are refused before anything
#             is made, naming the option, and leave nothing in --dest
#   same      a second pack with the same SOURCE_DATE_EPOCH gives the same
#             bytes (cmp), from another --dest whose path holds a space,
#             under another umask
#   contents  the file names; the control fields; Depends from
#             dpkg-shlibdeps (libc6) and the runtime's packages; the
#             copyright file (a common licence referred to, another's text
#             carried), the changelog (gzip -9n, dated SOURCE_DATE_EPOCH),
#             md5sums; the rpm's fields, automatic and runtime
#             requirements, no provides from the private libraries, no
#             build-id links, a literal description with no scriptlet
#   lintian   no error and no warning, every override commented
#             (lintian_check.sh), also for a --prefix deeper under /opt and
#             a release other than 1
#   deb-*/rpm-*  installed with the real dpkg / rpm into private databases
#             in a private mount namespace (private_install.sh), the
#             program runs through its owning package: the launcher's
#             child reports "owner pkg:" and takes the listed library
# Exits 77 with the reason without root and private mounts, dpkg-dev,
# rpmbuild, lintian or a JDK (Debian: dpkg-dev, rpm, lintian,
# openjdk-17-jdk-headless), and, once every other case has passed, when
# lintian cannot run or the files given keep their symbols (a debug or
# sanitizer build, whose packages lintian rightly finds unstripped).
set -u
# shellcheck source=tests/private_install.sh
. "$(dirname "$0")/private_install.sh"

readonly epoch=1700000000

# expect_output RUN LINE...: the program printed exactly these lines.
expect_output() {
    run=$1
    shift
    printf '%s\n' "$@" >"$dir/$run.expected-out"
    diff -u "$dir/$run.expected-out" "$dir/$run.out" >"$dir/$run.out-diff" || {
        cat "$dir/$run.out-diff"
        fail "$run: the program's output differs (- expected, + seen)"
    }
}

# Inside a private mount namespace: one case, "<manager>-<application>".
if [ "${1:-}" = --case ]; then
    work=$3
    begin_case "$2" "$3" "$4" || exit 1
    manager=${casename%%-*}
    name=${casename#*-}
    exe=/opt/$name/bin/$name
    install_owned "$manager" "$name" "$work/first"
    # In a sanitizer build (ASAN_OPTIONS set), its settings reach the
    # launcher, with leak checking off (the runtimes keep memory at exit by
    # design) and the JVM's own handling of SIGSEGV, SIGBUS and SIGFPE.
    sanitizer=${ASAN_OPTIONS:+ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=0:handle_segv=0:handle_sigbus=0:handle_sigfpe=0:allow_user_segv_handler=1}
    run_launcher ada ${sanitizer:+"$sanitizer"} "$exe" Ada Lovelace
    expect_status ada 0
    expect_child ada "$dir/expected"
    case "$name" in
    greet-py)
        expect_runtime ada "/opt/$name/lib/libhux_python.so"
        expect_output ada "Hello, Ada Lovelace!" "from /opt/$name/share/$name/greet.py"
        run_launcher exit ${sanitizer:+"$sanitizer"} "$exe" Bob --exit 7
        expect_status exit 7
        ;;
    *)
        expect_runtime ada "/opt/$name/lib/libhux_jvm.so"
        # The JVM the runtime library picks: Java 11 or later (--java-versions).
        if [ "$(sed -n 1p "$dir/ada.out")" != "Hello, Ada Lovelace!" ] ||
            ! sed -n 2p "$dir/ada.out" | grep -Eqx 'from Java (1[1-9]|[2-9][0-9])' ||
            [ "$(wc -l <"$dir/ada.out")" -ne 2 ]; then
            fail "ada: the program's output is not the greeting and Java 11 or later"
        fi
        ;;
    esac
    exit $((failures > 0))
fi

[ $# -eq 5 ] || {
    echo "usage: $0 PACK LAUNCHER AUXLIB PYTHON_RUNTIME JVM_RUNTIME" >&2
    exit 2
}
pack=$1
for tool in dpkg-deb dpkg-shlibdeps rpmbuild rpm readelf lintian javac jar java; do
    command -v "$tool" >/dev/null ||
        skip "$tool not found (Debian: dpkg-dev, rpm, lintian, openjdk-17-jdk-headless)"
done
require_private_installs
script=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
work=$(mktemp -d "${TMPDIR:-/tmp}/applauncher-pack-packages-XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM
mkdir -p "$work/files" "$work/first" "$work/second dest" "$work/refused" "$work/py" \
    "$work/java/src/demo" "$work/java/input" "$work/home"
ln -s "$2" "$work/files/applauncher"
for library in "$3" "$4" "$5"; do
    ln -s "$library" "$work/files/$(basename "$library")"
done
export APPLAUNCHER_PACK_FILES="$work/files"
deb_arch=$(dpkg --print-architecture)
rpm_arch=$(HOME=$work/home rpm --dbpath "$work/rpmdb" --eval '%{_target_cpu}')

# The applications: a script that greets and can end with a status, a jar
# whose manifest names its main class.
cat >"$work/py/greet.py" <<'EOF'
import sys
args = sys.argv[1:]
status = 0
if "--exit" in args:
    at = args.index("--exit")
    status = int(args[at + 1])
    del args[at:at + 2]
print("Hello, " + " ".join(args) + "!")
print("from " + __file__)
sys.exit(status)
EOF
cat >"$work/java/src/demo/Greet.java" <<'EOF'
package demo;

public class Greet {
    public static void main(String[] args) {
        System.out.println("Hello, " + String.join(" ", args) + "!");
        System.out.println("from Java " + Runtime.version().feature());
    }
}
EOF
if ! javac --release 11 -d "$work/java/classes" "$work/java/src/demo/Greet.java" ||
    ! jar --create --file "$work/java/input/greet.jar" --main-class demo.Greet \
        -C "$work/java/classes" .; then
    echo "FAIL: cannot build the jar"
    exit 1
fi
printf 'Copyright 2023 Greeters\n\nPermission to use this program is granted to all.\n' \
    >"$work/LICENSE.greet"

# The two applications' options: name, licence and main, then the rest.
# The description holds '%' and macro forms that rpmbuild must not expand.
py_options() {
    echo --name greet-py --license GPL-3.0-or-later --input "$work/py" --script greet.py \
        --homepage https://example.org/greet
}
java_options() {
    echo --name greet-java --license MIT --license-file "$work/LICENSE.greet" \
        --input "$work/java/input" --main-jar greet.jar --java-versions 11
}
description='Greets whoever its arguments name; 100% of it is a test of %{?_topdir}
and %(echo expanded) and %%, which stay as they are written.

  An indented line stays as it is.'
maintainer="Greet Packagers <greet@example.org>"
run_pack() { # DEST TYPES OPTIONS...: packs into DEST, its output in DEST/pack.log
    dest=$1
    types=$2
    shift 2
    SOURCE_DATE_EPOCH=$epoch "$pack" --type "$types" --app-version 1.2 --dest "$dest" \
        --summary "greets whoever its arguments name" --description "$description" \
        --maintainer "$maintainer" "$@" >"$dest/pack.log" 2>&1
}

# ---------------------------------------------------------------------------
casename=refusals
# refused OPTION ARGUMENT...: the pack with these arguments exits 1 with
# one line naming OPTION and leaves nothing in --dest.
refused() {
    named=$1
    shift
    "$pack" --type deb,rpm --name greet-py --app-version 1.2 --input "$work/py" \
        --script greet.py --dest "$work/refused" --summary s "$@" >"$work/refused.log" 2>&1
    status=$?
    if [ "$status" -ne 1 ] || [ "$(wc -l <"$work/refused.log")" -ne 1 ] ||
        ! grep -q -- "$named" "$work/refused.log"; then
        fail "$named: status $status, expected 1 and one line naming $named: $(cat "$work/refused.log")"
    fi
    [ -z "$(ls -A "$work/refused")" ] || fail "$named: the refused pack left $(ls -A "$work/refused")"
}
refused --license-file --description d --maintainer "$maintainer" --license MIT
refused --license --description d --maintainer "$maintainer" --license "MIT OR Apache-2.0"
refused --description --description "$(printf 'fine\n %%post')" --maintainer "$maintainer" \
    --license MIT --license-file "$work/LICENSE.greet"
refused --description --description "$(printf 'fine\n.NET is not needed')" \
    --maintainer "$maintainer" --license GPL-2.0-only
refused --maintainer --description d --maintainer "$(printf 'A\nB <b@example.org>')" \
    --license GPL-2.0-only
refused --homepage --description d --maintainer "$maintainer" --license GPL-2.0-only \
    --homepage example.org
[ "$failures" -eq 0 ] && echo "PASS refusals"

# ---------------------------------------------------------------------------
casename=same
for app in py java; do
    # shellcheck disable=SC2046
    run_pack "$work/first" deb,rpm $("${app}_options") || {
        cat "$work/first/pack.log"
        echo "FAIL: applauncher-pack ($app) failed"
        exit 1
    }
    # shellcheck disable=SC2046
    (umask 077 && run_pack "$work/second dest" deb,rpm $("${app}_options")) || {
        cat "$work/second dest/pack.log"
        echo "FAIL: the second applauncher-pack ($app) failed"
        exit 1
    }
done
for name in greet-py greet-java; do
    for file in "${name}_1.2-1_$deb_arch.deb" "$name-1.2-1.$rpm_arch.rpm"; do
        [ -f "$work/first/$file" ] || fail "no $file (made: $(find "$work/first" -type f))"
        cmp "$work/first/$file" "$work/second dest/$file" || fail "$file differs between two packs"
    done
    cp "$work/first/${name}_1.2-1_$deb_arch.deb" "$work/first/$name.deb"
    cp "$work/first/$name-1.2-1.$rpm_arch.rpm" "$work/first/$name.rpm"
done
left=$(find "$work/first" -mindepth 1 ! -name '*.deb' ! -name '*.rpm' ! -name pack.log)
[ -z "$left" ] || fail "the pack left more in --dest: $left"
[ "$failures" -eq 0 ] && echo "PASS same: byte-identical .deb and .rpm from two packs"

# ---------------------------------------------------------------------------
casename=contents
outer_rpm() {
    HOME=$work/home rpm --dbpath "$work/rpmdb" "$@"
}
# expect_match WHAT FILE PATTERN...: FILE has a line matching each
# extended regular expression PATTERN.
expect_match() {
    what=$1
    file=$2
    shift 2
    for pattern in "$@"; do
        grep -Eq -- "$pattern" "$file" || {
            fail "$what has no line matching /$pattern/; it has:"
            sed 's/^/    /' "$file"
        }
    done
}
mail_date=$(LC_ALL=C date -u -d "@$epoch" '+%a, %d %b %Y %H:%M:%S \+0000')
for name in greet-py greet-java; do
    deb=$work/first/$name.deb
    rpmfile=$work/first/$name.rpm
    x=$work/x-$name
    dpkg-deb -R "$deb" "$x" || fail "dpkg-deb -R $name.deb"
    expect_match "$name's control" "$x/DEBIAN/control" "^Package: $name\$" \
        '^Version: 1\.2-1$' "^Architecture: $deb_arch\$" \
        '^Maintainer: Greet Packagers <greet@example\.org>$' '^Installed-Size: [1-9][0-9]*$' \
        '^Section: misc$' '^Priority: optional$' \
        '^Description: greets whoever its arguments name$' \
        '^ Greets whoever its arguments name; 100% of it is a test of %\{\?_topdir\}' \
        '^ \.$' '^   An indented line stays as it is\.$'
    awk '/^ / && length($0) > 80' "$x/DEBIAN/control" | grep -q . &&
        fail "$name: a description line is over 80 columns"
    dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//' >"$x.depends"
    (cd "$x" && md5sum --quiet -c DEBIAN/md5sums) || fail "$name: DEBIAN/md5sums does not match"
    [ "$(find "$x" -type f ! -path "$x/DEBIAN/*" | wc -l)" -eq "$(wc -l <"$x/DEBIAN/md5sums")" ] ||
        fail "$name: md5sums does not list every file"
    doc=$x/usr/share/doc/$name
    # gzip -9n: no file name (flags 0) and no time stamp in the header.
    [ "$(od -An -tx1 -j3 -N5 "$doc/changelog.Debian.gz" | tr -d ' ')" = 0000000000 ] ||
        fail "$name: changelog.Debian.gz has a name or a time stamp (not gzip -n)"
    zcat "$doc/changelog.Debian.gz" >"$x.changelog"
    expect_match "$name's changelog" "$x.changelog" "^$name \\(1\\.2-1\\) unstable; urgency=medium\$" \
        "^ -- Greet Packagers <greet@example\\.org>  $mail_date\$"
    expect_match "$name's copyright" "$doc/copyright" \
        '^Format: https://www\.debian\.org/doc/packaging-manuals/copyright-format/1\.0/$' \
        "^Files: opt/$name/bin/\\* opt/$name/lib/libapplauncher\\.so " '^License: Expat$'
    outer_rpm -qp --qf '%{NAME} %{VERSION} %{RELEASE} %{ARCH} %{LICENSE} %{BUILDHOST} %{BUILDTIME}\n' \
        "$rpmfile" >"$x.rpm-fields"
    outer_rpm -qp --requires "$rpmfile" >"$x.requires"
    outer_rpm -qp --qf '%{DESCRIPTION}\n' "$rpmfile" >"$x.rpm-description"
    outer_rpm -qpl "$rpmfile" >"$x.rpm-files"
    expect_match "$name's rpm" "$x.rpm-files" "^/opt/$name/lib/libapplauncher\\.so\$" \
        "^/usr/share/licenses/$name/LICENSE.applauncher\$"
    expect_match "$name's rpm description" "$x.rpm-description" \
        '^Greets whoever its arguments name; 100% of it is a test of %\{\?_topdir\}' \
        '%\(echo expanded\) and %%, which stay as they are written\.$'
    grep -q '\.build-id' "$x.rpm-files" && fail "$name's rpm has build-id links"
    [ -z "$(outer_rpm -qp --scripts "$rpmfile")" ] || fail "$name's rpm has scriptlets"
    outer_rpm -qp --provides "$rpmfile" | grep '\.so' && fail "$name's rpm provides its private libraries"
    outer_rpm -qp --changelog "$rpmfile" | grep -q "^\\* .* Greet Packagers <greet@example\\.org> - 1\\.2-1\$" ||
        fail "$name's rpm has no changelog entry"
done
# Per application: its licence, its rpm fields, its runtime's packages.
expect_match "greet-py's copyright" "$work/x-greet-py/usr/share/doc/greet-py/copyright" \
    '^License: GPL-3\+$' '/usr/share/common-licenses/GPL-3\.$'
expect_match "greet-java's copyright" "$work/x-greet-java/usr/share/doc/greet-java/copyright" \
    '^ Permission to use this program is granted to all\.$'
expect_match "greet-py's rpm" "$work/x-greet-py.rpm-fields" \
    "^greet-py 1\\.2 1 $rpm_arch GPL-3\\.0-or-later reproducible $epoch\$"
expect_match "greet-java's rpm" "$work/x-greet-java.rpm-fields" \
    "^greet-java 1\\.2 1 $rpm_arch MIT reproducible $epoch\$"
expect_match "greet-py's Depends" "$work/x-greet-py.depends" '^libc6 \(>= [0-9.]+\)$' \
    '^libpython3\.[0-9]+( |$)' '^python3(\.[0-9]+)?( |$)'
expect_match "greet-java's Depends" "$work/x-greet-java.depends" '^libc6 \(>= [0-9.]+\)$' \
    '(^|\| )(default-jre(-headless)?|openjdk-[0-9]+-jre(-headless)?|java[0-9]*-runtime(-headless)?)( |$)'
expect_match "greet-py's rpm requirements" "$work/x-greet-py.requires" '^libc\.so\.6\(\)\(64bit\)$' \
    '^libpython3\.[0-9]+\.so' '^python3(\.[0-9]+)?( |$)'
expect_match "greet-java's rpm requirements" "$work/x-greet-java.requires" \
    '^libc\.so\.6\(\)\(64bit\)$' \
    '^\(java-headless >= 1:11 or \(java-headless >= 11 with java-headless < 1:0\)\)$'
# Another prefix, deeper under /opt, and another release.
mkdir -p "$work/prefix"
# shellcheck disable=SC2046
run_pack "$work/prefix" deb $(py_options) --prefix /opt/vendor/greet --release 2 ||
    fail "pack with --prefix /opt/vendor/greet: $(cat "$work/prefix/pack.log")"
prefixed=$work/prefix/greet-py_1.2-2_$deb_arch.deb
dpkg-deb -c "$prefixed" | grep -q ' \./opt/vendor/greet/lib/libapplauncher\.so$' ||
    fail "the deb with --prefix /opt/vendor/greet holds no /opt/vendor/greet/lib/libapplauncher.so"
[ "$failures" -eq 0 ] && echo "PASS contents"

# ---------------------------------------------------------------------------
casename=lintian
# Files of a debug or sanitizer build keep their symbols, which lintian
# reports of any package that ships them: the check is then not run.
unstripped=""
for file in "$2" "$3" "$4" "$5"; do
    readelf -S "$file" 2>/dev/null | grep -q ' \.symtab ' && unstripped="$unstripped $file"
done
if [ -n "$unstripped" ]; then
    lintian_skipped="lintian not run: the launcher and libraries given keep their symbols:$unstripped"
    echo "SKIPPED lintian: $lintian_skipped"
else
    "$(dirname "$0")/lintian_check.sh" --allow initial-upload-closes-no-bugs \
        --allow package-installs-python-pycache-dir "$work/first/greet-py.deb" \
        "$work/first/greet-java.deb" "$prefixed"
    case $? in
    0) echo "PASS lintian" ;;
    77) lintian_skipped="lintian cannot run" ;;
    *) fail "lintian reports errors or warnings, or an override without its reason" ;;
    esac
fi

# ---------------------------------------------------------------------------
outer_ns=$(readlink /proc/self/ns/mnt)
for name in deb-greet-py rpm-greet-py deb-greet-java rpm-greet-java; do
    run_private_case "$name" ": installed, started through its owning package"
done

finish_cases "${lintian_skipped:+$lintian_skipped; the other cases passed}"
