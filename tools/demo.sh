#!/usr/bin/env bash
# Builds vimsor and runs it on an example recording.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
need_build_tools
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIMSOR_TESTS=OFF
cmake --build build -j"$(nproc)"
mkdir -p build/demo
cd build/demo
../bin/vimsor example.nv24
