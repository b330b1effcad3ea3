#!/bin/bash
# Builds private network namespaces for network discovery and runs the test program in them.
#
#   pc namespace: lo, br-a 192.0.2.1/24, br-b 169.254.1.1/16, br-c 203.0.113.1/24
#   LAN A units: 192.0.2.10 application, .11 bootload, .12 " - Bootload" with a bare LF,
#                .13 another model, .14 a two-line reply, 198.51.100.7 (other subnet; also
#                holds 192.0.2.99 so that it hears LAN A's broadcast, but answers from
#                198.51.100.7)
#   LAN B units: 169.254.10.20, 169.254.0.1, 169.254.255.254
#   LAN C units: 203.0.113.10 to 203.0.113.20
# Every unit has a namespace of its own, joined to its bridge by a veth pair. Everything is
# removed on exit. Usage: run_discovery_netns.sh TEST_PROGRAM UNIT_SIMULATOR
set -u

readonly TEST_PROGRAM=$1
readonly SIMULATOR=$2
readonly HERE=$(cd "$(dirname "$0")" && pwd)
readonly RUN="zt$$r$RANDOM"
readonly PC="$RUN-pc"
readonly LIMIT_SECONDS=240
readonly DISCOVERY_PORT=30303
source "$HERE/netns_lib.sh"

make_pc

# Replies from another subnet must not be dropped by reverse-path filtering.
quiet_sysctls() {
    ip netns exec "$1" sysctl -q -w net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.default.rp_filter=0 > /dev/null
}

quiet_sysctls "$PC"
for lan in a b c; do
    ip -n "$PC" link add "br-$lan" type bridge || fail "bridge br-$lan"
    ip -n "$PC" link set "br-$lan" up
done
ip -n "$PC" addr add 192.0.2.1/24 brd + dev br-a
ip -n "$PC" addr add 169.254.1.1/16 brd + dev br-b
ip -n "$PC" addr add 203.0.113.1/24 brd + dev br-c

UNIT_COUNT=0
# make_unit LAN ADDRESS/PREFIX: a namespace joined to br-LAN; prints its name.
make_unit() {
    UNIT_COUNT=$((UNIT_COUNT + 1))
    local ns="$RUN-u$UNIT_COUNT"
    make_unit_namespace "$ns" "v$UNIT_COUNT" "br-$1" "$2"
    quiet_sysctls "$ns"
    CURRENT_UNIT=$ns
}

# wait_ready FILE: until the process behind FILE printed "ready", at most 10 s.
wait_ready() {
    for _ in $(seq 100); do
        grep -q '^ready' "$1" 2> /dev/null && return 0
        sleep 0.1
    done
    fail "no ready line in $1: $(cat "$1")"
}

# start_in NAMESPACE COMMAND...: runs the command there, remembered for the clean-up.
start_in() {
    local ns=$1
    shift
    local out="$WORK/$ns.out"
    ip netns exec "$ns" "$@" > "$out" 2>&1 &
    PIDS+=($!)
    READY_FILES+=("$out")
}

READY_FILES=()
simulated_unit() {
    start_in "$CURRENT_UNIT" "$SIMULATOR" --bind 0.0.0.0 --discovery-port $DISCOVERY_PORT --no-udp --no-tcp \
        --no-serial --run-seconds $LIMIT_SECONDS "$@"
}

make_unit a 192.0.2.10/24; simulated_unit
make_unit a 192.0.2.11/24; simulated_unit --start-mode bootload
make_unit a 192.0.2.12/24; simulated_unit --model $'ZT Series - Bootload\n'
make_unit a 192.0.2.13/24; simulated_unit --model "ZT Serial"
make_unit a 192.0.2.14/24
start_in "$CURRENT_UNIT" python3 "$HERE/two_line_responder.py" $DISCOVERY_PORT $LIMIT_SECONDS
make_unit a 198.51.100.7/24
ip -n "$CURRENT_UNIT" addr add 192.0.2.99/24 brd + dev eth0
ip -n "$CURRENT_UNIT" route replace 192.0.2.0/24 dev eth0 src 198.51.100.7 || fail "source route"
simulated_unit
make_unit b 169.254.10.20/16; simulated_unit
make_unit b 169.254.0.1/16; simulated_unit
make_unit b 169.254.255.254/16; simulated_unit
for host in $(seq 10 20); do
    make_unit c "203.0.113.$host/24"
    simulated_unit
done
start_in "$PC" python3 "$HERE/request_listener.py" "$WORK/requests.log" $DISCOVERY_PORT $LIMIT_SECONDS

for file in "${READY_FILES[@]}"; do wait_ready "$file"; done

ip netns exec "$PC" env ZT_NETNS_REQUEST_LOG="$WORK/requests.log" \
    timeout $LIMIT_SECONDS "$TEST_PROGRAM"
status=$?
exit $status
