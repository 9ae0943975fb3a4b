#!/bin/sh
# Usage: pack_java_test.sh PACK LAUNCHER AUX_LIBRARY JVM_RUNTIME
# applauncher-pack (PACK) ships Java applications, with the launcher, the
# reference library and the JVM runtime library of the build tree
# (APPLAUNCHER_PACK_FILES), from jars compiled here with the JDK's javac
# and from Debian's rhino jar:
#   system     the main jar runs on the system's Java as `java -jar` runs it;
#              a jar without Main-Class runs with --main-class
#   bundled    app-images with a runtime of their own, unpacked elsewhere and
#              started in a private mount namespace where /usr/lib/jvm is an
#              empty tmpfs, with -Xshare:on (the VM refuses to start when it
#              cannot map the archive) and the class loading log: they print
#              what `java -jar` prints, classes come from the archive, and
#              the runtime holds only the modules needed (java.base for a
#              program that needs only it, java.desktop pulled in by
#              java.awt, --java-modules obeyed, what rhino needs); and,
#              when the machine has another JDK from 17 on with jlink,
#              the same from that JDK (JAVA_HOME): with a Java that maps
#              the application's classes from a moved tree, they come
#              from the archive
#   refused    a jar without Main-Class, a module jdeps cannot resolve, a
#              version the JDK does not fit, a module the JDK lacks, a
#              JAVA_HOME without jlink, --java-modules without a bundled
#              runtime: status 1, one line naming the input, nothing left in
#              --dest
# Exits 77 with the reason without javac, jar, jlink or unzip. The bundled
# runs need root and private mounts; without them the other cases run and
# the script exits 77 naming what it could not run, unless a case failed.
set -u
PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export PATH
unset JAVA_HOME JDK_JAVA_OPTIONS JAVA_TOOL_OPTIONS _JAVA_OPTIONS CLASSPATH

skip() {
    echo "SKIPPED: $*"
    exit 77
}

[ $# -eq 4 ] || {
    echo "usage: $0 PACK LAUNCHER AUX_LIBRARY JVM_RUNTIME" >&2
    exit 2
}
pack=$(readlink -f "$1")
for tool in javac jar java unzip; do
    command -v "$tool" >/dev/null || skip "$tool not found (Debian: openjdk-17-jdk-headless, unzip)"
done
jdk=$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")
[ -x "$jdk/bin/jlink" ] && [ -x "$jdk/bin/jdeps" ] || skip "no jlink and jdeps in $jdk"

failures=0
casename=setup
unrun=""
fail() {
    echo "FAIL [$casename]: $*"
    failures=$((failures + 1))
}

# begin NAME: a case starts. passed [WORDS]: it ends, "PASS NAME WORDS"
# when it failed nowhere.
begin() {
    casename=$1
    failures_before=$failures
}
passed() {
    [ "$failures" -ne "$failures_before" ] || echo "PASS $casename${1:+: $1}"
}

