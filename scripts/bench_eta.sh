#!/usr/bin/env bash
# How true ztupdate's "time left" is, over UDP and a paced serial line, from an optimised build:
# the estimate's error at 10 %, 25 % and 50 % of each run.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build/release}"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZT_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target ztupdate zt-unit-sim sample_firmware >/dev/null
python3 scripts/bench_eta.py "$build/cli/ztupdate" "$build/sim/zt-unit-sim" \
    "$build/generated/sample_application.hex" "$build/generated/sample_flash.bin"
