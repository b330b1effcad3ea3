#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need (run as root).
set -euo pipefail
packages=(
    build-essential cmake ninja-build python3 git
    googletest libgtest-dev libgmock-dev
    mingw-w64 g++-mingw-w64-x86-64-posix wine wine64 xvfb x11-utils imagemagick
    socat srecord python3-intelhex python3-crcmod python3-jsonschema jq iproute2 util-linux
    libcli11-dev nlohmann-json3-dev clang clang-format clang-tidy libclang-rt-14-dev
    nsis zip unzip man-db dpkg-dev lintian fonts-wine fonts-liberation
    bash-completion zsh fish tmux
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
