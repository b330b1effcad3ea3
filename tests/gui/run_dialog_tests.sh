#!/bin/bash
# Dialog tests: ztupdater.exe under Wine on its own Xvfb display in a "pc" network namespace,
# with every simulated unit in a namespace of its own joined to the pc's bridge by a veth pair:
#
#   pc      br0 192.0.2.1/24, Wine, Xvfb, the serial unit on a pseudo-terminal as COM5
#   app1    192.0.2.10   application mode (PIN 1234)
#   app2    192.0.2.11   application mode, restarted with a fresh report for the wrong PIN
#   boot    192.0.2.12   bootload mode, started once the dialog lists the others
#   grey    198.51.100.7 (also holds 192.0.2.99 to hear the broadcast; answers from .7)
#   green   169.254.10.20 (likewise with 192.0.2.98): link-local and on no local subnet
#   mute    192.0.2.13   bootload mode with a silent bootloader, only for the stale-answer step
#
# Usage: run_dialog_tests.sh BUILD_DIR ZT_UNIT_SIM. Screenshots land in BUILD_DIR/gui-screenshots.
# Exit 77 (skipped) without root, namespaces or the simulator.
set -u
BUILD=$(readlink -f "$1")
SIM=$2
readonly RUN="ztd$$"
readonly LIMIT=300

[ "$(id -u)" = 0 ] || { echo "skip: needs root for network namespaces"; exit 77; }
[ -x "$SIM" ] || { echo "skip: no simulator at $SIM (build zt-unit-sim natively)"; exit 77; }

WORK=$(mktemp -d /tmp/zt-dialogs.XXXXXX)
SHOTS=$BUILD/gui-screenshots
mkdir -p "$SHOTS"
export WINEPREFIX=$WORK/prefix WINEDEBUG=-all
NAMESPACES=()
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    ip netns exec "$RUN-pc" env WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null
    for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
    for ns in "${NAMESPACES[@]}"; do ip netns del "$ns" 2>/dev/null; done
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

PC=$RUN-pc
ip netns add "$PC" 2>/dev/null || { echo "skip: cannot create network namespaces"; exit 77; }
NAMESPACES+=("$PC")
quiet_rp_filter() { ip netns exec "$1" sysctl -q -w net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.default.rp_filter=0 >/dev/null; }
ip -n "$PC" link set lo up
ip -n "$PC" link add br0 type bridge
ip -n "$PC" link set br0 up
ip -n "$PC" addr add 192.0.2.1/24 brd + dev br0
quiet_rp_filter "$PC"

