#!/usr/bin/env bash
# The long fuzz run: every target until it has run RUNS inputs (default 10 million) or SECONDS
# seconds have passed (default one hour), one target after another, then a table of inputs run,
# corpus size and findings. New inputs collect in build/fuzz/fuzz/long/<target>/corpus.
#   scripts/fuzz_long.sh [SECONDS] [RUNS] [TARGET...]
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-3600}
runs=${2:-10000000}
shift $(( $# > 2 ? 2 : $# ))
build=build/fuzz
if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZT_SANITIZE=ON -DZT_FUZZ=ON >/dev/null
fi
cmake --build "$build" --target fuzz_targets -j2 >/dev/null || exit 1

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(frame_decoder transact hex_image hex_check properties discovery_reply exchange_text units_file report)
status=0
summary=()
for name in "${targets[@]}"; do
    work=$build/fuzz/long/$name
    mkdir -p "$work/corpus" "$work/findings"
    # The property store keeps the first definition of a key by a linear search, which is right
    # for the few dozen lines it holds but quadratic in a 4 KiB input of one-byte keys; 1 KiB
    # still reaches every length limit.
    extra=()
    [ "$name" = properties ] && extra=(-max_len=1024)
    "$build/fuzz/fuzz_$name" "${extra[@]}" -runs="$runs" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/findings/" "$work/corpus" "fuzz/corpus/$name" \
        >"$work/log.txt" 2>&1
    result=$?
    executed=$(grep 'number_of_executed_units' "$work/log.txt" | tail -1 | awk '{print $2}')
    rate=$(grep 'average_exec_per_sec' "$work/log.txt" | tail -1 | awk '{print $2}')
    corpus=$(find "$work/corpus" -type f | wc -l)
    findings=$(find "$work/findings" -type f | wc -l)
    [ "$result" -eq 0 ] && [ "$findings" -eq 0 ] || status=1
    summary+=("$(printf '%-16s %12s inputs %8s/s  corpus %6s  findings %s  exit %s' \
        "$name" "${executed:-?}" "${rate:-?}" "$corpus" "$findings" "$result")")
    echo "${summary[-1]}"
done
echo "--- summary"
printf '%s\n' "${summary[@]}"
exit $status
