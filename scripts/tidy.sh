#!/usr/bin/env bash
# clang-tidy's kept checks (.clang-tidy) on the portable core (but cli/), the POSIX platform layer
# and the simulator, against the native build's compile commands.
# Usage: scripts/tidy.sh [BUILD_DIR] (default build/native).
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
[ -f "$build/compile_commands.json" ] || { echo "tidy: no $build/compile_commands.json; build first" >&2; exit 2; }
# The Win32 dialogs (*_dialog.cpp, wherever they live) are not in the native compile commands.
mapfile -t files < <(git ls-files ':(glob)bootloader/*.cpp' ':(glob)content/*.cpp' ':(glob)transport/*.cpp' \
    ':(glob)commandport/*.cpp' ':(glob)discovery/*.cpp' ':(glob)platform/*.cpp' ':(glob)platform/posix/*.cpp' \
    ':(glob)sim/*.cpp' ':(glob)startup/*.cpp' ':(exclude,glob)**/*_dialog.cpp')
# The g++-only warning flags of the compile commands mean nothing to clang.
output=$(clang-tidy --quiet -p "$build" --extra-arg=-Wno-unknown-warning-option "${files[@]}" 2>&1)
status=$?
grep -v -e "warnings generated" -e "^Suppressed" -e "Use -header-filter" <<<"$output"
[ $status -eq 0 ] || { echo "tidy: findings above (checks in .clang-tidy)" >&2; exit 1; }
echo "tidy: ${#files[@]} files pass"
