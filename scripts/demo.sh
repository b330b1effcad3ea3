#!/usr/bin/env bash
# The main job: build the release programs and the simulator, then update a simulated unit on
# loopback from start to finish with ztupdate, and check the unit's memory against the images.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

cmake --preset release
cmake --build --preset release

build=build/release
ztupdate="$build/cli/ztupdate"
unit=127.0.0.2   # 127.0.0.1 is refused as a unit address, as in the updater window
work="$(mktemp -d)"
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

step() { echo; echo "== $* =="; }

step "ztupdate info"
"$ztupdate" info

step "zt-unit-sim: a unit running its application on $unit"
"$build/sim/zt-unit-sim" --bind "$unit" --no-discovery --start-mode application --pin 1234 \
    --check-hex "$build/generated/sample_application.hex" --check-flash "$build/generated/sample_flash.bin" \
    --report "$work/report.json" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do grep -q '^ready' "$work/sim.out" && break; sleep 0.1; done
cat "$work/sim.out"

step "ztupdate --ip $unit status"
"$ztupdate" --ip "$unit" status || true

step "ztupdate --ip $unit enter-bootload  (PIN from ZT_PIN)"
ZT_PIN=1234 "$ztupdate" --ip "$unit" enter-bootload

step "ztupdate --ip $unit update --yes  (the embedded firmware)"
"$ztupdate" --ip "$unit" update --yes

step "ztupdate --ip $unit exit-bootload"
"$ztupdate" --ip "$unit" exit-bootload

step "ztupdate --ip $unit status"
sleep 1.5   # the unit restarts into its application
"$ztupdate" --ip "$unit" status || true

step "the unit's memory against the images"
kill -TERM "$sim_pid"
sim_status=0
wait "$sim_pid" || sim_status=$?
sim_pid=""
python3 - "$work/report.json" <<'PY'
import json, sys
unit = json.load(open(sys.argv[1]))["units"][0]
for part in ("application", "flash"):
    c = unit["check"][part]
    print("%-12s %s (%d different, %d missing, %d extra bytes)" % (
        part, "matches" if c["matches"] else "DIFFERS", c["different_bytes"], c["missing_bytes"], c["extra_bytes"]))
print("application version written: %d.%d" % (unit["application_version"]["major"], unit["application_version"]["minor"]))
PY
if [ "$sim_status" -eq 0 ]; then echo "Memory matches the images."; else echo "Memory differs from the images."; exit 1; fi
