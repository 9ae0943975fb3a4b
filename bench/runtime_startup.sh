#!/bin/sh
# The samples on their runtimes: the launcher against the runtime's own
# command running the same program. Usage: bench/runtime_startup.sh BUILD_DIR [RUNS]
#
# Installs the hello (CPython) and hello-java (JVM) samples from BUILD_DIR
# into a temporary directory (cmake --install, components hello and
# hello-java). No package owns them, so the launcher takes the fallback
# road: its package queries answer "not owned". Then, for each sample, one
# interleaved run (startup_bench) of:
#   X           the sample's launcher, bin/hello Alice (bin/hello-java Alice)
#   X_commands  the package queries it runs, alone, through popen
#   X_floor     a program that loads the sample's runtime library and calls
#               its entry with the arguments the launcher gives it
#   X_direct    the runtime's own command on the same program:
#               /usr/bin/python3.11 share/hello/hello.py Alice, or
#               $JAVA_HOME/bin/java -jar share/hello-java/hello.jar Alice
# beside the fallback road of startup.sh (fallback, fallback_commands,
# noop, floor), so that the launcher's own fallback-road share is measured
# in the same run (as the reference of the targets; its own target is
# startup.sh's). X is python (RUNS/2 rounds, default 250), java
# (RUNS/5 rounds, default 100) and rhino (RUNS/10 rounds, default 50):
# Debian's Rhino (/usr/share/java/js.jar) running a small script, from an
# application tree made here (bin/rhino, the reference library, the JVM
# runtime library, -cp js.jar org.mozilla.javascript.tools.shell.Main),
# against $JAVA_HOME/bin/java with the same class path, class and script.
#
# The JVM runtime library keeps a class data archive per application in
# the private HOME's cache: the warm-up rounds record it, and the timed
# launcher and floor runs map it. X_first is the launcher with a cache
# emptied before each start (a shell removes it, then runs the launcher),
# so that it records the archive every time: the first start's cost. The
# Java groups print, besides the figures above, the ratio of the later
# starts' median CPU time (user and system, children included: the
# package queries, the VM's compiler and collector threads) to java's,
# against the target 0.70, with the ratio of wall times beside it, and
# the first start's extra cost against java, without a target.
#
# Then a Python console script's entry point (yamllint.cli:run, Debian's
# yamllint, RUNS/5 rounds) through the CPython runtime library's entry-point
# form, against Debian's own console script /usr/bin/yamllint on the same
# file: an application tree $root/opt/yamllint (bin/yamllint the launcher,
# lib/ the reference library, the runtime library and the configuration
# "arg=--entry-point", "arg=yamllint.cli:run"), owned by no package, run as
#   yamllint           bin/yamllint -d relaxed FILE
#   yamllint_commands  its package queries
#   yamllint_floor     the floor program calling the runtime library's entry
#   yamllint_script    /usr/bin/yamllint -d relaxed FILE
# with the target: yamllint at most 5 % slower than yamllint_script. The
# file draws one warning, so that each prints the same line.
#
# Both sides do the same work: the floor and the direct command get the
# variables the sample's configuration sets (HELLO_HOME, HELLO_GREETING,
# and PYTHONDONTWRITEBYTECODE for CPython); JAVA_HOME (default
# /usr/lib/jvm/java-17-openjdk-amd64, else BENCH_JAVA_HOME) is set for
# every program of the Java run, so that the JVM runtime library loads the
# VM of the java command; the private HOME holds no user configuration for
# the samples to include. Before timing, the launcher, the floor and the
# direct command each run once and must print exactly the same.
set -eu
# shellcheck source=bench/startup_common.sh
. "$(dirname "$0")/startup_common.sh"
begin_benchmark "$@"
private_package_databases

