#!/bin/sh
# Usage: real_package_managers.sh VERSION DEB_DEPENDS RPM_REQUIRES HELLO_DEB [HELLO_RPM]
# Installs the hello packages with the machine's real dpkg and rpm and runs
# the installed launcher with its debug trace on, checking where it found
# libapplauncher.so and that the application ran:
#   contents  the packages hold exactly the hello files under /opt/hello and
#             its documents under /usr/share, with the name, VERSION and
#             architecture; the deb depends on libc6 (from dpkg-shlibdeps)
#             and on each of DEB_DEPENDS, the rpm requires libc.so.6 and
#             libpython (from rpmbuild) and each of RPM_REQUIRES (the CPython
#             runtime library's published dependencies, comma-separated)
#   deb       dpkg owns bin/hello and lists the library (no rpm on PATH)
#   deb-diverted
#             the same with another package's diversion of bin/hello, whose
#             lines dpkg -S prints before the owner's
#   rpm       rpm owns bin/hello and lists the library
#   deb-other / rpm-other
#             the package owning the executable does not list the library:
#             status 1, the library beside bin/ is not loaded; once the deb
#             is purged, the same tree starts from that library
#   unowned   a copy of the tree that neither manager owns (both holding
#             hello): the library beside bin/ is used
#   rpm-then-deb
#             rpm holds another package and answers "not owned", then dpkg
#             owns bin/hello
#   load      1000 launches of the dpkg-owned installation, 8 at a time: each
#             returns the application's status, and none is left behind
#
# Each case runs in a private mount namespace with private package databases
# (private_install.sh). Needs root, unshare and mount: exits 77 (skipped)
# with the reason when any is missing or not permitted. Without rpm (Debian:
# rpm) or without the .rpm, the dpkg cases run and the script then exits 77
# naming the cases it could not run, unless a case failed (exit 1).
set -u
# shellcheck source=tests/private_install.sh
. "$(dirname "$0")/private_install.sh"

# ---------------------------------------------------------------------------
# Inside a private mount namespace: one case.
# Arguments: --case NAME WORK OUTER_MOUNT_NAMESPACE HAVE_RPM
# ---------------------------------------------------------------------------

# expect_greeting RUN NAME APPDIR: the application printed its greeting and
# the directory it runs from, and the launcher loaded the runtime library of
# APPDIR.
expect_greeting() {
    first=$(sed -n 1p "$dir/$1.out")
    second=$(sed -n 2p "$dir/$1.out")
    if [ "$first" != "Hello, $2!" ]; then
        fail "$1: first output line is \"$first\", expected \"Hello, $2!\""
    fi
    case "$second" in
        "running on Python "*" from $3") ;;
        *)
            fail "$1: second output line is \"$second\", expected it to end in \"from $3\""
            ;;
    esac
    expect_runtime "$1" "$3/lib/libhux_python.so"
}

# expect_not_started RUN: status 1, nothing printed by the application, no
# runtime library loaded.
expect_not_started() {
    expect_status "$1" 1
    if [ -s "$dir/$1.out" ]; then
        fail "$1: the application printed something"
    fi
    if messages "$1" parent | grep -q '^hux lib:'; then
        fail "$1: a runtime library was loaded"
    fi
}

private_deb_install_hello() {
    private_deb_install "$work/hello.deb"
}

