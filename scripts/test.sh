#!/bin/sh
# Builds everything and runs every check, stopping at the first failure:
#   1. the release build's tests: unit, process, fault injection, hostile
#      input and a hostile environment, hardening, the CPython and JVM
#      runtimes, the doctor, the installed tree, applauncher_add_application,
#      the sample packages under the real dpkg and rpm (with the load test)
#      and lintian, the project's own .deb and .rpm packages built, checked
#      and installed, applauncher-pack's refusals, trees, desktop files
#      (under their own validators) and packages (Debian's rhino and
#      yamllint packed, installed with the real dpkg and rpm, run, and
#      packed again to the same bytes), the reports to the journal, the
#      benchmarks' own checks, and the process tests under valgrind;
#   2. the launcher, the reference auxiliary library and the test doubles
#      cross-built for arm64 (scripts/arm64.sh), checked as aarch64 ELF files
#      with the record's layout checks and the hardening, and the process
#      tests run against them under qemu-aarch64;
#   3. the same tests built with AddressSanitizer, LeakSanitizer and
#      UndefinedBehaviorSanitizer (the packaging and valgrind ones aside);
#   4. each libFuzzer target for FUZZ_SECONDS seconds (default 20);
#   5. clang-tidy and cppcheck over the sources.
set -eu
cd "$(dirname "$0")/.."
scripts/install-packages.sh cmake g++ make libgtest-dev libbenchmark-dev valgrind libpython3-dev \
    pkg-config rpm python3 python3.11 python3-pip python3-setuptools python3-wheel \
    openjdk-17-jdk-headless yamllint python3-yaml python3-pathspec rhino unzip binutils \
    dpkg-dev debhelper lintian file libcap2-bin \
    desktop-file-utils appstream shared-mime-info help2man

echo "== release build and tests"
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)"
ctest --preset release -j"$(nproc)"

echo "== arm64 build and process tests under qemu-aarch64"
scripts/arm64.sh build

echo "== sanitizer build and tests"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j"$(nproc)"
ctest --preset sanitize -j"$(nproc)" -LE packaging

echo "== fuzzing"
scripts/fuzz.sh "${FUZZ_SECONDS:-20}"

echo "== static analysis"
scripts/analyze.sh
