#!/bin/sh
# Runs the process tests with every launcher process (parent and child)
# under valgrind, then fails on any memory error, any leaked block and any
# descriptor other than the standard ones left open at exit.
# Usage: under_valgrind.sh VALGRIND PROCESS_TEST_BINARY [GTEST_FILTER]
set -u
valgrind=$1
tests=$2
logs=$(mktemp -d /tmp/applauncher-valgrind-XXXXXX)
trap 'rm -rf "$logs"' EXIT

# The runtime library stays loaded until the process ends (RTLD_NODELETE),
# so the loader's own records of it are still in use at exit; those alone
# are let pass. Every other block still in use at exit counts as an error.
cat >"$logs/loader.supp" <<'EOF'
{
   loader records of a library kept loaded to the end
   Memcheck:Leak
   match-leak-kinds: reachable
   ...
   fun:_dl_open
}
EOF

# The commands the child runs through the shell are not traced. The tests
# whose child leaves on purpose in the middle of the frame are left out.
APPLAUNCHER_TEST_WRAPPER="$valgrind --trace-children=yes --error-exitcode=1 \
--trace-children-skip=*/sh,*/rpm,*/dpkg --leak-check=full --show-leak-kinds=all \
--errors-for-leak-kinds=all --suppressions=$logs/loader.supp \
--track-fds=yes --log-file=$logs/vg.%p.log"
export APPLAUNCHER_TEST_WRAPPER
"$tests" --gtest_filter="${3:--*CutShort*}" || exit 1

failed=0
traced=0
for log in "$logs"/vg.*.log; do
    # A fork that went on to run the shell has no summary of its own.
    grep -q 'ERROR SUMMARY' "$log" || continue
    traced=$((traced + 1))
    if ! grep -q 'ERROR SUMMARY: 0 errors' "$log" ||
       grep 'Open file descriptor' "$log" | grep -v "$logs/vg\." | grep -q .; then
        echo "valgrind found a fault:"
        cat "$log"
        failed=1
    fi
done
echo "valgrind: $traced launcher processes traced, $( [ $failed = 0 ] && echo clean || echo FAULTS)"
[ "$traced" -gt 0 ] && [ "$failed" = 0 ]
