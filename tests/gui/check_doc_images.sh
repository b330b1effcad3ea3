#!/bin/bash
# Every picture in docs/images is a screenshot the GUI tests still take (scripts/
# refresh_screenshots.sh copies them from there), and every picture the docs show exists.
# Usage: check_doc_images.sh SOURCE_DIR
set -u
SOURCE=$(readlink -f "$1")
GUI_TESTS=$SOURCE/tests/gui
FAILED=0

# A screenshot is taken as screenshot("NAME") or with NAME as a driver argument in the scripts;
# helpPages gets its name as a quoted argument.
taken() {
    grep -q -F "\"$1\"" "$GUI_TESTS"/*.cpp || grep -q -E "screenshot $1( |$)" "$GUI_TESTS"/*.sh
}

for picture in "$SOURCE"/docs/images/*; do
    [ -e "$picture" ] || continue
    name=$(basename "$picture")
    case $name in
        *.png) taken "${name%.png}" || { echo "docs/images/$name: no GUI test takes this screenshot"; FAILED=1; } ;;
        *) echo "docs/images/$name: not a PNG screenshot"; FAILED=1 ;;
    esac
done

for page in "$SOURCE"/docs/*.md; do
    for shown in $(grep -o -E '\(images/[^)]+\)' "$page" | tr -d '()'); do
        [ -e "$SOURCE/docs/$shown" ] || { echo "$(basename "$page") shows $shown, which is missing"; FAILED=1; }
    done
done

[ $FAILED = 0 ] && echo "every picture in docs/images is taken by the GUI tests"
exit $FAILED
