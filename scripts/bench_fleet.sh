#!/usr/bin/env bash
# Fleet benchmarks from an optimised build: full updates over lossy links with and without
# --fast-resend, and 64 units upgraded at once beside one. `scripts/bench_fleet.sh [loss|venue|all]`;
# the runs without --fast-resend at 5 % loss take about half an hour.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/bench_common.sh
run_ztupdate_bench bench/bench_fleet.py "${1:-all}"
