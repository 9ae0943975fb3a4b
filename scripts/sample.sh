#!/bin/sh
# Builds the launcher and runs it on the bundled sample application tree,
# with the debug trace on.
set -eu
cd "$(dirname "$0")/.."
scripts/install-packages.sh cmake g++ make
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target applauncher test_aux test_runtime >/dev/null
samples/hello/run.sh build "$@"
