#!/bin/bash
# GUI tests: ztupdater.exe under Wine on its own Xvfb display, in a private network namespace
# (loopback with TEST-NET 192.0.2.0/24), against zt-unit-sim, driven by gui_driver.exe.
# Usage: run_gui_tests.sh BUILD_DIR ZT_UNIT_SIM. Screenshots land in BUILD_DIR/gui-screenshots.
# Exit 77 (skipped) without root or without the simulator.
set -u
BUILD=$(readlink -f "$1")
SIM=$2
UNIT=192.0.2.10

if [ -z "${ZT_GUI_IN_NAMESPACE:-}" ]; then
    [ "$(id -u)" = 0 ] || { echo "skip: needs root for a network namespace"; exit 77; }
    [ -x "$SIM" ] || { echo "skip: no simulator at $SIM (build zt-unit-sim natively)"; exit 77; }
    ZT_GUI_IN_NAMESPACE=1 exec timeout 400 unshare -n "$0" "$@"
fi

WORK=$(mktemp -d /tmp/zt-gui.XXXXXX)
SHOTS=$BUILD/gui-screenshots
mkdir -p "$SHOTS"
export WINEPREFIX=$WORK/prefix WINEDEBUG=-all
PIDS=()
source "$(dirname "$0")/gui_session.sh"
trap end_session EXIT

ip link set lo up
ip addr add 192.0.2.1/24 brd 192.0.2.255 dev lo
ip addr add $UNIT/24 dev lo

start_display || exit 1
export ZT_SHOTS="Z:$(echo "$SHOTS" | tr / '\\')"

FAILED=0
step() {  # step NAME COMMAND... : runs one driver scenario or check, counting failures
    local name=$1; shift
    echo "== $name"
    if ! "$@"; then echo "!! $name failed"; FAILED=$((FAILED + 1)); fi
}
driver() { timeout 200 wine "$BUILD/tests/gui/gui_driver.exe" "$@"; }
# sim NAME ARGS...: starts a simulated unit, waits for its "ready" line
sim() {
    local name=$1; shift
    "$SIM" "$@" > "$WORK/$name.out" 2>&1 &
    local pid=$!
    PIDS+=($pid)
    eval "SIM_$name=$pid"
    for _ in $(seq 100); do grep -q '^ready' "$WORK/$name.out" && return 0; sleep 0.1; done
    echo "simulator $name did not start:"; cat "$WORK/$name.out"; return 1
}
wait_exit() {  # wait_exit PID SECONDS: exit code of a process, 124 on time-out (SECONDS may be 1.5)
    for _ in $(seq "$(awk "BEGIN { print int($2 * 10) }")"); do kill -0 "$1" 2>/dev/null || { wait "$1"; return $?; }; sleep 0.1; done
    return 124
}

timeout 120 wineboot --init >/dev/null 2>&1
look_like_windows
keep_machine_ports_out
no_port() { ln -sfn "$WORK/no-port" "$WINEPREFIX/dosdevices/$1"; }  # a port removed
HEX=$BUILD/generated/sample_application.hex
FLASH=$BUILD/generated/sample_flash.bin

# A unit on a serial port: the pseudo-terminal becomes COM5 before the program lists its ports.
sim serial --start-mode bootload --no-udp --no-tcp --no-discovery --serial-link "$WORK/unit-tty" || exit 1
ln -sf "$(readlink -f "$WORK/unit-tty")" "$WINEPREFIX/dosdevices/com5"
sim update --bind $UNIT --start-mode bootload --no-serial --no-discovery --exit-after-close \
    --check-hex "$HEX" --check-flash "$FLASH" || exit 1

wine "$BUILD/shell/ztupdater.exe" &
GUI=$!
PIDS+=($GUI)
step "start-up state" driver startup
driver screenshot main-window-idle
step "Alt+? and Alt+/ open About from the address control and the Parser Port edit" driver accelerators
step "COM5 query" driver com-query COM5
# An adapter plugged in: a spare pseudo-terminal becomes COM6; then it and every other port go.
socat pty,raw,echo=0,link="$WORK/spare-a" pty,raw,echo=0,link="$WORK/spare-b" &
PIDS+=($!)
for _ in $(seq 50); do [ -e "$WORK/spare-a" ] && break; sleep 0.1; done
ln -sf "$(readlink -f "$WORK/spare-a")" "$WINEPREFIX/dosdevices/com6"
step "a COM port plugged in" driver port-arrival COM6 COM5
no_port com6
step "a COM port removed" driver port-removal COM6 COM5
no_port com5
step "the last COM port removed in COM mode" driver last-port-removed
for address in 127.0.0.1 0.0.0.0 255.255.255.255 192.0.2.255; do
    step "no query for $address" driver no-query $address
