#!/usr/bin/env bash
# Builds the release artefacts from scratch in fresh build folders and prints them with their
# SHA-256: the Debian package (ztupdate, zt-unit-sim), and for Windows a zip of ztupdater.exe and
# ztupdate.exe plus a per-user installer. Only the shipped targets are built, without tests.
# Usage: scripts/release.sh [OUT_DIR]   (default build/pkg-out)
# Signing: with ZT_SIGN_COMMAND set, "$ZT_SIGN_COMMAND FILE" is run on each Windows program before
# it is packed and on the installer afterwards; it must sign FILE in place.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$(realpath -m "${1:-build/pkg-out}")
linux=build/pkg-linux
windows=build/pkg-win
stage=build/pkg-stage

rm -rf "$linux" "$windows" "$stage" "$out"
mkdir -p "$out" "$stage"

echo "== Linux release build"
cmake -S . -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZT_BUILD_TESTS=OFF >/dev/null
cmake --build "$linux" -j2 --target ztupdate zt-unit-sim zt_man_pages
(cd "$linux" && cpack -G DEB -B "$out" >/dev/null)
rm -rf "$out/_CPack_Packages"

echo "== Windows release build"
cmake -S . -B "$windows" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DZT_BUILD_TESTS=OFF >/dev/null
cmake --build "$windows" -j2 --target ztupdater ztupdate
cmake --install "$windows" --prefix "$stage/windows" --strip >/dev/null
sign() { [ -z "${ZT_SIGN_COMMAND:-}" ] || $ZT_SIGN_COMMAND "$1"; }
for exe in "$stage"/windows/*.exe; do sign "$exe"; done

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$windows/CMakeCache.txt")
zip_name="ztupdater-$version-windows.zip"
(cd "$stage/windows" && zip -q -X -r "$out/$zip_name" .)
makensis -V2 -DVERSION="$version" -DSTAGE="$root/$stage/windows" \
    -DOUTFILE="$out/ztupdater-$version-setup.exe" packaging/windows/ztupdater.nsi
sign "$out/ztupdater-$version-setup.exe"

echo "== Artefacts in $out"
(cd "$out" && sha256sum -- *.deb *.zip *.exe)
