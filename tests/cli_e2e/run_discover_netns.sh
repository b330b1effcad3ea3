#!/bin/bash
# `ztupdate discover` inside private network namespaces (root): a "pc" namespace with a bridge
# 192.0.2.1/24 and two simulated units behind veth pairs, 192.0.2.10 running its application
# and 192.0.2.11 in bootload mode. 77 means skipped. Usage: run_discover_netns.sh ZTUPDATE SIM
set -u

readonly ZTUPDATE=$1
readonly SIMULATOR=$2
readonly RUN="ztc$$r$RANDOM"
readonly PC="$RUN-pc"
readonly LIMIT_SECONDS=60
source "$(dirname "$0")/../netns/netns_lib.sh"

make_pc
ip -n "$PC" link add br0 type bridge || fail "bridge"
ip -n "$PC" link set br0 up
ip -n "$PC" addr add 192.0.2.1/24 brd + dev br0

# unit N ADDRESS MODE: a namespace joined to br0, running the simulator in MODE.
unit() {
    local ns="$RUN-u$1"
    make_unit_namespace "$ns" "v$1" br0 "$2/24"
    ip netns exec "$ns" "$SIMULATOR" --bind 0.0.0.0 --no-udp --no-tcp --no-serial --start-mode "$3" \
        --unit-name "amp-$1" --mac "00-1E-C0-00-00-0$1" \
        --run-seconds $LIMIT_SECONDS > "$WORK/u$1.out" 2>&1 &
    PIDS+=($!)
    for _ in $(seq 100); do grep -q '^ready' "$WORK/u$1.out" && return 0; sleep 0.1; done
    fail "unit $1 did not start: $(cat "$WORK/u$1.out")"
}
unit 1 192.0.2.10 application
unit 2 192.0.2.11 bootload

ip netns exec "$PC" timeout $LIMIT_SECONDS "$ZTUPDATE" --json discover --seconds 3 > "$WORK/found.json" ||
    fail "ztupdate discover ended with $?"
python3 - "$WORK/found.json" "$(dirname "$0")/../../docs/schema/ztupdate.schema.json" << 'PY' || exit 1
import json, sys
import jsonschema
document = json.load(open(sys.argv[1]))
schema = json.load(open(sys.argv[2]))
jsonschema.Draft202012Validator(dict(schema, **{"$ref": "#/$defs/discover"})).validate(document)
units = sorted(document["units"], key=lambda u: u["target"])
announced = {"other_subnet": False, "link_local": False, "link": "network", "model": "Tavin ZT Series"}
expected = [
    dict(announced, target="192.0.2.10", bootload=False, host_name="amp-1", mac="00-1E-C0-00-00-01"),
    dict(announced, target="192.0.2.11", bootload=True, host_name="amp-2", mac="00-1E-C0-00-00-02"),
]
if units != expected:
    sys.exit("FAIL: discover found %s" % units)
print("discover found both units once each, with their modes and announcements")
PY
ip netns exec "$PC" timeout $LIMIT_SECONDS "$ZTUPDATE" discover --seconds 3 > "$WORK/found.txt" ||
    fail "ztupdate discover (text) ended with $?"
grep -qx "192.0.2.11         bootload mode  amp-2  00-1E-C0-00-00-02  Tavin ZT Series" "$WORK/found.txt" ||
    fail "discover's text lacks the announcement: $(cat "$WORK/found.txt")"
echo "discover's text names each unit's host name, MAC and model"
