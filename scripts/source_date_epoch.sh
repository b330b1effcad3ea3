#!/usr/bin/env bash
# Prints the time every release artefact carries: SOURCE_DATE_EPOCH when set, else the last
# commit's time, else (a source tree outside git) the newest source file's time. The same sources
# thus give the same bytes, whoever builds them and wherever.
set -euo pipefail
root=$(realpath "$(dirname "$0")/..")
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    echo "$SOURCE_DATE_EPOCH"
# Only a repository of this tree itself: a copy inside another repository must not take its date.
elif [ "$(git -C "$root" rev-parse --show-toplevel 2>/dev/null)" = "$root" ]; then
    git -C "$root" log -1 --format=%ct
else
    find "$root" \( -path "$root/build" -o -path "$root/.git" \) -prune -o -type f -printf '%T@\n' |
        sort -n | tail -1 | cut -d. -f1
fi
