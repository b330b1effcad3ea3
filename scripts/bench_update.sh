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
    sizes=$(mktemp)
    update_line=$("$build/bench/bench_update" --udp "$(sed -n 's/^udp 127.0.0.1://p' "$sim_out")" "$sizes")
    echo "$update_line"
    kill $sim; wait $sim 2>/dev/null || true
    # The bare loop's responder is a process of its own, as the simulator is.
    port=47123
    "$build/bench/bench_update" --respond $port "$sizes" & responder=$!
    sleep 0.3
    bare_line=$("$build/bench/bench_update" --bare $port "$sizes")
    wait $responder || true
    rm -f "$sizes"
    echo "$bare_line"
    awk -v u="$update_line" -v b="$bare_line" 'BEGIN {
        n = split(u, uw, " "); m = split(b, bw, " ")
        printf "ratio update / bare loop: %.2f (target <= 1.30)\n", uw[n - 1] / bw[m - 1] }' 
fi
if [ "$which" = all ] || [ "$which" = serial ]; then
    echo "== pseudo-terminal paced at 115200 baud"
    start_sim --no-udp --pace-serial
    "$build/bench/bench_update" --serial "$(sed -n 's/^serial //p' "$sim_out")"
fi
