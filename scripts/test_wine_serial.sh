#!/usr/bin/env bash
# Serial transport tests of the Windows build under Wine: COM5 and COM6 of a private prefix
# are mapped to the two ends of a socat pseudo-terminal pair.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build/windows}"
export WINEPREFIX="${WINEPREFIX:-$PWD/build/wineprefix-serial}" WINEDEBUG=-all
# Wine's services start here, so they never hold the caller's output open.
if [ -d "$WINEPREFIX" ]; then wineboot >/dev/null 2>&1 || true; else wineboot --init >/dev/null 2>&1 || true; fi

links=$(mktemp -d)
socat_pid=
trap '[ -z "$socat_pid" ] || kill "$socat_pid" 2>/dev/null || true; rm -rf "$links"' EXIT
# socat ends once a port closes its end, so each test program gets a pair of its own.
link_pair() {
    [ -z "$socat_pid" ] || kill "$socat_pid" 2>/dev/null || true
    rm -f "$links/a" "$links/b"
    socat "pty,raw,echo=0,link=$links/a" "pty,raw,echo=0,link=$links/b" &
    socat_pid=$!
    for _ in $(seq 50); do [ -e "$links/b" ] && break; sleep 0.1; done
    ln -sf "$(readlink -f "$links/a")" "$WINEPREFIX/dosdevices/com5"
    ln -sf "$(readlink -f "$links/b")" "$WINEPREFIX/dosdevices/com6"
}

link_pair
ZT_SERIAL_PAIR='\\.\COM5,\\.\COM6' wine "$build/tests/test_transport.exe" --gtest_filter='SerialPair*'
# The far end goes away under an open COM5: the test ends socat itself.
link_pair
ZT_SERIAL_PAIR='\\.\COM5,\\.\COM6' ZT_SERIAL_PAIR_HOLDER_PID=$socat_pid \
    wine "$build/tests/test_transport.exe" --gtest_filter='SerialPairTest.AFailedReadClosesThePort'
