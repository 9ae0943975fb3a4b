#!/bin/sh
# Checks synthetic_dpkg.sh on a small source database of its own: which
# models a count takes, the copies' names and paths, the status stanzas,
# that the real dpkg reads the result (every package installed, each copy
# the one owner of its files) and that the source is left as it was.
# Skipped (77) without dpkg-query. Usage: synthetic_dpkg_test.sh
set -u
command -v dpkg-query >/dev/null || {
    echo "SKIPPED: dpkg-query not found"
    exit 77
}
script=$(cd "$(dirname "$0")" && pwd)/synthetic_dpkg.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/applauncher-synthetic-XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM PIPE
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The source: alpha (4 lines), epsilon (5, no stanza), gamma (6), beta (8,
# Multi-Arch: same, so its list is beta:amd64.list), delta removed.
src=$work/source
mkdir -p "$src/info"
stanza() {
    printf 'Package: %s\nStatus: %s\nPriority: optional\n' "$1" "$2"
    printf 'Maintainer: Model <model@localhost>\nVersion: 1.%s\n' "$3"
    [ -z "$4" ] || printf 'Multi-Arch: %s\n' "$4"
    printf 'Architecture: amd64\nDescription: model %s\n long description of %s\n\n' "$1" "$1"
}
{
    stanza alpha "install ok installed" 1 ""
    stanza beta "install ok installed" 2 same
    stanza gamma "install ok installed" 3 ""
    stanza delta "deinstall ok config-files" 4 ""
} >"$src/status"
printf '%s\n' /. /usr /usr/bin /usr/bin/alpha >"$src/info/alpha.list"
printf '%s\n' /. /usr /usr/sbin /usr/sbin/epsilon /usr/sbin/epsilon2 >"$src/info/epsilon.list"
printf '%s\n' /. /usr /usr/share /usr/share/gamma /usr/share/gamma/a /usr/share/gamma/b \
    >"$src/info/gamma.list"
printf '%s\n' /. /usr /usr/lib /usr/lib/beta /usr/lib/beta/x.so /usr/lib/beta/sub \
    /usr/lib/beta/sub/z /usr/lib/beta/y.so >"$src/info/beta:amd64.list"
before=$(cd "$src" && find . -type f -exec md5sum {} + | sort)

names() { sed -n 's/^Package: //p' "$1/status" | sort | tr '\n' ' '; }

# Fewer packages than models: evenly spaced ranks (2 and 4 of 4).
"$script" "$work/two" 2 "$src" >"$work/two.out" || fail "count 2: exit status $?"
[ "$(names "$work/two")" = "beta epsilon " ] || fail "count 2 took: $(names "$work/two")"
[ -f "$work/two/info/beta.list" ] || fail "count 2: no info/beta.list"
grep -q '^Multi-Arch:' "$work/two/status" && fail "count 2: a Multi-Arch line is left"
grep -q '^Description: synthetic package' "$work/two/status" ||
    fail "count 2: epsilon, which has no stanza, got no minimal one"
grep -qx 'Version: 1.2' "$work/two/status" || fail "count 2: beta's stanza is not its model's"
[ "$(cat "$work/two.out")" = "2 packages, 13 list lines, $(cat "$src/info/epsilon.list" \
    "$src/info/beta:amd64.list" | wc -c | tr -d ' ') bytes of lists" ] ||
    fail "count 2 printed: $(cat "$work/two.out")"

# More packages than models: every model twice, then the middle rank.
"$script" "$work/nine" 9 "$src" >/dev/null || fail "count 9: exit status $?"
expected="alpha alpha-c1 beta beta-c1 epsilon epsilon-c1 gamma gamma-c1 gamma-c2 "
[ "$(names "$work/nine")" = "$expected" ] || fail "count 9 took: $(names "$work/nine")"
printf '%s\n' /. /usr /usr/lib /usr/lib/beta /usr/lib/beta/x.so-c1 /usr/lib/beta/sub \
    /usr/lib/beta/sub/z-c1 /usr/lib/beta/y.so-c1 >"$work/beta-c1.expected"
cmp -s "$work/beta-c1.expected" "$work/nine/info/beta-c1.list" || {
    fail "beta-c1.list: directories must stay, files get -c1:"
    diff "$work/beta-c1.expected" "$work/nine/info/beta-c1.list"
}
cmp -s "$src/info/gamma.list" "$work/nine/info/gamma.list" ||
    fail "the first copy of gamma is not its model's list"

# The real dpkg reads it without a warning: nine installed packages, one
# owner per copy's file.
installed=$(DPKG_ADMINDIR=$work/nine dpkg-query -W -f='${Package} ${Status}\n' 2>"$work/err")
[ "$(echo "$installed" | grep -c ' install ok installed$')" -eq 9 ] ||
    fail "dpkg-query -W does not list 9 installed packages: $installed"
for path in /usr/share/gamma/a-c2:gamma-c2 /usr/share/gamma/a:gamma \
    /usr/sbin/epsilon2-c1:epsilon-c1 /usr/lib/beta/sub/z-c1:beta-c1; do
    owner=$(DPKG_ADMINDIR=$work/nine dpkg -S "${path%%:*}" 2>>"$work/err")
    [ "$owner" = "${path#*:}: ${path%%:*}" ] || fail "dpkg -S ${path%%:*}: $owner"
done
[ ! -s "$work/err" ] || fail "dpkg complained: $(cat "$work/err")"

# Refusals, and the source untouched.
"$script" "$work/none" 3 "$work/missing" >/dev/null 2>&1 && fail "a missing source was accepted"
[ "$(cd "$src" && find . -type f -exec md5sum {} + | sort)" = "$before" ] ||
    fail "the source database changed"

[ "$failures" -eq 0 ] || exit 1
echo "synthetic dpkg databases: all checks passed"
