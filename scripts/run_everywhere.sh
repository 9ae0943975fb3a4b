#!/bin/sh
# Runs the release suite (ctest) of a built tree under each condition this
# machine can create, as a developer may run the test command:
#   chroot               in a chroot of the machine's own root: its top-level
#                        directories bind-mounted into a plain directory,
#                        with /proc and /dev, so that the chroot's root is
#                        not a mount point (unshare cannot change its
#                        propagation there);
#   no-sys-admin         without CAP_SYS_ADMIN (setpriv), as in a container:
#                        unshare --mount is refused;
#   chroot-no-sys-admin  both at once: neither a mount namespace nor a user
#                        namespace can be had;
#   unprivileged         as the user nobody, with a copy of the build tree of
#                        its own at the tree's path and a HOME of its own.
# Each condition runs in mount and process namespaces of its own (its mounts
# go with them) and under a time limit; it is first confirmed by trying what
# it must refuse. Prints one line per condition (passed or failed, the test
# counts, each skipped test with its reason, each failed test), or says that
# the machine cannot create it. Full output: BUILD_DIR/Testing/everywhere/.
# Exits 1 when a condition failed, 2 when none could be created, else 0.
# Needs root, to create the conditions. Arguments after BUILD_DIR go to ctest
# (e.g. -R Python to run some tests alone).
# Usage: scripts/run_everywhere.sh [BUILD_DIR [CTEST_ARGUMENT...]]   (default: build)
set -u
PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export PATH
script=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
conditions="chroot no-sys-admin chroot-no-sys-admin unprivileged"
user=nobody

# ---------------------------------------------------------------------------
# Inside the condition's namespaces:
#   --inside CONDITION WORK BUILD SOURCE [CTEST_ARGUMENT...]
# Writes WORK/CONDITION.condition (what was confirmed, or "not created:
# REASON"), WORK/CONDITION.out (ctest's output) and WORK/CONDITION.status.
# ---------------------------------------------------------------------------

# Runs a command that the condition must refuse; sets $answer to what it
# said. Succeeds when it was refused.
refused() {
    answer=$("$@" 2>&1 </dev/null)
    status=$?
    answer=$(printf '%s' "$answer" | tr '\n' ' ')
    [ "$status" -ne 0 ]
}

# Builds the chroot at $root: every top-level directory of / bound on its
# own (so / itself is no mount point in it), the top-level symbolic links,
# a fresh /proc, /dev, and the build and source trees wherever they are.
make_chroot() {
    mkdir "$root" || return 1
    for entry in /*; do
        name=${entry#/}
        case "$name" in
        proc | sys | dev | lost+found) continue ;;
        esac
        if [ -L "$entry" ]; then
            ln -s "$(readlink "$entry")" "$root/$name" || return 1
        elif [ -d "$entry" ]; then
            mkdir "$root/$name" && mount --bind "$entry" "$root/$name" || return 1
        fi
    done
    mkdir "$root/proc" "$root/dev" "$root/sys" &&
        mount -t proc proc "$root/proc" &&
        mount --rbind /dev "$root/dev" || return 1
    for tree in "$build" "$source"; do
        [ -e "$root$tree/CMakeLists.txt" ] || [ -e "$root$tree/CMakeCache.txt" ] ||
            { mkdir -p "$root$tree" && mount --bind "$tree" "$root$tree"; } || return 1
    done
    ! mountpoint -q "$root"
}

# Runs a command under the condition $condition.
in_condition() {
    case "$condition" in
    chroot) chroot "$root" "$@" ;;
    chroot-no-sys-admin)
        chroot "$root" setpriv --inh-caps=-sys_admin --bounding-set=-sys_admin "$@"
        ;;
    no-sys-admin) setpriv --inh-caps=-sys_admin --bounding-set=-sys_admin "$@" ;;
    unprivileged)
        setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups \
            env HOME="$work/home" USER="$user" LOGNAME="$user" "$@"
        ;;
    esac
}

# Sets up the condition and confirms it by what it refuses; prints what was
# confirmed, or "not created: REASON".
create_condition() {
    case "$condition" in
    chroot*)
        make_chroot || {
            echo "not created: cannot build a chroot of bind mounts at $root"
            return
        }
        ;;
    unprivileged)
        mount --bind "$work/build" "$build" || {
            echo "not created: cannot bind the copy of the build tree at $build"
            return
        }
        ;;
    esac
    case "$condition" in
    chroot)
        if refused in_condition unshare --mount --propagation private /bin/true; then
            echo "root not a mount point: unshare --propagation private: $answer"
        else
            echo "not created: unshare --propagation private works in the chroot"
        fi
        ;;
    no-sys-admin | chroot-no-sys-admin)
        if ! refused in_condition unshare --mount /bin/true; then
            echo "not created: unshare --mount works without CAP_SYS_ADMIN"
            return
        fi
        plain=$answer
        if [ "$condition" = no-sys-admin ]; then
            echo "unshare --mount: $plain"
        elif refused in_condition unshare --user --map-root-user --mount /bin/true; then
            echo "unshare --mount: $plain; unshare --user: $answer"
        else
            echo "not created: a user namespace can be had in the chroot"
        fi
        ;;
    unprivileged)
        # shellcheck disable=SC2016
        seen=$(in_condition sh -c \
            'echo "uid $(id -u), capabilities $(sed -n "s/^CapEff:[[:space:]]*//p" /proc/self/status)"')
        if [ "$seen" = "uid $(id -u "$user"), capabilities 0000000000000000" ]; then
            echo "$seen ($user, owning its copy of the build tree)"
        else
            echo "not created: as $user: $seen"
        fi
        ;;
    esac
}

