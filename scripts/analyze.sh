#!/bin/sh
# Runs clang-tidy (.clang-tidy) and cppcheck (analysis/cppcheck.supp) over
# every *.cpp and *.c under launcher/, locator/, quiet_writer/, auxlib/,
# runtimes/, doctor/ and pack/, with the compile commands of a build-analysis/
# configuration. Exits 1 on any finding of either tool, or when a source
# file has no compile command.
set -eu
cd "$(dirname "$0")/.."
packages="cmake g++ make clang-tidy cppcheck python3"
[ -d runtimes/python ] && packages="$packages libpython3-dev pkg-config"
# shellcheck disable=SC2086
scripts/install-packages.sh $packages

# Without link-time optimisation, whose flags clang-tidy does not take.
cmake -S . -B build-analysis -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DAPPLAUNCHER_LTO=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
# Headers generated at build time, which the analysed sources include.
if [ -d runtimes/jvm ] && cmake --build build-analysis --target help | grep hux_jvm_generated >/dev/null; then
    cmake --build build-analysis --target hux_jvm_generated >/dev/null
fi

sources=$(for dir in launcher locator quiet_writer auxlib runtimes doctor pack; do
    [ -d "$dir" ] && find "$dir" -type f \( -name '*.cpp' -o -name '*.c' \)
done | sort)
if [ -z "$sources" ]; then
    echo "analyze: no sources found" >&2
    exit 1
fi

# One compile command per source (the first listed): clang-tidy analyses a
# file once per command it finds, and cppcheck would repeat it too.
mkdir -p build-analysis/single
printf '%s\n' "$sources" | python3 -c '
import json, os, sys
root = os.getcwd()
wanted = [line.strip() for line in sys.stdin if line.strip()]
chosen = {}
for entry in json.load(open("build-analysis/compile_commands.json")):
    path = os.path.relpath(os.path.join(entry["directory"], entry["file"]), root)
    chosen.setdefault(path, entry)
missing = [path for path in wanted if path not in chosen]
for path in missing:
    print("analyze: no compile command for %s (not built in this configuration)" % path,
          file=sys.stderr)
json.dump([chosen[path] for path in wanted if path in chosen],
          open("build-analysis/single/compile_commands.json", "w"), indent=1)
sys.exit(1 if missing else 0)
'

failed=""
# A separate clang-tidy process per file: one process analysing several
# files carries va_list state from one file into the next and reports
# uninitialised va_lists that are not.
for source in $sources; do
    echo "clang-tidy $source"
    clang-tidy -p build-analysis/single --quiet --warnings-as-errors='*' "$source" ||
        failed="$failed clang-tidy:$source"
done

filters=$(for source in $sources; do printf -- '--file-filter=%s\n' "$source"; done)
echo "cppcheck $(printf '%s\n' "$sources" | tr '\n' ' ')"
# shellcheck disable=SC2086
cppcheck --project=build-analysis/single/compile_commands.json $filters \
    --library=posix --enable=warning,style,performance,portability \
    --inline-suppr --suppressions-list=analysis/cppcheck.supp \
    --error-exitcode=1 --quiet -j"$(nproc)" \
    --template='{file}:{line}:{column}: {severity}: {message} [{id}]' ||
    failed="$failed cppcheck"

if [ -n "$failed" ]; then
    echo "analysis findings in:$failed"
    exit 1
fi
echo "analysis clean: clang-tidy and cppcheck report nothing"
