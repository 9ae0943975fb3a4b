# Sourced by the tests that install packages with the machine's real dpkg
# and rpm and then run the installed launcher (real_package_managers.sh,
# outside_project_test.sh).
#
# Nothing touches the machine's package databases, its /opt or its /usr:
# every case runs in a private mount namespace of its own (the test script
# again, under unshare --mount) in which /opt is a fresh tmpfs and /usr an
# overlay whose writes land in a tmpfs of the case's; dpkg works in a
# private administrative directory (DPKG_ADMINDIR) and logs to /dev/null,
# rpm in a private database named by the %_dbpath of a private HOME's
# .rpmmacros (and by --dbpath on the test's own rpm commands).

readonly sbin_path=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
PATH=$sbin_path
export PATH

skip() {
    echo "SKIPPED: $*"
    exit 77
}

failures=0
casename=setup

fail() {
    echo "FAIL [$casename]: $*"
    failures=$((failures + 1))
}

# Exits 77 with the reason unless this process may make the private
# namespaces and installs: root, unshare, mount, dpkg, and both mounts
# working in a private mount namespace.
require_private_installs() {
    [ "$(id -u)" = 0 ] || skip "needs root for private mount namespaces and installs"
    for tool in unshare mount dpkg dpkg-deb dpkg-query; do
        command -v "$tool" >/dev/null || skip "$tool not found"
    done
    probe_dir=$(mktemp -d "${TMPDIR:-/tmp}/applauncher-probe-XXXXXX")
    probe=$(unshare --mount --propagation private /bin/sh -c '
        mount -t tmpfs none /opt &&
        mount -t tmpfs none "$1" && mkdir "$1/upper" "$1/work" &&
        mount -t overlay overlay -o "lowerdir=/usr,upperdir=$1/upper,workdir=$1/work" /usr
    ' sh "$probe_dir" 2>&1)
    probe_status=$?
    rmdir "$probe_dir"
    [ "$probe_status" -eq 0 ] ||
        skip "cannot mount a tmpfs on /opt and an overlay on /usr in a private mount namespace: $probe"
}

# Runs case NAME of this test script in a private mount namespace of its
# own, as "$script --case NAME $work $outer_ns ARGUMENT..." (the caller's
# variables), and says "PASS NAME<NOTE>" or, counting a failure, the
# status it ended with: run_private_case NAME NOTE [ARGUMENT...].
# shellcheck disable=SC2154
run_private_case() {
    name=$1
    note=$2
    shift 2
    unshare --mount --propagation private /bin/sh "$script" --case "$name" "$work" \
        "$outer_ns" "$@"
    result=$?
    if [ "$result" -eq 0 ]; then
        echo "PASS $name$note"
    else
        echo "FAIL [$name]: the case ended with status $result"
        failures=$((failures + 1))
    fi
}

# Ends the test: status 1 counting the failures when a case failed, else
# 77 with REASON when one is given (some cases could not run), else 0:
# finish_cases [REASON].
finish_cases() {
    if [ "$failures" -gt 0 ]; then
        echo "$failures failed"
        exit 1
    fi
    [ -z "${1:-}" ] || skip "$1"
    echo "all cases passed"
    exit 0
}

# Starts case NAME in WORK: sets casename, dir (WORK/NAME), home, dpkgdb,
# rpmdb; refuses unless this is a mount namespace other than OUTER_NS; then
# mounts a fresh tmpfs on /opt and the overlay on /usr, and makes an empty
# dpkg database. Returns 1 (after fail) when any of it does not hold.
begin_case() {
    casename=$1
    dir=$2/$casename
    home=$dir/home
    dpkgdb=$dir/dpkg
    rpmdb=$dir/rpmdb
    mkdir -p "$dir/tmp" "$home" "$dir/usr-overlay"

    if [ "$(readlink /proc/self/ns/mnt)" = "$3" ]; then
        fail "not in a private mount namespace"
        return 1
    fi
    mount -t tmpfs -o mode=0755 none /opt || {
        fail "cannot mount a tmpfs on /opt"
        return 1
    }
    if [ "$(stat -f -c %T /opt)" != tmpfs ] || [ -n "$(ls -A /opt)" ]; then
        fail "/opt is not an empty tmpfs"
        return 1
    fi
    overlay=$dir/usr-overlay
    mount -t tmpfs -o mode=0700 none "$overlay" && mkdir "$overlay/upper" "$overlay/work" &&
        mount -t overlay overlay \
            -o "lowerdir=/usr,upperdir=$overlay/upper,workdir=$overlay/work" /usr || {
        fail "cannot mount an overlay on /usr"
        return 1
    }
    if [ "$(stat -f -c %T /usr)" != overlayfs ]; then
        fail "/usr is not an overlay"
        return 1
    fi
    mkdir -p "$dpkgdb/info" "$dpkgdb/updates" "$dpkgdb/triggers"
    : >"$dpkgdb/status"
    : >"$dpkgdb/available"
}

private_dpkg() {
    dpkg --admindir="$dpkgdb" --log=/dev/null "$@"
}

# Installs DEB into the private database. That database knows none of the
# machine's packages, so the package's Depends (installed on this machine)
# cannot be met there: --force-depends, for that package alone.
private_deb_install() {
    private_dpkg --force-depends -i "$1" >"$dir/dpkg-install.log" 2>&1 || {
        cat "$dir/dpkg-install.log"
        fail "dpkg -i $(basename "$1") failed"
        return 1
    }
}

# A private rpm database, empty, named by HOME's .rpmmacros for the launcher's
# rpm; the test's own rpm commands name it with --dbpath as well.
init_rpm_db() {
    printf '%%_dbpath %s\n%%_tmppath %s\n' "$rpmdb" "$dir/tmp" >"$home/.rpmmacros"
    HOME=$home rpm --dbpath "$rpmdb" --initdb
}

private_rpm() {
    HOME=$home rpm --dbpath "$rpmdb" "$@"
}

# Debian's rpm refuses to install without --force-debian. The private
# database knows none of the machine's packages, so a package's
# requirements (libc, libpython3.11) cannot be met there: --nodeps.
private_rpm_install() {
    private_rpm -i --force-debian --nodeps "$1"
}

# The package managers the launcher finds on its PATH ($tools): dpkg
# always, rpm when the argument is with-rpm.
make_tools() {
    tools=$dir/tools
    mkdir -p "$tools"
    ln -s "$(command -v dpkg)" "$tools/dpkg"
    ln -s "$(command -v dpkg-query)" "$tools/dpkg-query"
    if [ "$1" = with-rpm ]; then
        ln -s "$(command -v rpm)" "$tools/rpm"
    fi
}

# Runs an installed launcher and shows what it printed: run_launcher NAME
# EXE [ARGUMENT...]. Its standard output lands in $dir/NAME.out, its
# standard error in $dir/NAME.err, its exit status in $status and its
# process id in $parent. The environment holds only the debug switch, the
# private databases and a PATH of $tools.
run_launcher() {
    run=$1
    shift
    env -i PATH="$tools" HOME="$home" DPKG_ADMINDIR="$dpkgdb" SORVANTA_DEBUG=true \
        "$@" >"$dir/$run.out" 2>"$dir/$run.err" &
    parent=$!
    wait "$parent"
    status=$?
    show_run "$run"
}

# Messages of the debug lines in $dir/RUN.err written by the launcher's
# child (which: child) or by the launcher itself (which: parent).
messages() {
    awk -v parent="$parent" -v which="$2" '
        /^\[[0-9]+\]: / {
            close_at = index($0, "]: ")
            pid = substr($0, 2, close_at - 2)
            if ((pid == parent) == (which == "parent")) print substr($0, close_at + 3)
        }' "$dir/$1.err"
}

# Shows what a run printed.
show_run() {
    echo "--- [$casename] $1: exit status $status; standard output:"
    sed 's/^/    /' "$dir/$1.out"
    echo "--- standard error:"
    sed 's/^/    /' "$dir/$1.err"
}

# expect_child RUN EXPECTED_FILE: the child's lines about finding the
# library (popen: and owner pkg:) are exactly these. The lines the
# auxiliary library writes there itself are not compared.
expect_child() {
    messages "$1" child | grep -E '^(popen|owner pkg): ' >"$dir/$1.child"
    if ! diff -u "$2" "$dir/$1.child" >"$dir/$1.diff"; then
        fail "$1: the child's debug lines differ from the expected (- expected, + seen):"
        cat "$dir/$1.diff"
    fi
}

# expect_status RUN N
expect_status() {
    if [ "$status" -ne "$2" ]; then
        fail "$1: exit status $status, expected $2"
    fi
}

# expect_runtime RUN LIBRARY: the launcher loaded this runtime library.
expect_runtime() {
    if ! messages "$1" parent | grep -Fqx "hux lib: [$2]"; then
        fail "$1: no \"hux lib: [$2]\" line from the launcher"
    fi
}

# Expected debug lines of one command: query_lines COMMAND STATUS [LINE...]
query_lines() {
    command=$1
    exit_status=$2
    shift 2
    echo "popen: ($command)"
    for line in "$@"; do
        echo "popen: [$line]"
    done
    echo "popen: exit: $exit_status"
}

# Expected debug lines of a package listing: the lines of LISTING_FILE up
# to and including the first that ends in /libapplauncher.so (all of them
# when none does), then the wait status 0.
listing_lines() {
    echo "popen: ($1)"
    awk '$0 != "" { print "popen: [" $0 "]" } /\/libapplauncher\.so$/ { exit }' "$2"
    echo "popen: exit: 0"
}

rpm_query() {
    echo "rpm --queryformat '%{NAME}' -qf '$1' 2>/dev/null"
}

dpkg_search() {
    echo "dpkg -S '$1' 2>/dev/null"
}

# The debug lines of the child when dpkg alone (no rpm on PATH) owns EXE
# in package PACKAGE, whose listing is in LISTING_FILE.
dpkg_owned_lines() {
    query_lines "$(rpm_query "$1")" 32512
    query_lines "$(dpkg_search "$1")" 0 "$2: $1"
    echo "owner pkg: ($2|2)"
    listing_lines "dpkg -L '$2' 2>/dev/null" "$3"
}

# Installs package NAME of /opt/NAME with MANAGER (deb: DIR/NAME.deb, dpkg
# alone on the launcher's PATH; rpm: DIR/NAME.rpm, rpm and dpkg there),
# writes its file list to $dir/listing and the child's lines for
# /opt/NAME/bin/NAME to $dir/expected, and counts a failure unless the
# list holds /opt/NAME/lib/libapplauncher.so. Ends the case when the
# install fails: install_owned MANAGER NAME DIR
install_owned() {
    owned_exe=/opt/$2/bin/$2
    if [ "$1" = deb ]; then
        make_tools without-rpm
        private_deb_install "$3/$2.deb" || exit 1
        private_dpkg -L "$2" >"$dir/listing" || fail "dpkg -L $2 failed"
        dpkg_owned_lines "$owned_exe" "$2" "$dir/listing" >"$dir/expected"
    else
        make_tools with-rpm
        init_rpm_db
        private_rpm_install "$3/$2.rpm" || {
            fail "rpm -i $2.rpm failed"
            exit 1
        }
        private_rpm -ql "$2" >"$dir/listing" || fail "rpm -ql $2 failed"
        {
            query_lines "$(rpm_query "$owned_exe")" 0 "$2"
            echo "owner pkg: ($2|1)"
            listing_lines "rpm -ql '$2' 2>/dev/null" "$dir/listing"
        } >"$dir/expected"
    fi
    grep -qx "/opt/$2/lib/libapplauncher.so" "$dir/listing" ||
        fail "the $1 package does not list /opt/$2/lib/libapplauncher.so"
}