done
step "Parser Port 1023" driver port-refuse 1023
step "Parser Port 65536" driver port-refuse 65536
step "Parser Port empty" driver port-refuse ""
step "Parser Port 1024" driver port-accept 1024
step "Parser Port 65535" driver port-accept 65535
step "Parser Port back to 4999" driver port-accept 4999
step "address typed field by field" driver ip-fields $UNIT
step "an edit to an unusable address offers no run" driver invalid-edit
step "query of a bootload-mode unit" driver query-bootload $UNIT
step "Tab and Shift+Tab through the main window" driver tab-order
step "update starts" driver update-start
step "late answers and a device change during the update" driver during-run
step "the update is under way" driver update-under-way
driver screenshot main-window-updating
step "close answered No during the update" driver close-no
step "update succeeds" driver update-finish Success "The firmware updated successfully."
step "simulator memories equal the images" wait_exit "$SIM_update" 20

sim failing --bind $UNIT --start-mode bootload --no-serial --no-discovery --vanish-after 60 || exit 1
step "query before the failing update" driver query-bootload $UNIT
step "failing update starts from File > Update" driver update-start-menu
step "update fails" driver update-finish Error "The firmware update could not complete."
kill "$SIM_failing"; wait "$SIM_failing" 2>/dev/null

sim wrong --bind $UNIT --start-mode bootload --no-serial --no-discovery --bootloader-version 3.3 || exit 1
step "query of a unit reporting bootloader 3.3" driver query-bootload $UNIT
step "update: incorrect response" driver update-result "Received incorrect response from unit."
kill "$SIM_wrong"; wait "$SIM_wrong" 2>/dev/null
step "update: no response from the unit gone since" driver update-result "Received no response from unit."
step "a query nothing answers" driver query-nothing $UNIT
sim enabled --bind $UNIT --bootload-enabled --no-serial --no-discovery || exit 1
step "a query the command port answers \"e\"" driver query-e $UNIT
kill "$SIM_enabled"; wait "$SIM_enabled" 2>/dev/null

sim exiting --bind $UNIT --start-mode bootload --no-serial --no-discovery --restart-ms 200 || exit 1
step "query before Exit Bootload" driver query-bootload $UNIT
step "Exit Bootload leads to a new query" driver exit-bootload
kill "$SIM_exiting"; wait "$SIM_exiting" 2>/dev/null

# At full speed: a unit that answers as fast as it can is what floods a window with progress.
sim closing --bind $UNIT --start-mode bootload --no-serial --no-discovery \
    --progress-file "$WORK/closing.progress" --report "$WORK/closing.json" || exit 1
step "query before the update that is closed" driver query-bootload $UNIT
step "update starts again" driver update-start
step "close answered Yes during the update: bar lag, question delay, the run stopped" \
    driver close-yes "Z:$(echo "$WORK/closing.progress" | tr / '\\')"
step "the program ends within 10 s of Yes" wait_exit "$GUI" 10
kill "$SIM_closing"; wait "$SIM_closing" 2>/dev/null
step "the closed update's unit never got the closing command" grep -q '"close_received": false' "$WORK/closing.json"

wine "$BUILD/shell/ztupdater_noflash.exe" &
NOFLASH=$!
PIDS+=($NOFLASH)
step "build without the flash image" driver startup-noflash
step "quit the flash-less build" driver quit
step "the program ends within 1.5 s of its window" wait_exit "$NOFLASH" 1.5

wine "$BUILD/shell/ztupdater_norecords.exe" &
PIDS+=($!)
step "a query typed at once; an application image without data records" driver startup-norecords $UNIT
step "quit that build" driver quit

wine "$BUILD/shell/ztupdater_noimages.exe" &
NOIMAGES=$!
PIDS+=($NOIMAGES)
step "build without images: NoHexFile box" driver expect-box Error \
    "No application specified in this build. The unit cannot be programmed.
  Contact: support@zt-audio.example"
wait_exit $NOIMAGES 20
code=$?
echo "build without images exited with $code"
[ $code = 1 ] || FAILED=$((FAILED + 1))

shots_to_png
[ $FAILED = 0 ] && echo "all GUI steps passed" || echo "$FAILED GUI steps failed"
[ $FAILED = 0 ]
