#!/usr/bin/env bash
# An SDS archive through vimsor-batch with the analysis stand-in (build/bin
# first on PATH): DAYS days (default 30) of a 4-element array at 20 Hz,
# written by sds_bench with the test tree's SDS writer, planned with
# `plan --sds` and run with the defaults (-j cores, --cpus 2). Then the plan
# of a decade (3,650 days x 8 ids, empty day files; warm cache).
#
#   bash bench/sds.sh [DAYS]
#
# VIMSOR_BENCH_BUILD names the build directory (default build-bench).
#
# The run's row is measure's (bench/measure.sh): wall time, the CPU seconds of
# the whole process tree (vimsor-batch, its tasks, vimsor, the stand-in), the
# CPU floor (CPU / cores), wall / floor, and the idle-core share. The
# conversions' CPU seconds are the sum of the days' own measure in their done
# records (conversion_cpu_seconds: a task's CPU time on its day outside
# vimsor's runs: reading and cutting the miniSEED, writing the block files,
# reading the TM4 results, writing the result day files), and their share is
# of the tree's CPU seconds. Targets: share <= 5 %, wall / floor <= 1.1 (on a
# machine busy with other work, the ratio the idle-core share gives), decade
# plan < 10 s.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/prepare.sh
days=${1:-30}
here=$(pwd)
cores=$(nproc)
work=$(mktemp -d "${TMPDIR:-/tmp}/sds-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
. bench/measure.sh

bench_build vimsor vimsor-batch mavlin sds_bench
bin=$(cd "$build/bin" && pwd)
export PATH=$bin:$PATH

sds_bench archive "$work/archive" "$days"
last=$(date -u -d "2024-01-01 + $((days - 1)) days" +%F)
vimsor-batch plan "$work/b" --sds "$work/archive" --channels 'XX.AR?..BDF' \
    --from 2024-01-01 --to "$last" >/dev/null
echo "$days days of 4 elements at 20 Hz on $cores cores; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf "%-34s %8s %8s %8s %7s %7s %9s\n" "way of running" "wall s" "CPU s" "floor s" "ratio" "idle" "ratio idle"
measure "vimsor-batch run (SDS, $days days)" "vimsor-batch run '$work/b'"
status=$(vimsor-batch status "$work/b")
case $status in
"done $days (0 with no data), failed 0,"*) ;;
*) echo "sds.sh: the run did not do every day: $status" >&2; exit 1 ;;
esac
read -r wall user system <"$work/time"
find "$work/b/records" -name '*.done' -exec cat {} + | awk -v days="$days" -v u="$user" -v s="$system" '
    sub(/^conversion_cpu_seconds=/, "") { conversions += $0; ++n }
    END {
        if (n != days) { print "sds.sh: " n " of " days " days measured their conversions"; exit 1 }
        printf "conversions: %.2f CPU s of %.1f, %.2f %% (target <= 5 %%)\n", conversions, u + s,
            100 * conversions / (u + s)
    }'

sds_bench decade "$work/decade"
/usr/bin/time -f '%e %U %S' -o "$work/time" vimsor-batch plan "$work/d" --sds "$work/decade" \
    --channels 'XX.AR?..BDF' --from 2015-01-01 --to 2024-12-28 >/dev/null
read -r wall user system <"$work/time"
echo "plan of a decade, 3,650 days x 8 ids: $wall s wall, $(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }') s CPU (target < 10 s)"
