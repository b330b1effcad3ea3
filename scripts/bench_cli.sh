#!/usr/bin/env bash
# ztupdate benchmark from an optimised build: four units updated in parallel beside one alone,
# against zt-unit-sim on loopback with a per-request write delay.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build/release}"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZT_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target ztupdate zt-unit-sim sample_firmware >/dev/null
python3 bench/bench_cli_parallel.py "$build/cli/ztupdate" "$build/sim/zt-unit-sim" \
    "$build/generated/sample_application.hex" "$build/generated/sample_flash.bin"
