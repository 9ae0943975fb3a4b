#!/bin/sh
# Installs the hello sample application from BUILD_DIR into a temporary
# directory, as a package would lay it out, and runs it:
#   hello/bin/hello                  the launcher
#   hello/lib/libapplauncher.so      the reference auxiliary library
#   hello/lib/applauncher.cfg        its launch configuration
#   hello/lib/libhux_python.so       the CPython runtime library
#   hello/share/hello/hello.py       the application
# No package owns it, so the launcher takes the library beside bin/.
# Usage: samples/hello/run.sh BUILD_DIR [ARGUMENT...]
set -eu
build=$1
shift
tree=$(mktemp -d /tmp/applauncher-sample-XXXXXX)
trap 'rm -rf "$tree"' EXIT
cmake --install "$build" --component hello --prefix "$tree/hello" >/dev/null

[ $# -gt 0 ] || set -- Alice
echo "\$ $tree/hello/bin/hello $*"
status=0
"$tree/hello/bin/hello" "$@" || status=$?
echo "(exit status $status)"
exit "$status"