run_case() {
    work=$2
    begin_case "$1" "$2" "$3" || return

    exe=/opt/hello/bin/hello
    case "$casename" in
    deb)
        # A machine with dpkg alone: the rpm query fails as a command not
        # found (wait status 127 << 8), then dpkg owns the executable.
        make_tools without-rpm
        private_deb_install_hello || return
        private_dpkg -L hello >"$dir/listing" || fail "dpkg -L hello failed"
        grep -qx /opt/hello/lib/libapplauncher.so "$dir/listing" ||
            fail "dpkg -L hello does not list /opt/hello/lib/libapplauncher.so"
        dpkg_owned_lines $exe hello "$dir/listing" >"$dir/expected"
        run_launcher alice "$exe" Alice
        expect_status alice 0
        expect_greeting alice Alice /opt/hello
        expect_child alice "$dir/expected"
        run_launcher bob "$exe" Bob --exit 3
        expect_status bob 3
        expect_greeting bob Bob /opt/hello
        expect_child bob "$dir/expected"
        ;;
    deb-diverted)
        # Another package diverts the executable: dpkg -S prints the
        # diversion's lines before the owner's, and the owner is still hello.
        make_tools without-rpm
        private_deb_install_hello || return
        dpkg-divert --admindir "$dpkgdb" --package other --no-rename \
            --divert "$exe.real" --add "$exe" >"$dir/divert.log" 2>&1 || {
            cat "$dir/divert.log"
            fail "dpkg-divert failed"
            return
        }
        DPKG_ADMINDIR=$dpkgdb dpkg -S "$exe" >"$dir/search" 2>&1
        if ! grep -q '^diversion by other from: ' "$dir/search"; then
            cat "$dir/search"
            fail "dpkg -S shows no diversion line"
        fi
        run_launcher diverted "$exe" Alice
        expect_status diverted 0
        expect_greeting diverted Alice /opt/hello
        messages diverted child | grep -qx 'owner pkg: (hello|2)' ||
            fail "diverted: the owner is not hello"
        ;;
    rpm)
        make_tools with-rpm
        init_rpm_db
        private_rpm_install "$work/hello.rpm" || {
            fail "rpm -i hello.rpm failed"
            return
        }
        private_rpm -ql hello >"$dir/listing" || fail "rpm -ql hello failed"
        grep -qx /opt/hello/lib/libapplauncher.so "$dir/listing" ||
            fail "rpm -ql hello does not list /opt/hello/lib/libapplauncher.so"
        {
            query_lines "$(rpm_query $exe)" 0 hello
            echo "owner pkg: (hello|1)"
            listing_lines "rpm -ql 'hello' 2>/dev/null" "$dir/listing"
        } >"$dir/expected"
        run_launcher carla "$exe" Carla
        expect_status carla 0
        expect_greeting carla Carla /opt/hello
        expect_child carla "$dir/expected"
        run_launcher dmitri "$exe" Dmitri --exit 42
        expect_status dmitri 42
        expect_greeting dmitri Dmitri /opt/hello
        ;;
    deb-other | rpm-other)
        # /opt/other/bin/other is owned; the rest of the tree, the library
        # included, is placed by hand and owned by no package.
        exe=/opt/other/bin/other
        cp -a "$work/other-tree/opt/other" /opt/other
        if [ "$casename" = deb-other ]; then
            make_tools without-rpm
            private_dpkg -i "$work/other.deb" >"$dir/dpkg-install.log" 2>&1 || {
                cat "$dir/dpkg-install.log"
                fail "dpkg -i other.deb failed"
                return
            }
            private_dpkg -L other >"$dir/listing" || fail "dpkg -L other failed"
            dpkg_owned_lines $exe other "$dir/listing" >"$dir/expected"
        else
            make_tools with-rpm
            init_rpm_db
            private_rpm_install "$work/other.rpm" || {
                fail "rpm -i other.rpm failed"
                return
            }
            private_rpm -ql other >"$dir/listing" || fail "rpm -ql other failed"
            {
                query_lines "$(rpm_query $exe)" 0 other
                echo "owner pkg: (other|1)"
                listing_lines "rpm -ql 'other' 2>/dev/null" "$dir/listing"
            } >"$dir/expected"
        fi
        grep -qx "$exe" "$dir/listing" || fail "the other package does not list $exe"
        if grep -q '/libapplauncher\.so$' "$dir/listing"; then
            fail "the other package lists a libapplauncher.so"
        fi
        [ -f /opt/other/lib/libapplauncher.so ] ||
            fail "no library beside the executable's directory to be (wrongly) taken"
        run_launcher erik "$exe" Erik
        expect_not_started erik
        expect_child erik "$dir/expected"
        if [ "$casename" = deb-other ]; then
            # The same tree without its owner: it starts, from the library
            # that was not taken above.
            private_dpkg --purge other >"$dir/dpkg-purge.log" 2>&1 || {
                cat "$dir/dpkg-purge.log"
                fail "dpkg --purge other failed"
                return
            }
            [ ! -e "$exe" ] || fail "dpkg --purge other left $exe"
            mkdir -p /opt/other/bin
            cp -a "$work/other-tree$exe" "$exe"
            {
                query_lines "$(rpm_query $exe)" 32512
                query_lines "$(dpkg_search $exe)" 256
            } >"$dir/expected-unowned"
            run_launcher erik-unowned "$exe" Erik
            expect_status erik-unowned 0
            expect_greeting erik-unowned Erik /opt/other
            expect_child erik-unowned "$dir/expected-unowned"
        fi
        ;;
    unowned)
        # Both managers hold hello at /opt/hello (rpm only where there is
        # one); the copy under /opt/elsewhere is no package's.
        if [ -n "$have_rpm" ]; then
            make_tools with-rpm
            init_rpm_db
            private_rpm_install "$work/hello.rpm" || {
                fail "rpm -i hello.rpm failed"
                return
            }
            rpm_lines() {
                query_lines "$(rpm_query "$1")" 256 "file $1 is not owned by any package"
            }
        else
            make_tools without-rpm
            rpm_lines() {
                query_lines "$(rpm_query "$1")" 32512
            }
        fi
        private_deb_install_hello || return
        mkdir -p /opt/elsewhere
        cp -a "$work/hello-tree/opt/hello" /opt/elsewhere/hello
        exe=/opt/elsewhere/hello/bin/hello
        {
            rpm_lines $exe
            query_lines "$(dpkg_search $exe)" 256
        } >"$dir/expected"
        run_launcher fatima "$exe" Fatima
        expect_status fatima 0
        expect_greeting fatima Fatima /opt/elsewhere/hello
        expect_child fatima "$dir/expected"
        run_launcher gustav "$exe" Gustav --exit 7
        expect_status gustav 7
        expect_greeting gustav Gustav /opt/elsewhere/hello
        ;;
    rpm-then-deb)
        make_tools with-rpm
        init_rpm_db
        private_rpm_install "$work/other.rpm" || {
            fail "rpm -i other.rpm failed"
            return
        }
        private_rpm -q other >/dev/null || fail "the private rpm database does not hold other"
        private_deb_install_hello || return
        private_dpkg -L hello >"$dir/listing" || fail "dpkg -L hello failed"
        {
            query_lines "$(rpm_query $exe)" 256 "file $exe is not owned by any package"
            query_lines "$(dpkg_search $exe)" 0 "hello: $exe"
            echo "owner pkg: (hello|2)"
            listing_lines "dpkg -L 'hello' 2>/dev/null" "$dir/listing"
        } >"$dir/expected"
        run_launcher hana "$exe" Hana
        expect_status hana 0
        expect_greeting hana Hana /opt/hello
        expect_child hana "$dir/expected"
        ;;
    load)
        # LOAD_LAUNCHES launches (default 1000), 8 at a time, of the
        # dpkg-owned installation; launch i asks the application to exit
        # with i % 200. Afterwards no launcher process may be left and this
        # shell may hold no descriptor it did not hold before.
        make_tools without-rpm
        private_deb_install_hello || return
        launches=${LOAD_LAUNCHES:-1000}
        fds_before=$(ls /proc/$$/fd | wc -l)
        started=$(date +%s.%N)
        seq 1 "$launches" | xargs -P 8 -I {} env -i PATH="$tools" HOME="$home" \
            DPKG_ADMINDIR="$dpkgdb" /bin/sh -c '
                expected=$(($1 % 200))
                "$2" "load $1" --exit "$expected" >/dev/null 2>&1
                status=$?
                [ "$status" -eq "$expected" ] || echo "launch $1: status $status, not $expected"
            ' sh {} "$exe" >"$dir/load-failures" 2>&1
        ended=$(date +%s.%N)
        if [ -s "$dir/load-failures" ]; then
            head -20 "$dir/load-failures"
            fail "$(wc -l <"$dir/load-failures") of $launches launches failed"
            return
        fi
        left=""
        for link in /proc/[0-9]*/exe; do
            [ "$(readlink "$link" 2>/dev/null)" = "$exe" ] && left="$left ${link%/exe}"
        done
        [ -z "$left" ] || fail "launcher processes left:$left"
        fds_after=$(ls /proc/$$/fd | wc -l)
        [ "$fds_before" -eq "$fds_after" ] ||
            fail "descriptors: $fds_before before the load, $fds_after after"
        echo "load: $launches launches, 8 at a time, each returned its entry's result;" \
            "$(awk "BEGIN { printf \"%.1f\", $ended - $started }") s; none left running"
        ;;
    *)
        fail "unknown case"
        ;;
    esac
}

