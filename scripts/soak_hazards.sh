#!/usr/bin/env bash
# Late and duplicated replies, 20 seeds per case over UDP and a pseudo-terminal, plain and
# sequenced bootloaders: prints how many runs ended with identical memories, how many failed
# as reported, and how many reported success over wrong memories.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build/native}"
cmake --build "$build" --target test_integration >/dev/null
ZT_HAZARD_SEEDS="${ZT_HAZARD_SEEDS:-20}" "$build/tests/integration/test_integration" \
    --gtest_filter='*Hazards*' | grep -E 'seeds|OK|FAILED'
