#!/usr/bin/env bash
# Builds the companion programs and their benchmark, and measures them on a
# block-format recording of 24 h, 3 channels, 100 Hz:
#   nvtools_bench: nvinfo against vimsor's load, nvconvert to miniSEED
#   against libmseed's Steim-2 packer, miniSEED to TM4 against the TM4 writer;
#   nvplot's wall time and peak memory (/usr/bin/time -v), beside the peak
#   of loading the same file alone (nvinfo's reading child: the load and a
#   pass over the samples) and the bytes the loaded recording holds.
#
#   bench/nvtools_run.sh            24 h, three repetitions (a few minutes)
#   bench/nvtools_run.sh --smoke    a quarter of an hour, one repetition
#
# VIMSOR_BENCH_BUILD names the build directory (default build-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/prepare.sh

hours=24
repetitions=3
if [ "${1:-}" = "--smoke" ]; then
    hours=0.25
    repetitions=1
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/nvtools-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
bench_build nvtools_bench nvinfo nvplot make_example

"$build/bin/nvtools_bench" --hours="$hours" --dir="$work/stages" --benchmark_repetitions="$repetitions" \
    --benchmark_color=false 2>"$work/stages.err" | sed -n '/^companion program/,$p'
rm -rf "$work/stages"

seconds=$(awk -v h="$hours" 'BEGIN { printf "%d", h * 3600 }')
"$build/bin/make_example" "$work/day.nv24" "$seconds" 100
/usr/bin/time -v "$build/bin/nvplot" "$work/day.nv24" -o "$work/day.png" 2>"$work/plot.txt"
/usr/bin/time -v "$build/bin/nvinfo" "$work/day.nv24" >/dev/null 2>"$work/load.txt"
wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/plot.txt")
plot_kib=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/plot.txt")
load_kib=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/load.txt")
# The loaded recording: a time (8 bytes) and 3 samples (4 bytes each) per instant.
awk -v s="$seconds" -v plot="$plot_kib" -v load="$load_kib" -v wall="$wall" 'BEGIN {
    model = s * 100 * (8 + 3 * 4) / 1048576
    printf "\nnvplot of %d s at 100 Hz, 3 channels: wall %s, peak memory %.1f MiB\n", s, wall, plot / 1024
    printf "loading the file alone: peak %.1f MiB (the recording holds %.1f MiB)\n", load / 1024, model
    printf "nvplot beyond the load: %.1f MiB; beyond the recording'"'"'s bytes: %.1f MiB\n",
        (plot - load) / 1024, plot / 1024 - model
}'