if [ "${1:-}" = --case ]; then
    have_rpm=$5
    run_case "$2" "$3" "$4"
    exit $((failures > 0))
fi

# ---------------------------------------------------------------------------
# Outside: checks, the packages' contents, the helper packages, each case.
# ---------------------------------------------------------------------------

if [ $# -lt 4 ] || [ $# -gt 5 ]; then
    echo "usage: $0 VERSION DEB_DEPENDS RPM_REQUIRES HELLO_DEB [HELLO_RPM]" >&2
    exit 2
fi
script=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
version=$1
deb_depends=$2
rpm_requires=$3
deb=$4
rpmfile=${5:-}

require_private_installs
[ -f "$deb" ] || {
    echo "FAIL: no deb package at $deb"
    exit 1
}

have_rpm=yes
if ! command -v rpm >/dev/null || ! command -v rpmbuild >/dev/null; then
    have_rpm=
    no_rpm_reason="rpm/rpmbuild not installed (Debian: rpm)"
elif [ -z "$rpmfile" ]; then
    have_rpm=
    no_rpm_reason="no .rpm made (rpmbuild was missing when the build was configured)"
elif [ ! -f "$rpmfile" ]; then
    echo "FAIL: no rpm package at $rpmfile"
    exit 1
fi

work=$(mktemp -d /tmp/applauncher-packages-XXXXXX)
trap 'rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM
cp "$deb" "$work/hello.deb"
[ -n "$have_rpm" ] && cp "$rpmfile" "$work/hello.rpm"
outer_ns=$(readlink /proc/self/ns/mnt)
failures=0

# rpm opens (and creates) a database even to read a package file or to build
# one: outside the cases, that is a throwaway one in the work directory.
mkdir -p "$work/buildhome" "$work/buildtmp"
outer_rpm() {
    HOME=$work/buildhome rpm --dbpath "$work/rpmdb" "$@"
}

# The files of the hello component, and nothing else: the application
# under /opt/hello, its documents under /usr/share.
cat >"$work/expected-files" <<'EOF'
/opt/hello/bin/hello
/opt/hello/lib/applauncher.cfg
/opt/hello/lib/libapplauncher.so
/opt/hello/lib/libhux_python.so
/opt/hello/share/hello/hello.py
/usr/share/doc/hello/changelog.gz
/usr/share/doc/hello/copyright
/usr/share/lintian/overrides/hello
EOF
contents_differ() {
    if ! diff -u "$work/expected-files" "$work/$1-files"; then
        echo "FAIL [contents]: the $1 package's files differ from the expected (- expected, + seen)"
        failures=$((failures + 1))
    fi
}
# expect_relations WHAT FILE ENTRY...: FILE has a line that is ENTRY or
# starts with "ENTRY (" (a version follows), for each ENTRY.
expect_relations() {
    what=$1
    file=$2
    shift 2
    for entry in "$@"; do
        entry=$(echo "$entry" | sed 's/^ *//; s/ *$//')
        awk -v entry="$entry" '$0 == entry || index($0, entry " (") == 1 { found = 1 }
            END { exit !found }' "$file" || {
            echo "FAIL [contents]: $what does not name \"$entry\"; it has:"
            sed 's/^/    /' "$file"
            failures=$((failures + 1))
        }
    done
}
dpkg-deb --fsys-tarfile "$work/hello.deb" | tar -t | sed -n 's#^\./#/#; /[^/]$/p' | sort \
    >"$work/deb-files"
