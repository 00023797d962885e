# Sourced by the batch tests:  TEST.sh VIMSOR-BATCH BIN-DIR
# Sets batch (the script), bin and work (a fresh temporary directory, removed
# at the end), puts the analysis stand-in first on PATH and gives helpers.
set -uo pipefail

batch=$(readlink -f "$1") || exit 1
bin=$(cd "$2" && pwd) || exit 1
work=$(mktemp -d "${TMPDIR:-/tmp}/vimsor-batch-test.XXXXXX") || exit 1
export TMPDIR=$work/tmp
mkdir -p "$TMPDIR" "$work/shim"
export PATH=$bin:$PATH
cleanups=("rm -rf '$work'")
run_cleanups() {
    local step
    for step in "${cleanups[@]}"; do eval "$step"; done
}
trap run_cleanups EXIT
trap 'exit 1' INT TERM HUP

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

skip() {
    echo "SKIP: $*" >&2
    exit 77
}

# expect_status STATUS COMMAND...: runs the command, output in $work/said.
expect_status() {
    local expected=$1
    shift
    "$@" >"$work/said" 2>&1
    local status=$?
    [ "$status" -eq "$expected" ] || { cat "$work/said" >&2; fail "$* ended with $status, not $expected"; }
}

said() {  # TEXT: the last command's output holds TEXT
    grep -qF -- "$1" "$work/said" || { cat "$work/said" >&2; fail "no '$1' in the output"; }
}

# wait_for SECONDS DESCRIPTION COMMAND...: polls until the command succeeds.
wait_for() {
    local deadline=$((SECONDS + $1)) what=$2
    shift 2
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || fail "timed out waiting for $what"
        sleep 0.2
    done
}

done_count() { "$batch" status "$1" 2>/dev/null | sed -n 's/^done \([0-9]*\),.*/\1/p'; }
at_least_done() { [ "$(done_count "$1")" -ge "$2" ]; }

# The archive (twelve good inputs of three formats and one damaged) and the
# outputs of a plain vimsor run over each good input with OPTION..., in ref/.
make_archive_and_reference() {  # OPTION...
    "$bin/make_archive" "$work/archive" 600 || fail "make_archive"
    mkdir -p "$work/ref"
    local input
    for input in "$work"/archive/*/*; do
        [ "$(basename "$input")" = k0599.nv24 ] && continue
        (cd "$work/ref" && vimsor "$@" "$input" >/dev/null 2>&1) || fail "plain vimsor on $input"
    done
    rm -f "$work/ref/logfile"
    [ "$(ls "$work/ref" | wc -l)" -ge 12 ] || fail "plain vimsor wrote $(ls "$work/ref" | wc -l) outputs"
}

# Every output in DIR/out is complete: the same bytes as the plain run's
# (with ALL, every reference output must be there too).
check_outputs() {  # DIR [all]
    local output
    for output in "$1"/out/* "$1"/out/.[!.]*; do
        [ -e "$output" ] || continue
        cmp -s "$output" "$work/ref/$(basename "$output")" || fail "$output differs from a plain vimsor run"
    done
    [ "${2:-}" != all ] || for output in "$work"/ref/*; do
        [ -f "$1/out/$(basename "$output")" ] || fail "no $(basename "$output") in $1/out"
    done
}

# The finished state after a full run: counts, the damaged input's message,
# every output, and each good input run to its end exactly once.
check_finished() {  # DIR
    expect_status 1 "$batch" status "$1"
    said "done 12, failed 1, pending 0, running 0 (of 13)"
    said "failed: $work/archive/kiruna/k0599.nv24: can't read $work/archive/kiruna/k0599.nv24: Unknown nv24 header version 120"
    check_outputs "$1" all
    local input
    for input in "$work"/archive/*/*; do
        [ "$(basename "$input")" = k0599.nv24 ] && continue
        [ "$(grep -c -- " $input\$" "$1/logfile")" -eq 1 ] || fail "$input was run $(grep -c -- " $input\$" "$1/logfile") times"
    done
    [ -z "$(ls -A "$TMPDIR")" ] || fail "scratch left in $TMPDIR: $(ls -A "$TMPDIR")"
}

# Inode numbers of the finished outputs: a redone input gets a new file.
inodes() { ls -i "$1/out" | sort -k2; }

# A stand-in that takes its time, so that a run can be stopped midway.
slow_stand_in() {
    printf '#!/bin/sh\nsleep 0.5\nexec "%s/mavlin" "$@"\n' "$bin" >"$work/shim/mavlin"
    chmod +x "$work/shim/mavlin"
}
