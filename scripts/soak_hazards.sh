#!/usr/bin/env bash
# The integrity matrix: plain and sequenced bootloaders over UDP and a pseudo-terminal, with the
# described resend timing and with fast resends, under replies sent twice, late copies, loss,
# corrupt replies and writes of varying time; ZT_HAZARD_SEEDS seeds a cell (default 4) and
# ZT_HAZARD_RECORDS application records (default 200). Prints one table: runs that ended with
# identical memories, clean failures, successes over a wrong memory (must be 0), and the time a
# run took.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build/native}"
cmake --build "$build" --target test_integration >/dev/null
printf '| %-44s | %-9s | %-6s | %-9s | %5s | %9s | %14s | %12s | %5s | %7s |\n' fault bootloader link timing seeds \
    identical "clean failures" "wrong memory" other "s a run"
printf '|%s|\n' "$(printf -- '-%.0s' {1..146})"
status=0
output="$(mktemp)"
trap 'rm -f "$output"' EXIT
ZT_HAZARD_SEEDS="${ZT_HAZARD_SEEDS:-4}" ZT_HAZARD_RECORDS="${ZT_HAZARD_RECORDS:-200}" \
    "$build/tests/integration/test_integration" --gtest_filter="*IntegrityMatrix*" >"$output" 2>&1 || status=$?
grep -E '^\| ' "$output" || true
grep -E 'FAILED|Failure' "$output" || true
exit "$status"
