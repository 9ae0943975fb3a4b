#!/bin/sh
# Usage: outside_project_test.sh BUILD_DIR
# A packager's project outside the tree (outside_project/) ships a Python
# application with the installed applauncher:
#   1. the project's development component is installed into a temporary
#      prefix, and outside_project/ is configured against it, built and
#      packaged with CPack as one .deb;
#   2. the .deb holds exactly the application's files under /opt/greeter
#      (two programs, each with its configuration, the module's compiled
#      cache) and the two menu entries under /usr/share/applications, the
#      generated configurations have the expected lines, the entries name
#      the installed programs, the cache records the installed path, and
#      its Depends names libc6 (dpkg-shlibdeps) and what pkg-config says
#      the CPython runtime library needs;
#   3. in a private mount namespace (private_install.sh) the real dpkg
#      installs it into a private database, and the application runs
#      through its owning package: the launcher reports the owner
#      "greeter|2", takes the library the package lists, loads the runtime
#      library beside it, and the program's output and status come back;
#      bin/greeter-formal, through its own configuration, calls the
#      module's entry point.
# Steps 1 and 2 run wherever cpack, dpkg-shlibdeps, file and pkg-config are
# found; without root, unshare or the mounts the script then exits 77 with
# the reason (and without those tools, at once).
set -u
# shellcheck source=tests/private_install.sh
. "$(dirname "$0")/private_install.sh"

exe=/opt/greeter/bin/greeter

# Inside the namespace: install, list, run twice.
if [ "${1:-}" = --case ]; then
    work=$3
    begin_case "$2" "$3" "$4" || exit 1
    make_tools without-rpm
    private_deb_install "$work/greeter.deb" || exit 1
    private_dpkg -L greeter >"$dir/listing" || fail "dpkg -L greeter failed"
    dpkg_owned_lines $exe greeter "$dir/listing" >"$dir/expected"
    grep -qx /opt/greeter/lib/libapplauncher.so "$dir/listing" ||
        fail "dpkg -L greeter does not list /opt/greeter/lib/libapplauncher.so"
    run_launcher world $exe World --exit 5
    expect_status world 5
    expect_child world "$dir/expected"
    expect_runtime world /opt/greeter/lib/libhux_python.so
    printf '%s\n' "Greetings, World!" "from the launcher: True; home /opt/greeter" \
        >"$dir/world.expected-out"
    diff -u "$dir/world.expected-out" "$dir/world.out" ||
        fail "world: the program's output differs (- expected, + seen)"
    run_launcher formal /opt/greeter/bin/greeter-formal World --exit 3
    expect_status formal 3
    expect_runtime formal /opt/greeter/lib/libhux_python.so
    printf '%s\n' "Good day, World!" "from the launcher: True; home /opt/greeter" \
        >"$dir/formal.expected-out"
    diff -u "$dir/formal.expected-out" "$dir/formal.out" ||
        fail "formal: the entry point's output differs (- expected, + seen)"
    exit $((failures > 0))
fi

[ $# -eq 1 ] || {
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
}
build=$1
for tool in cpack dpkg-shlibdeps file pkg-config; do
    command -v "$tool" >/dev/null || skip "$tool not found (Debian: cmake, dpkg-dev, file, pkg-config)"
