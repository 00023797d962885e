#!/usr/bin/env bash
# vimsor-batch on a single-node Slurm on localhost: munged, slurmctld and
# slurmd run as root from a private configuration in the test's directory.
# An array over the archive, then a second one cancelled midway and resubmitted.
. "$(dirname "$0")/common.sh"

command -v sbatch >/dev/null || skip "sbatch is not installed (Debian package slurm-client)"
slurm=$(dirname "$batch")/localhost-slurm

# The daemons go whatever happens, stopped by their pids.
cleanups=("'$slurm' stop '$work/slurm'" "${cleanups[@]}")
"$slurm" start "$work/slurm" 8 >"$work/slurm.env" 2>"$work/slurm.err"
case $? in
0) . "$work/slurm.env" ;;
3) cat "$work/slurm.err" >&2; skip "no localhost Slurm on this machine" ;;
*) cat "$work/slurm.err" >&2; fail "localhost-slurm start" ;;
esac

job_gone() { [ -z "$(squeue -h -j "$1" 2>/dev/null)" ]; }

submitted_job() { tail -n 1 "$work/said"; }

make_archive_and_reference --mode=tm4
archive=$work/archive

# An array within MaxArraySize (8 here, from the start above): 13 inputs go two to a task.
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
