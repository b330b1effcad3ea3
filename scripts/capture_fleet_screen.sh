#!/usr/bin/env bash
# Prints what an 80x24 terminal shows during `ztupdate -v upgrade` of eight simulated units,
# four at a time: a tmux pane captured once some units are done and others still wait. The
# units are zt-unit-sim on loopback addresses of their own; nothing leaves this computer.
# docs/command-line.md quotes its output.
# Usage: scripts/capture_fleet_screen.sh [BUILD_DIR]   (default build/native; needs tmux)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
ztupdate=$build/cli/ztupdate
sim=$build/sim/zt-unit-sim
[ -x "$ztupdate" ] && [ -x "$sim" ] || { echo "build ztupdate and zt-unit-sim in $build first" >&2; exit 1; }
command -v tmux >/dev/null || { echo "tmux is needed (apt-get install tmux)" >&2; exit 1; }

scratch=$(mktemp -d)
socket=zt-capture-$$
sim_pid=
cleanup() {
    tmux -L "$socket" kill-server 2>/dev/null || true
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

# A loopback subnet whose first address is free; the simulator puts its units on .1 to .8.
for _ in $(seq 20); do
    base=127.$((RANDOM % 200 + 20)).$((RANDOM % 250 + 1))
    "$sim" --bind "$base.1" --units 8 --no-discovery --no-serial --start-mode application --restart-ms 800 \
        --program-delay-ms 1 >"$scratch/sim.out" 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do
        grep -q '^ready' "$scratch/sim.out" && break
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.1
    done
    grep -q '^ready' "$scratch/sim.out" && break
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=
done
[ -n "$sim_pid" ] || { echo "no free loopback subnet for the simulator" >&2; exit 1; }
for unit in $(seq 8); do echo "$base.$unit"; done >"$scratch/venue.txt"

tmux -L "$socket" new-session -d -x 80 -y 24 -s capture \
    "cd $scratch && ZT_PIN=1234 $PWD/$ztupdate --units venue.txt --jobs 4 -v upgrade --yes; sleep 600"

# The moment to show: units done, units running and units waiting, all at once.
wanted='all 8 units: [1-9][0-9]* running, [1-9][0-9]* updated, [0-9]+ not, [1-9][0-9]* waiting; about'
for _ in $(seq 600); do
    pane=$(tmux -L "$socket" capture-pane -p -t capture)
    if grep -Eq "$wanted" <<<"$pane"; then
        printf '%s\n' "$pane"
        exit 0
    fi
    sleep 0.1
done
echo "the run never showed done, running and waiting units together; last screen:" >&2
printf '%s\n' "$pane" >&2
exit 1
