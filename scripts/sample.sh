#!/bin/sh
# Builds everything (the launcher, the reference auxiliary library, the
# CPython runtime library and, where GoogleTest is installed, the tests),
# installs the hello sample application into a temporary directory and runs
# it with the given arguments (default: Alice).
# SORVANTA_DEBUG=true in the environment turns the launcher's trace on.
set -eu
cd "$(dirname "$0")/.."
scripts/install-packages.sh cmake g++ make pkg-config libpython3-dev python3.11
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
samples/hello/run.sh build "$@"
