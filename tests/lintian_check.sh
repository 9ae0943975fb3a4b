#!/bin/sh
# Usage: lintian_check.sh [--allow TAG]... DEB...
# Runs lintian on each sample package and fails on any error or warning it
# reports. The package's own overrides may cover only the tags of the /opt
# layout (dir-or-file-in-opt; jar-not-in-usr-share for a Java application)
# and each TAG that --allow names, and each override must have a comment
# above it saying why.
# Exits 77 with the reason when lintian is not installed or cannot run
# (Debian: lintian).
set -u
allowed="-e dir-or-file-in-opt -e jar-not-in-usr-share"
while [ "${1:-}" = --allow ] && [ $# -ge 2 ]; do
    allowed="$allowed -e $2"
    shift 2
done
command -v lintian >/dev/null || {
    echo "SKIPPED: lintian not found (Debian: lintian)"
    exit 77
}
version=$(lintian --version 2>&1) || {
    echo "SKIPPED: lintian cannot run: $version"
    exit 77
}
tmp=$(mktemp -d "${TMPDIR:-/tmp}/applauncher-lintian-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
failures=0

fail() {
    echo "FAIL [$package]: $*"
    failures=$((failures + 1))
}

for deb in "$@"; do
    failures_before=$failures
    package=$(dpkg-deb -f "$deb" Package) || {
        package=$deb
        fail "not a readable .deb"
        continue
    }
    # Findings are E: and W: lines; overridden ones O: lines.
    status=0
    lintian --fail-on none --show-overrides --tag-display-limit 0 "$deb" \
        >"$tmp/$package.out" 2>&1 || status=$?
    grep -E '^[EWIPX]: ' "$tmp/$package.out" | sed 's/^/    /'
    [ "$status" -eq 0 ] || fail "lintian exited with $status ($version)"
    grep -E '^[EW]: ' "$tmp/$package.out" >"$tmp/findings" &&
        fail "lintian reports $(wc -l <"$tmp/findings") error(s) or warning(s)"

    dpkg-deb --fsys-tarfile "$deb" | tar -xO "./usr/share/lintian/overrides/$package" \
        >"$tmp/overrides" 2>/dev/null || fail "no /usr/share/lintian/overrides/$package"
    # Each override: "[package[ type]: ]tag [context]", in a block of lines
    # that a comment opens; a blank line ends the block.
    awk '/^[ \t]*$/ { commented = 0; next }
         /^[ \t]*#/ { commented = 1; next }
         !commented { print }' "$tmp/overrides" >"$tmp/uncommented"
    [ ! -s "$tmp/uncommented" ] ||
        fail "overrides without a comment above them: $(tr '\n' ' ' <"$tmp/uncommented")"
    awk '/^[ \t]*(#|$)/ { next }
         { sub(/^[^ :\[]*( [^ :\[]*)?: */, ""); print $1 }' "$tmp/overrides" |
        sort -u >"$tmp/overridden"
    # shellcheck disable=SC2086
    grep -vx $allowed "$tmp/overridden" >"$tmp/others" &&
        fail "overrides for tags other than the /opt layout's: $(tr '\n' ' ' <"$tmp/others")"
    [ "$failures" -eq "$failures_before" ] && echo "PASS $package: no lintian error or" \
        "warning; $(grep -c '^O: ' "$tmp/$package.out") finding(s) overridden:" \
        "$(tr '\n' ' ' <"$tmp/overridden")"
done
[ "$failures" -eq 0 ]
