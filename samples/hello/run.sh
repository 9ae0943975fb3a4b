#!/bin/sh
# Lays out a small application tree in a temporary directory and starts it:
#   hello/bin/hello                  the launcher
#   hello/lib/libapplauncher.so      an auxiliary library (the test double)
#   hello/lib/libruntime.so          a runtime library (the test double)
# No package owns it, so the launcher takes the library beside bin/. The
# runtime double records what it received, which is printed afterwards.
# Usage: samples/hello/run.sh BUILD_DIR [ARGUMENT...]
set -eu
build=$(cd "$1" && pwd)
shift
tree=$(mktemp -d /tmp/applauncher-sample-XXXXXX)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/hello/bin" "$tree/hello/lib" "$tree/records"
cp "$build/bin/applauncher" "$tree/hello/bin/hello"
cp "$build/test_doubles/libapplauncher.so" "$tree/hello/lib/libapplauncher.so"
cp "$build/test_doubles/libtest_runtime.so" "$tree/hello/lib/libruntime.so"

[ $# -gt 0 ] || set -- --greeting "Hello, world"
status=0
SORVANTA_DEBUG=true TEST_RECORDS="$tree/records" AUX_RUNTIME="$tree/hello/lib/libruntime.so" \
AUX_ENV="HELLO_MODE=sample" RT_RECORD_ENV=HELLO_MODE RT_EXIT=0 \
    "$tree/hello/bin/hello" "$@" 2>&1 || status=$?
echo "--- the runtime entry received:"
tr '\0' '\n' < "$tree/records/runtime"
echo "--- exit status: $status"
