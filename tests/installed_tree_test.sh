#!/bin/sh
# Installs the project's development component into a temporary prefix,
# builds an auxiliary library against it twice (find_package, pkg-config),
# and starts the installed launcher with each build. The runtime double
# records the argument the library put in the record. The imported
# applauncher::launcher and applauncher::pack name the installed programs.
# Usage: installed_tree_test.sh BUILD_DIR RUNTIME_DOUBLE
set -eu
build=$1
runtime=$2
source_dir=$(cd "$(dirname "$0")/installed_tree" && pwd)
tmp=$(mktemp -d /tmp/applauncher-installed-XXXXXX)
trap 'rm -rf "$tmp"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cmake --install "$build" --prefix "$tmp/prefix" --component development >/dev/null
for header in kivlauncher_api.h hux_runtime_api.h; do
    [ -f "$tmp/prefix/include/applauncher/$header" ] || fail "$header not installed"
done

cmake -S "$source_dir" -B "$tmp/cmake-build" -DCMAKE_PREFIX_PATH="$tmp/prefix" >/dev/null
cmake --build "$tmp/cmake-build" >/dev/null
[ "$(cat "$tmp/cmake-build/launcher-path")" = "$tmp/prefix/libexec/applauncher/applauncher" ] ||
    fail "applauncher::launcher points at $(cat "$tmp/cmake-build/launcher-path")"
[ "$(cat "$tmp/cmake-build/pack-path")" = "$tmp/prefix/bin/applauncher-pack" ] ||
    fail "applauncher::pack points at $(cat "$tmp/cmake-build/pack-path")"
[ -x "$tmp/prefix/bin/applauncher-pack" ] || fail "bin/applauncher-pack is not installed"

export PKG_CONFIG_LIBDIR="$tmp/prefix/lib/pkgconfig"
mkdir -p "$tmp/pc-build"
# shellcheck disable=SC2046
cc -shared -fPIC -Wall -Wextra -Wpedantic -Werror $(pkg-config --cflags applauncher) \
    -DCONSUMER_BUILT_WITH='"pkg-config"' "$source_dir/consumer_aux.c" \
    -o "$tmp/pc-build/libapplauncher.so"
launcher=$(pkg-config --variable=launcher applauncher)
[ -x "$launcher" ] || fail "pkg-config's launcher variable names $launcher"

# Each runtime library installed is an imported target whose location and
# package dependencies pkg-config repeats; none is published that is not
# installed.
for kind in python jvm; do
    if [ -f "$tmp/prefix/lib/applauncher/libhux_$kind.so" ]; then
        grep -qx "${kind}_runtime=$tmp/prefix/lib/applauncher/libhux_$kind.so" \
            "$tmp/cmake-build/runtimes" || fail "no applauncher::${kind}_runtime target"
    elif grep -q "^${kind}_runtime=" "$tmp/cmake-build/runtimes" ||
        [ -n "$(pkg-config --variable="${kind}_runtime" applauncher)" ]; then
        fail "the $kind runtime is published but libhux_$kind.so is not installed"
    fi
done
while IFS= read -r line; do
    variable=${line%%=*}
    from_cmake=${line#*=}
    from_pc=$(pkg-config --variable="$variable" applauncher)
    case "$variable" in
        *_runtime)
            from_cmake=$(realpath -m "$from_cmake")
            from_pc=$(realpath -m "$from_pc")
            ;;
    esac
    [ -n "$from_cmake" ] && [ "$from_pc" = "$from_cmake" ] ||
        fail "$variable: find_package says \"$from_cmake\", pkg-config \"$from_pc\""
done <"$tmp/cmake-build/runtimes"
echo "runtime libraries: $(sed -n 's/_runtime=.*//p' "$tmp/cmake-build/runtimes" | tr '\n' ' ')" \
    "published alike by find_package and pkg-config"

for built in cmake pkg-config; do
    app="$tmp/app-$built"
    mkdir -p "$app/bin" "$app/lib" "$tmp/records-$built"
    cp "$launcher" "$app/bin/app"
    if [ "$built" = cmake ]; then
        cp "$tmp/cmake-build/libapplauncher.so" "$app/lib/"
    else
        cp "$tmp/pc-build/libapplauncher.so" "$app/lib/"
    fi
    status=0
    env -i PATH=/nonexistent CONSUMER_RUNTIME="$runtime" TEST_RECORDS="$tmp/records-$built" \
        RT_EXIT=9 "$app/bin/app" >/dev/null 2>&1 || status=$?
    [ "$status" -eq 9 ] || fail "$built build: launcher exited with $status, not the entry's 9"
    tr '\0' '\n' < "$tmp/records-$built/runtime" | grep -qx "arg=$built" ||
        fail "$built build: the runtime did not receive the library's argument"
    echo "$built build: launched, entry result 9"
done