python=/usr/bin/python3.11
java_home=${BENCH_JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
fallback=$work/fallback
app_tree "$fallback" "$build/auxlib/libapplauncher.so"
root=$work/root
mkdir -p "$root" "$work/first-home"
# The shell words that start "$0" "$@" with an empty cache: a first start.
# shellcheck disable=SC2016
first_start='rm -rf "$HOME/.cache" && exec "$0" "$@"'

# fallback_group COMMAND...: runs COMMAND with the fallback road's
# programs after its own arguments (which end in a program group).
fallback_group() {
    "$@" -- \
        fallback "$fallback/bin/benchapp" -- \
        fallback_commands "$bin/startup_commands" "$(rpm_query "$fallback/bin/benchapp")" \
        "$(dpkg_search "$fallback/bin/benchapp")" -- \
        noop "$bin/startup_commands" -- \
        floor "$bin/startup_floor" "$fallback/lib/libbench_runtime.so" "$fallback/bin/benchapp"
}

status=0
# timed ROUNDS [VARIABLE=VALUE | --ratio R | --extra E]... -- PROGRAMS...:
# one startup_bench run of the fallback group and PROGRAMS, with the
# variables set and the ratios and differences asked for; keeps its worst
# status.
timed() {
    rounds=$1
    shift
    variables=""
    figures=""
    while [ "$1" != -- ]; do
        case $1 in
        --ratio | --extra)
            figures="$figures $1 $2"
            shift
            ;;
        *) variables="$variables $1" ;;
        esac
        shift
    done
    shift
    code=0
    # shellcheck disable=SC2086
    fallback_group clean_env $variables "$bin/startup_bench" --fallback-reference $figures \
        "$rounds" "$@" || code=$?
    [ "$code" -eq 0 ] || [ "$code" -eq 3 ] || exit "$code"
    [ "$code" -eq 0 ] || status=$code
}

echo "runtimes: $(nproc) cores, $(uname -r); fallback road; $rpm_note"

hello=$root/opt/hello
if [ -f "$build/runtimes/python/libhux_python.so" ] && [ -x "$python" ]; then
    cmake --install "$build" --component hello --prefix "$root" >/dev/null
    version=$("$python" -c 'import sys; print(sys.version.split()[0])')
    printf 'Hello, Alice!\nrunning on Python %s from %s\n' "$version" "$hello" >"$work/python.expected"
    set -- HELLO_HOME="$hello" HELLO_GREETING=Hello PYTHONDONTWRITEBYTECODE=1
    expect_output python "$work/python.expected" "$hello/bin/hello" Alice
    expect_output python_floor "$work/python.expected" "$@" "$bin/startup_floor" \
        "$hello/lib/libhux_python.so" "$hello/bin/hello" "$hello/share/hello/hello.py" Alice
    expect_output python_direct "$work/python.expected" "$@" "$python" \
        "$hello/share/hello/hello.py" Alice
    echo
    echo "hello on CPython $version: the launcher, its floor and $python print the same"
    timed $((runs / 2 > 0 ? runs / 2 : 1)) -- \
        python "$hello/bin/hello" Alice -- \
        python_commands "$bin/startup_commands" "$(rpm_query "$hello/bin/hello")" \
        "$(dpkg_search "$hello/bin/hello")" -- \
        python_floor "$@" "$bin/startup_floor" "$hello/lib/libhux_python.so" "$hello/bin/hello" \
        "$hello/share/hello/hello.py" Alice -- \
        python_direct "$@" "$python" "$hello/share/hello/hello.py" Alice
else
    echo "hello on CPython: not run (no libhux_python.so in $build or no $python)"
fi

