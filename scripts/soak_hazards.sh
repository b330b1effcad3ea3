#!/usr/bin/env bash
# Late and duplicated replies, 8 seeds per case over UDP and a pseudo-terminal, plain and
# sequenced bootloaders, replies sent twice with 1% and 3% loss each way, and writes slower than
# the resend time: prints how many runs ended with identical memories, how many failed as
# reported, how many reported success over wrong memories, and the time a run took.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build/native}"
cmake --build "$build" --target test_integration >/dev/null
ZT_HAZARD_SEEDS="${ZT_HAZARD_SEEDS:-8}" ZT_HAZARD_RECORDS="${ZT_HAZARD_RECORDS:-2000}" "$build/tests/integration/test_integration" \
    --gtest_filter='*Hazards*' | grep -E 'seeds|OK|FAILED'
