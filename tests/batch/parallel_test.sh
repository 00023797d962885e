#!/usr/bin/env bash
# vimsor-batch on this machine (GNU parallel): the plan's refusals, a full
# run, a runner killed with SIGKILL midway and its rerun.
. "$(dirname "$0")/common.sh"
command -v parallel >/dev/null || skip "GNU parallel is not installed (Debian package parallel)"
make_archive_and_reference --both

# Refusals of the plan: nothing is written.
mkdir "$work/copy" && cp "$archive/kiruna/k1.tm4" "$work/copy/"
expect_said 2 "$archive/kiruna/k1.tm4 and $work/copy/k1.tm4 would both give the output k1.bi1" \
    "$batch" plan "$work/clash" "$archive"/*/* "$work/copy/k1.tm4"
for refused in "-o name" "--namebase=x" "--nameb x" "-C 2" "--cpus=2" "--help" "-b $archive/kiruna/k1.tm4" "@args"; do
    # shellcheck disable=SC2086  # the words of each case
    expect_status 2 "$batch" plan "$work/refused" "$archive/kiruna/k1.tm4" -- $refused
    [ ! -e "$work/refused/manifest" ] || fail "a plan was written with -- $refused"
done
expect_said 2 "no such input file: $work/missing.nv24" "$batch" plan "$work/refused" "$work/missing.nv24"

# Output names follow vimsor's options; relative names and --list are taken.
(cd "$archive" && "$batch" plan "$work/names" kiruna/k1.tm4 --list <(echo kiruna/k7.tm4) -- -s -4 >/dev/null) ||
    fail "plan with relative names"
printf '%s\0%s\0\0' "$archive/kiruna/k1.tm4" k1.tm4_2 "$archive/kiruna/k7.tm4" k7.tm4_2 |
    cmp -s - "$work/names/manifest" || fail "manifest: $(tr '\0' '|' <"$work/names/manifest")"

# A full run, then a rerun that only retries the damaged input.
expect_status 0 "$batch" plan "$work/full" "$archive"/*/* -- --both
expect_status 1 "$batch" run "$work/full" -j 2
check_finished "$work/full"
kept=$(inodes "$work/full")
expect_said 1 "1 input(s) to run" "$batch" run "$work/full"
check_resumed "$work/full"

# The runner killed with SIGKILL midway; a rerun does the rest.
expect_status 0 "$batch" plan "$work/killed" "$archive"/*/* -- --both
PATH=$work/slow:$PATH "$batch" run "$work/killed" -j 2 >/dev/null 2>&1 &
runner=$!
cleanups+=("kill -9 $runner 2>/dev/null")
wait_for 120 "the first inputs" at_least_done "$work/killed" 3
kill -9 "$runner"
wait "$runner" 2>/dev/null
check_stopped "$work/killed" 24
expect_status 1 "$batch" run "$work/killed" -j 2
check_resumed "$work/killed"
echo PASS
