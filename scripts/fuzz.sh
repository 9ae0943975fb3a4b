#!/bin/sh
# Builds the libFuzzer targets in fuzz/ with clang and runs each for
# SECONDS (default 20) on a copy of its seed corpus. Fails on any crash,
# leak, timeout or sanitizer report; the failing input is kept under
# build-fuzz/findings/TARGET/.
# Usage: scripts/fuzz.sh [SECONDS]
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-20}
case "$seconds" in
    '' | *[!0-9]*)
        echo "usage: $0 [SECONDS]" >&2
        exit 2
        ;;
esac
scripts/install-packages.sh cmake make clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz >/dev/null
cmake --build build-fuzz -j"$(nproc)"
work=$(mktemp -d /tmp/applauncher-fuzz-XXXXXX)
trap 'rm -rf "$work"' EXIT
status=0
for target in received_record line_reader config_parser; do
    mkdir -p "$work/$target/corpus" "$work/$target/findings"
    cp fuzz/corpus/"$target"/* "$work/$target/corpus/"
    log="$work/$target/log"
    result=0
    build-fuzz/"${target}_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/$target/findings/" \
        "$work/$target/corpus" >"$log" 2>&1 || result=$?
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    if [ "$result" -ne 0 ] || grep -q -e '^SUMMARY: ' -e 'runtime error:' "$log"; then
        status=1
        rm -rf build-fuzz/findings/"$target"
        mkdir -p build-fuzz/findings/"$target"
        cp "$work/$target/findings/"* "$log" build-fuzz/findings/"$target"/ 2>/dev/null || true
        tail -n 60 "$log"
        echo "$target: FAILED (exit $result) after ${executions:-?} executions;" \
            "input and log in build-fuzz/findings/$target/"
    else
        echo "$target: ${executions:-?} executions in ${seconds}s, no findings"
    fi
done
exit "$status"
