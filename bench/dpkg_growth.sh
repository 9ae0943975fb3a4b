#!/bin/sh
# How the start of a dpkg-owned application grows with the package
# database. Usage: bench/dpkg_growth.sh BUILD_DIR [RUNS] [COUNT...]
#
# For each COUNT (default 100 1000 5000) it writes a private dpkg
# administrative directory of COUNT installed packages modelled on this
# machine's own (synthetic_dpkg.sh, which only reads /var/lib/dpkg),
# installs the hello sample's .deb into it with the real dpkg, and times in
# one interleaved run (startup_bench):
#   owned           /opt/hello/bin/hello Alice, which finds its library
#                   through dpkg -S and dpkg -L
#   owned_commands  the package queries it runs, alone, through popen
#   owned_floor     a program that loads /opt/hello/lib/libhux_python.so and
#                   calls its entry with the arguments the launcher gives it
#                   and the variables the configuration sets
#   noop            a program start
# RUNS (default 500) sets the rounds: RUNS/5 for small databases, fewer as
# they grow (RUNS * 300 / (COUNT + 1000)), at least 2. rpm is on PATH with
# a private empty database, as on the owned road of startup.sh.
#
# The .deb is the one the build's `package` target made
# (BUILD_DIR/hello-*-ARCH.deb) when it is newer than the build's launcher,
# else a stand-in built on the spot from the hello install component (the
# same files under /opt/hello). It installs under /opt and /usr, so all of
# this runs in a private mount namespace (this script again, under
# unshare --mount) in which /opt is a fresh tmpfs and /usr an overlay whose
# writes land in the temporary directory; the machine's own database, /opt
# and /usr are never written. Needs root, unshare, mount, dpkg, dpkg-deb
# and those mounts in a private mount namespace: without them it says so
# and exits 0.
set -eu
here=$(cd "$(dirname "$0")" && pwd)

