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

# A full run, then a rerun that only retries the damaged input. A scratch
# directory a dead task of this host left goes at the start.
expect_status 0 "$batch" plan "$work/full" "$archive"/*/* -- --both
mkdir "$TMPDIR/vimsor-batch.$(hostname).$(sh -c 'echo $$').left"
expect_status 1 "$batch" run "$work/full" -j 2
check_finished "$work/full"
kept=$(inodes "$work/full")
expect_said 1 "1 input(s) to run" "$batch" run "$work/full"
check_resumed "$work/full"

# On a terminal, run shows an updating progress line; without one, nothing new.
! grep -q $'\r' "$work/said" || fail "progress shown without a terminal"
expect_status 0 "$batch" plan "$work/shown" "${good[@]:0:3}"
BATCH=$batch DIR=$work/shown PATH=$work/slow:$PATH script -qec '"$BATCH" run "$DIR" -j 1' /dev/null >"$work/tty"
grep -q $'\rprogress: [0-9] done, 0 failed, [0-9] pending of 3' "$work/tty" || fail "no progress line: $(cat -v "$work/tty")"

# The runner killed with SIGKILL, first after three inputs, then ten times as soon as an input is
# under way: a rerun right after a kill is never refused. The running record names the host and
# vimsor's session, which holds no descriptor of the batch's lock. A last run does the rest.
expect_status 0 "$batch" plan "$work/killed" "$archive"/*/* -- --both
session_of_running() {  # of a record of the current runner
    grep -lx "runner=$runner [0-9]*" "$work"/killed/records/*/*.running 2>/dev/null |
        xargs -r sed -n 's/^session=\([1-9][0-9]*\) [1-9].*/\1/p' 2>/dev/null | head -n 1
}
has_session() { [ -n "$(session_of_running)" ]; }
sed 's/sleep 0.5/sleep 5/' "$work/slow/mavlin" | install -D /dev/stdin "$work/slower/mavlin"
for round in {0..10}; do
    [ "$round" = 0 ] && slow=$work/slow || slow=$work/slower
    PATH=$slow:$PATH "$batch" run "$work/killed" -j 2 >"$work/round" 2>&1 &
    runner=$!
    cleanups+=("kill -9 $runner 2>/dev/null")
    if [ "$round" = 0 ]; then
        wait_for 120 "the first inputs" at_least_done "$work/killed" 3
    else
        wait_for 60 "an input under way (round $round)" has_session
    fi
    if [ "$round" = 1 ]; then
        session=$(session_of_running)
        grep -qx "host=$(hostname)" "$work"/killed/records/*/*.running || fail "no host in the running records"
        [ "$(ps -o sid= -p "$session" | tr -d ' ')" = "$session" ] || fail "vimsor $session leads no session"
        ! ls -l "/proc/$session/fd" | grep -q manifest || fail "vimsor holds the batch's lock"
    fi
    kill -9 "$runner"
    wait "$runner" 2>/dev/null
    grep -q "input(s) to run" "$work/round" || { cat "$work/round"; fail "round $round was refused"; }
done
check_stopped "$work/killed" 24
expect_status 1 "$batch" run "$work/killed" -j 2
check_resumed "$work/killed"

# The analysis program's standard error goes to the log: the failure line is
# vimsor's own message, one of its lines in a plain run with the same stand-in.
mkdir "$work/noisy" "$work/plain"
printf '#!/bin/sh\necho "noise from the analysis" >&2\nexit 3\n' | install /dev/stdin "$work/noisy/mavlin"
(cd "$work/plain" && PATH=$work/noisy:$PATH vimsor "${good[0]}" >/dev/null 2>"$work/plain.err")
expect_status 0 "$batch" plan "$work/noise" "${good[0]}"
PATH=$work/noisy:$PATH expect_status 1 "$batch" run "$work/noise"
line=$(sed -n "s|^failed: ${good[0]}: ||p" "$work/said")
[ -n "$line" ] && [[ $line != *noise* ]] && grep -qxF "$line" "$work/plain.err" || fail "failure line: $line"
grep -q "noise from the analysis" "$work/noise/logs/1.log" || fail "the stand-in's noise is not in the log"

[ "$(id -u)" = 0 ] || { echo "PASS (the full disks and the failed fork need root)"; exit 0; }
# A failed fork: root is not held by RLIMIT_NPROC, so the task runs as a user
# with no other process, allowed two (the task and vimsor).
expect_status 0 "$batch" plan "$work/fork" "${good[0]}"
chmod 755 "$work" && chown -R 54321 "$work/fork" "$TMPDIR" || fail "chown"
# LeakSanitizer (sanitizer builds) needs a process of its own at exit, which the limit forbids.
ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 \
    VIMSOR_BATCH_DIR=$work/fork VIMSOR_BATCH_CPUS=2 VIMSOR_BATCH_RUN="$$ $(cut -d' ' -f22 /proc/$$/stat)" \
    setpriv --reuid=54321 --regid=54321 --clear-groups bash -c 'ulimit -u 2 && exec "$0" task 1' "$batch"
expect_said 1 "failed: ${good[0]}: fork: Resource temporarily unavailable" "$batch" status "$work/fork"
chown -R 0 "$TMPDIR"

# A full TMPDIR and a full batch disk: the input fails, and the reason says why.
for disk in tmp batch; do
    mkdir "$work/$disk-disk" && mount -t tmpfs -o size=512k tmpfs "$work/$disk-disk" || fail "mount"
    cleanups=("umount '$work/$disk-disk'" "${cleanups[@]}")
done
expect_status 0 "$batch" plan "$work/batch-disk/b" "${good[0]}" -- --both
dd if=/dev/zero of="$work/tmp-disk/filler" bs=4k 2>/dev/null
TMPDIR=$work/tmp-disk expect_said 1 "No space left on device" "$batch" run "$work/batch-disk/b"
rm "$work/tmp-disk/filler"
free=$(df -k --output=avail "$work/batch-disk" | tail -n 1)
dd if=/dev/zero of="$work/batch-disk/filler" bs=1k count=$((free - 48)) 2>/dev/null
expect_said 1 "No space left on device" "$batch" run "$work/batch-disk/b"
said "cannot move the output"
echo PASS
