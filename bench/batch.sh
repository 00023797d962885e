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

# measure LABEL SHELL-COMMAND: prints wall, tree CPU, floor, wall / floor,
# and the idle-core share with the ratio it gives on an otherwise idle machine.
#
# A machine shared with other work stretches the wall time but not the CPU
# time, so wall / floor says little there. The idle-core share does not
# depend on that load: four times a second the processes of the command's
# process tree that are runnable (state R: running or waiting for a core) are
# counted (the tree, not the session: vimsor-batch runs each vimsor in a
# session of its own); each sample adds max(0, cores - runnable) / cores.
# Alone on the machine the command would take floor / (1 - idle share).
measure() {
    sync
    setsid /usr/bin/time -f '%e %U %S' -o "$work/time" bash -c "$2" >/dev/null 2>&1 &
    local session=$!
    local state
    while state=$(ps -o stat= -p "$session") && [ "${state:0:1}" != Z ]; do
        ps -e -o pid=,ppid=,stat= | awk -v root="$session" '
            { parent[$1] = $2; state[$1] = $3 }
            END {
                for (p in parent) {
                    for (q = p; q != root && q in parent && q > 1; q = parent[q]) {}
                    if (q == root && state[p] ~ /^R/) ++r
                }
                print r + 0
            }'
        sleep 0.25
    done >"$work/samples"
    wait "$session" || true
    read -r wall user system <"$work/time"
    awk -v l="$1" -v w="$wall" -v u="$user" -v s="$system" -v c="$cores" '
        { idle += ($1 < c ? c - $1 : 0) / c; ++n }
        END {
            cpu = u + s; floor = cpu / c; share = n ? idle / n : 0
            printf "%-34s %8.1f %8.1f %8.1f %7.2f %7.2f %9s\n", l, w, cpu, floor, w / floor, share,
                share < 1 ? sprintf("%.2f", 1 / (1 - share)) : "-"
        }' "$work/samples"
}

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
