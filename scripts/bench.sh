#!/bin/sh
# Builds the release preset and runs every benchmark, printing each figure
# beside its target: the line reader, the record hand-off, and the
# whole-process start-up (bench/startup.sh, RUNS rounds, default 500).
# Exits 0 when every target is met, 3 when one is missed, 1 on a failure.
# Usage: scripts/bench.sh [RUNS]
set -eu
cd "$(dirname "$0")/.."
scripts/install-packages.sh cmake g++ make libbenchmark-dev libgtest-dev libpython3-dev \
    pkg-config rpm
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)" >/dev/null

echo "machine: $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -1), $(nproc) cores," \
    "$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)," \
    "$(. /etc/os-release && echo "$PRETTY_NAME"), kernel $(uname -r)"
echo "date: $(date -u '+%Y-%m-%d %H:%M UTC'); commit: $(git rev-parse --short HEAD 2>/dev/null || echo none)"

status=0
run() {
    echo
    echo "== $*"
    code=0
    "$@" || code=$?
    [ "$code" -le "$status" ] || status=$code
    [ "$code" -eq 0 ] || [ "$code" -eq 3 ] || status=1
}
run build/bin/line_reader_bench --benchmark_color=false
run build/bin/handoff_bench --benchmark_color=false
run bench/startup.sh build "${1:-500}"

echo
echo "== targets"
[ "$status" -eq 0 ] && echo "every target met" || echo "exit status $status (3: a target missed, 1: a failure)"
exit "$status"
