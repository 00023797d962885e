# Sourced by the archive benchmarks: measure, with $work (a scratch directory)
# and $cores set.
#
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
