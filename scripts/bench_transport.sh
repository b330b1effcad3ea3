#!/usr/bin/env bash
# Serial exchange benchmark from an optimised build: mean time per command/reply exchange.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/bench_common.sh

build_targets bench_serial_exchange
"$build/bench/bench_serial_exchange"
