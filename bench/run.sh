#!/usr/bin/env bash
# Builds vimsor and the benchmarks, runs every stage beside its minimal loop
# and the end-to-end measurement, and prints the tables.
#
#   bench/run.sh            stages on 4 h, end to end on a day (24 h, 3 channels,
#                           100 Hz): a quarter of an hour or more
#   bench/run.sh --smoke    a small recording, a couple of minutes
#   bench/run.sh --week     end to end only, on a week (168 h, about 1.4 million
#                           row files): the largest run, an hour or more
#
# VIMSOR_BENCH_BUILD names the build directory (default build-bench);
# VIMSOR_BENCH_WORK the directory for the recordings and job files.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/prepare.sh

# The stages' ratios do not depend on the length; 4 h keep their run short.
hours=4
text_hours=1
e2e_hours=24
repetitions=3
if [ "${1:-}" = "--smoke" ]; then
    repetitions=1
    hours=0.1
    text_hours=0.05
    e2e_hours=0.25
fi
stages=true
if [ "${1:-}" = "--week" ]; then
    stages=false
    e2e_hours=168
fi

work=${VIMSOR_BENCH_WORK:-${TMPDIR:-/tmp}/vimsor-bench.$$}
bench_build vimsor mavlin make_example vimsor_bench self_cpu

mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
minimal_sum=""  # the stages' minimal loops' CPU time, the driver's bound in the end-to-end table
if $stages; then
    minimal_sum=$work/minimal_sum
    echo "stages beside their minimal loops ($hours h block-format recording, $text_hours h text recordings):"
    "$build/bin/vimsor_bench" --hours="$hours" --text-hours="$text_hours" --dir="$work/stages" \
        --sum-out="$minimal_sum" --sum-hours="$e2e_hours" --benchmark_repetitions="$repetitions" --benchmark_color=false 2>"$work/stages.err" | sed -n '/^stage /,$p'
    rm -rf "$work/stages"
fi
bash bench/e2e.sh "$build/bin" "$work/e2e" "$e2e_hours" "$minimal_sum"