work=$(mktemp -d "${TMPDIR:-/tmp}/applauncher-pack-java-XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM
mkdir "$work/files"
ln -s "$(readlink -f "$2")" "$work/files/applauncher"
ln -s "$(readlink -f "$3")" "$work/files/libapplauncher.so"
ln -s "$(readlink -f "$4")" "$work/files/libhux_jvm.so"
APPLAUNCHER_PACK_FILES=$work/files
export APPLAUNCHER_PACK_FILES

# A sanitizer build's launcher hosts the VM only when the VM handles its
# own signals.
vm_sanitizer_options=${ASAN_OPTIONS:+$ASAN_OPTIONS:detect_leaks=0:handle_segv=0:handle_sigbus=0:handle_sigfpe=0:allow_user_segv_handler=1}

# Whether this process may start programs in a private mount namespace
# with a tmpfs over /usr/lib/jvm.
can_hide_jdks=no
if [ "$(id -u)" = 0 ] && command -v unshare >/dev/null &&
    unshare --mount --propagation private /bin/sh -c 'mount -t tmpfs none /usr/lib/jvm' \
        2>/dev/null; then
    can_hide_jdks=yes
fi

# --- the applications -------------------------------------------------------

# compile NAME MAIN_CLASS_OR_EMPTY SOURCE...: $work/jars/NAME.jar
compile() {
    name=$1
    main=$2
    shift 2
    mkdir -p "$work/classes/$name" "$work/jars"
    javac -d "$work/classes/$name" "$@" >"$work/javac.log" 2>&1 || {
        cat "$work/javac.log"
        fail "javac $name failed"
        exit 1
    }
    if [ -n "$main" ]; then
        jar --create --file "$work/jars/$name.jar" --main-class "$main" -C "$work/classes/$name" .
    else
        jar --create --file "$work/jars/$name.jar" -C "$work/classes/$name" .
    fi
}

src=$work/src
mkdir -p "$src/hello/greeting" "$src/desk/shapes" "$src/plain/plain" "$src/modular/app" \
    "$src/missing/org/missing"
cat >"$src/hello/greeting/Hello.java" <<'EOF'
package greeting;

public class Hello {
    public static void main(String[] args) {
        System.out.println("Hello, " + String.join(" and ", args) + "!");
        System.out.println(args.length + " arguments");
    }
}
EOF
cat >"$src/desk/shapes/Distance.java" <<'EOF'
package shapes;

import java.awt.geom.Point2D;

public class Distance {
    public static void main(String[] args) {
        System.out.println("distance " + new Point2D.Double(0, 0).distance(3, 4));
    }
}
EOF
cat >"$src/plain/plain/Plain.java" <<'EOF'
package plain;

public class Plain {
    public static void main(String[] args) {
        System.out.println("plain " + args.length);
    }
}
EOF
cat >"$src/missing/module-info.java" <<'EOF'
module org.missing { exports org.missing; }
EOF
cat >"$src/missing/org/missing/Thing.java" <<'EOF'
package org.missing;

public class Thing {
    public static String name() { return "thing"; }
}
EOF
cat >"$src/modular/module-info.java" <<'EOF'
module app { requires org.missing; }
EOF
cat >"$src/modular/app/Main.java" <<'EOF'
package app;

public class Main {
    public static void main(String[] args) {
        System.out.println(org.missing.Thing.name());
    }
}
EOF
compile hello greeting.Hello "$src/hello/greeting/Hello.java"
compile desk shapes.Distance "$src/desk/shapes/Distance.java"
compile plain "" "$src/plain/plain/Plain.java"
compile missing "" "$src/missing/module-info.java" "$src/missing/org/missing/Thing.java"
compile modular app.Main --module-path "$work/jars/missing.jar" "$src/modular/module-info.java" \
    "$src/modular/app/Main.java"

# input NAME JAR...: an input directory $work/in/NAME holding the jars.
input() {
    dir=$work/in/$1
    shift
    mkdir -p "$dir"
    for file in "$@"; do
        cp -L "$file" "$dir/"
    done
}
input hello "$work/jars/hello.jar"
input desk "$work/jars/desk.jar"
input plain "$work/jars/plain.jar"
input modular "$work/jars/modular.jar"

# --- helpers ----------------------------------------------------------------

# run_pack NAME [OPTION...]: runs the pack into a fresh $work/out/NAME
# (--dest), its standard output in $packed, its standard error in
# $complaint and its status in $status.
run_pack() {
    out=$work/out/$1
    shift
    rm -rf "$out"
    mkdir -p "$out"
    "$pack" --app-version 1.0 --dest "$out" "$@" >"$work/pack.out" 2>"$work/pack.err"
    status=$?
    packed=$(cat "$work/pack.out")
    complaint=$(cat "$work/pack.err")
}

# expect_packed: the pack succeeded.
expect_packed() {
    [ "$status" -eq 0 ] || fail "the pack exited with $status: $complaint"
}

# expect_refused WORD...: status 1, one line on standard error holding
# each WORD, nothing in --dest.
expect_refused() {
    [ "$status" -eq 1 ] || fail "the pack exited with $status, expected 1"
    [ "$(printf '%s\n' "$complaint" | wc -l)" -eq 1 ] && [ -n "$complaint" ] ||
        fail "standard error is not one line: $complaint"
    for word in "$@"; do
        case "$complaint" in
        *"$word"*) ;;
        *) fail "\"$complaint\" does not say \"$word\"" ;;
        esac
    done
    [ -z "$(ls -A "$out")" ] || fail "--dest holds $(ls -A "$out")"
}

# baseline NAME JAVA_ARGUMENT...: what the system JDK's java prints, in
# $work/NAME.expected.
baseline() {
    name=$1
    shift
    java "$@" >"$work/$name.expected" 2>"$work/$name.expected-err" ||
        fail "java $* failed: $(cat "$work/$name.expected-err")"
}

# expect_output NAME: the last run printed what the baseline NAME did.
expect_output() {
    diff -u "$work/$1.expected" "$work/run.out" >"$work/diff" ||
        fail "the output differs from java's (- java, + launcher): $(cat "$work/diff")"
}

# modules TREE: the sorted modules of TREE's bundled runtime.
modules() {
    sed -n 's/^MODULES="\(.*\)"$/\1/p' "$1/lib/runtime/release" | tr ' ' '\n' | sort | tr '\n' ' '
}

# unpack NAME: the app-image archive of the last pack unpacked into
# $work/moved/NAME (another place than it was made at); $tree is its tree.
unpack() {
    rm -rf "$work/moved/$1"
    mkdir -p "$work/moved/$1"
    tar -xzf "$out/$1-1.0-$(uname -m).tar.gz" -C "$work/moved/$1" || fail "cannot unpack"
    tree=$work/moved/$1/$1-1.0
}

