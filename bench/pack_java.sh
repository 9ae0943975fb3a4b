#!/bin/sh
# applauncher-pack's bundled Java runtime: what it costs and what it gives.
# Usage: bench/pack_java.sh BUILD_DIR [ROUNDS]
#
# For three applications, hello (needs java.base alone), desk (java.awt:
# java.desktop) and Debian's rhino (/usr/share/java/js.jar), built here
# with the JDK's javac and jar:
#   pack      the wall time of applauncher-pack making the app-image with
#             the system's Java and with --java-runtime bundled
#   size      of the bundled runtime (lib/runtime), of its class data
#             sharing archive (lib/NAME.jsa) and of the app-image .tar.gz
#   starts    the app-image unpacked in another directory: its first start
#             there, and the system JDK's `java -jar` first start on the
#             same jar (one run each, after nothing else ran them); then
#             ROUNDS (default 20) interleaved rounds (startup_bench) of
#               NAME          bin/NAME of the unpacked tree
#               NAME_noshare  the same with the archive off
#                             (JDK_JAVA_OPTIONS=-Xshare:off)
#               NAME_runtime  the bundled runtime's own java with the
#                             archive, -jar on the same jar, no launcher
#               NAME_java     java -jar on the same jar, the system JDK
#             each run once before timing; all must print the same.
#   pack times  one pack of each kind (Java on the system's Java, Java
#             with a bundled runtime of java.base, Python) into each output
#             (app-image, deb, rpm), PACK_ROUNDS (default 3) interleaved
#             rounds, the median per pair (no target: a figure to watch)
# Every program runs as startup_common.sh's clean_env runs it: nothing of
# the caller's environment, dpkg and rpm with private empty databases, so
# that the launcher's package queries cost what they cost on a machine
# with few packages and the figures are the runtime's.
# Target: the bundled runtime with its archive starts the jar no slower
# than the system JDK's java -jar (medians), within 5%, the spread between
# equal programs in one run: bundling costs no start-up time. NAME against NAME_runtime is the launcher's part (its package
# queries and the hand-off, startup.sh's figures), which any launch pays.
# Exits 0 when every target is met, 3 when one is missed, 1 when
# something fails.
# Needs the release build's applauncher-pack, applauncher, reference
# library, JVM runtime library and startup_bench in BUILD_DIR.
set -eu
# shellcheck source=bench/startup_common.sh
. "$(dirname "$0")/startup_common.sh"
begin_benchmark "$1" "${2:-20}"
private_package_databases
rounds=$runs
unset JAVA_HOME JDK_JAVA_OPTIONS JAVA_TOOL_OPTIONS _JAVA_OPTIONS CLASSPATH
java=$(readlink -f "$(command -v java)")

mkdir "$work/files"
for file in "$bin/applauncher" "$build/auxlib/libapplauncher.so" \
    "$build/runtimes/jvm/libhux_jvm.so"; do
    [ -f "$file" ] || {
        echo "no $file: build the release preset first" >&2
        exit 1
    }
    ln -s "$file" "$work/files/"
done
APPLAUNCHER_PACK_FILES=$work/files
export APPLAUNCHER_PACK_FILES

# Milliseconds since the epoch.
now() { echo $(($(date +%s%N) / 1000000)); }

# kib PATH: its size on disk in KiB.
kib() { du -sk "$1" | cut -f1; }

# The applications: $work/in/NAME/NAME.jar, main class in the manifest.
mkdir -p "$work/src/hello" "$work/src/desk" "$work/in/hello" "$work/in/desk" "$work/in/rhino"
cat >"$work/src/hello/Hello.java" <<'EOF'
public class Hello {
    public static void main(String[] args) {
        System.out.println("Hello, " + String.join(" ", args) + "!");
    }
}
EOF
cat >"$work/src/desk/Desk.java" <<'EOF'
public class Desk {
    public static void main(String[] args) {
        System.out.println("distance " + new java.awt.geom.Point2D.Double(0, 0).distance(3, 4));
    }
}
EOF
for name in hello desk; do
    class=$(ls "$work/src/$name")
    javac -d "$work/classes/$name" "$work/src/$name/$class"
    jar --create --file "$work/in/$name/$name.jar" --main-class "${class%.java}" \
        -C "$work/classes/$name" .
done
cp -L /usr/share/java/js.jar "$work/in/rhino/rhino.jar"

