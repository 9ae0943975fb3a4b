#!/bin/sh
# Usage: hardening_check.sh --fortify=yes|no EXECUTABLE [LIBRARY|DIRECTORY]...
# Checks with readelf alone (works on stripped files) that EXECUTABLE is a
# PIE with an interpreter, full RELRO with immediate binding, stack
# protector and (with --fortify=yes) checked libc calls imported, and a
# non-executable stack; that every shared library named, or found as
# *.so / *.so.* under a named directory, has no text relocations and a
# non-executable stack. A directory holding no shared library fails.
# Prints one FAIL line per failed check and exits 1 when any failed.
set -u

failures=0

# Records one failed check.
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Records one passed check.
pass() {
    echo "ok: $*"
}

# The GNU_STACK program header's flags column of ELF file $1, or nothing.
stack_flags() {
    readelf -lW "$1" | awk '$1 == "GNU_STACK" { print $(NF - 1) }'
}

# Checks that ELF file $1 marks its stack non-executable.
check_stack() {
    flags=$(stack_flags "$1")
    if [ -z "$flags" ]; then
        fail "$1: no GNU_STACK program header (stack executable by default)"
    elif printf '%s' "$flags" | grep -q E; then
        fail "$1: GNU_STACK is executable ($flags)"
    else
        pass "$1: non-executable stack ($flags)"
    fi
}

# Runs every check on the executable $1.
check_executable() {
    exe=$1
    header=$(readelf -hW "$exe") || { fail "$exe: not an ELF file"; return; }
    programs=$(readelf -lW "$exe")
    dynamic=$(readelf -dW "$exe")
    symbols=$(readelf --dyn-syms -W "$exe")

    if printf '%s\n' "$header" | grep -Eq '^ *Type: +DYN ' &&
        printf '%s\n' "$programs" | grep -Eq '^ *INTERP '; then
        pass "$exe: PIE (ELF type DYN with INTERP)"
    else
        fail "$exe: not a PIE (needs ELF type DYN and an INTERP segment)"
    fi

    if printf '%s\n' "$programs" | grep -Eq '^ *GNU_RELRO '; then
        pass "$exe: GNU_RELRO segment"
    else
        fail "$exe: no GNU_RELRO segment (link with -z relro)"
    fi

    if printf '%s\n' "$dynamic" | grep -Eq '\(BIND_NOW\)|\(FLAGS\) +Flags:.*BIND_NOW|\(FLAGS_1\) +Flags:.* NOW'; then
        pass "$exe: immediate binding"
    else
        fail "$exe: no BIND_NOW / FLAGS_1 NOW (link with -z now)"
    fi

    if printf '%s\n' "$symbols" | grep -Eq ' UND __stack_chk_fail(@| |$)'; then
        pass "$exe: stack protector (__stack_chk_fail imported)"
    else
        fail "$exe: no __stack_chk_fail import (compile with -fstack-protector-strong)"
    fi

    checked=$(printf '%s\n' "$symbols" |
        awk '$7 == "UND" && $8 ~ /^__[A-Za-z0-9_]+_chk(@|$)/ { sub(/@.*/, "", $8); printf "%s ", $8 }')
    checked=${checked% }
    if [ "$fortify" = no ]; then
        pass "$exe: fortify not expected in this build type (imports: ${checked:-none})"
    elif [ -n "$checked" ]; then
        pass "$exe: fortified calls imported: $checked"
    else
        fail "$exe: no __*_chk import (compile with -O2 -D_FORTIFY_SOURCE=2)"
    fi

    check_stack "$exe"
}

# Runs the shared library checks on $1.
check_library() {
    lib=$1
    dynamic=$(readelf -dW "$lib") || { fail "$lib: not an ELF file"; return; }
    if printf '%s\n' "$dynamic" | grep -Eq '\(TEXTREL\)|\(FLAGS\) +Flags:.*TEXTREL'; then
        fail "$lib: TEXTREL in the dynamic section (text relocations)"
    else
        pass "$lib: no TEXTREL"
    fi
    check_stack "$lib"
}

case "${1:-}" in
--fortify=yes) fortify=yes ;;
--fortify=no) fortify=no ;;
*)
    echo "usage: $0 --fortify=yes|no EXECUTABLE [LIBRARY|DIRECTORY]..." >&2
    exit 2
    ;;
esac
shift
if [ $# -lt 1 ]; then
    echo "usage: $0 --fortify=yes|no EXECUTABLE [LIBRARY|DIRECTORY]..." >&2
    exit 2
fi

check_executable "$1"
shift
for target in "$@"; do
    if [ -d "$target" ]; then
        found=$(find "$target" -type f \( -name '*.so' -o -name '*.so.*' \) | sort)
        if [ -z "$found" ]; then
            fail "$target: no shared library found"
        fi
        while IFS= read -r lib; do
            [ -n "$lib" ] && check_library "$lib"
        done <<LIBRARIES
$found
LIBRARIES
    else
        check_library "$target"
    fi
done

if [ "$failures" -ne 0 ]; then
    echo "$failures hardening check(s) failed"
    exit 1
fi
echo "all hardening checks passed"
