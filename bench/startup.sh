#!/bin/sh
# Whole-process start-up benchmark. Usage: bench/startup.sh BUILD_DIR [RUNS]
#
# Builds, in a temporary directory, an application tree of the launcher,
# the reference auxiliary library and a runtime library whose entry
# returns at once, then times in one interleaved run (RUNS rounds,
# default 500):
#   fallback           the launcher of a tree no package owns
#   fallback_commands  the commands it runs there, alone, through popen
#   owned              the launcher of the same tree installed from a .deb
#                      with the real dpkg, in a private administrative
#                      directory (root only)
#   owned_commands     the commands it runs there, alone
#   noop               the commands program with no command: a program start
#   floor              a program that loads the runtime library and calls
#                      its entry: no fork, no queries
# and then, in a second run of RUNS/2 rounds, the same for the hello sample
# on CPython: python, python_commands, python_floor.
# Then it compares the peak resident memory of the launcher's process at
# the runtime's entry with the floor program's, for a small record and for
# an 8 MiB one, and checks that no libapplauncher.so is mapped there.
#
# dpkg and rpm see only private databases: DPKG_ADMINDIR names a private
# administrative directory, and a private HOME's .rpmmacros a private rpm
# database. Nothing outside the temporary directory is written.
set -eu
build=$(cd "$1" && pwd)
runs=${2:-500}
bin=$build/bin
work=$(mktemp -d /tmp/applauncher-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT

# app_tree DIR AUXLIB: bin/benchapp, lib/libapplauncher.so, its
# configuration and the benchmark's runtime library.
app_tree() {
    mkdir -p "$1/bin" "$1/lib"
    cp "$bin/applauncher" "$1/bin/benchapp"
    cp "$2" "$1/lib/libapplauncher.so"
    cp "$build/bench/libbench_runtime.so" "$1/lib/"
    printf '%s\n' 'runtime=libbench_runtime.so' 'arg=$APPDIR/bin/benchapp' \
        'env=BENCH_APP=$APPDIR' >"$1/lib/applauncher.cfg"
}

rpm_query() { echo "rpm --queryformat '%{NAME}' -qf '$1' 2>/dev/null"; }
dpkg_search() { echo "dpkg -S '$1' 2>/dev/null"; }

mkdir -p "$work/home" "$work/dpkg/info" "$work/dpkg/updates" "$work/dpkg/triggers" "$work/records"
: >"$work/dpkg/status"
: >"$work/dpkg/available"
if command -v rpm >/dev/null; then
    printf '%%_dbpath %s\n' "$work/rpmdb" >"$work/home/.rpmmacros"
    HOME=$work/home rpm --dbpath "$work/rpmdb" --initdb
    rpm_note="rpm $(rpm --version | sed 's/.* //'), private empty database"
else
    rpm_note="no rpm on PATH: the shell reports it missing"
fi

fallback=$work/fallback
app_tree "$fallback" "$build/auxlib/libapplauncher.so"
set -- \
    fallback "$fallback/bin/benchapp" -- \
    fallback_commands "$bin/startup_commands" "$(rpm_query "$fallback/bin/benchapp")" \
    "$(dpkg_search "$fallback/bin/benchapp")" -- \
    noop "$bin/startup_commands" -- \
    floor "$bin/startup_floor" "$fallback/lib/libbench_runtime.so" "$fallback/bin/benchapp"

# The same tree as the benchapp package, installed where its paths say.
owned=$work/owned
if [ "$(id -u)" = 0 ] && command -v dpkg-deb >/dev/null; then
    stage=$work/stage
    app_tree "$stage$owned" "$build/auxlib/libapplauncher.so"
    mkdir -p "$stage/DEBIAN"
    printf '%s\n' 'Package: benchapp' 'Version: 1.0' 'Architecture: amd64' \
        'Maintainer: applauncher benchmark <bench@localhost>' \
        'Description: start-up benchmark application' >"$stage/DEBIAN/control"
    dpkg-deb --build --root-owner-group "$stage" "$work/benchapp.deb" >/dev/null
    dpkg --admindir="$work/dpkg" --log=/dev/null -i "$work/benchapp.deb" >/dev/null
    set -- "$@" -- \
        owned "$owned/bin/benchapp" -- \
        owned_commands "$bin/startup_commands" "$(rpm_query "$owned/bin/benchapp")" \
        "$(dpkg_search "$owned/bin/benchapp")" "dpkg -L 'benchapp' 2>/dev/null"
    owned_note="dpkg $(dpkg-query --version | sed -n '1s/.* version \([^ ]*\).*/\1/p'), private administrative directory"
else
    owned_note="not run: installing the .deb needs root and dpkg-deb"
fi

clean_env() {
    env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME="$work/home" \
        DPKG_ADMINDIR="$work/dpkg" "$@"
}

echo "start-up: $(nproc) cores, $(uname -r); $rpm_note; owned road: $owned_note"
echo
status=0
clean_env "$bin/startup_bench" "$runs" "$@" || status=$?
[ "$status" -le 3 ] || exit "$status"

hello=$work/hello-root/opt/hello
if [ -f "$build/runtimes/python/libhux_python.so" ]; then
    cmake --install "$build" --component hello --prefix "$work/hello-root" >/dev/null
    echo
    set -- \
        python "$hello/bin/hello" Alice -- \
        python_commands "$bin/startup_commands" "$(rpm_query "$hello/bin/hello")" \
        "$(dpkg_search "$hello/bin/hello")" -- \
        python_floor "$bin/startup_floor" "$hello/lib/libhux_python.so" "$hello/bin/hello" \
        "$hello/share/hello/hello.py" Alice -- \
        noop "$bin/startup_commands"
    clean_env "$bin/startup_bench" $((runs / 2)) "$@" || exit $?
fi

# Peak resident memory at the runtime's entry, median of 11 runs each.
# probe_median FILE FIELD
probe_median() {
    sed -n "s/.*$2=\([0-9-]*\).*/\1/p" "$1" | sort -n | sed -n 6p
}
probe() { # probe NAME [VARIABLE=VALUE...] COMMAND...: 11 runs, lines in $work/NAME.probe
    name=$1
    shift
    for _ in 1 2 3 4 5 6 7 8 9 10 11; do
        clean_env BENCH_PROBE="$work/$name.probe" "$@" >/dev/null 2>&1 || true
    done
}
huge=$work/huge
app_tree "$huge" "$build/test_doubles/libapplauncher.so"
probe launcher "$fallback/bin/benchapp"
probe huge AUX_MODE=huge AUX_RUNTIME="$fallback/lib/libbench_runtime.so" \
    TEST_RECORDS="$work/records" "$huge/bin/benchapp"
probe floor "$bin/startup_floor" "$fallback/lib/libbench_runtime.so" "$fallback/bin/benchapp"

echo
echo "peak resident memory at the runtime's entry (VmHWM, median of 11 runs):"
floor_kb=$(probe_median "$work/floor.probe" hwm_kb)
echo "  floor program                 $floor_kb kB"
for name in launcher huge; do
    hwm=$(probe_median "$work/$name.probe" hwm_kb)
    record=$(probe_median "$work/$name.probe" record_bytes_at_least)
    record_kb=$(((record + 1023) / 1024))
    limit=$((floor_kb + record_kb + 1024))
    label="launcher, $record_kb kB record"
    printf '  %-29s %s kB (%+d kB over the floor)\n' "$label" "$hwm" $((hwm - floor_kb))
    verdict=met
    [ "$hwm" -le "$limit" ] || verdict=MISSED
    printf 'TARGET %-58s %7s kB (<= %s kB = floor + record + 1024): %s\n' \
        "parent peak RSS at entry, $label" "$hwm" "$limit" "$verdict"
    [ "$verdict" = met ] || status=3
    # Every probe line must say the auxiliary library was not mapped.
    if grep -qv 'aux_mapped=0 ' "$work/$name.probe"; then
        echo "FAULT: libapplauncher.so mapped (or maps unreadable) in the launcher's process"
        grep -v 'aux_mapped=0 ' "$work/$name.probe" | sed 's/^/    /'
        exit 1
    fi
    echo "       libapplauncher.so mapped at the entry: in none of $(wc -l <"$work/$name.probe") runs"
done
exit "$status"