inside() {
    condition=$1
    work=$2
    build=$3
    source=$4
    shift 4
    root=$work/root-$condition
    create_condition >"$work/$condition.condition"
    grep -q '^not created: ' "$work/$condition.condition" && return
    in_condition ctest --test-dir "$build" -j"$(nproc)" --timeout 900 --output-on-failure "$@" \
        >"$work/$condition.out" 2>&1 </dev/null
    echo $? >"$work/$condition.status"
}

if [ "${1:-}" = --inside ]; then
    shift
    inside "$@"
    exit 0
fi

# ---------------------------------------------------------------------------
# Outside: create each condition, run it, report.
# ---------------------------------------------------------------------------

build=$(cd "${1:-$(dirname "$script")/../build}" 2>/dev/null && pwd) || {
    echo "no build tree at ${1:-build}: build it first (cmake --preset release && cmake --build --preset release)" >&2
    exit 2
}
[ $# -eq 0 ] || shift
if [ ! -f "$build/CTestTestfile.cmake" ]; then
    echo "$build has no tests (configure it with -DBUILD_TESTING=ON)" >&2
    exit 2
fi
source=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build/CMakeCache.txt")

# Why none of the conditions can be created here, or nothing.
cannot=""
[ "$(id -u)" = 0 ] || cannot="needs root"
for tool in unshare setpriv chroot mount mountpoint ctest; do
    [ -n "$cannot" ] || command -v "$tool" >/dev/null || cannot="$tool not found"
done
if [ -z "$cannot" ] && refused unshare --mount --pid --fork /bin/true; then
    cannot="no mount and process namespaces for the conditions: $answer"
fi
if [ -n "$cannot" ]; then
    for condition in $conditions; do
        echo "$condition: cannot be created on this machine: $cannot"
    done
    exit 2
fi

work=$(mktemp -d /tmp/applauncher-everywhere-XXXXXX)
# Every mount lives in a condition's own namespaces, invisible here, so the
# removal never reaches into a bound directory.
trap 'rm -rf --one-file-system "$work"' EXIT
trap 'exit 1' HUP INT TERM
chmod 755 "$work"
logs=$build/Testing/everywhere
mkdir -p "$logs"

# Prints each skipped test of a LastTest.log with its reason: the line after
# gtest's "Skipped", or a shell test's "SKIPPED: " line.
skip_reasons() {
    awk -v names="$2" '
        BEGIN { split(names, list, " "); for (i in list) wanted[list[i]] = 1 }
        /^[0-9]+\/[0-9]+ Test: / { name = $3; reason = ""; next }
        /: Skipped$/ { getline line; reason = line; next }
        /^SKIPPED: / && reason == "" { reason = substr($0, 10); next }
        /^<end of output>$/ && (name in wanted) {
            print "    skipped " name ": " (reason == "" ? "(no reason given)" : reason)
            delete wanted[name]
        }' "$1"
}

failed_conditions=0
created=0
for condition in $conditions; do
    started=$(date +%s)
    if [ "$condition" = unprivileged ]; then
        if ! id -u "$user" >/dev/null 2>&1; then
            echo "$condition: cannot be created on this machine: no user $user"
            continue
        fi
        if ! { cp -a "$build" "$work/build" && mkdir "$work/home" &&
            chown -R "$user:$(id -g "$user")" "$work/build" "$work/home"; }; then
            echo "$condition: cannot be created on this machine: cannot copy the build tree"
            continue
        fi
    fi
    timeout 3600 unshare --mount --propagation private --pid --fork --kill-child --mount-proc \
        /bin/sh "$script" --inside "$condition" "$work" "$build" "$source" "$@"
    seconds=$(($(date +%s) - started))
    what=$(cat "$work/$condition.condition" 2>/dev/null || echo "not created: setup ended early")
    case "$what" in
    "not created: "*)
        echo "$condition: cannot be created on this machine: ${what#not created: }"
        continue
        ;;
    esac
    created=$((created + 1))
    out=$work/$condition.out
    cp "$out" "$logs/$condition.log"
    last=$build/Testing/Temporary/LastTest.log
    [ "$condition" = unprivileged ] && last=$work/build/Testing/Temporary/LastTest.log
    cp "$last" "$logs/$condition.LastTest.log" 2>/dev/null
    status=$(cat "$work/$condition.status" 2>/dev/null || echo "none (killed after the time limit)")
    total=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$out" | tail -n 1)
    failed=$(sed -n 's/.*, \([0-9]*\) tests failed out of .*/\1/p' "$out" | tail -n 1)
    skipped_names=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$out" | tr '\n' ' ')
    skipped=$(printf '%s' "$skipped_names" | wc -w)
    total=${total:-0}
    failed=${failed:-0}
    if [ "$status" = 0 ] && [ "$total" -gt 0 ]; then
        result=passed
    else
        result=FAILED
        failed_conditions=$((failed_conditions + 1))
    fi
    echo "$condition: $result: $((total - failed - skipped)) passed, $failed failed," \
        "$skipped skipped of $total tests in ${seconds}s (ctest exit $status; $what)"
    if [ "$skipped" -gt 0 ]; then
        skip_reasons "$logs/$condition.LastTest.log" "$skipped_names"
    fi
    sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (\([^)]*\))$/    failed \1 (\2)/p' "$out" |
        grep -v -e ' (Skipped)$' -e ' (Disabled)$'
    [ "$result" = passed ] || echo "    output: $logs/$condition.log"
    rm -rf "${work:?}/build" "${work:?}/home"
done

if [ "$failed_conditions" -gt 0 ]; then
    exit 1
fi
[ "$created" -gt 0 ] || exit 2
exit 0
