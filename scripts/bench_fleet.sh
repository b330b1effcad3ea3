#!/usr/bin/env bash
# Fleet benchmarks from an optimised build: full updates over lossy links with the default
# (adaptive) resend timing and with --fast-resend, one run with the described timing beside
# them (about 5 minutes), and 64 units upgraded at once beside one.
# `scripts/bench_fleet.sh [loss|venue|all]`; ZT_BENCH_SEEDS sets the seeds a row (default 4).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/bench_common.sh
run_ztupdate_bench bench/bench_fleet.py "${1:-all}"
