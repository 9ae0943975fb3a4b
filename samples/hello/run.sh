#!/bin/sh
# Installs the hello sample application from BUILD_DIR into a temporary
# directory (under TMPDIR, default /tmp), laid out as its package lays it
# out under /opt/hello, and runs it:
#   opt/hello/bin/hello                  the launcher
#   opt/hello/lib/libapplauncher.so      the reference auxiliary library
#   opt/hello/lib/applauncher.cfg        its launch configuration
#   opt/hello/lib/libhux_python.so       the CPython runtime library
#   opt/hello/share/hello/hello.py       the application
# (and the package's usr/share/doc/hello/). No package owns it, so the
# launcher takes the library beside bin/.
# Usage: samples/hello/run.sh BUILD_DIR [ARGUMENT...]
set -eu
build=$1
shift
tree=$(mktemp -d "${TMPDIR:-/tmp}/applauncher-sample-XXXXXX")
trap 'rm -rf "$tree"' EXIT
cmake --install "$build" --component hello --prefix "$tree" >/dev/null

[ $# -gt 0 ] || set -- Alice
echo "\$ $tree/opt/hello/bin/hello $*"
status=0
"$tree/opt/hello/bin/hello" "$@" || status=$?
echo "(exit status $status)"
exit "$status"