# run_program PROGRAM ARGUMENT...: runs an application's program from /,
# output in $work/run.out, $work/run.err; status in $status.
run_program() {
    (cd / && env ${vm_sanitizer_options:+"ASAN_OPTIONS=$vm_sanitizer_options"} \
        timeout 120 "$@") >"$work/run.out" 2>"$work/run.err"
    status=$?
}

# run_hidden PROGRAM ARGUMENT...: runs an app-image's program in a private
# mount namespace whose /usr/lib/jvm is an empty tmpfs, from /, with the
# VM told to map the archive or not start (-Xshare:on) and to log each
# class it loads on standard error. Output in $work/run.out, $work/run.err;
# status in $status.
run_hidden() {
    (cd / && env -i PATH="$PATH" SORVANTA_DEBUG=true \
        JDK_JAVA_OPTIONS="-Xshare:on -Xlog:class+load=info:stderr" \
        ${vm_sanitizer_options:+"ASAN_OPTIONS=$vm_sanitizer_options"} \
        timeout 120 unshare --mount --propagation private /bin/sh -c '
            mount -t tmpfs none /usr/lib/jvm && [ -z "$(ls -A /usr/lib/jvm)" ] || exit 125
            exec "$@"' sh "$@") >"$work/run.out" 2>"$work/run.err"
    status=$?
}

# expect_bundled_run TREE MAIN_CLASS: the last run started, on TREE's
# runtime, with the archive mapped; MAIN_CLASS came from the archive when
# the pack said the archive holds the application's classes, from its jar
# otherwise.
expect_bundled_run() {
    [ "$status" -eq 0 ] || fail "the program exited with $status: $(tail -5 "$work/run.err")"
    grep -Fq "jvm: libjvm [$1/lib/runtime/lib/server/libjvm.so] from JAVA_HOME" "$work/run.err" ||
        fail "the VM is not the bundled runtime's: $(grep 'jvm: libjvm' "$work/run.err")"
    grep -q '^\[.*\]\[info\]\[class,load\] java\.lang\.Object source: shared objects file$' \
        "$work/run.err" || fail "java.lang.Object was not loaded from the archive"
    case "$packed" in
    *"of the application's"*) where="shared objects file" ;;
    *) where="file:$1/share/" ;;
    esac
    grep -Fq "[class,load] $2 source: $where" "$work/run.err" ||
        fail "$2 was not loaded from $where: $(grep -F "$2 " "$work/run.err")"
}

# --- system -----------------------------------------------------------------
begin system
baseline hello -jar "$work/jars/hello.jar" Alice Bob
run_pack hello --name hello --input "$work/in/hello" --main-jar hello.jar --java-versions 17
expect_packed
tree=$out/hello-1.0
grep -qx 'env=HUX_JAVA_VERSIONS=17' "$tree/lib/applauncher.cfg" || fail "no HUX_JAVA_VERSIONS line"
[ ! -e "$tree/lib/runtime" ] && [ ! -e "$tree/lib/hello.jsa" ] || fail "a runtime was bundled"
case "$packed" in *"bundled runtime"*) fail "the pack says it bundled a runtime" ;; esac
run_program "$tree/bin/hello" Alice Bob
[ "$status" -eq 0 ] || fail "hello exited with $status: $(cat "$work/run.err")"
expect_output hello

baseline plain -cp "$work/jars/plain.jar" plain.Plain x y
run_pack plain --name plain --input "$work/in/plain" --main-jar plain.jar --main-class plain.Plain
expect_packed
run_program "$out/plain-1.0/bin/plain" x y
[ "$status" -eq 0 ] || fail "plain exited with $status: $(cat "$work/run.err")"
expect_output plain
passed

# --- refused ----------------------------------------------------------------
begin refused
run_pack plain --name plain --input "$work/in/plain" --main-jar plain.jar
expect_refused plain.jar Main-Class --main-class
run_pack modular --name modular --input "$work/in/modular" --main-jar modular.jar \
    --java-runtime bundled
expect_refused org.missing --java-modules --class-path
run_pack hello --name hello --input "$work/in/hello" --main-jar hello.jar \
    --java-runtime bundled --java-versions 99
expect_refused "--java-versions 99" "$jdk" "Java 17"
run_pack hello --name hello --input "$work/in/hello" --main-jar hello.jar \
    --java-runtime bundled --java-modules java.base,no.such.module
expect_refused --java-modules no.such.module "$jdk"
mkdir -p "$work/not-a-jdk/bin"
JAVA_HOME=$work/not-a-jdk
export JAVA_HOME
run_pack hello --name hello --input "$work/in/hello" --main-jar hello.jar --java-runtime bundled
unset JAVA_HOME
expect_refused JAVA_HOME "$work/not-a-jdk" jlink
run_pack hello --name hello --input "$work/in/hello" --main-jar hello.jar \
    --java-modules java.base
