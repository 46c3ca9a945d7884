# Sourced by the benchmark scripts. build_bench ROOT BUILD TARGET...: configures
# BUILD with the benchmark drivers (keeping an existing configuration) and
# builds the named targets.
build_bench() {
    local root=$1 build=$2
    shift 2
    if [ -f "$build/build.ninja" ]; then
        cmake -S "$root" -B "$build" -DDIDIRA_BENCH=ON >/dev/null
    else
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDIDIRA_TESTS=OFF \
            -DDIDIRA_BENCH=ON >/dev/null
    fi
    ninja -C "$build" -j "${JOBS:-2}" "$@" >/dev/null
}
