#!/usr/bin/env bash
# How true ztupdate's "time left" is, over UDP and a paced serial line, from an optimised build:
# the estimate's error at 10 %, 25 % and 50 % of each run.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/bench_common.sh
run_ztupdate_bench scripts/bench_eta.py
