#!/usr/bin/env bash
# The main job: install what the build needs, build the release programs, then show what the
# updater carries.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

cmake --preset release
cmake --build --preset release

echo
echo "== ztupdate info =="
build/release/cli/ztupdate info
