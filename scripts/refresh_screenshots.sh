#!/bin/bash
# Copies the GUI tests' screenshots into docs/images: every picture the folder already holds,
# plus the ones named on the command line. Run it after the GUI tests whenever a window changes,
# and look at every picture before committing it.
# Usage: scripts/refresh_screenshots.sh [-b BUILD_DIR] [NAME...]   (BUILD_DIR: build/windows)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=build/windows
if [ "${1:-}" = -b ]; then BUILD=$2; shift 2; fi
SHOTS=$BUILD/gui-screenshots
PROGRAM=$BUILD/shell/ztupdater.exe
[ -d "$SHOTS" ] || { echo "no $SHOTS: run the GUI tests first (ctest --test-dir $BUILD -L gui)" >&2; exit 1; }

names=()
for picture in docs/images/*.png; do [ -e "$picture" ] && names+=("$(basename "$picture" .png)"); done
names+=("$@")

status=0
for name in "${names[@]}"; do
    shot=$SHOTS/$name.png
    if [ ! -e "$shot" ]; then
        echo "missing: $shot (no GUI test takes \"$name\" any more?)" >&2
        status=1
    elif [ -e "$PROGRAM" ] && [ "$shot" -ot "$PROGRAM" ]; then
        echo "stale: $shot is older than $PROGRAM; run the GUI tests again" >&2
        status=1
    else
        cp "$shot" "docs/images/$name.png"
        echo "docs/images/$name.png"
    fi
done
exit $status
