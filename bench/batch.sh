#!/usr/bin/env bash
# Archive runs on this machine: vimsor-batch run against a plain sequential
# loop over the same block-format day-files (3 channels, 100 Hz), with the
# analysis stand-in, and one file's job files on the working disk against tmpfs.
#
#   bench/batch.sh BIN-DIR [FILES [HOURS [WORK-DIR]]]     (default: 8 files of 24 h)
#
# With FILES 0 only the one-file measurement of the job files' place runs.
#
# For every way of running: wall time, the CPU seconds of the whole process
# tree (/usr/bin/time counts every reaped descendant) and the CPU floor, that
# CPU time divided by the cores; wall / floor is 1 when no core ever idles.
set -euo pipefail

bin=$(cd "$1" && pwd)
files=${2:-8}
hours=${3:-24}
work=${4:-${TMPDIR:-/tmp}/vimsor-batch-bench.$$}
here=$(cd "$(dirname "$0")/.." && pwd)
batch=$bin/vimsor-batch
cores=$(nproc)
export PATH=$bin:$PATH

mkdir -p "$work"
work=$(cd "$work" && pwd)
trap 'rm -rf "$work"' EXIT
seconds=$(awk -v h="$hours" 'BEGIN { printf "%d", h * 3600 }')
"$bin/make_example" "$work/day.nv24" "$seconds" 100
mkdir -p "$work/archive"
for i in $(seq 1 "$files"); do
    ln "$work/day.nv24" "$work/archive/day$i.nv24"
done

. "$here/bench/measure.sh"

sequential="mkdir -p '$work/seq' && cd '$work/seq' && for f in '$work'/archive/*.nv24; do vimsor \"\$f\"; done"
batch_run="rm -rf '$work/b' && '$batch' plan '$work/b' '$work'/archive/*.nv24 && '$batch' run '$work/b'"

if [ "$files" -gt 0 ]; then
    echo "$files files of $hours h (3 channels, 100 Hz) on $cores cores; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
    printf "%-34s %8s %8s %8s %7s %7s %9s\n" "way of running" "wall s" "CPU s" "floor s" "ratio" "idle" "ratio idle"
    measure "for f; do vimsor \$f; done" "$sequential"
    rm -rf "$work/seq"
    for setting in "-j $cores --cpus 1" "-j 1 --cpus $cores" "-j $cores --cpus $cores"; do
        measure "vimsor-batch run $setting" "$batch_run $setting"
    done
    rm -rf "$work/b"
    echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
    echo
fi

# One file, the job files on the working disk (WORK-DIR) and on tmpfs.
printf "%-34s %8s %8s\n" "one $hours h file, job files on" "wall s" "CPU s"
for place in "$work/disk" "/dev/shm/vimsor-batch-bench.$$"; do
    mkdir -p "$place"
    sync
    /usr/bin/time -f '%e %U %S' -o "$work/time" bash -c "cd '$place' && vimsor '$work/day.nv24'" >/dev/null 2>&1
    read -r wall user system <"$work/time"
    printf "%-34s %8.1f %8.1f\n" "$(stat -f -c %T "$place")" "$wall" "$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')"
    rm -rf "$place"
done
