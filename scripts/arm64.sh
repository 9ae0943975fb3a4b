#!/bin/sh
# Builds the launcher, the reference auxiliary library, the test doubles and
# the fault injection builds for arm64 (aarch64) Linux with Debian's cross
# tools into build-arm64/ (cmake/aarch64-linux-gnu.cmake), then checks them:
#   - each built file is a 64-bit little-endian AArch64 ELF file, and the
#     launcher needs libc alone;
#   - the record layout checks of launcher/kivlauncher_api.h hold for
#     aarch64 in C and C++, and refuse 32-bit pointers and big-endian;
#   - the hardening checks of tests/hardening_check.sh;
#   - the host's process tests (those that need no real runtime), built in
#     HOST_BUILD_DIR (default build, the release preset), run against the
#     arm64 files with every launcher under qemu-aarch64 user emulation.
# Prints one summary line; exits 1 when any check fails.
# Usage: scripts/arm64.sh [HOST_BUILD_DIR]
set -eu
cd "$(dirname "$0")/.."
started=$(date +%s)
host=${1:-build}
cross=build-arm64
sysroot=/usr/aarch64-linux-gnu
tests="launcher_process_test hostile_input_test process_faults_test reference_aux_test
alloc_failure_test"

scripts/install-packages.sh cmake g++ make libgtest-dev crossbuild-essential-arm64 qemu-user

echo "== host test programs ($host)"
[ -f "$host/CMakeCache.txt" ] ||
    cmake -S . -B "$host" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
# shellcheck disable=SC2086
cmake --build "$host" -j"$(nproc)" --target $tests exec_with >/dev/null

echo "== arm64 build ($cross)"
cmake -S . -B "$cross" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/aarch64-linux-gnu.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DAPPLAUNCHER_CORE_ONLY=ON >/dev/null
cmake --build "$cross" -j"$(nproc)" >/dev/null

failures=""
fail() {
    echo "FAIL: $*"
    failures="$failures
$*"
}

echo "== ELF headers"
launcher=$cross/bin/applauncher
files="$launcher $cross/bin/applauncher_alloc_failure $cross/bin/exec_with
$cross/auxlib/libapplauncher.so $cross/test_doubles/libapplauncher.so
$cross/test_doubles/libtest_aux_no_create.so $cross/test_doubles/libtest_runtime.so
$cross/test_doubles/libtest_no_exports.so $cross/fault_injection/libinterrupting_io.so"
elf_count=0
for file in $files; do
    header=$(readelf -hW "$file" 2>&1) || {
        fail "$file: not an ELF file"
        continue
    }
    class=$(printf '%s\n' "$header" | sed -n 's/^ *Class: *//p')
    data=$(printf '%s\n' "$header" | sed -n 's/^ *Data: *//p')
    machine=$(printf '%s\n' "$header" | sed -n 's/^ *Machine: *//p')
    if [ "$class" = ELF64 ] && [ "$machine" = AArch64 ] &&
        [ "$data" = "2's complement, little endian" ]; then
        echo "ok: $file: $class, $machine, $data"
        elf_count=$((elf_count + 1))
    else
        fail "$file: $class, $machine, $data (expected ELF64, AArch64, little endian)"
    fi
done
# Besides libc, the launcher may name its own program interpreter: on aarch64
# the stack protector's guard (__stack_chk_guard) is the dynamic loader's.
needed=$(readelf -dW "$launcher" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
loader=$(readelf -lW "$launcher" | sed -n 's#.*program interpreter: .*/\([^/]*\)\]#\1#p')
listed=$(printf '%s\n' "$needed" | tr '\n' ' ')
if printf '%s\n' "$needed" | grep -qx libc.so.6 &&
    ! printf '%s\n' "$needed" | grep -qvx -e libc.so.6 -e "$loader"; then
    echo "ok: $launcher needs: $listed(libc and its program interpreter alone)"
else
    fail "$launcher needs: $listed(expected libc.so.6 and $loader alone)"
fi

echo "== record layout checks"
header=launcher/kivlauncher_api.h
for language in "gcc -std=c11 -x c" "g++ -std=c++17 -x c++"; do
    # shellcheck disable=SC2086
    set -- $language
    if aarch64-linux-gnu-"$1" "$2" -fsyntax-only -Wall -Wextra -Wpedantic -Werror "$3" "$4" \
        "$header"; then
        echo "ok: $header compiles for aarch64 with aarch64-linux-gnu-$1"
    else
        fail "$header does not compile for aarch64 with aarch64-linux-gnu-$1"
    fi
done
# The same checks must refuse a layout the record cannot have.
for option in -mabi=ilp32 -mbig-endian; do
    if refusal=$(aarch64-linux-gnu-gcc -std=c11 -ffreestanding "$option" -fsyntax-only -x c \
        "$header" 2>&1); then
        fail "$header compiles with $option, where the record's layout cannot hold"
    else
        echo "ok: $option refused: $(printf '%s\n' "$refusal" |
            sed -n 's/.*static assertion failed: //p' | head -1)"
    fi
