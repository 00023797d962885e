# Sourced by the batch tests:  TEST.sh VIMSOR-BATCH BIN-DIR [BUILD-DIR]
# Sets batch (the script), bin and work (a fresh temporary directory, removed
# at the end), puts the analysis stand-in first on PATH and gives helpers.
set -uo pipefail

batch=$(readlink -f "$1") || exit 1
bin=$(cd "$2" && pwd) || exit 1
work=$(mktemp -d "${TMPDIR:-/tmp}/vimsor-batch-test.XXXXXX") || exit 1
export TMPDIR=$work/tmp
export PATH=$bin:$PATH
cleanups=("rm -rf '$work'")
trap 'for step in "${cleanups[@]}"; do eval "$step"; done' EXIT
trap 'exit 1' INT TERM HUP
mkdir -p "$TMPDIR"
# With work/slow first on PATH, a stand-in that takes its time: a run can be stopped midway.
printf '#!/bin/sh\nsleep 0.5\nexec "%s/mavlin" "$@"\n' "$bin" | install -D /dev/stdin "$work/slow/mavlin"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
skip() {
    echo "SKIP: $*" >&2
    exit 77
}

expect_status() {  # STATUS COMMAND...: runs the command, output in $work/said
    "${@:2}" >"$work/said" 2>&1
    local status=$?
    [ "$status" -eq "$1" ] || { cat "$work/said" >&2; fail "${*:2} ended with $status, not $1"; }
}
said() {  # TEXT: the last command's output holds TEXT
    grep -qF -- "$1" "$work/said" || { cat "$work/said" >&2; fail "no '$1' in the output"; }
}
expect_said() {  # STATUS TEXT COMMAND...: as expect_status, and the output holds TEXT
    expect_status "$1" "${@:3}"
    said "$2"
}

wait_for() {  # SECONDS DESCRIPTION COMMAND...: polls until the command succeeds
    local deadline=$((SECONDS + $1))
    until "${@:3}"; do
        [ "$SECONDS" -lt "$deadline" ] || fail "timed out waiting for $2"
        sleep 0.2
    done
}

at_least_done() { [ "$("$batch" status "$1" 2>/dev/null | sed -n 's/^done \([0-9]*\),.*/\1/p')" -ge "$2" ]; }
no_scratch() { [ -z "$(ls -A "$TMPDIR")" ]; }
none_running() { [[ "$("$batch" status "$1" 2>/dev/null)" == *"running 0 ("* ]]; }
inodes() { ls -i "$1/out" | sort -k2; }  # of the outputs: a redone input gets a new file

# The archive of a station: twelve TM4 day-files, each of its own samples, and
# a block-format file of a header version no reader knows. In ref/, the
# outputs of a plain vimsor run over each good input with OPTION...
make_archive_and_reference() {  # OPTION...
    archive=$work/archive
    damaged=$archive/kiruna/bad.nv24
    mkdir -p "$archive/kiruna" "$work/ref"
    local day input
    for day in {1..12}; do
        input=$archive/kiruna/k$day.tm4
        awk -v day="$day" 'BEGIN {
            print "!S512Tidserier sampfrek: 20 gain: 1 station: lycksele"
            for (i = 0; i < 12000; ++i)
                printf "%.6f %d %d %d\n", 1462060800 + 86400 * (day - 1) + i / 20,
                    900 * sin(i / 20 + day), 900 * sin(i / 20 + day + 1), 900 * sin(i / 20 + day + 2)
        }' >"$input" || fail "writing $input"
        (cd "$work/ref" && vimsor "$@" "$input" >/dev/null 2>&1) || fail "plain vimsor on $input"
    done
    printf 'nv24\x78' >"$damaged"
    good=("$archive"/*/*.tm4)
    rm -f "$work/ref/logfile"
}

# Every output in DIR/out (hidden ones too) has the plain run's bytes; with ALL, all of them are there.
check_outputs() {  # DIR [all]
    local output
    for output in "$1"/out/* "$1"/out/.[!.]*; do
        [ -e "$output" ] || continue
        cmp -s "$output" "$work/ref/$(basename "$output")" || fail "$output differs from a plain vimsor run"
    done
    [ "${2:-}" != all ] || [ "$(ls "$work/ref")" = "$(ls "$1/out")" ] || fail "outputs in $1/out: $(ls "$1/out")"
}

# After a full run: the counts, the damaged input's message, every output,
# each good input run to its end exactly once and no scratch left.
check_finished() {  # DIR
    expect_said 1 "done 12, failed 1, pending 0, running 0 (of 13)" "$batch" status "$1"
    said "failed: $damaged: can't read $damaged: Unknown nv24 header version 120"
    check_outputs "$1" all
    [ "$(awk '{ print $NF }' "$1/logfile" | grep -vxF "$damaged" | sort)" = "$(printf '%s\n' "${good[@]}" | sort)" ] ||
        fail "the good inputs were not run once each: $(cat "$1/logfile")"
    no_scratch || fail "scratch left in $TMPDIR: $(ls -A "$TMPDIR")"
}

# A run stopped midway (fewer than MAX outputs): its jobs stop, clean up and leave complete outputs.
check_stopped() {  # DIR MAX
    # A stopped job removes its scratch, then its running record, and ends.
    wait_for 30 "the jobs to stop" none_running "$1"
    sleep 1  # a job that outlived its runner would finish an input here
    expect_said 1 "running 0" "$batch" status "$1"
    no_scratch || fail "scratch left in $TMPDIR: $(ls -A "$TMPDIR")"
    check_outputs "$1"
    [ "$(ls "$1/out" | wc -l)" -lt "$2" ] || fail "$1 was not stopped midway"
    [ -z "$(find "$1" -name 'vm*')" ] || fail "job files left: $(find "$1" -name 'vm*')"
    kept=$(inodes "$1")
}

check_resumed() {  # DIR: finished by a rerun that made none of the outputs kept again
    check_finished "$1"
    join -j 2 <(echo "$kept") <(inodes "$1") | awk '$2 != $3 { print; bad = 1 } END { exit bad }' ||
        fail "outputs finished before the rerun were made again"
}
