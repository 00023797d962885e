#!/usr/bin/env bash
# vimsor-batch on a localhost Slurm (munged, slurmctld and slurmd as root from a private
# configuration): an array over the archive, then one cancelled midway and resubmitted.
. "$(dirname "$0")/common.sh"
command -v sbatch >/dev/null || skip "sbatch is not installed (Debian package slurm-client)"
slurm=$(cd "$(dirname "$0")/../../batch" && pwd)/localhost-slurm

# The daemons go whatever happens, stopped by their pids.
cleanups=("'$slurm' stop '$work/slurm'" "${cleanups[@]}")
"$slurm" start "$work/slurm" 8 >"$work/slurm.env" 2>"$work/slurm.err"
case $? in
0) . "$work/slurm.env" ;;
3) cat "$work/slurm.err" >&2; skip "no localhost Slurm on this machine" ;;
*) cat "$work/slurm.err" >&2; fail "localhost-slurm start" ;;
esac

array_gone() {  # [JOB]: the job, by default the one submitted last, is out of the queue
    [ -z "$(squeue -h -j "${1:-$(tail -n 1 "$work/said")}" 2>/dev/null)" ]
}
make_archive_and_reference --mode=tm4

# An array within MaxArraySize (8 here, from the start above): 13 inputs go two to a task.
expect_status 0 "$batch" plan "$work/full" "$archive"/*/* -- --mode=tm4
expect_said 2 "use --chunk 2 or more" "$batch" submit "$work/full" --chunk 1
expect_said 0 "7 task(s) over 13 input(s), 2 per task" "$batch" submit "$work/full" --partition batch --time 10
wait_for 180 "the array" array_gone
check_finished "$work/full"
expect_said 0 "1 task(s) over 1 input(s)" "$batch" submit "$work/full"
wait_for 60 "the retry" array_gone
check_finished "$work/full"

# A second array cancelled midway, then resubmitted: the rest completes and
# nothing finished is done again. Its directory's name tries the script, the
# task logs' %-patterns and the shell.
cancelled="$work/can'cel \$(touch PWNED)%j\\"$'\n'"led"
expect_status 0 "$batch" plan "$cancelled" "$archive"/*/* -- --mode=tm4
PATH=$work/slow:$PATH expect_status 0 "$batch" submit "$cancelled" --chunk 3 --max-parallel 1
job=$(tail -n 1 "$work/said")
cleanups=("scancel $job 2>/dev/null" "${cleanups[@]}")
wait_for 120 "the first inputs" at_least_done "$cancelled" 2
expect_said 1 " task(s) running, " "$batch" status "$cancelled"
expect_said 2 "still work on $cancelled" "$batch" run "$cancelled"
scancel "$job" || fail "scancel $job"
wait_for 60 "the cancel" array_gone "$job"
check_stopped "$cancelled" 12
expect_status 0 "$batch" submit "$cancelled" --cpus-per-task 2
wait_for 120 "the resubmission" array_gone
check_resumed "$cancelled"
[ -e "$cancelled/slurm/${job}_0.out" ] || fail "no task log in $cancelled/slurm: $(ls "$cancelled/slurm")"
[ -z "$(find "$work" "$PWD" -name PWNED)" ] || fail "a name ran as code"

# The days of an SDS archive as an array give the day files a run under GNU
# parallel gives (held against plain vimsor runs in test_batch).
"$bin/sds_test_archive" "$work/sds" || fail "sds_test_archive"
for way in parallel slurm; do
    expect_said 0 "planned 5 input(s)" "$batch" plan "$work/sds-$way" --sds "$work/sds" \
        --channels 'XX.*' --from 2024-02-27 --to 2024-03-02 -- -b
done
if command -v parallel >/dev/null; then
    expect_status 0 "$batch" run "$work/sds-parallel"
fi
expect_said 0 "3 task(s) over 5 input(s), 2 per task" "$batch" submit "$work/sds-slurm" --chunk 2
wait_for 180 "the SDS array" array_gone
expect_said 0 "done 5 (2 with no data), failed 0" "$batch" status "$work/sds-slurm"
said "samples without a result: 3312 "
[ -n "$(find "$work/sds-slurm/out/weak" "$work/sds-slurm/out/strong" -type f)" ] || fail "no SDS results"
if command -v parallel >/dev/null; then
    diff -r "$work/sds-parallel/out" "$work/sds-slurm/out" || fail "the array's day files differ"
fi
echo PASS
