#!/usr/bin/env bash
# Full-update benchmarks against zt-unit-sim from an optimised build:
#   UDP on loopback beside a bare request/reply loop of the same frames;
#   a pseudo-terminal paced at 115200 baud beside the wire time (takes a few minutes).
# Pass "udp" or "serial" to run one of them.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build/release}"
which="${1:-all}"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZT_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target bench_update zt-unit-sim >/dev/null

sim_out=$(mktemp)
trap 'kill $sim 2>/dev/null || true; rm -f "$sim_out"' EXIT
start_sim() {
    "$build/sim/zt-unit-sim" --bind 127.0.0.1 --start-mode bootload --no-discovery --no-tcp "$@" >"$sim_out" 2>&1 &
    sim=$!
    for _ in $(seq 100); do grep -q '^ready' "$sim_out" && return 0; sleep 0.1; done
    echo "simulator did not start:"; cat "$sim_out"; exit 1
}

if [ "$which" = all ] || [ "$which" = udp ]; then
    echo "== UDP on loopback"
    start_sim --udp-port 0 --no-serial
    "$build/bench/bench_update" --udp "$(sed -n 's/^udp 127.0.0.1://p' "$sim_out")"
    kill $sim; wait $sim 2>/dev/null || true
fi
if [ "$which" = all ] || [ "$which" = serial ]; then
    echo "== pseudo-terminal paced at 115200 baud"
    start_sim --no-udp --pace-serial
    "$build/bench/bench_update" --serial "$(sed -n 's/^serial //p' "$sim_out")"
fi
