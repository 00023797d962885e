#!/usr/bin/env bash
# Builds vimsor, its analysis stand-in and the tests in build/, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
need_test_tools
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIMSOR_TESTS=ON
cmake --build build -j"$(nproc)"
cd build
ctest --output-on-failure -j"$(nproc)"
