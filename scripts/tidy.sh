#!/usr/bin/env bash
# clang-tidy's kept checks (.clang-tidy) on the protocol, content and transport code, against the
# native build's compile commands. Usage: scripts/tidy.sh [BUILD_DIR] (default build/native).
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
[ -f "$build/compile_commands.json" ] || { echo "tidy: no $build/compile_commands.json; build first" >&2; exit 2; }
mapfile -t files < <(git ls-files 'bootloader/*.cpp' 'content/*.cpp' 'transport/*.cpp' 'commandport/command_port.cpp')
# The g++-only warning flags of the compile commands mean nothing to clang.
output=$(clang-tidy --quiet -p "$build" --extra-arg=-Wno-unknown-warning-option "${files[@]}" 2>&1)
status=$?
grep -v -e "warnings generated" -e "^Suppressed" -e "Use -header-filter" <<<"$output"
[ $status -eq 0 ] || { echo "tidy: findings above (checks in .clang-tidy)" >&2; exit 1; }
echo "tidy: ${#files[@]} files pass"
