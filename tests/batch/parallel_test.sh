#!/usr/bin/env bash
# vimsor-batch on this machine (GNU parallel): the plan's refusals, a full
# run, a runner killed with SIGKILL midway and its rerun.
. "$(dirname "$0")/common.sh"
command -v parallel >/dev/null || skip "GNU parallel is not installed (Debian package parallel)"

make_archive_and_reference --both
archive=$work/archive

# Refusals of the plan: nothing is written.
cp "$archive/kiruna/k0501.nv24" "$archive/jamton/k0501.nv24"
expect_status 2 "$batch" plan "$work/clash" "$archive"/*/*
said "$archive/jamton/k0501.nv24 and $archive/kiruna/k0501.nv24 would both give the output k0501.bi1"
rm "$archive/jamton/k0501.nv24"
for refused in "-o name" "--namebase=x" "--nameb x" "-C 2" "--cpus=2" "--help" "-b $archive/kiruna/k0501.nv24" "@args"; do
    # shellcheck disable=SC2086  # the words of each case
    expect_status 2 "$batch" plan "$work/refused" "$archive/kiruna/k0501.nv24" -- $refused
    [ ! -e "$work/refused/manifest" ] || fail "a plan was written with -- $refused"
done
expect_status 2 "$batch" plan "$work/refused" "$work/missing.nv24"
said "no such input file: $work/missing.nv24"

# Output names follow vimsor's options; relative names and --list are taken.
(cd "$archive" && "$batch" plan "$work/names" kiruna/k0501.nv24 --list <(echo lycksele/l0501.tm4) -- -s -4 >/dev/null) ||
    fail "plan with relative names"
printf '%s\t%s\n' "$archive/kiruna/k0501.nv24" k0501.tm4_2 "$archive/lycksele/l0501.tm4" l0501.tm4_2 |
    cmp -s - "$work/names/manifest" || fail "manifest: $(cat "$work/names/manifest")"

# A full run, then a rerun that only retries the damaged input.
expect_status 0 "$batch" plan "$work/full" "$archive"/*/* -- --both
expect_status 1 "$batch" run "$work/full" -j 2
check_finished "$work/full"
before=$(inodes "$work/full")
expect_status 1 "$batch" run "$work/full"
said "1 input(s) to run"
check_finished "$work/full"
[ "$(inodes "$work/full")" = "$before" ] || fail "a rerun replaced finished outputs"

# The runner killed with SIGKILL midway: its jobs stop and clean up, and a
# rerun does the rest.
slow_stand_in
expect_status 0 "$batch" plan "$work/killed" "$archive"/*/* -- --both
PATH=$work/shim:$PATH "$batch" run "$work/killed" -j 2 >/dev/null 2>&1 &
runner=$!
cleanups+=("kill -9 $runner 2>/dev/null")
wait_for 120 "the first inputs" at_least_done "$work/killed" 3
kill -9 "$runner"
wait "$runner" 2>/dev/null
wait_for 30 "the jobs to stop" eval '[ -z "$(ls -A "$TMPDIR")" ]'
sleep 1  # a job that outlived its runner would finish an input here
expect_status 1 "$batch" status "$work/killed"
said "running 0"
check_outputs "$work/killed"
kept=$(ls "$work/killed/out" | wc -l)
[ "$kept" -lt 24 ] || fail "the run was not stopped midway ($kept outputs)"
[ -z "$(find "$work/killed" -name 'vm*')" ] || fail "job files left: $(find "$work/killed" -name 'vm*')"
before=$(inodes "$work/killed")
expect_status 1 "$batch" run "$work/killed" -j 2
check_finished "$work/killed"
join -j 2 <(echo "$before") <(inodes "$work/killed") | awk '$2 != $3 { print; bad = 1 } END { exit bad }' ||
    fail "outputs finished before the kill were made again"
echo "PASS"
