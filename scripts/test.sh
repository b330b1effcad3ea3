#!/usr/bin/env bash
# Every check: the written format, the native build under AddressSanitizer and
# UndefinedBehaviorSanitizer, the threaded tests under ThreadSanitizer, each fuzz target for a few
# seconds, then the Windows build's tests under Wine. Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/check_format.sh

cmake --preset native
cmake --build --preset native
scripts/tidy.sh build/native
ctest --preset native -j2

# The threaded parts (worker, discovery, update threads, message queue) under ThreadSanitizer.
cmake --preset tsan
cmake --build --preset tsan
ctest --preset tsan -j2

# Every fuzz target for a few seconds on its seed corpus (clang, libFuzzer, ASan, UBSan);
# scripts/fuzz_long.sh is the long run.
cmake -S . -B build/fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZT_SANITIZE=ON -DZT_FUZZ=ON
cmake --build build/fuzz --target fuzz_targets
ctest --test-dir build/fuzz -L fuzz --output-on-failure

export WINEPREFIX="${WINEPREFIX:-$PWD/build/wineprefix}" WINEDEBUG=-all
# One wineserver for the whole run instead of one per test program. Its service processes are
# started here, away from ctest: started by the first test program they would hold its output
# pipe open, and ctest would wait for them until the end of the run.
wineserver -p >/dev/null 2>&1 || true
if [ -d "$WINEPREFIX" ]; then wineboot >/dev/null 2>&1 || true; else wineboot --init >/dev/null 2>&1 || true; fi
cmake --preset windows -DZT_NATIVE_SIM="$PWD/build/native/sim/zt-unit-sim"
cmake --build --preset windows
ctest --preset windows -j2
wineserver -k >/dev/null 2>&1 || true

# The release artefacts, built afresh and checked as an installer meets them.
scripts/release_check.sh