yamllint=$root/opt/yamllint
if [ -f "$build/runtimes/python/libhux_python.so" ] && [ -x /usr/bin/yamllint ]; then
    mkdir -p "$yamllint/bin" "$yamllint/lib"
    cp "$bin/applauncher" "$yamllint/bin/yamllint"
    cp "$build/auxlib/libapplauncher.so" "$build/runtimes/python/libhux_python.so" "$yamllint/lib/"
    # shellcheck disable=SC2016
    printf '%s\n' 'runtime=libhux_python.so' 'arg=$APPDIR/bin/yamllint' 'arg=--entry-point' \
        'arg=yamllint.cli:run' >"$yamllint/lib/applauncher.cfg"
    printf 'key: value\nlong: %send\n' "$(printf 'word %.0s' $(seq 1 20))" >"$work/lint.yaml"
    lint="-d relaxed $work/lint.yaml"
    clean_env /usr/bin/yamllint $lint >"$work/yamllint.expected"
    if ! grep -q 'line too long' "$work/yamllint.expected"; then
        echo "FAULT: /usr/bin/yamllint found no long line in $work/lint.yaml:"
        cat "$work/yamllint.expected"
        exit 1
    fi
    expect_output yamllint "$work/yamllint.expected" "$yamllint/bin/yamllint" $lint
    expect_output yamllint_floor "$work/yamllint.expected" "$bin/startup_floor" \
        "$yamllint/lib/libhux_python.so" "$yamllint/bin/yamllint" --entry-point yamllint.cli:run \
        $lint
    echo
    echo "yamllint $(clean_env /usr/bin/yamllint --version | sed 's/.* //'): the launcher's" \
        "entry point, its floor and /usr/bin/yamllint print the same"
    # shellcheck disable=SC2086
    timed $((runs / 5 > 0 ? runs / 5 : 1)) -- \
        yamllint "$yamllint/bin/yamllint" $lint -- \
        yamllint_commands "$bin/startup_commands" "$(rpm_query "$yamllint/bin/yamllint")" \
        "$(dpkg_search "$yamllint/bin/yamllint")" -- \
        yamllint_floor "$bin/startup_floor" "$yamllint/lib/libhux_python.so" \
        "$yamllint/bin/yamllint" --entry-point yamllint.cli:run $lint -- \
        yamllint_script /usr/bin/yamllint $lint
else
    echo "yamllint on CPython: not run (no libhux_python.so in $build or no /usr/bin/yamllint;" \
        "Debian: yamllint)"
fi

hello_java=$root/opt/hello-java
jar=$hello_java/share/hello-java/hello.jar
if [ -f "$build/runtimes/jvm/libhux_jvm.so" ] && [ -x "$java_home/bin/java" ] &&
    cmake --install "$build" --component hello-java --prefix "$root" >/dev/null 2>&1 &&
    [ -f "$jar" ]; then
    version=$(sed -n 's/^JAVA_VERSION="\(.*\)"$/\1/p' "$java_home/release")
    printf 'Hello, Alice!\nrunning on Java %s from %s\n' "$version" "$hello_java" \
        >"$work/java.expected"
    set -- HELLO_HOME="$hello_java" HELLO_GREETING=Hello
    expect_output java "$work/java.expected" JAVA_HOME="$java_home" "$hello_java/bin/hello-java" Alice
    expect_output java_floor "$work/java.expected" JAVA_HOME="$java_home" "$@" \
        "$bin/startup_floor" "$hello_java/lib/libhux_jvm.so" "$hello_java/bin/hello-java" -jar \
        "$jar" Alice
    expect_output java_first "$work/java.expected" JAVA_HOME="$java_home" "$@" \
        HOME="$work/first-home" /bin/sh -c "$first_start" "$hello_java/bin/hello-java" Alice
    expect_output java_direct "$work/java.expected" JAVA_HOME="$java_home" "$@" \
        "$java_home/bin/java" -jar "$jar" Alice
    echo
    echo "hello-java on Java $version ($java_home): the launcher, its floor and its java print the same"
    timed $((runs / 5 > 0 ? runs / 5 : 1)) JAVA_HOME="$java_home" \
        --ratio 'java/java_direct<=0.70' --extra java_first-java_direct -- \
        java "$hello_java/bin/hello-java" Alice -- \
        java_first HOME="$work/first-home" /bin/sh -c "$first_start" "$hello_java/bin/hello-java" \
        Alice -- \
        java_commands "$bin/startup_commands" "$(rpm_query "$hello_java/bin/hello-java")" \
        "$(dpkg_search "$hello_java/bin/hello-java")" -- \
        java_floor "$@" "$bin/startup_floor" "$hello_java/lib/libhux_jvm.so" \
        "$hello_java/bin/hello-java" -jar "$jar" Alice -- \
        java_direct "$@" "$java_home/bin/java" -jar "$jar" Alice
