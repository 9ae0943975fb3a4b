# shellcheck shell=sh disable=SC2154,SC2034
# Sourced by the start-up benchmarks (startup.sh, runtime_startup.sh,
# dpkg_growth.sh), which set build (the build directory, absolute), bin
# ($build/bin) and work (their temporary directory), with begin_benchmark
# or themselves.
#
# dpkg and rpm see only private databases: DPKG_ADMINDIR names a private
# administrative directory ($dpkg_admindir, by default the empty one this
# file makes), and a private HOME's .rpmmacros a private empty rpm
# database. Nothing outside the temporary directory is written.

# begin_benchmark BUILD_DIR [RUNS]: sets build, runs (default 500), bin and
# work, a temporary directory removed when the script exits.
begin_benchmark() {
    build=$(cd "$1" && pwd)
    runs=${2:-500}
    bin=$build/bin
    work=$(mktemp -d /tmp/applauncher-bench-XXXXXX)
    trap 'rm -rf "$work"' EXIT
    trap 'exit 1' HUP INT TERM PIPE
}

# app_tree DIR AUXLIB: bin/benchapp, lib/libapplauncher.so, its
# configuration and the benchmark's runtime library, whose entry returns
# at once.
app_tree() {
    mkdir -p "$1/bin" "$1/lib"
    cp "$bin/applauncher" "$1/bin/benchapp"
    cp "$2" "$1/lib/libapplauncher.so"
    cp "$build/bench/libbench_runtime.so" "$1/lib/"
    # shellcheck disable=SC2016
    printf '%s\n' 'runtime=libbench_runtime.so' 'arg=$APPDIR/bin/benchapp' \
        'env=BENCH_APP=$APPDIR' >"$1/lib/applauncher.cfg"
}

# The launcher's package queries, as the command texts it gives popen.
rpm_query() { echo "rpm --queryformat '%{NAME}' -qf '$1' 2>/dev/null"; }
dpkg_search() { echo "dpkg -S '$1' 2>/dev/null"; }
dpkg_listing() { echo "dpkg -L '$1' 2>/dev/null"; }

# Makes $work/home (the private HOME, with the rpm database's
# .rpmmacros) and the empty dpkg administrative directory $work/dpkg;
# sets dpkg_admindir and rpm_note.
private_package_databases() {
    mkdir -p "$work/home" "$work/dpkg/info" "$work/dpkg/updates" "$work/dpkg/triggers"
    : >"$work/dpkg/status"
    : >"$work/dpkg/available"
    dpkg_admindir=$work/dpkg
    if command -v rpm >/dev/null; then
        printf '%%_dbpath %s\n' "$work/rpmdb" >"$work/home/.rpmmacros"
        HOME=$work/home rpm --dbpath "$work/rpmdb" --initdb
        rpm_note="rpm $(rpm --version | sed 's/.* //'), private empty database"
    else
        rpm_note="no rpm on PATH: the shell reports it missing"
    fi
}

# Runs a command with nothing of the caller's environment but the private
# databases, a standard PATH and the VARIABLE=VALUE words given first.
clean_env() {
    env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME="$work/home" \
        DPKG_ADMINDIR="$dpkg_admindir" ${sanitizer_options:+"ASAN_OPTIONS=$sanitizer_options"} "$@"
}

# In a sanitizer build (ASAN_OPTIONS set), its settings reach the programs,
# with leak checking off (the runtimes keep memory at exit by design) and
# the JVM's own handling of SIGSEGV, SIGBUS and SIGFPE left to it.
sanitizer_options=${ASAN_OPTIONS:+$ASAN_OPTIONS:detect_leaks=0:handle_segv=0:handle_sigbus=0:handle_sigfpe=0:allow_user_segv_handler=1}

# expect_output NAME EXPECTED_FILE [VARIABLE=VALUE...] COMMAND [ARG...]:
# the command, run through clean_env, exits 0 and prints exactly what
# EXPECTED_FILE holds; exits 1, showing what it printed, otherwise.
expect_output() {
    name=$1
    expected=$2
    shift 2
    code=0
    clean_env "$@" >"$work/$name.out" 2>"$work/$name.err" || code=$?
    if [ "$code" -ne 0 ] || ! cmp -s "$expected" "$work/$name.out"; then
        echo "FAULT: $name: exit status $code; expected on standard output:"
        sed 's/^/    /' "$expected"
        echo "  printed:"
        sed 's/^/    /' "$work/$name.out"
        echo "  on standard error:"
        sed 's/^/    /' "$work/$name.err"
        exit 1
    fi
}