# ---------------------------------------------------------------------------
# Inside the private mount namespace:
# --inside BUILD WORK RUNS DEB OUTER_MOUNT_NAMESPACE COUNT...
# ---------------------------------------------------------------------------
if [ "${1:-}" = --inside ]; then
    build=$2
    work=$3
    runs=$4
    deb=$5
    outer_ns=$6
    shift 6
    bin=$build/bin
    # shellcheck source=bench/startup_common.sh
    . "$here/startup_common.sh"
    private_package_databases
    if [ "$(readlink /proc/self/ns/mnt)" = "$outer_ns" ]; then
        echo "FAULT: not in a private mount namespace"
        exit 1
    fi
    overlay=$work/usr-overlay
    mkdir -p "$overlay"
    mount -t tmpfs -o mode=0755 none /opt
    mount -t tmpfs -o mode=0700 none "$overlay"
    mkdir "$overlay/upper" "$overlay/work"
    mount -t overlay overlay -o "lowerdir=/usr,upperdir=$overlay/upper,workdir=$overlay/work" /usr
    if [ "$(stat -f -c %T /opt)" != tmpfs ] || [ "$(stat -f -c %T /usr)" != overlayfs ]; then
        echo "FAULT: /opt is not a tmpfs or /usr not an overlay"
        exit 1
    fi

    hello=/opt/hello
    version=$(/usr/bin/python3.11 -c 'import sys; print(sys.version.split()[0])')
    printf 'Hello, Alice!\nrunning on Python %s from %s\n' "$version" "$hello" >"$work/expected"
    variables="HELLO_HOME=$hello HELLO_GREETING=Hello PYTHONDONTWRITEBYTECODE=1"
    status=0
    for count in "$@"; do
        dpkg_admindir=$work/db-$count
        echo
        echo "== $count packages: $("$here/synthetic_dpkg.sh" "$dpkg_admindir" "$count")"
        dpkg --admindir="$dpkg_admindir" --log=/dev/null --force-depends -i "$deb" \
            >"$work/install-$count.log" 2>&1 || {
            cat "$work/install-$count.log"
            echo "FAULT: dpkg -i $(basename "$deb") into $count packages failed"
            exit 1
        }
        installed=$(DPKG_ADMINDIR=$dpkg_admindir dpkg-query -W -f='${Status}\n' |
            grep -c 'install ok installed' || true)
        owner=$(DPKG_ADMINDIR=$dpkg_admindir dpkg -S "$hello/bin/hello" 2>&1 || true)
        if [ "$installed" -ne $((count + 1)) ] || [ "$owner" != "hello: $hello/bin/hello" ]; then
            echo "FAULT: $installed packages installed (not $((count + 1))); dpkg -S says: $owner"
            exit 1
        fi
        # shellcheck disable=SC2086
        expect_output "owned-$count" "$work/expected" "$hello/bin/hello" Alice
        # shellcheck disable=SC2086
        expect_output "owned-floor-$count" "$work/expected" $variables "$bin/startup_floor" \
            "$hello/lib/libhux_python.so" "$hello/bin/hello" "$hello/share/hello/hello.py" Alice
        rounds=$((runs * 300 / (count + 1000)))
        [ "$rounds" -le $((runs / 5)) ] || rounds=$((runs / 5))
        [ "$rounds" -ge 2 ] || rounds=2
        code=0
        # shellcheck disable=SC2086
        clean_env "$bin/startup_bench" "$rounds" \
            owned "$hello/bin/hello" Alice -- \
            owned_commands "$bin/startup_commands" "$(rpm_query "$hello/bin/hello")" \
            "$(dpkg_search "$hello/bin/hello")" "$(dpkg_listing hello)" -- \
            owned_floor $variables "$bin/startup_floor" "$hello/lib/libhux_python.so" \
            "$hello/bin/hello" "$hello/share/hello/hello.py" Alice -- \
            noop "$bin/startup_commands" >"$work/run-$count" || code=$?
        cat "$work/run-$count"
        [ "$code" -eq 0 ] || [ "$code" -eq 3 ] || exit "$code"
        [ "$code" -eq 0 ] || status=$code
        lines=$(cat "$dpkg_admindir"/info/*.list | wc -l)
        awk -v count="$count" -v lines="$lines" '
            $1 == "owned" && NF == 5 { launcher = $2; low = $3; high = $4 }
            $1 == "owned_commands" && NF == 5 { commands = $2 }
            $1 == "noop" && NF == 5 { start = $2 }
            $1 == "owned" && $3 == "ms" { share = $2; paired = 1; next }
            paired && /round by round/ { median = $7; p25 = $10 + 0; p75 = $12 + 0; paired = 0 }
            /^program/ { rounds = $7 }
            END {
                printf "%8d %10d %9.2f %17s %9.2f %9.2f %8.2f %8.2f %17s %6d\n", count, lines,
                    launcher, sprintf("%.2f-%.2f", low, high), commands, commands - start,
                    share, median, sprintf("%.2f-%.2f", p25, p75), rounds
            }' "$work/run-$count" >>"$work/summary"
        rm -rf "$dpkg_admindir"
    done
    exit "$status"
fi

# ---------------------------------------------------------------------------
# Outside: checks, the .deb, the namespace, the summary.
# ---------------------------------------------------------------------------
[ $# -ge 1 ] || {
    echo "usage: $0 BUILD_DIR [RUNS] [COUNT...]" >&2
    exit 2
}
build=$(cd "$1" && pwd)
runs=${2:-500}
shift
[ $# -eq 0 ] || shift
[ $# -gt 0 ] || set -- 100 1000 5000
bin=$build/bin

not_run() {
    echo "package database growth: not run: $*"
    exit 0
}
[ "$(id -u)" = 0 ] || not_run "needs root for a private mount namespace and dpkg -i"
for tool in unshare mount dpkg dpkg-deb dpkg-query; do
    command -v "$tool" >/dev/null || not_run "$tool not found"
done
if [ ! -f "$build/runtimes/python/libhux_python.so" ] || [ ! -x /usr/bin/python3.11 ]; then
    not_run "no libhux_python.so in $build or no /usr/bin/python3.11"
fi
case "$build" in
/opt | /opt/* | /usr | /usr/*) not_run "the build directory $build is hidden by the private /opt and /usr" ;;
esac

work=$(mktemp -d /tmp/applauncher-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM PIPE
mkdir "$work/probe"
# shellcheck disable=SC2016
probe=$(unshare --mount --propagation private /bin/sh -c '
    mount -t tmpfs none /opt && mount -t tmpfs none "$1" && mkdir "$1/upper" "$1/work" &&
    mount -t overlay overlay -o "lowerdir=/usr,upperdir=$1/upper,workdir=$1/work" /usr
' sh "$work/probe" 2>&1) ||
    not_run "cannot mount a tmpfs on /opt and an overlay on /usr in a private mount namespace: $probe"

arch=$(dpkg --print-architecture)
deb=""
for candidate in "$build"/hello-[0-9]*-"$arch".deb; do
    if [ -f "$candidate" ] && [ -z "$(find "$bin/applauncher" "$build/auxlib/libapplauncher.so" \
        "$build/runtimes/python/libhux_python.so" -newer "$candidate")" ]; then
        deb=$candidate
        deb_note="the build's package $(basename "$candidate")"
    fi
done
if [ -z "$deb" ]; then
    stage=$work/stage
    cmake --install "$build" --component hello --prefix "$stage" >/dev/null
    mkdir -p "$stage/DEBIAN"
    printf '%s\n' 'Package: hello' 'Version: 0.0-bench' "Architecture: $arch" \
        'Maintainer: applauncher benchmark <bench@localhost>' \
        'Description: stand-in for the hello sample package' >"$stage/DEBIAN/control"
    deb=$work/hello-stand-in.deb
    dpkg-deb --build --root-owner-group "$stage" "$deb" >/dev/null
    deb_note="a stand-in of the hello component (no current package in $build)"
fi

echo "package database growth: $(nproc) cores, $(uname -r);" \
    "dpkg $(dpkg-query --version | sed -n '1s/.* version \([^ ]*\).*/\1/p'); $deb_note;" \
    "models: $(find /var/lib/dpkg/info -maxdepth 1 -name '*.list' | wc -l) packages of /var/lib/dpkg"
status=0
unshare --mount --propagation private /bin/sh "$here/dpkg_growth.sh" --inside "$build" "$work" \
    "$runs" "$deb" "$(readlink /proc/self/ns/mnt)" "$@" || status=$?
[ "$status" -eq 0 ] || [ "$status" -eq 3 ] || exit "$status"

echo
echo "the dpkg-owned hello start against the package database (ms; no target): the launcher's"
echo "median, its commands' median and less a program start, the launcher's own share from the"
echo "medians and round by round"
printf '%8s %10s %9s %17s %9s %9s %8s %8s %17s %6s\n' packages "list lines" launcher \
    "(p25-p75)" commands "- start" share "by round" "(p25-p75)" rounds
cat "$work/summary"
exit "$status"
