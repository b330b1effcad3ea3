#!/usr/bin/env bash
# Full-update benchmarks against zt-unit-sim from an optimised build:
#   UDP on loopback beside a bare request/reply loop of the same frames;
#   a pseudo-terminal paced at 115200 baud beside the wire time (takes a few minutes).
# Pass "udp" or "serial" to run one of them.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/bench_common.sh
which="${1:-all}"

build_targets bench_update zt-unit-sim

sim_out=$(mktemp)
trap 'kill $sim 2>/dev/null || true; rm -f "$sim_out"' EXIT
start_sim() {
    "$build/sim/zt-unit-sim" --bind 127.0.0.1 --start-mode bootload --no-discovery --no-tcp "$@" >"$sim_out" 2>&1 &
    sim=$!
    for _ in $(seq 100); do grep -q '^ready' "$sim_out" && return 0; sleep 0.1; done
    echo "simulator did not start:"; cat "$sim_out"; exit 1
}

# Seconds: the last word but one of a result line.
seconds_of() { awk '{ print $(NF - 1) }' <<<"$1"; }
udp_port() { sed -n 's/^udp 127.0.0.1://p' "$sim_out"; }

if [ "$which" = all ] || [ "$which" = udp ]; then
    # Each of the three is run ROUNDS times, interleaved, and the best time of each is compared,
    # because a loopback round trip on a shared machine varies by tens of percent.
    rounds=${ROUNDS:-5}
    echo "== UDP on loopback, best of $rounds rounds"
    sizes=$(mktemp)
    best_update=999 best_bare=999 best_replay=999
    for round in $(seq "$rounds"); do
        start_sim --udp-port 0 --no-serial
        update_line=$("$build/bench/bench_update" --udp "$(udp_port)" "$sizes")
        kill $sim; wait $sim 2>/dev/null || true
        # The bare loop's responder is a process of its own, as the simulator is.
        port=47123
        "$build/bench/bench_update" --respond $port "$sizes" & responder=$!
        sleep 0.3
        bare_line=$("$build/bench/bench_update" --bare $port "$sizes")
        wait $responder || true
        # The update's own requests from a bare loop to a fresh simulator: the simulator's work
        # is in both, so what is left is the updater's own share.
        start_sim --udp-port 0 --no-serial
        replay_line=$("$build/bench/bench_update" --replay "$(udp_port)" "$sizes.frames")
        kill $sim; wait $sim 2>/dev/null || true
        echo "round $round: update $(seconds_of "$update_line") s, bare loop $(seconds_of "$bare_line") s," \
             "replayed requests $(seconds_of "$replay_line") s"
        best_update=$(awk -v a="$best_update" -v b="$(seconds_of "$update_line")" 'BEGIN { print (b < a ? b : a) }')
        best_bare=$(awk -v a="$best_bare" -v b="$(seconds_of "$bare_line")" 'BEGIN { print (b < a ? b : a) }')
        best_replay=$(awk -v a="$best_replay" -v b="$(seconds_of "$replay_line")" 'BEGIN { print (b < a ? b : a) }')
    done
    rm -f "$sizes" "$sizes.frames"
    echo "$update_line" | sed 's/, [0-9.]* s$//'
    awk -v u="$best_update" -v b="$best_bare" -v r="$best_replay" 'BEGIN {
        printf "best: update %.2f s, bare loop of the same sizes %.2f s, same requests replayed %.2f s\n", u, b, r
        printf "ratio update / bare loop: %.2f (target <= 1.30)\n", u / b
        printf "ratio update / same requests replayed to the simulator: %.2f\n", u / r }'
fi
if [ "$which" = all ] || [ "$which" = serial ]; then
    echo "== pseudo-terminal paced at 115200 baud"
    start_sim --no-udp --pace-serial
    "$build/bench/bench_update" --serial "$(sed -n 's/^serial //p' "$sim_out")"
fi
