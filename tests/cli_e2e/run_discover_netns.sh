#!/bin/bash
# `ztupdate discover` inside private network namespaces (root): a "pc" namespace with a bridge
# 192.0.2.1/24 and two simulated units behind veth pairs, 192.0.2.10 running its application
# and 192.0.2.11 in bootload mode. 77 means skipped. Usage: run_discover_netns.sh ZTUPDATE SIM
set -u

readonly SKIP=77
readonly ZTUPDATE=$1
readonly SIMULATOR=$2
readonly RUN="ztc$$r$RANDOM"
readonly PC="$RUN-pc"
readonly LIMIT_SECONDS=60

if [ "$(id -u)" != 0 ] || ! command -v ip > /dev/null; then
    echo "SKIP: network namespaces need root and iproute2"
    exit $SKIP
fi

WORK=$(mktemp -d)
NAMESPACES=()
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2> /dev/null; done
    for pid in "${PIDS[@]}"; do wait "$pid" 2> /dev/null; done
    for ns in "${NAMESPACES[@]}"; do ip netns del "$ns" 2> /dev/null; done
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

ip netns add "$PC" 2> /dev/null || { echo "SKIP: cannot create network namespaces here"; exit $SKIP; }
NAMESPACES+=("$PC")
ip -n "$PC" link set lo up
ip -n "$PC" link add br0 type bridge || fail "bridge"
ip -n "$PC" link set br0 up
ip -n "$PC" addr add 192.0.2.1/24 brd + dev br0

# unit N ADDRESS MODE: a namespace joined to br0, running the simulator in MODE.
unit() {
    local ns="$RUN-u$1"
    ip netns add "$ns" || fail "namespace $ns"
    NAMESPACES+=("$ns")
    ip -n "$PC" link add "v$1" type veth peer name eth0 netns "$ns" || fail "veth $ns"
    ip -n "$PC" link set "v$1" master br0 up
    ip -n "$ns" link set lo up
    ip -n "$ns" addr add "$2/24" brd + dev eth0
    ip -n "$ns" link set eth0 up
    ip netns exec "$ns" "$SIMULATOR" --bind 0.0.0.0 --no-udp --no-tcp --no-serial --start-mode "$3" \
        --run-seconds $LIMIT_SECONDS > "$WORK/u$1.out" 2>&1 &
    PIDS+=($!)
    for _ in $(seq 100); do grep -q '^ready' "$WORK/u$1.out" && return 0; sleep 0.1; done
    fail "unit $1 did not start: $(cat "$WORK/u$1.out")"
}
unit 1 192.0.2.10 application
unit 2 192.0.2.11 bootload

ip netns exec "$PC" timeout $LIMIT_SECONDS "$ZTUPDATE" --json discover --seconds 3 > "$WORK/found.json" ||
    fail "ztupdate discover ended with $?"
python3 - "$WORK/found.json" << 'PY' || exit 1
import json, sys
units = sorted(json.load(open(sys.argv[1]))["units"], key=lambda u: u["address"])
expected = [
    {"address": "192.0.2.10", "bootload": False, "other_subnet": False, "link_local": False},
    {"address": "192.0.2.11", "bootload": True, "other_subnet": False, "link_local": False},
]
if units != expected:
    sys.exit("FAIL: discover found %s" % units)
print("discover found both units once each, with their modes")
PY
