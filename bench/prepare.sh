# Sourced by the benchmark scripts from the project root: makes sure the
# dependencies are there and sets $build, the build directory
# (VIMSOR_BENCH_BUILD, default build-bench).
. tools/deps.sh
need_test_tools
need_package libbenchmark-dev test -f /usr/include/benchmark/benchmark.h
need_package time test -x /usr/bin/time
build=${VIMSOR_BENCH_BUILD:-build-bench}

# bench_build TARGET...: configures $build and builds the targets.
bench_build() {
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" -j"$(nproc)" --target "$@" >/dev/null
}
