#!/bin/sh
# Makes the source tarball NAME-VERSION.tar.gz in OUTPUT_DIR from the files
# of the working tree that git knows or would add (tracked ones and new ones
# that .gitignore does not exclude), under the directory NAME-VERSION/:
# what rpmbuild's %setup and other packagers unpack.
# Usage: scripts/dist.sh NAME VERSION OUTPUT_DIR
set -eu
name=$1
version=$2
output=$3
cd "$(dirname "$0")/.."
# Only the file list is read, so a checkout another user owns will do.
git() {
    command git -c safe.directory="$(pwd)" "$@"
}
if ! git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    echo "dist: $(pwd) is not a git checkout; its file list cannot be told" >&2
    exit 1
fi
stage=$(mktemp -d "${TMPDIR:-/tmp}/applauncher-dist-XXXXXX")
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/$name-$version"
# A tracked file deleted in the working tree is left out.
git ls-files -z --cached --others --exclude-standard |
    tar --null -T - --ignore-failed-read -cf - 2>/dev/null | tar -xf - -C "$stage/$name-$version"
mkdir -p "$output"
# Every file carries the time of the last commit: the same tree gives the
# same tarball.
stamp=$(git log -1 --format=%ct 2>/dev/null || date +%s)
tar -C "$stage" --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$stamp" \
    -czf "$output/$name-$version.tar.gz" "$name-$version"
echo "$output/$name-$version.tar.gz"