contents_differ deb
for field in Package:hello Version:"$version" Architecture:"$(dpkg --print-architecture)"; do
    seen=$(dpkg-deb -f "$work/hello.deb" "${field%%:*}")
    if [ "$seen" != "${field#*:}" ]; then
        echo "FAIL [contents]: the deb's ${field%%:*} is \"$seen\", expected \"${field#*:}\""
        failures=$((failures + 1))
    fi
done
# libc6 from dpkg-shlibdeps, versioned; the runtime library's own entries.
dpkg-deb -f "$work/hello.deb" Depends | tr ',' '\n' | sed 's/^ *//' >"$work/deb-depends"
grep -q '^libc6 (>= [0-9.]*)$' "$work/deb-depends" || {
    echo "FAIL [contents]: the deb's Depends has no versioned libc6 (dpkg-shlibdeps)"
    failures=$((failures + 1))
}
old_ifs=$IFS
IFS=,
# shellcheck disable=SC2086
expect_relations "the deb's Depends" "$work/deb-depends" $deb_depends
IFS=$old_ifs
if [ -n "$have_rpm" ]; then
    outer_rpm -qp --qf '[%{FILEMODES:perms} %{FILENAMES}\n]' "$work/hello.rpm" |
        sed -n 's/^-[^ ]* //p' | sort >"$work/rpm-files"
    contents_differ rpm
    outer_rpm -qp --requires "$work/hello.rpm" >"$work/rpm-requires"
    IFS=,
    # shellcheck disable=SC2086
    expect_relations "the rpm's requirements" "$work/rpm-requires" "libc.so.6()(64bit)" \
        "libpython3.11.so.1.0()(64bit)" $rpm_requires
    IFS=$old_ifs
    rpm_name=$(outer_rpm -qp --qf '%{NAME} %{VERSION} %{ARCH}' "$work/hello.rpm")
    if [ "$rpm_name" != "hello $version $(uname -m)" ]; then
        echo "FAIL [contents]: the rpm is \"$rpm_name\", expected \"hello $version $(uname -m)\""
        failures=$((failures + 1))
    fi