else
    echo "hello-java: not run (no libhux_jvm.so or hello.jar in $build, or no $java_home/bin/java)"
fi

rhino_jar=/usr/share/java/js.jar
rhino_main=org.mozilla.javascript.tools.shell.Main
rhino=$root/opt/rhino
if [ -f "$build/runtimes/jvm/libhux_jvm.so" ] && [ -x "$java_home/bin/java" ] &&
    [ -f "$rhino_jar" ]; then
    mkdir -p "$rhino/bin" "$rhino/lib" "$rhino/share"
    cp "$bin/applauncher" "$rhino/bin/rhino"
    cp "$build/auxlib/libapplauncher.so" "$build/runtimes/jvm/libhux_jvm.so" "$rhino/lib/"
    # shellcheck disable=SC2016
    printf '%s\n' 'runtime=libhux_jvm.so' 'arg=$APPDIR/bin/rhino' 'arg=-cp' "arg=$rhino_jar" \
        "arg=$rhino_main" >"$rhino/lib/applauncher.cfg"
    script=$rhino/share/sum.js
    printf '%s\n' 'var total = 0;' 'for (var i = 1; i <= 1000; i++) { total += i * i; }' \
        'print("sum of squares " + total + " on " + java.lang.System.getProperty("java.version"));' \
        >"$script"
    "$java_home/bin/java" -cp "$rhino_jar" "$rhino_main" "$script" >"$work/rhino.expected"
    expect_output rhino "$work/rhino.expected" JAVA_HOME="$java_home" "$rhino/bin/rhino" "$script"
    expect_output rhino_floor "$work/rhino.expected" JAVA_HOME="$java_home" "$bin/startup_floor" \
        "$rhino/lib/libhux_jvm.so" "$rhino/bin/rhino" -cp "$rhino_jar" "$rhino_main" "$script"
    expect_output rhino_first "$work/rhino.expected" JAVA_HOME="$java_home" \
        HOME="$work/first-home" /bin/sh -c "$first_start" "$rhino/bin/rhino" "$script"
    echo
    echo "Rhino $(dpkg-query -W -f '${Version}' rhino 2>/dev/null || echo '(version unknown)')" \
        "on $java_home: the launcher, its floor and java print the same"
    timed $((runs / 10 > 0 ? runs / 10 : 1)) JAVA_HOME="$java_home" \
        --ratio 'rhino/rhino_direct<=0.70' --extra rhino_first-rhino_direct -- \
        rhino "$rhino/bin/rhino" "$script" -- \
        rhino_first HOME="$work/first-home" /bin/sh -c "$first_start" "$rhino/bin/rhino" \
        "$script" -- \
        rhino_commands "$bin/startup_commands" "$(rpm_query "$rhino/bin/rhino")" \
        "$(dpkg_search "$rhino/bin/rhino")" -- \
        rhino_floor "$bin/startup_floor" "$rhino/lib/libhux_jvm.so" "$rhino/bin/rhino" -cp \
        "$rhino_jar" "$rhino_main" "$script" -- \
        rhino_direct "$java_home/bin/java" -cp "$rhino_jar" "$rhino_main" "$script"
else
    echo "rhino: not run (no libhux_jvm.so in $build, no $java_home/bin/java or no $rhino_jar:" \
        "Debian's rhino)"
fi
exit "$status"