done
script=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
source_dir=$(cd "$(dirname "$0")/outside_project" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/applauncher-outside-XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM

# Runs a build step quietly, showing its output only when it fails.
step() {
    "$@" >"$work/step.log" 2>&1 || {
        cat "$work/step.log"
        echo "FAIL: $*"
        exit 1
    }
}

step cmake --install "$build" --component development --prefix "$work/prefix"
step cmake -S "$source_dir" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix"
step cmake --build "$work/build"
(cd "$work/build" && step cpack -G DEB) || exit 1
set -- "$work/build"/greeter_*.deb
[ -f "$1" ] || {
    echo "FAIL: cpack left no greeter_*.deb in $work/build"
    exit 1
}
cp "$1" "$work/greeter.deb"

casename=contents
dpkg-deb --fsys-tarfile "$work/greeter.deb" | tar -t | sed -n 's#^\./#/#; /[^/]$/p' |
    sed 's/\.cpython-[0-9]*\.pyc$/.pyc/' | LC_ALL=C sort >"$work/files"
cat >"$work/expected-files" <<'EOF'
/opt/greeter/bin/greeter
/opt/greeter/bin/greeter-formal
/opt/greeter/lib/applauncher-greeter-formal.cfg
/opt/greeter/lib/applauncher.cfg
/opt/greeter/lib/libapplauncher.so
/opt/greeter/lib/libhux_python.so
/opt/greeter/share/greeter/__pycache__/greeter.pyc
/opt/greeter/share/greeter/greeter.py
/usr/share/applications/org.example.greeter.desktop
/usr/share/applications/org.example.greeter.greeter_formal.desktop
EOF
diff -u "$work/expected-files" "$work/files" || fail "the deb's files differ (- expected, + seen)"
dpkg-deb --fsys-tarfile "$work/greeter.deb" | tar -xO ./opt/greeter/lib/applauncher.cfg \
    >"$work/cfg"
cat >"$work/expected-cfg" <<'EOF'
runtime=libhux_python.so
arg=$APPDIR/bin/greeter
arg=$APPDIR/share/greeter/greeter.py
arg=--from-launcher
env=GREETER_HOME=$APPDIR
env=GREETER_WORD=Greetings
EOF
diff -u "$work/expected-cfg" "$work/cfg" ||
    fail "the generated applauncher.cfg differs (- expected, + seen)"
dpkg-deb --fsys-tarfile "$work/greeter.deb" |
    tar -xO ./opt/greeter/lib/applauncher-greeter-formal.cfg >"$work/formal-cfg"
cat >"$work/expected-formal-cfg" <<'EOF'
runtime=libhux_python.so
arg=$APPDIR/bin/greeter-formal
arg=--module-path
arg=$APPDIR/share/greeter
arg=--entry-point
arg=greeter:main
arg=--from-launcher
env=GREETER_HOME=${GREETER_HOME:-$APPDIR}
env=GREETER_WORD=Good day
EOF
diff -u "$work/expected-formal-cfg" "$work/formal-cfg" ||
    fail "the generated applauncher-greeter-formal.cfg differs (- expected, + seen)"
# Each menu entry's lines that the keywords decide: file and line.
mkdir "$work/tree"
dpkg-deb -x "$work/greeter.deb" "$work/tree"
while IFS='|' read -r file line; do
    grep -Fqx -e "$line" "$work/tree/usr/share/applications/$file" ||
        fail "$file has no line \"$line\""
done <<'EOF'
org.example.greeter.desktop|Exec=/opt/greeter/bin/greeter
org.example.greeter.desktop|Name=Greeter
org.example.greeter.desktop|Terminal=true
org.example.greeter.greeter_formal.desktop|Exec=/opt/greeter/bin/greeter-formal
org.example.greeter.greeter_formal.desktop|Name=Formal greeter
org.example.greeter.greeter_formal.desktop|Terminal=true
EOF
for cache in "$work/tree"/opt/greeter/share/greeter/__pycache__/greeter.*.pyc; do
    grep -aFq /opt/greeter/share/greeter/greeter.py "$cache" ||
        fail "$cache does not record /opt/greeter/share/greeter/greeter.py"
    ! grep -aFq "$work" "$cache" || fail "$cache records the packaging's own directory"
done
depends=$(dpkg-deb -f "$work/greeter.deb" Depends)
published=$(PKG_CONFIG_LIBDIR="$work/prefix/lib/pkgconfig" \
    pkg-config --variable=python_runtime_deb_depends applauncher)
[ -n "$published" ] || fail "pkg-config applauncher has no python_runtime_deb_depends"
echo "$depends" | tr ',' '\n' | sed 's/^ *//' >"$work/depends"
grep -q '^libc6 (>= [0-9.]*)$' "$work/depends" || fail "Depends \"$depends\" has no libc6 (>= ...)"
echo "$published" | tr ',' '\n' | sed 's/^ *//' | while read -r entry; do
    grep -Fqx "$entry" "$work/depends" ||
        echo "FAIL [contents]: Depends \"$depends\" lacks \"$entry\""
done >"$work/missing"
[ ! -s "$work/missing" ] || {
    cat "$work/missing"
    failures=$((failures + 1))
}
[ "$failures" -eq 0 ] || exit 1
echo "PASS contents (Depends: $depends)"

require_private_installs
unshare --mount --propagation private /bin/sh "$script" --case run "$work" \
    "$(readlink /proc/self/ns/mnt)" || {
    echo "FAIL [run]: the case ended with status $?"
    exit 1
}
echo "PASS run: installed with dpkg, started through the owning package"
