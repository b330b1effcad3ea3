#!/usr/bin/env bash
# Fails when a C++ file differs from .clang-format's style; `clang-format -i FILE` mends it.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
echo "format: every C++ file matches .clang-format"
