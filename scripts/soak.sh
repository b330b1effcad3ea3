#!/usr/bin/env bash
# Soak: RUNS updates in a row (default 100) against zt-unit-sim over UDP and a pseudo-terminal,
# each under one injected fault in turn (loss, doubled replies with loss, corrupted replies,
# a unit that vanishes part-way), then how many ended with identical memories, how many failed
# with the failure message, and any other outcome. Uses the ASan/UBSan build in BUILD.
#   scripts/soak.sh [RUNS] [BUILD]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-100}
build=${2:-build/native}
if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZT_SANITIZE=ON -DZT_BUILD_TESTS=ON >/dev/null
fi
cmake --build "$build" --target test_faults zt-unit-sim -j2 >/dev/null
ZT_SOAK_RUNS=$runs "$build/tests/faults/test_faults" --gtest_filter=UpdateFaults.Soak
