#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a bounded time (FUZZ_SECONDS,
# 60 by default, two at a time); fails on any crash, sanitizer report, hang
# (5 s per input), or heap use beyond the targets' allowance.
# libFuzzer runs the targets that never end the process; AFL++ runs those that
# reach the legacy reader, which ends the process with status 1 on some inputs.
# A finding is left in build-fuzz*/ and named here: keep it as a regression
# input under fuzz/regressions/<target>/ once the fault is fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
need_build_tools
need_package clang command -v clang++
need_package libclang-rt-14-dev sh -c 'ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a'
need_package afl++ command -v afl-fuzz

seconds=${FUZZ_SECONDS:-60}
dict=$PWD/fuzz/nevra.dict

CXX=clang++ cmake -S fuzz -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$(nproc)"
CXX=afl-clang-fast++ cmake -S fuzz -B build-fuzz-afl -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
AFL_QUIET=1 cmake --build build-fuzz-afl -j"$(nproc)" --target fuzz_nvdetect fuzz_legacy

seeds=$PWD/build-fuzz/seeds
rm -rf "$seeds" build-fuzz/runs build-fuzz-afl/runs
mkdir -p build-fuzz/runs build-fuzz-afl/runs
build-fuzz/make_seeds "$seeds"
build-fuzz/make_miniseed_seeds "$seeds"

# libfuzz TARGET SEEDS
libfuzz() {
    local dir=build-fuzz/runs/$1
    mkdir -p "$dir/corpus"
    if (cd "$dir" && ASAN_OPTIONS=detect_leaks=1 ../../fuzz_"$1" corpus "$seeds/$2" \
            -max_total_time="$seconds" -timeout=5 -max_len=65536 -rss_limit_mb=2048 \
            -malloc_limit_mb=64 -dict="$dict" -close_fd_mask=3 -print_final_stats=1 \
            >log 2>&1); then
        echo "fuzz_$1 (libFuzzer): $(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log") executions, nothing found"
    else
        echo "fuzz_$1 (libFuzzer): FINDING, see $dir/log and $dir/crash-* / timeout-* / oom-*" >&2
        tail -n 40 "$dir/log" >&2
        return 1
    fi
}

# aflfuzz TARGET SEEDS
aflfuzz() {
    local dir=build-fuzz-afl/runs/$1
    mkdir -p "$dir"
    AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 AFL_NO_UI=1 AFL_NO_AFFINITY=1 \
        ASAN_OPTIONS=abort_on_error=1:symbolize=0:detect_leaks=0:max_allocation_size_mb=64 \
        UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1 \
        afl-fuzz -V "$seconds" -t 5000 -m none -x "$dict" -i "$seeds/$2" -o "$dir/out" \
        -- build-fuzz-afl/fuzz_"$1" >"$dir/log" 2>&1 || {
        echo "fuzz_$1 (AFL++): afl-fuzz failed, see $dir/log" >&2
        tail -n 40 "$dir/log" >&2
        return 1
    }
    local found
    found=$(find "$dir/out/default/crashes" "$dir/out/default/hangs" -type f ! -name README.txt | head -n 5)
    if [ -n "$found" ]; then
        echo "fuzz_$1 (AFL++): FINDING: $found" >&2
        return 1
    fi
    echo "fuzz_$1 (AFL++): $(sed -n 's/^execs_done *: *//p' "$dir/out/default/fuzzer_stats") executions, nothing found"
}

status=0
pair() {
    "$1" "$2" "$3" & local first=$!
    "$4" "$5" "$6" & local second=$!
    wait "$first" || status=1
    wait "$second" || status=1
}
pair libfuzz nv24 nv24 libfuzz tm4 tm4
pair aflfuzz nvdetect any aflfuzz legacy legacy
pair libfuzz classify any libfuzz names names
libfuzz miniseed miniseed || status=1
exit "$status"
