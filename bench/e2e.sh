#!/usr/bin/env bash
# End-to-end measurement: vimsor on a block-format recording of HOURS hours
# (3 channels, 100 Hz) with the analysis stand-in first on PATH, then the
# stand-in run directly over the same job files.
#
#   bench/e2e.sh BIN-DIR WORK-DIR HOURS [MINIMAL-SUM-FILE]
#
# Wall time, peak memory (maximum resident set size) and the CPU time of the
# whole process tree come from /usr/bin/time -v. The driver's own CPU time
# (parent only, without the workers) comes from self_cpu, which reads the
# driver's /proc/<pid>/stat while it is a zombie: utime and stime there count
# the process itself, cutime and cstime its reaped children.
# MINIMAL-SUM-FILE holds the CPU seconds of the stages' minimal loops
# (written by vimsor_bench --sum-out) for the driver's CPU bound.
set -euo pipefail

bin=$(cd "$1" && pwd)
work=$2
hours=$3
minimal_sum_file=${4:-}

rm -rf "$work"
mkdir -p "$work/run" "$work/keep" "$work/shim"
cd "$work"
work=$(pwd)

seconds=$(awk -v h="$hours" 'BEGIN { printf "%d", h * 3600 }')
"$bin/make_example" recording.nv24 "$seconds" 100

# The stand-in is reached through a shim that first hard-links the job files
# it is given into keep/ (one ln for all of them, a small part of the
# workers' time), so that the stand-in can be run alone over the same files.
cat >shim/mavlin <<SHIM
#!/bin/sh
ln -f -- "\$@" "$work/keep/" 2>/dev/null
exec "$bin/mavlin" "\$@"
SHIM
chmod +x shim/mavlin

# The measured run.
if ! (cd run && PATH="$work/shim:$bin:$PATH" /usr/bin/time -v -o ../vimsor.time \
        "$bin/self_cpu" ../self.txt vimsor ../recording.nv24 >../vimsor.out 2>../vimsor.err); then
    cat vimsor.err >&2
    exit 1
fi

# The stand-in directly over the kept job files, with the workers' own command lines.
{
    echo 'cd "$1"'
    grep '^/bin/sh ' vimsor.out | sed 's|^/bin/sh \(.*\)|( \1 ) >/dev/null 2>\&1 \&|'
    echo wait
} >direct.sh
PATH="$bin:$PATH" /usr/bin/time -v -o direct.time sh direct.sh "$work/keep"

field() { grep "$1" "$2" | sed 's/.*: //'; }
seconds_of() {  # h:mm:ss or m:ss.ss
    awk -F: '{ s = 0; for (i = 1; i <= NF; ++i) s = s * 60 + $i; print s }'
}
read -r self_user self_sys child_user child_sys wall <self.txt
samples=$((seconds * 100))
rows=$((samples / 512 * 3))

# The run is whole: the output holds its comment line and every row's block
# of 1028 bytes, and nothing but the output and the log is left beside it.
output_bytes=$(($(head -c 1024 run/recording.bi1 | tr '\r' '\n' | head -n 1 | wc -c) + rows * 1028))
if [ "$(stat -c %s run/recording.bi1)" -ne "$output_bytes" ] ||
    [ "$(ls run)" != "$(printf 'logfile\nrecording.bi1')" ]; then
    echo "bench/e2e.sh: run/ should hold logfile and recording.bi1 of $output_bytes bytes:" >&2
    ls -l run | head >&2
    exit 1
fi
store_bytes=$(( (samples + 3 * samples + rows * 512) * 8 ))
peak_kb=$(field "Maximum resident" vimsor.time)
total_cpu=$(awk -v u="$(field 'User time' vimsor.time)" -v s="$(field 'System time' vimsor.time)" 'BEGIN { print u + s }')
direct_wall=$(field "Elapsed" direct.time | seconds_of)
direct_cpu=$(awk -v u="$(field 'User time' direct.time)" -v s="$(field 'System time' direct.time)" 'BEGIN { print u + s }')

awk -v hours="$hours" -v samples="$samples" -v rows="$rows" -v wall="$wall" \
    -v su="$self_user" -v ss="$self_sys" -v cu="$child_user" -v cs="$child_sys" -v total="$total_cpu" \
    -v peak="$peak_kb" -v store="$store_bytes" -v dwall="$direct_wall" -v dcpu="$direct_cpu" \
    -v minimal="$( [ -n "$minimal_sum_file" ] && cat "$minimal_sum_file" || echo 0)" 'BEGIN {
    printf "\nend to end: %s h, 3 channels, 100 Hz: %d samples per channel, %d rows\n", hours, samples, rows
    printf "%-46s %10s\n", "measure", "value"
    printf "%-46s %10.2f\n", "vimsor wall time (s)", wall
    printf "%-46s %10.2f\n", "vimsor own CPU, user + system (s)", su + ss
    printf "%-46s %10.2f\n", "  user (s)", su
    printf "%-46s %10.2f\n", "  system (s)", ss
    printf "%-46s %10.2f\n", "workers CPU (s)", cu + cs
    printf "%-46s %10.2f\n", "whole tree CPU, /usr/bin/time (s)", total
    printf "%-46s %10.2f\n", "stand-in alone over the job files, wall (s)", dwall
    printf "%-46s %10.2f\n", "stand-in alone over the job files, CPU (s)", dcpu
    if (minimal > 0)
        printf "%-46s %10.2f  ratio %.2f\n", "stages minimal loops, CPU (s)", minimal, (su + ss) / minimal
    printf "%-46s %10.1f\n", "peak memory (MiB)", peak / 1024
    printf "%-46s %10.1f  ratio %.2f\n", "bytes the stores hold (MiB)", store / 1048576, peak * 1024 / store
}'
