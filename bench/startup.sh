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
# (the samples on their runtimes: runtime_startup.sh; large dpkg
# databases: dpkg_growth.sh). Then it compares the peak resident memory of
# the launcher's process at the runtime's entry with the floor program's,
# for a small record and for an 8 MiB one, and checks that no
# libapplauncher.so is mapped there.
#
# dpkg and rpm see only private databases (startup_common.sh). Nothing
# outside the temporary directory is written.
set -eu
# shellcheck source=bench/startup_common.sh
. "$(dirname "$0")/startup_common.sh"
begin_benchmark "$@"
private_package_databases
mkdir -p "$work/records"

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
        "$(dpkg_search "$owned/bin/benchapp")" "$(dpkg_listing benchapp)"
    owned_note="dpkg $(dpkg-query --version | sed -n '1s/.* version \([^ ]*\).*/\1/p'), private administrative directory"
else
    owned_note="not run: installing the .deb needs root and dpkg-deb"
fi

echo "start-up: $(nproc) cores, $(uname -r); $rpm_note; owned road: $owned_note"
echo
status=0
clean_env "$bin/startup_bench" "$runs" "$@" || status=$?
[ "$status" -eq 0 ] || [ "$status" -eq 3 ] || exit "$status"

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
