#!/usr/bin/env bash
# Builds vimsor and the mavlin stand-in, writes an example block-format
# recording (3 channels, 20 Hz, one hour), runs vimsor on it with the stand-in
# first on PATH and shows the first lines of the TM4 output; then describes the
# recording with nvinfo and draws the recording and the output with nvplot.
# Then the same samples as an SDS archive go through vimsor-batch (with GNU
# parallel, where it is installed): one input per day, results as SDS trees.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
need_build_tools
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIMSOR_TESTS=OFF
cmake --build build -j"$(nproc)"
bin=$(pwd)/build/bin
mkdir -p build/demo
cd build/demo
"$bin/make_example" example.nv24
PATH="$bin:$PATH" "$bin/vimsor" --mode=tm4 example.nv24
echo
echo "First lines of build/demo/example.tm4_1:"
head -n 5 example.tm4_1
echo
"$bin/nvinfo" example.nv24
echo
"$bin/nvplot" example.nv24 --width=800 --height=480
"$bin/nvplot" example.tm4_1 --width=800 --height=480
echo "Pictures: build/demo/example.nv24.png, build/demo/example.tm4_1.png"

echo
echo "An SDS archive (build/demo/sds) through vimsor-batch, one input per day:"
rm -rf sds sds-batch
"$bin/make_example" --sds sds
"$bin/vimsor-batch" plan sds-batch --sds sds --channels 'XX.KIRUN.*.BDF' --from 2016-04-30 --to 2016-05-01 -- --both
if command -v parallel >/dev/null; then
    PATH="$bin:$PATH" "$bin/vimsor-batch" run sds-batch -j 2
    echo "Result day files (FLOAT32 miniSEED, the input's ids):"
    (cd sds-batch/out && find . -type f | sort)
else
    echo "GNU parallel is not installed (Debian package parallel): vimsor-batch run skipped"
fi
