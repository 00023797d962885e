#!/usr/bin/env bash
# The batch's bookkeeping at the scale of a decade of ten stations: plan,
# status and submit over 40,000 listed inputs (empty files: nothing is run).
#
#   bench/bookkeeping.sh [INPUTS [WORK-DIR [BIN-DIR]]]   (default: 40000, build/bin)
#
# status is timed on a fresh plan (all pending) and again with records for
# every input (done, and one in a hundred failed with an error line), written
# in the layout a run leaves them.
set -euo pipefail

inputs=${1:-40000}
work=${2:-${TMPDIR:-/tmp}/vimsor-bookkeeping.$$}
batch=${3:-$(cd "$(dirname "$0")/.." && pwd)/build/bin}/vimsor-batch
mkdir -p "$work"
work=$(cd "$work" && pwd)
trap 'rm -rf "$work"' EXIT

per_station=$((inputs / 10))
for station in $(seq -w 0 9); do
    mkdir -p "$work/archive/st$station"
    (cd "$work/archive/st$station" && seq -f "s${station}d%05g.nv24" 1 "$per_station" | xargs touch)
done
find "$work/archive" -name '*.nv24' | sort >"$work/list"
count=$(wc -l <"$work/list")

seconds() {  # COMMAND...: its wall time in seconds (its output to $work/said)
    local start end
    start=$(date +%s.%N)
    "$@" >"$work/said" 2>&1 || true
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.2f", e - s }'
}

echo "$count inputs, load $(cut -d' ' -f1 /proc/loadavg)"
printf "%-52s %8s\n" step "wall s"
printf "%-52s %8s\n" "plan --list (40,000 lines)" "$(seconds "$batch" plan "$work/b" --list "$work/list" -- --mode=tm4)"
printf "%-52s %8s   %s\n" "status, all pending" "$(seconds "$batch" status "$work/b")" "$(head -n 1 "$work/said")"

for ((i = 1; i <= count; ++i)); do
    shard=$((i / 1000))
    [ -d "$work/b/records/$shard" ] || mkdir -p "$work/b/records/$shard"
    if ((i % 100 == 0)); then
        echo "can't read input $i: Unknown nv24 header version 120" >"$work/b/records/$shard/$i.failed"
    else
        : >"$work/b/records/$shard/$i.done"
    fi
done
printf "%-52s %8s   %s\n" "status, every input with a record" "$(seconds "$batch" status "$work/b")" "$(head -n 1 "$work/said")"
rm -rf "$work/b/records" && mkdir "$work/b/records"

max=1001
printf "%-52s %8s   %s\n" "submit --chunk 39 --dry-run (MaxArraySize $max)" "$(seconds "$batch" submit "$work/b" --chunk 39 --dry-run)" "$(tail -n 1 "$work/said")"
printf "%-52s %8s   %s\n" "submit --chunk 40 --dry-run" "$(seconds "$batch" submit "$work/b" --chunk 40 --dry-run)" "$(tail -n 1 "$work/said")"
script=$(ls "$work"/b/arrays/job.*.sh)
echo "array line of the script: $(grep -- '--array' "$script")"
