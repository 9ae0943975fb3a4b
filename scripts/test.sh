#!/bin/sh
# Builds the launcher with its tests and test doubles and runs every test:
# unit tests, process tests, and the process tests again under valgrind.
set -eu
cd "$(dirname "$0")/.."
scripts/install-packages.sh cmake g++ make libgtest-dev valgrind
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure --no-tests=error -j"$(nproc)"
