#!/usr/bin/env bash
# Decoding the embedded Intel HEX image: ztcore's loader against srec_cat on the same file.
# Both are timed as whole processes, best of 5; the in-process figures follow.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build/bench}"
. scripts/bench_common.sh

build_targets bench_hex_load
hex="$build/generated/sample_application.hex"
[ -n "$(sed -n 's/^ZT_APPLICATION_HEX:FILEPATH=//p' "$build/CMakeCache.txt")" ] &&
    hex="$(sed -n 's/^ZT_APPLICATION_HEX:FILEPATH=//p' "$build/CMakeCache.txt")"

# Best wall time of 5 runs of a command, in milliseconds.
best_of_5() {
    local best=""
    for _ in 1 2 3 4 5; do
        local start end ms
        start=$(date +%s%N)
        "$@" >/dev/null
        end=$(date +%s%N)
        ms=$(( (end - start) / 1000 ))
        if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
    done
    echo "$best"
}

ours_us=$(best_of_5 "$build/bench/bench_hex_load" 1)
# Intel HEX out: -binary would also fill the 46 MB gap between the two flash regions.
srec_us=$(best_of_5 srec_cat "$hex" -intel -o /dev/null -intel)
echo "HEX image: $hex ($(stat -c %s "$hex") bytes)"
"$build/bench/bench_hex_load" 50 | sed 's/^/  in-process /'
awk -v o="$ours_us" -v s="$srec_us" 'BEGIN {
    printf "ztcore load (process, best of 5): %.2f ms\n", o / 1000
    printf "srec_cat    (process, best of 5): %.2f ms\n", s / 1000
    printf "srec_cat / ztcore: %.1fx\n", s / o
}'