expect_refused --java-modules bundled
passed

# --- bundled ----------------------------------------------------------------
# bundled NAME MAIN_CLASS EXPECTED_MODULES PACK_OPTION... -- PROGRAM_ARGUMENT...
bundled() {
    begin "bundled-$1"
    name=$1
    main=$2
    expected_modules=$3
    shift 3
    options=""
    while [ "$1" != -- ]; do
        options="$options $1"
        shift
    done
    shift
    # shellcheck disable=SC2086
    run_pack "$name" --name "$name" --input "$work/in/$name" --java-runtime bundled $options
    expect_packed
    [ "$status" -eq 0 ] || return
    case "$packed" in
    *"bundled runtime: Java "*"class data sharing archive lib/$name.jsa: the JDK's classes"*) ;;
    *) fail "the pack does not say what it bundled: $packed" ;;
    esac
    made=$out/$name-1.0
    [ "$(modules "$made")" = "$expected_modules" ] ||
        fail "the runtime's modules are \"$(modules "$made")\", expected \"$expected_modules\""
    for absent in lib/runtime/man lib/runtime/include lib/runtime/jmods; do
        [ ! -e "$made/$absent" ] || fail "the runtime has $absent"
    done
    grep -qx "env=JAVA_HOME=\$APPDIR/lib/runtime" "$made/lib/applauncher.cfg" &&
        grep -qx "arg=-XX:SharedArchiveFile=\$APPDIR/lib/$name.jsa" "$made/lib/applauncher.cfg" ||
        fail "the configuration does not name the runtime and its archive"
    [ -s "$made/lib/$name.jsa" ] || fail "no archive lib/$name.jsa"
    [ -z "$(find "$out" -maxdepth 1 -name '.applauncher-pack-*')" ] || fail "a work directory is left"
    if [ "$can_hide_jdks" = no ]; then
        unrun="$unrun $casename"
        return
    fi
    unpack "$name"
    run_hidden "$tree/bin/$name" "$@"
    expect_bundled_run "$tree" "$main"
    expect_output "$name"
    passed "modules $(modules "$made")"
}

bundled hello greeting.Hello "java.base " --main-jar hello.jar -- Alice Bob
baseline desk -jar "$work/jars/desk.jar"
bundled desk shapes.Distance "java.base java.datatransfer java.desktop java.prefs java.xml " \
    --main-jar desk.jar --
cp -r "$work/in/hello" "$work/in/chosen"
baseline chosen -jar "$work/jars/hello.jar" Carla
bundled chosen greeting.Hello "java.base java.logging " --main-jar hello.jar \
    --java-modules java.base,java.logging -- Carla

rhino_jar=/usr/share/java/js.jar
if [ -f "$rhino_jar" ]; then
    input rhino "$rhino_jar"
    baseline rhino -jar "$rhino_jar" -e "print('six times seven is ' + 6 * 7)"
    bundled rhino org.mozilla.javascript.tools.shell.Main \
        "java.base java.compiler java.datatransfer java.desktop java.prefs java.scripting java.xml " \
        --main-jar js.jar -- -e "print('six times seven is ' + 6 * 7)"
else
    unrun="$unrun bundled-rhino ($rhino_jar missing: Debian's rhino)"
fi

# Another JDK of the machine from 17 on, with jlink and jdeps, when there
# is one: a later Java keeps the application's classes in the archive
# when the tree has moved, and the run must then load them from it.
other=""
for dir in /usr/lib/jvm/*; do
    real=$(readlink -f "$dir")
    feature=$(sed -n 's/^JAVA_VERSION="\([0-9]*\).*/\1/p' "$real/release" 2>/dev/null)
    if [ "$real" != "$jdk" ] && [ -x "$real/bin/jlink" ] && [ -x "$real/bin/jdeps" ] &&
        [ "${feature:-0}" -ge 17 ]; then
        other=$real
    fi
done
if [ -n "$other" ]; then
    cp -r "$work/in/hello" "$work/in/later"
    baseline later -jar "$work/jars/hello.jar" Dana
    JAVA_HOME=$other
    export JAVA_HOME
    bundled later greeting.Hello "java.base " --main-jar hello.jar -- Dana
    unset JAVA_HOME
    case "$packed" in
    *"from $other (JAVA_HOME)"*) ;;
    *) fail "the pack did not take JAVA_HOME's JDK: $packed" ;;
    esac
    echo "bundled-later: $(echo "$packed" | sed -n 's/.*archive lib\/later.jsa: //p')"
fi

if [ "$failures" -gt 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
if [ -n "$unrun" ]; then
    skip "not run:$unrun (the bundled runs need root and a private mount namespace)"
fi
echo "all cases passed"
