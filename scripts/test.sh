#!/usr/bin/env bash
# Every test: the native build under AddressSanitizer and UndefinedBehaviorSanitizer, then the
# Windows build's tests under Wine. Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

cmake --preset native
cmake --build --preset native
ctest --preset native -j2

export WINEPREFIX="${WINEPREFIX:-$PWD/build/wineprefix}" WINEDEBUG=-all
[ -d "$WINEPREFIX" ] || wineboot --init >/dev/null 2>&1 || true
# One wineserver for the whole run instead of one per test program.
wineserver -p >/dev/null 2>&1 || true
cmake --preset windows
cmake --build --preset windows
ctest --preset windows -j2
wineserver -k >/dev/null 2>&1 || true
