# What the scripts that run Windows programs under Wine set up, sourced by them: a display of
# their own, a Wine prefix that looks like Windows and the clean-up. Expects WORK, WINEPREFIX and
# the PIDS array.

# end_session: for the exit trap. The processes in PIDS and the prefix's wineserver end, then
# WORK goes.
end_session() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    wineserver -k 2>/dev/null
    for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
    rm -rf "$WORK"
}

# start_display [COMMAND...]: Xvfb, started through COMMAND (say "ip netns exec NS"), chooses a
# free display number itself, so scripts that run at once never race for one; exports DISPLAY.
start_display() {
    local number=$WORK/display-number
    "$@" Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$number" >/dev/null 2>&1 &
    PIDS+=($!)
    for _ in $(seq 100); do [ -s "$number" ] && break; sleep 0.1; done
    [ -s "$number" ] || { echo "Xvfb did not start"; return 1; }
    export DISPLAY=:$(head -n 1 "$number")
}

# look_like_windows [COMMAND...]: after wineboot, before any program, the faces, colours and virtual desktop of
# windows_look.reg, with the fonts it names copied from Wine's font package (fonts-wine).
look_like_windows() {
    local fonts=/usr/share/wine/fonts
    if [ -e $fonts/sserife.fon ]; then
        cp $fonts/sserife.fon $fonts/tahoma.ttf $fonts/tahomabd.ttf $fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    else
        echo "note: no $fonts (fonts-wine): screenshots use stand-in fonts"
    fi
    local settings
    settings=$(readlink -f "$(dirname "${BASH_SOURCE[0]}")/windows_look.reg")
    "$@" wine regedit /S "Z:${settings//\//\\}"
    # A desktop keeps its kind while it lives: start the prefix afresh, with a server that stays
    # for the whole run, so its services make their serial-port links now, before the caller
    # replaces them, and never again during the run.
    "$@" wineserver -w
    "$@" wineserver -p >/dev/null 2>&1
    "$@" wineboot >/dev/null 2>&1
}

# keep_machine_ports_out: the machine's own serial ports stay out of the test. COM1-COM4 lead to
# a folder, which no port open accepts (a missing link would fall back to /dev/ttyS*).
keep_machine_ports_out() {
    mkdir -p "$WORK/no-port"
    for port in com1 com2 com3 com4; do ln -sfn "$WORK/no-port" "$WINEPREFIX/dosdevices/$port"; done
}

# shots_to_png: the drivers write BMP; the screenshots folder keeps PNG.
shots_to_png() {
    for bmp in "$SHOTS"/*.bmp; do
        [ -e "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
    done
    echo "screenshots: $SHOTS"
}
