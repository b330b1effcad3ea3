#!/usr/bin/env bash
# ztupdate benchmark from an optimised build: four units updated in parallel beside one alone,
# against zt-unit-sim on loopback with a per-request write delay.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/bench_common.sh
run_ztupdate_bench bench/bench_cli_parallel.py
