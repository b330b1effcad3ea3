#!/usr/bin/env bash
# Fleet benchmarks from an optimised build: full updates over lossy links with and without
# --fast-resend, and 64 units upgraded at once beside one. `scripts/bench_fleet.sh [loss|venue|all]`;
# the runs without --fast-resend at 5 % loss take about half an hour.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build/release}"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZT_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target ztupdate zt-unit-sim sample_firmware >/dev/null
python3 bench/bench_fleet.py "$build/cli/ztupdate" "$build/sim/zt-unit-sim" \
    "$build/generated/sample_application.hex" "$build/generated/sample_flash.bin" "${1:-all}"
