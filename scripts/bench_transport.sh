#!/usr/bin/env bash
# Serial exchange benchmark from an optimised build: mean time per command/reply exchange.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build/release}"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZT_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target bench_serial_exchange >/dev/null
"$build/bench/bench_serial_exchange"
