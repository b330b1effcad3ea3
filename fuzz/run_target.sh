#!/usr/bin/env bash
# Runs one fuzz target for a bounded time: new inputs go to a work folder, the committed seed
# corpus is only read. A crash, leak or sanitizer report fails the run and leaves its input in
# the work folder.
set -euo pipefail
binary=$1 corpus=$2 seconds=$3 work=$4
mkdir -p "$work/new" "$work/findings"
exec "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/findings/" "$work/new" "$corpus"