UNITS=0
# unit NAME ADDRESS/PREFIX [LAN-ADDRESS/PREFIX]: a namespace on br0; with a second address on
# the pc's LAN it hears the broadcast there but answers from its own address.
unit() {
    UNITS=$((UNITS + 1))
    local ns="$RUN-$1"
    ip netns add "$ns"
    NAMESPACES+=("$ns")
    ip -n "$PC" link add "v$UNITS" type veth peer name eth0 netns "$ns"
    ip -n "$PC" link set "v$UNITS" master br0 up
    ip -n "$ns" link set lo up
    ip -n "$ns" addr add "$2" brd + dev eth0
    ip -n "$ns" link set eth0 up
    quiet_rp_filter "$ns"
    if [ $# -ge 3 ]; then
        ip -n "$ns" addr add "$3" brd + dev eth0
        ip -n "$ns" route replace 192.0.2.0/24 dev eth0 src "${2%/*}"
    fi
}

# sim NAME NAMESPACE ARGS...: starts a simulated unit there and waits for its "ready" line.
sim() {
    local name=$1 ns=$2; shift 2
    ip netns exec "$ns" "$SIM" --run-seconds $LIMIT "$@" > "$WORK/$name.out" 2>&1 &
    local pid=$!
    PIDS+=($pid)
    eval "SIM_$name=$pid"
    for _ in $(seq 100); do grep -q '^ready' "$WORK/$name.out" && return 0; sleep 0.1; done
    echo "simulator $name did not start:"; cat "$WORK/$name.out"; return 1
}
stop_sim() {  # stop_sim PID: SIGTERM, then wait (the simulator writes its report on the way out)
    kill "$1" 2>/dev/null
    for _ in $(seq 100); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
    wait "$1" 2>/dev/null
}

unit app1 192.0.2.10/24
unit app2 192.0.2.11/24
unit boot 192.0.2.12/24
unit grey 198.51.100.7/24 192.0.2.99/24
unit green 169.254.10.20/16 192.0.2.98/24
unit mute 192.0.2.13/24

sim app1 "$RUN-app1" --bind 192.0.2.10 --no-serial || exit 1
sim app2 "$RUN-app2" --bind 192.0.2.11 --no-serial || exit 1
sim grey "$RUN-grey" --bind 0.0.0.0 --no-serial --no-udp --no-tcp || exit 1
sim green "$RUN-green" --bind 0.0.0.0 --no-serial --no-udp --no-tcp || exit 1
sim serial "$PC" --start-mode bootload --no-udp --no-tcp --no-discovery --serial-link "$WORK/unit-tty" || exit 1

in_pc() { ip netns exec "$PC" "$@"; }
source "$(dirname "$0")/gui_session.sh"
# Not through in_pc: a function put in the background is a subshell, and killing that subshell
# would leave Xvfb running. "ip netns exec" becomes the program it starts.
start_display ip netns exec "$PC" || exit 1
export ZT_SHOTS="Z:$(echo "$SHOTS" | tr / '\\')"

FAILED=0
step() {  # step NAME COMMAND...: one driver scenario or check, counting failures
    local name=$1; shift
    echo "== $name"
    if ! "$@"; then echo "!! $name failed"; FAILED=$((FAILED + 1)); fi
}
driver() { timeout 150 ip netns exec "$PC" wine "$BUILD/tests/gui/dialog_driver.exe" "$@"; }

timeout 120 ip netns exec "$PC" wineboot --init >/dev/null 2>&1
look_like_windows ip netns exec "$PC"
keep_machine_ports_out
ln -sf "$(readlink -f "$WORK/unit-tty")" "$WINEPREFIX/dosdevices/com5"

ip netns exec "$PC" wine "$BUILD/shell/ztupdater.exe" &
PIDS+=($!)

step "Discover: first units, each once" driver discover-first 4
sim boot "$RUN-boot" --bind 192.0.2.12 --start-mode bootload --no-serial || exit 1
step "Discover: a later bootload-mode unit, colours, versions, OK" driver discover-bootload 192.0.2.12 198.51.100.7 169.254.10.20
step "Discover: the main window queries the chosen unit" driver discover-returned 192.0.2.12
step "Discover: an application-mode unit with the reminder" driver discover-application 192.0.2.10
step "Discover: Cancel" driver discover-cancel
sim mute "$RUN-mute" --bind 192.0.2.13 --start-mode bootload --silent-bootloader --no-serial || exit 1
step "Discover: an answer for a closed dialog is dropped" driver discover-stale 192.0.2.13
stop_sim "$SIM_mute"
step "Discover: a serial unit on COM5" driver discover-serial COM5
step "Discover: one serial scan at a time" driver discover-one-thread COM5
step "Help: update instructions" driver help-update
step "Help: unit preparation" driver help-unit
step "Version Information and the release notes" driver version-information
step "About" driver about

step "Enter Bootload: PIN checks" driver pin-open 192.0.2.11
stop_sim "$SIM_app2"
sim app2 "$RUN-app2" --bind 192.0.2.11 --no-serial --report "$WORK/app2-report.json" || exit 1
step "Enter Bootload: a wrong PIN" driver pin-wrong
stop_sim "$SIM_app2"
step "Enter Bootload: the failure box ends the dialog" driver pin-wrong-answer
step "wrong PIN: two commands, one wrong PIN, neither <SY,BE/> nor <SY,BR/>" python3 -c '
import json, sys
port = json.load(open(sys.argv[1]))["units"][0]["command_port"]
print("     command_port:", port)
sys.exit(0 if port["commands"] == 2 and port["wrong_pins"] == 1 else 1)' "$WORK/app2-report.json"
step "Enter Bootload: the right PIN" driver pin-right 192.0.2.10 1234
step "Discover: a bootload-mode unit that answered first" driver discover-order-open 192.0.2.12
sim app2 "$RUN-app2" --bind 192.0.2.11 --no-serial || exit 1
step "Discover: stays above a later application-mode unit" driver discover-order-check 192.0.2.11
step "quit" timeout 60 ip netns exec "$PC" wine "$BUILD/tests/gui/gui_driver.exe" quit

shots_to_png
[ $FAILED = 0 ] && echo "all dialog steps passed" || echo "$FAILED dialog steps failed"
[ $FAILED = 0 ]