fi
[ "$failures" -eq 0 ] && echo "PASS contents"

# The hello tree as the deb holds it, for copies placed by hand.
dpkg-deb -x "$work/hello.deb" "$work/hello-tree"

# A tree for the "other" packages: bin/other (a copy of the launcher) is
# theirs; lib/ and share/ are placed beside it by hand in the cases.
other=$work/other-tree/opt/other
mkdir -p "$other/bin" "$other/lib" "$other/share"
cp "$work/hello-tree/opt/hello/bin/hello" "$other/bin/other"
cp "$work/hello-tree/opt/hello/lib/"* "$other/lib/"
cp -R "$work/hello-tree/opt/hello/share/hello" "$other/share/hello"
sed 's#/bin/hello$#/bin/other#' "$work/hello-tree/opt/hello/lib/applauncher.cfg" \
    >"$other/lib/applauncher.cfg"

# other.deb owns /opt/other/bin/other alone.
stage=$work/other-deb
mkdir -p "$stage/DEBIAN" "$stage/opt/other/bin"
cp "$other/bin/other" "$stage/opt/other/bin/other"
cat >"$stage/DEBIAN/control" <<EOF
Package: other
Version: 1.0
Architecture: $(dpkg --print-architecture)
Maintainer: applauncher developers
Description: owns a copy of the launcher and nothing else
EOF
dpkg-deb --root-owner-group --build "$stage" "$work/other.deb" >/dev/null || {
    echo "FAIL: dpkg-deb --build other.deb"
    exit 1
}

# other.rpm likewise, built in the work directory with a private HOME.
if [ -n "$have_rpm" ]; then
    top=$work/rpmbuild
    mkdir -p "$top"
    cat >"$top/other-rpm.in" <<EOF
Name: other
Version: 1.0
Release: 1
Summary: Owns a copy of the launcher and nothing else
License: none
AutoReqProv: no
%description
Owns /opt/other/bin/other alone.
%install
mkdir -p %{buildroot}/opt/other/bin
cp $other/bin/other %{buildroot}/opt/other/bin/other
%files
%dir /opt/other
%dir /opt/other/bin
/opt/other/bin/other
EOF
    HOME=$work/buildhome rpmbuild -bb --quiet \
        --define "_topdir $top" --define "_tmppath $work/buildtmp" --define "_dbpath $work/rpmdb" \
        --define "_rpmfilename other.rpm" --define "debug_package %{nil}" \
        --define "_build_id_links none" --define "__os_install_post %{nil}" \
        "$top/other-rpm.in" >"$work/rpmbuild.log" 2>&1 || {
        cat "$work/rpmbuild.log"
        echo "FAIL: rpmbuild other.rpm"
        exit 1
    }
    cp "$top/RPMS/other.rpm" "$work/other.rpm"
fi

skipped=""
for name in deb deb-diverted rpm deb-other rpm-other unowned rpm-then-deb load; do
    case "$name" in
    rpm | rpm-other | rpm-then-deb)
        if [ -z "$have_rpm" ]; then
            skipped="$skipped $name"
            continue
        fi
        ;;
    esac
    note=""
    [ "$name" = unowned ] && [ -z "$have_rpm" ] && note=" (dpkg alone, no rpm)"
    run_private_case "$name" "$note" "$have_rpm"
done

finish_cases "${skipped:+$no_rpm_reason: cases$skipped not run; the others passed}"
