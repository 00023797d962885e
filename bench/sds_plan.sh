#!/usr/bin/env bash
# Builds sds_bench and measures what the SDS batch adds beside vimsor's run:
# the block-format writer on a day at 100 Hz x 3 channels, and the plan of a
# decade (3,650 days x 8 ids) from a tree of empty day files (warm cache).
#
#   bash bench/sds_plan.sh
#
# VIMSOR_BENCH_BUILD names the build directory (default build-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/prepare.sh

work=$(mktemp -d "${TMPDIR:-/tmp}/sds-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
bench_build sds_bench
"$build/bin/sds_bench" "$work/run"
