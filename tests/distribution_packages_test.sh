#!/bin/sh
# Usage: distribution_packages_test.sh SOURCE_TARBALL RUNTIME_DOUBLE
# The project's own distribution packages, built from the source tarball
# that the `dist` target makes:
#   deb      dpkg-buildpackage -us -uc -b gives applauncher, applauncher-dev,
#            applauncher-python and applauncher-jvm, and lintian reports no
#            error and no warning on the .changes; with
#            DEB_BUILD_OPTIONS=nocheck, since the suite this test belongs to
#            has run the tests already (a user's plain dpkg-buildpackage
#            runs them)
#   install  the .debs installed with the real dpkg into a private
#            administrative directory (a private mount namespace, /usr an
#            overlay): an auxiliary library built against the installed
#            applauncher-dev with find_package and with pkg-config starts
#            RUNTIME_DOUBLE through the installed launcher; the hello
#            sample runs on the installed reference library and CPython
#            runtime library; the installed doctor finds nothing wrong
#   rpm      rpmbuild -bb on packaging/rpm/applauncher.spec gives the same
#            split, with the files each package must hold
# Without dpkg-buildpackage, debhelper and lintian the deb cases cannot run,
# without root and private mounts the install case, without rpmbuild the
# rpm case: the script then exits 77 naming what it could not run, unless a
# case failed (exit 1).
set -u
name=applauncher
if [ "${1:-}" = --install ]; then
    version=$4
    runtime_double=$5
else
    tarball=$(realpath "$1")
    runtime_double=$(realpath "$2")
    version=$(basename "$tarball" .tar.gz)
    version=${version#"$name"-}
fi
. "$(dirname "$0")/private_install.sh"

multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || echo x86_64-linux-gnu)
not_run=""

