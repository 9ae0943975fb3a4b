#!/bin/sh
# Builds the release preset and runs every benchmark, printing each figure
# beside its target: the line reader, the record hand-off, the
# whole-process start-up (bench/startup.sh, RUNS rounds, default 500), the
# samples on CPython and on the JVM against python3.11 and java, a Python
# entry point against Debian's console script of it (yamllint)
# (bench/runtime_startup.sh) and the dpkg-owned start against package
# databases of 100, 1,000 and 5,000 packages (bench/dpkg_growth.sh).
# Exits 0 when every target is met, 3 when one is missed, 1 on a failure.
# BENCH_BUILD_DIR names another build directory for the same release
# configuration (default: the preset's build/).
# Usage: scripts/bench.sh [RUNS]
set -eu
cd "$(dirname "$0")/.."
scripts/install-packages.sh cmake g++ make libbenchmark-dev libgtest-dev libpython3-dev \
    pkg-config rpm openjdk-17-jdk-headless rhino python3.11-minimal yamllint dpkg-dev file
if [ -n "${BENCH_BUILD_DIR:-}" ]; then
    build=$BENCH_BUILD_DIR
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
else
    build=build
    cmake --preset release >/dev/null
fi
cmake --build "$build" -j"$(nproc)" >/dev/null
# The sample packages, for the hello .deb of the growth benchmark (which
# builds a stand-in without one).
cmake --build "$build" --target package >/dev/null 2>&1 ||
    echo "note: the sample packages were not made (cmake --build $build --target package)"

echo "machine: $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -1), $(nproc) cores," \
    "$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)," \
    "$(. /etc/os-release && echo "$PRETTY_NAME"), kernel $(uname -r)"
changes=""
[ -z "$(git status --porcelain 2>/dev/null)" ] || changes=" with uncommitted changes"
echo "date: $(date -u '+%Y-%m-%d %H:%M UTC'); commit: $(git rev-parse --short HEAD 2>/dev/null || echo none)$changes;" \
    "load average before: $(cut -d ' ' -f 1-3 /proc/loadavg)"

status=0
run() {
    echo
    echo "== $*"
    code=0
    "$@" || code=$?
    if [ "$code" -ne 0 ] && [ "$code" -ne 3 ]; then
        status=1
    elif [ "$code" -eq 3 ] && [ "$status" -eq 0 ]; then
        status=3
    fi
}
runs=${1:-500}
run "$build/bin/line_reader_bench" --benchmark_color=false
run "$build/bin/handoff_bench" --benchmark_color=false
run bench/startup.sh "$build" "$runs"
run bench/runtime_startup.sh "$build" "$runs"
run bench/dpkg_growth.sh "$build" "$runs"

echo
echo "== targets"
[ "$status" -eq 0 ] && echo "every target met" || echo "exit status $status (3: a target missed, 1: a failure)"
exit "$status"
