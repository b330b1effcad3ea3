#!/bin/bash
# The Windows installer in a fresh Wine prefix: silent install (/S), files, Start-menu entries and
# uninstall entry in place, the program started from its Start-menu shortcut shows its main
# window ("FWUPDATER" class) and closes on request, then a silent uninstall removes it.
# Runs itself inside a private network namespace and on its own Xvfb display; every wait is bounded.
# Usage: installer_under_wine.sh SETUP_EXE WINDOW_PROBE_EXE
set -u
SETUP=$(readlink -f "$1")
PROBE=$(readlink -f "$2")

if [ -z "${ZT_RELEASE_IN_NAMESPACE:-}" ]; then
    ZT_RELEASE_IN_NAMESPACE=1 exec timeout 300 unshare -n "$0" "$@"
fi
ip link set lo up

WORK=$(mktemp -d /tmp/zt-release.XXXXXX)
# A prefix of its own, so its wineserver runs inside this namespace; no host menu entries.
export WINEPREFIX=$WORK/prefix WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
PIDS=()
source "$(dirname "$0")/../gui/gui_session.sh"
trap end_session EXIT
start_display || exit 1

FAILED=0
check() {  # check DESCRIPTION COMMAND...
    local what=$1; shift
    if "$@"; then echo "ok   $what"; else echo "FAIL $what"; FAILED=$((FAILED + 1)); fi
}
# Every process of the prefix has ended: the wineserver leaves once the last one has gone.
prefix_idle() { timeout "$1" wineserver -w; }

timeout 120 wineboot --init >/dev/null 2>&1
check "silent install exits 0" timeout 120 wine "$SETUP" /S

user_dir=$(ls -d "$WINEPREFIX"/drive_c/users/*/AppData 2>/dev/null | grep -v /Public/ | head -1)
install_dir="$user_dir/Local/Programs/ZT Series Firmware Updater"
menu_dir="$user_dir/Roaming/Microsoft/Windows/Start Menu/Programs/ZT Series Firmware Updater"
for file in ztupdater.exe ztupdate.exe README.txt Uninstall.exe; do
    check "installed $file (per user, no administrator)" test -f "$install_dir/$file"
done
check "Start-menu entry" test -f "$menu_dir/ZT Series Firmware Updater.lnk"
check "Start-menu uninstaller entry" test -f "$menu_dir/Uninstall.lnk"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\ZTSeriesFirmwareUpdater'
check "uninstall entry in the user's registry" bash -c "timeout 60 wine reg query '$uninstall_key' /v QuietUninstallString | grep -q Uninstall.exe"

check "installed ztupdate.exe runs: --help and info" bash -c \
    "timeout 60 wine '$install_dir/ztupdate.exe' --help | grep -q 'Exit status' &&
     timeout 60 wine '$install_dir/ztupdate.exe' info | grep -q 'ZT Series'"

shortcut='C:\users\'"$(basename "$(dirname "$user_dir")")"'\AppData\Roaming\Microsoft\Windows\Start Menu\Programs\ZT Series Firmware Updater\ZT Series Firmware Updater.lnk'
wine start "$shortcut" &
PIDS+=($!)
check "program started from the Start menu shows its FWUPDATER window and closes" \
    timeout 120 wine "$PROBE" FWUPDATER 60

# A program that outlives its window holds its files, and the uninstaller could not remove them.
check "no process of the program is left after it closed" prefix_idle 60

# The uninstaller copies itself away and runs from there, so its work ends only when that copy
# has ended.
check "silent uninstall exits 0" timeout 120 wine "$install_dir/Uninstall.exe" /S
check "the uninstaller's copy has ended" prefix_idle 120
removed() { [ ! -e "$1" ] || { echo "left in $1:" $(ls -A "$1"); return 1; }; }
check "program folder removed" removed "$install_dir"
check "Start-menu folder removed" removed "$menu_dir"

[ $FAILED = 0 ] && echo "installer under Wine: all checks passed" || echo "installer under Wine: $FAILED checks failed"
[ $FAILED = 0 ]