# ---------------------------------------------------------------------------
# Inside a private mount namespace: install the .debs and use them.
# Arguments: --install WORK OUTER_MOUNT_NAMESPACE VERSION RUNTIME_DOUBLE
# ---------------------------------------------------------------------------
if [ "${1:-}" = --install ]; then
    work=$2
    begin_case install "$work" "$3" || exit 1
    for deb in "$work"/debs/*.deb; do
        case "$deb" in *-dbgsym_*) continue ;; esac
        private_deb_install "$deb" || exit 1
    done
    libexec=/usr/libexec/applauncher
    libdir=/usr/lib/$multiarch/applauncher
    for file in "$libexec/applauncher" "$libexec/applauncher-doctor" "$libdir/libapplauncher.so" \
        "$libdir/libhux_python.so" "$libdir/libhux_jvm.so" /usr/include/applauncher/kivlauncher_api.h \
        "/usr/lib/$multiarch/cmake/applauncher/applauncherConfig.cmake" \
        "/usr/lib/$multiarch/pkgconfig/applauncher.pc" /usr/share/doc/applauncher/copyright; do
        [ -e "$file" ] || fail "$file is not installed"
    done

    # An auxiliary library built against the installed development files.
    src=$work/src/$name-$version/tests/installed_tree
    cmake -S "$src" -B "$dir/cmake-build" >"$dir/cmake.log" 2>&1 &&
        cmake --build "$dir/cmake-build" >>"$dir/cmake.log" 2>&1 ||
        { cat "$dir/cmake.log"; fail "find_package(applauncher) build failed"; }
    [ "$(cat "$dir/cmake-build/launcher-path" 2>/dev/null)" = "$libexec/applauncher" ] ||
        fail "applauncher::launcher is not the installed launcher"
    mkdir -p "$dir/pc-build"
    # shellcheck disable=SC2046
    cc -shared -fPIC -Wall -Werror $(pkg-config --cflags applauncher) \
        -DCONSUMER_BUILT_WITH='"pkg-config"' "$src/consumer_aux.c" \
        -o "$dir/pc-build/libapplauncher.so" || fail "pkg-config build failed"
    [ "$(realpath -m "$(pkg-config --variable=launcher applauncher)")" = "$libexec/applauncher" ] ||
        fail "pkg-config's launcher is $(pkg-config --variable=launcher applauncher)"

    make_tools without-rpm
    for built in cmake-build pc-build; do
        app=$dir/app-$built
        mkdir -p "$app/bin" "$app/lib" "$dir/records-$built"
        cp "$libexec/applauncher" "$app/bin/app"
        cp "$dir/$built/libapplauncher.so" "$app/lib/"
        run_launcher "$built" /usr/bin/env TEST_RECORDS="$dir/records-$built" \
            CONSUMER_RUNTIME="$runtime_double" "$app/bin/app" || true
        expect_status "$built" 0
        expected=cmake
        [ "$built" = pc-build ] && expected=pkg-config
        tr '\0' '\n' <"$dir/records-$built/runtime" 2>/dev/null | grep -qx "arg=$expected" ||
            fail "$built: the runtime did not receive the argument $expected"
    done

    # The hello sample on the installed libraries.
    hello=$dir/hello
    mkdir -p "$hello/bin" "$hello/lib" "$hello/share"
    cp "$libexec/applauncher" "$hello/bin/hello"
    cp "$libdir/libapplauncher.so" "$hello/lib/"
    cp "$work/src/$name-$version/samples/hello/hello.py" "$hello/share/"
    printf 'runtime=%s\narg=$APPDIR/bin/hello\narg=$APPDIR/share/hello.py\nenv=HELLO_HOME=$APPDIR\n' \
        "$libdir/libhux_python.so" >"$hello/lib/applauncher.cfg"
    run_launcher hello "$hello/bin/hello" Alice || true
    expect_status hello 0
    [ "$(sed -n 1p "$dir/hello.out")" = "Hello, Alice!" ] || fail "hello did not greet Alice"
    expect_runtime hello "$libdir/libhux_python.so"
    env -i PATH="$tools" DPKG_ADMINDIR="$dpkgdb" "$libexec/applauncher-doctor" \
        "$hello/bin/hello" Alice >"$dir/doctor.out" 2>&1
    doctor_status=$?
    if [ "$doctor_status" -ne 0 ]; then
        cat "$dir/doctor.out"
        fail "the installed doctor says the hello sample would not start ($doctor_status)"
    fi
    echo "install: $failures failure(s)"
    [ "$failures" -eq 0 ]
    exit
fi

# ---------------------------------------------------------------------------
# The driver.
# ---------------------------------------------------------------------------
work=$(mktemp -d "${TMPDIR:-/tmp}/applauncher-distribution-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src" "$work/debs"
tar -xzf "$tarball" -C "$work/src" || { echo "FAIL: cannot unpack $tarball"; exit 1; }
tree=$work/src/$name-$version

casename=deb
deb_tools_missing=""
for tool in dpkg-buildpackage dh lintian dpkg-architecture; do
    command -v "$tool" >/dev/null || deb_tools_missing="$deb_tools_missing $tool"
done
if [ -n "$deb_tools_missing" ]; then
    echo "deb: not run, missing:$deb_tools_missing (Debian: dpkg-dev, debhelper, lintian)"
    not_run="$not_run deb install"
else
    # The package build works on a copy, so that the rpm case gets a clean tree.
    cp -a "$tree" "$work/deb-tree"
    echo "deb: DEB_BUILD_OPTIONS=nocheck dpkg-buildpackage -us -uc -b"
    if (cd "$work/deb-tree" &&
        DEB_BUILD_OPTIONS="nocheck${DEB_BUILD_OPTIONS:+ $DEB_BUILD_OPTIONS}" \
            dpkg-buildpackage -us -uc -b -j"$(nproc)") \
        >"$work/deb-build.log" 2>&1; then
        cp "$work"/*.deb "$work/debs/"
        ls "$work/debs"
        for package in applauncher applauncher-dev applauncher-python applauncher-jvm; do
            [ -f "$work/debs/${package}_${version}_$(dpkg --print-architecture).deb" ] ||
                fail "no $package package"
        done
        lintian --fail-on error,warning "$work"/${name}_${version}_*.changes \
            >"$work/lintian.log" 2>&1
        lintian_status=$?
        sed 's/^/    lintian: /' "$work/lintian.log" | grep -v 'running with root privileges'
        [ "$lintian_status" -eq 0 ] || fail "lintian reports errors or warnings"
    else
        grep -A 12 ': Failure$' "$work/deb-build.log" | head -n 80
        tail -n 40 "$work/deb-build.log"
        fail "dpkg-buildpackage failed"
        not_run="$not_run install"
    fi

    casename=install
    if ! echo "$not_run" | grep -q install; then
        if reason=$( (require_private_installs) 2>&1); then
            outer_ns=$(readlink /proc/self/ns/mnt)
            unshare --mount --propagation private "$0" --install "$work" "$outer_ns" "$version" \
                "$runtime_double" ||
                fail "the installed packages do not work"
        else
            echo "install: not run: ${reason#SKIPPED: }"
            not_run="$not_run install"
        fi
    fi
fi

casename=rpm
if ! command -v rpmbuild >/dev/null; then
    echo "rpm: not run, rpmbuild not found (Debian: rpm)"
    not_run="$not_run rpm"
else
    echo "rpm: rpmbuild -bb packaging/rpm/applauncher.spec"
    mkdir -p "$work/rpm-home" "$work/rpm-tmp"
    if HOME=$work/rpm-home rpmbuild -bb --nodeps --define "_topdir $work/rpmbuild" \
        --define "_sourcedir $(dirname "$tarball")" --define "_dbpath $work/rpmdb" \
        --define "_tmppath $work/rpm-tmp" "$tree/packaging/rpm/applauncher.spec" \
        >"$work/rpm-build.log" 2>&1; then
        arch=$(rpm --eval '%{_arch}')
        libexec=$(rpm --eval '%{_libexecdir}')/applauncher
        libdir=$(rpm --eval '%{_libdir}')
        for spec in "applauncher:$libexec/applauncher-doctor" \
            "applauncher:$libdir/applauncher/libapplauncher.so" \
            "applauncher-devel:$libdir/pkgconfig/applauncher.pc" \
            "applauncher-python:$libdir/applauncher/libhux_python.so" \
            "applauncher-jvm:$libdir/applauncher/libhux_jvm.so"; do
            package=${spec%%:*}
            file=${spec#*:}
            rpmfile=$work/rpmbuild/RPMS/$arch/$package-$version-1.$arch.rpm
            if [ ! -f "$rpmfile" ]; then
                fail "no $package rpm"
            elif ! rpm -qpl "$rpmfile" 2>/dev/null | grep -qx "$file"; then
                fail "$package does not hold $file"
            fi
        done
        ls "$work/rpmbuild/RPMS/$arch"
    else
        tail -n 40 "$work/rpm-build.log"
        fail "rpmbuild failed"
    fi
fi

if [ "$failures" -ne 0 ]; then
    echo "distribution packages: $failures failure(s)"
    exit 1
fi
if [ -n "$not_run" ]; then
    echo "SKIPPED: could not run:$not_run"
    exit 77
fi
echo "distribution packages: deb, install and rpm cases passed"