done

echo "== hardening"
tests/hardening_check.sh --fortify=yes "$launcher" "$cross" >"$cross/hardening.log" 2>&1 ||
    fail "hardening checks (see $cross/hardening.log): $(grep '^FAIL' "$cross/hardening.log" |
        tr '\n' ' ')"
tail -n 1 "$cross/hardening.log"

echo "== process tests under qemu-aarch64"
qemu=$(command -v qemu-aarch64)
APPLAUNCHER_TEST_EMULATOR="$qemu -L $sysroot"
APPLAUNCHER_TEST_LAUNCHER_BINARY=$PWD/$launcher
APPLAUNCHER_TEST_ALLOC_FAILURE_LAUNCHER=$PWD/$cross/bin/applauncher_alloc_failure
APPLAUNCHER_TEST_AUX_LIBRARY=$PWD/$cross/test_doubles/libapplauncher.so
APPLAUNCHER_TEST_AUX_NO_CREATE_LIBRARY=$PWD/$cross/test_doubles/libtest_aux_no_create.so
APPLAUNCHER_TEST_RUNTIME_LIBRARY=$PWD/$cross/test_doubles/libtest_runtime.so
APPLAUNCHER_TEST_NO_EXPORTS_LIBRARY=$PWD/$cross/test_doubles/libtest_no_exports.so
APPLAUNCHER_TEST_DATA_ENTRY_LIBRARY=$PWD/$cross/test_doubles/libtest_data_entry.so
APPLAUNCHER_TEST_REFERENCE_AUX_LIBRARY=$PWD/$cross/auxlib/libapplauncher.so
APPLAUNCHER_TEST_INTERRUPTING_IO_LIBRARY=$PWD/$cross/fault_injection/libinterrupting_io.so
export APPLAUNCHER_TEST_EMULATOR APPLAUNCHER_TEST_LAUNCHER_BINARY \
    APPLAUNCHER_TEST_ALLOC_FAILURE_LAUNCHER APPLAUNCHER_TEST_AUX_LIBRARY \
    APPLAUNCHER_TEST_AUX_NO_CREATE_LIBRARY APPLAUNCHER_TEST_RUNTIME_LIBRARY \
    APPLAUNCHER_TEST_NO_EXPORTS_LIBRARY APPLAUNCHER_TEST_DATA_ENTRY_LIBRARY \
    APPLAUNCHER_TEST_REFERENCE_AUX_LIBRARY \
    APPLAUNCHER_TEST_INTERRUPTING_IO_LIBRARY
unset APPLAUNCHER_TEST_WRAPPER
mkdir -p "$cross/test-logs"
# The count on one of gtest's closing lines in $log: "[  PASSED  ] N tests."
count() {
    sed -n "s/^\[  $1 *\] \([0-9]*\) tests*[,.].*/\1/p" "$log" | tail -n 1
}
passed=0
skipped=0
failed=0
for test in $tests; do
    log=$cross/test-logs/$test.log
    status=0
    timeout 600 "$host/bin/$test" --gtest_color=no >"$log" 2>&1 || status=$?
    test_passed=$(count PASSED)
    test_skipped=$(count SKIPPED)
    test_failed=$(count FAILED)
    passed=$((passed + ${test_passed:-0}))
    skipped=$((skipped + ${test_skipped:-0}))
    failed=$((failed + ${test_failed:-0}))
    echo "$test: ${test_passed:-0} passed, ${test_skipped:-0} skipped, ${test_failed:-0} failed" \
        "(exit $status; log $log)"
    # Each skipped test with its reason, the line after gtest's "Skipped".
    awk '/: Skipped$/ { getline reason; pending = reason }
         /^\[  SKIPPED \] .*\(/ { print "  skipped " $4 ": " pending }' "$log"
    if [ "$status" -ne 0 ] || [ -z "$test_passed" ]; then
        grep '^\[  FAILED  \] .*(' "$log" || tail -n 20 "$log"
        fail "$test under qemu-aarch64 (exit $status)"
    fi
done

seconds=$(($(date +%s) - started))
if [ -n "$failures" ]; then
    echo "arm64: FAILED in ${seconds}s:$failures"
    exit 1
fi
echo "arm64: passed in ${seconds}s: $elf_count AArch64 ELF files, record layout checks hold" \
    "(32-bit pointers and big-endian refused), hardening checks passed;" \
    "$passed process tests passed, $skipped skipped, $failed failed under qemu-aarch64"
