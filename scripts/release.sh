#!/usr/bin/env bash
# Builds the release artefacts from scratch in fresh build folders and writes their SHA-256 to
# OUT_DIR/SHA256SUMS: the Debian package (ztupdate, zt-unit-sim), and for Windows a zip of
# ztupdater.exe and ztupdate.exe plus a per-user installer. Only the shipped targets are built,
# without tests. The artefacts are reproducible: the same sources give the same bytes in any
# folder, every time in them being SOURCE_DATE_EPOCH (scripts/source_date_epoch.sh).
# Usage: scripts/release.sh [OUT_DIR]   (default build/pkg-out)
# Signing: with ZT_SIGN_COMMAND set, "$ZT_SIGN_COMMAND FILE" is run on each Windows program before
# it is packed and on the installer afterwards; it must sign FILE in place. Signatures carry
# their own times, so signed artefacts are the same only apart from them.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$(realpath -m "${1:-build/pkg-out}")
linux=build/pkg-linux
windows=build/pkg-win
stage=build/pkg-stage
SOURCE_DATE_EPOCH=$(scripts/source_date_epoch.sh)
export SOURCE_DATE_EPOCH
# zip stores local times.
export TZ=UTC

rm -rf "$linux" "$windows" "$stage" "$out"
mkdir -p "$out" "$stage"

echo "== Linux release build"
cmake -S . -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZT_BUILD_TESTS=OFF -DZT_REPRODUCIBLE=ON >/dev/null
cmake --build "$linux" -j2 --target ztupdate zt-unit-sim zt_man_pages
# CPack sets every time in the package to SOURCE_DATE_EPOCH.
(cd "$linux" && cpack -G DEB -B "$out" >/dev/null)
rm -rf "$out/_CPack_Packages"

echo "== Windows release build"
cmake -S . -B "$windows" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DZT_BUILD_TESTS=OFF -DZT_REPRODUCIBLE=ON >/dev/null
cmake --build "$windows" -j2 --target ztupdater ztupdate
cmake --install "$windows" --prefix "$stage/windows" --strip >/dev/null
sign() { [ -z "${ZT_SIGN_COMMAND:-}" ] || $ZT_SIGN_COMMAND "$1"; }
for exe in "$stage"/windows/*.exe; do sign "$exe"; done
# The zip and the installer store the files' times: the staged ones are the release's.
find "$stage/windows" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$windows/CMakeCache.txt")
zip_name="ztupdater-$version-windows.zip"
# In name order, without directory entries or the extra fields of owner and precise times.
(cd "$stage/windows" && find . -type f | LC_ALL=C sort | zip -q -X -D "$out/$zip_name" -@)
makensis -V2 -DVERSION="$version" -DSTAGE="$root/$stage/windows" \
    -DOUTFILE="$out/ztupdater-$version-setup.exe" packaging/windows/ztupdater.nsi
sign "$out/ztupdater-$version-setup.exe"

echo "== Artefacts in $out"
(cd "$out" && sha256sum -- *.deb *.zip *.exe > SHA256SUMS && cat SHA256SUMS)
