#!/usr/bin/env bash
# vimsor-batch on a single-node Slurm on localhost: munged, slurmctld and
# slurmd run as root from a private configuration in the test's directory.
# An array over the archive, then a second one cancelled midway and resubmitted.
. "$(dirname "$0")/common.sh"

[ "$(id -u)" -eq 0 ] || skip "a private Slurm needs root (SlurmUser=root)"
for daemon in munged slurmctld slurmd sbatch squeue scancel; do
    command -v "$daemon" >/dev/null || skip "$daemon is not installed (Debian packages slurm-wlm, munge)"
done

# A port pair nobody listens on.
free_port_pair() {
    local port
    for port in $(shuf -i 20000-59000 -n 20); do
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null &&
            ! (exec 3<>"/dev/tcp/127.0.0.1/$((port + 1))") 2>/dev/null; then
            echo "$port"
            return 0
        fi
    done
    return 1
}

# Starts a daemon in the foreground of a background job and registers its
# stop, so that whatever happens the test ends it by its pid.
start_daemon() {  # LOG COMMAND...
    local log=$1
    shift
    "$@" >"$log" 2>&1 &
    local pid=$!
    cleanups=("kill $pid 2>/dev/null; wait $pid 2>/dev/null" "${cleanups[@]}")
}

start_slurm() {
    local slurm=$work/slurm host
    host=$(hostname)
    mkdir -p "$slurm/state" "$slurm/spool" || fail "mkdir $slurm"
    # munge: a key of our own and a socket of our own. munged still checks
    # that /run/munge exists and belongs to the munge user.
    install -d -o munge -g munge -m 0755 /run/munge || skip "cannot create /run/munge"
    dd if=/dev/urandom of="$slurm/munge.key" bs=1024 count=1 status=none && chmod 0400 "$slurm/munge.key" ||
        fail "munge key"
    start_daemon "$slurm/munged.out" munged --foreground --force --socket="$slurm/munge.socket" \
        --key-file="$slurm/munge.key" --pid-file="$slurm/munged.pid" --log-file="$slurm/munged.log" \
        --seed-file="$slurm/munged.seed"
    wait_for 20 "munged" test -S "$slurm/munge.socket"

    local port
    port=$(free_port_pair) || skip "no free port pair"
    cat >"$slurm/slurm.conf" <<CONF
ClusterName=vimsortest
SlurmctldHost=$host
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
AuthType=auth/munge
AuthInfo=socket=$slurm/munge.socket
CredType=cred/munge
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/builtin
MpiDefault=none
ReturnToService=2
MaxArraySize=8
StateSaveLocation=$slurm/state
SlurmdSpoolDir=$slurm/spool
SlurmctldPidFile=$slurm/slurmctld.pid
SlurmdPidFile=$slurm/slurmd.pid
SlurmctldLogFile=$slurm/slurmctld.log
SlurmdLogFile=$slurm/slurmd.log
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=batch Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF
    export SLURM_CONF=$slurm/slurm.conf
    start_daemon "$slurm/slurmctld.out" slurmctld -D -i
    start_daemon "$slurm/slurmd.out" slurmd -D
    if ! wait_for_idle 60; then
        echo "slurmd did not come up; its log:" >&2
        tail -n 20 "$slurm/slurmd.log" "$slurm/slurmd.out" "$slurm/slurmctld.log" >&2
        skip "this machine cannot start slurmd"
    fi
}

wait_for_idle() {  # SECONDS
    local deadline=$((SECONDS + $1))
    until sinfo -h -o %t 2>/dev/null | grep -qx idle; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.5
    done
}

job_gone() { [ -z "$(squeue -h -j "$1" 2>/dev/null)" ]; }

submitted_job() { tail -n 1 "$work/said"; }

start_slurm
make_archive_and_reference --mode=tm4
archive=$work/archive

# An array within MaxArraySize (8 here): 13 inputs go two to a task.
expect_status 0 "$batch" plan "$work/full" "$archive"/*/* -- --mode=tm4
expect_status 2 "$batch" submit "$work/full" --chunk 1
said "use --chunk 2 or more"
expect_status 0 "$batch" submit "$work/full" --partition batch --time 10
said "7 task(s) over 13 input(s), 2 per task"
job=$(submitted_job)
wait_for 180 "array $job" job_gone "$job"
check_finished "$work/full"
expect_status 0 "$batch" submit "$work/full"
said "1 task(s) over 1 input(s)"
wait_for 60 "the retry" job_gone "$(submitted_job)"
check_finished "$work/full"

# A second array cancelled midway, then resubmitted: the rest completes and
# nothing finished is done again.
slow_stand_in
expect_status 0 "$batch" plan "$work/cancelled" "$archive"/*/* -- --mode=tm4
PATH=$work/shim:$PATH expect_status 0 "$batch" submit "$work/cancelled" --chunk 3 --max-parallel 1
job=$(submitted_job)
cleanups=("scancel $job 2>/dev/null" "${cleanups[@]}")
wait_for 120 "the first inputs" at_least_done "$work/cancelled" 2
expect_status 2 "$batch" run "$work/cancelled"
said "still work on $work/cancelled"
scancel "$job" || fail "scancel $job"
wait_for 60 "the cancel" job_gone "$job"
wait_for 30 "the tasks to clean up" eval '[ -z "$(ls -A "$TMPDIR")" ]'
expect_status 1 "$batch" status "$work/cancelled"
said "running 0"
check_outputs "$work/cancelled"
kept=$(ls "$work/cancelled/out" | wc -l)
[ "$kept" -lt 12 ] || fail "the array was not cancelled midway ($kept outputs)"
before=$(inodes "$work/cancelled")
expect_status 0 "$batch" submit "$work/cancelled" --cpus-per-task 2
wait_for 120 "the resubmission" job_gone "$(submitted_job)"
check_finished "$work/cancelled"
join -j 2 <(echo "$before") <(inodes "$work/cancelled") | awk '$2 != $3 { print; bad = 1 } END { exit bad }' ||
    fail "outputs finished before the cancel were made again"
echo "PASS"