status=0
echo "pack: $(nproc) cores, $(uname -r), load $(cut -d' ' -f1-3 /proc/loadavg); $rpm_note; Java $("$java" -version 2>&1 | sed -n 's/.*version "\(.*\)".*/\1/p') ($java)"
for name in hello desk rhino; do
    case $name in
    rhino) set -- -e "print('six times seven is ' + 6 * 7)" ;;
    *) set -- Alice ;;
    esac
    out=$work/out/$name
    mkdir -p "$out/system" "$out/bundled" "$work/moved/$name"
    common="--name $name --app-version 1.0 --input $work/in/$name --main-jar $name.jar"
    start=$(now)
    # shellcheck disable=SC2086
    "$bin/applauncher-pack" $common --dest "$out/system" >/dev/null
    system_pack=$(($(now) - start))
    start=$(now)
    # shellcheck disable=SC2086
    "$bin/applauncher-pack" $common --java-runtime bundled --dest "$out/bundled" >"$work/said"
    bundled_pack=$(($(now) - start))
    tree=$out/bundled/$name-1.0
    archive=$out/bundled/$name-1.0-$(uname -m).tar.gz
    tar -xzf "$archive" -C "$work/moved/$name"
    moved=$work/moved/$name/$name-1.0
    jar=$moved/share/$name/$name.jar

    start=$(now)
    clean_env "$moved/bin/$name" "$@" >"$work/first.out"
    first=$(($(now) - start))
    start=$(now)
    clean_env "$java" -jar "$jar" "$@" >"$work/java-first.out"
    java_first=$(($(now) - start))
    cmp -s "$work/first.out" "$work/java-first.out" || {
        echo "$name: the bundled app-image and java -jar print different things" >&2
        exit 1
    }

    echo
    echo "$name: modules $(sed -n 's/^MODULES="\(.*\)"$/\1/p' "$tree/lib/runtime/release")"
    sed -n 's/.*class data sharing archive [^:]*: /  archive holds: /p' "$work/said"
    printf '  pack, system Java          %8d ms\n' "$system_pack"
    printf '  pack, bundled runtime      %8d ms\n' "$bundled_pack"
    printf '  lib/runtime                %8d KiB\n' "$(kib "$tree/lib/runtime")"
    printf '  lib/%s.jsa %*s%8d KiB\n' "$name" $((14 - ${#name})) "" "$(kib "$tree/lib/$name.jsa")"
    printf '  app-image .tar.gz          %8d KiB\n' "$(kib "$archive")"
    printf '  first start, bundled       %8d ms\n' "$first"
    printf '  first start, java -jar     %8d ms\n' "$java_first"
    clean_env "$bin/startup_bench" "$rounds" \
        "$name" "$moved/bin/$name" "$@" -- \
        "${name}_noshare" JDK_JAVA_OPTIONS=-Xshare:off "$moved/bin/$name" "$@" -- \
        "${name}_runtime" "$moved/lib/runtime/bin/java" \
        "-XX:SharedArchiveFile=$moved/lib/$name.jsa" -jar "$jar" "$@" -- \
        "${name}_java" "$java" -jar "$jar" "$@" >"$work/timed" || {
        echo "$name: startup_bench failed" >&2
        exit 1
    }
    sed 's/^/  /' "$work/timed"
    bundled=$(awk -v n="${name}_runtime" '$1 == n { print $2 }' "$work/timed")
    direct=$(awk -v n="${name}_java" '$1 == n { print $2 }' "$work/timed")
    limit=$(awk -v b="$direct" 'BEGIN { printf "%.1f", b * 1.05 }')
    if awk -v a="$bundled" -v b="$limit" 'BEGIN { exit !(a <= b) }'; then
        verdict=met
    else
        verdict=MISSED
        status=3
    fi
    printf 'TARGET %-40s %9s ms (<= %s ms, java -jar %s ms + 5%%): %s\n' \
        "$name bundled runtime start" "$bundled" "$limit" "$direct" "$verdict"
done

# The time of one pack of each kind into each output alone: PACK_ROUNDS
# (default 3) rounds, each packing every pair once in turn, the median per
# pair. Kinds: Java on the system's Java (the rhino jar), Java with a
# bundled runtime of java.base (hello), Python (Debian's yamllint package
# directory when it is there, else a one-line script).
if [ -f "$build/runtimes/python/libhux_python.so" ]; then
    ln -s "$build/runtimes/python/libhux_python.so" "$work/files/"
    mkdir -p "$work/in/python"
    if [ -d /usr/lib/python3/dist-packages/yamllint ]; then
        (cd /usr/lib/python3/dist-packages && tar -cf - --exclude=__pycache__ yamllint) |
            tar -xf - -C "$work/in/python"
        python_main="--entry-point yamllint.cli:run"
    else
        echo 'print("hello")' >"$work/in/python/hello.py"
        python_main="--script hello.py"
    fi
    kinds="java-system java-bundled python"
else
    kinds="java-system java-bundled"
fi
# kind_options KIND: the pack's options for KIND.
kind_options() {
    case $1 in
    java-system) echo "--input $work/in/rhino --main-jar rhino.jar" ;;
    java-bundled) echo "--input $work/in/hello --main-jar hello.jar --java-runtime bundled --java-modules java.base" ;;
    python) echo "--input $work/in/python $python_main" ;;
    esac
}
echo
echo "pack times, median of ${PACK_ROUNDS:-3} interleaved rounds (load $(cut -d' ' -f1-3 /proc/loadavg)):"
: >"$work/pack-times"
round=0
while [ "$round" -lt "${PACK_ROUNDS:-3}" ]; do
    for kind in $kinds; do
        for type in app-image deb rpm; do
            out=$work/kinds/$kind-$type-$round
            mkdir -p "$out"
            start=$(now)
            # shellcheck disable=SC2046
            "$bin/applauncher-pack" --name "pack-$kind" --app-version 1.0 --type "$type" \
                --dest "$out" --summary "benchmark application" --description "Is packed." \
                --maintainer "Bench <bench@example.org>" --license GPL-3.0-or-later \
                $(kind_options "$kind") >"$out.log" 2>&1 || {
                cat "$out.log" >&2
                exit 1
            }
            echo "$kind $type $(($(now) - start))" >>"$work/pack-times"
            rm -rf "$out"
        done
    done
    round=$((round + 1))
done
for kind in $kinds; do
    for type in app-image deb rpm; do
        awk -v k="$kind" -v t="$type" '$1 == k && $2 == t { print $3 }' "$work/pack-times" |
            sort -n | awk -v k="$kind" -v t="$type" '{ v[NR] = $1 }
                END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
                      printf "  pack %-13s %-10s %8d ms\n", k, t, m }'
    done
done
exit "$status"
