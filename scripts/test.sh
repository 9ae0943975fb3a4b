#!/bin/sh
# Builds everything and runs every check, stopping at the first failure:
#   1. the release build's tests: unit, process, fault injection, hostile
#      input, hardening, the installed tree, the packages under the real
#      dpkg and rpm (with the load test), and the process tests under valgrind;
#   2. the same tests built with AddressSanitizer, LeakSanitizer and
#      UndefinedBehaviorSanitizer (the packaging and valgrind ones aside);
#   3. each libFuzzer target for FUZZ_SECONDS seconds (default 20);
#   4. clang-tidy and cppcheck over the sources.
set -eu
cd "$(dirname "$0")/.."
scripts/install-packages.sh cmake g++ make libgtest-dev libbenchmark-dev valgrind libpython3-dev \
    pkg-config rpm

echo "== release build and tests"
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)"
ctest --preset release -j"$(nproc)"

echo "== sanitizer build and tests"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j"$(nproc)"
ctest --preset sanitize -j"$(nproc)" -LE packaging

echo "== fuzzing"
scripts/fuzz.sh "${FUZZ_SECONDS:-20}"

echo "== static analysis"
scripts/analyze.sh
