#!/usr/bin/env bash
# The release check: builds every artefact with scripts/release.sh from fresh build folders, then
# checks each one as an installer of amplifiers would meet it, that lintian finds nothing to warn
# about in the .deb, that a second build from a copy of the tree in another folder gives the same
# bytes, and that the troubleshooting page quotes every message the programs can show. Needs root
# (dpkg -i, network namespace).
set -uo pipefail
cd "$(dirname "$0")/.."
out=build/pkg-out
# Both builds carry the same time; the copy, outside git, could not find it by itself.
SOURCE_DATE_EPOCH=$(scripts/source_date_epoch.sh)
export SOURCE_DATE_EPOCH
failed=0
check() {  # check DESCRIPTION COMMAND...
    local what=$1; shift
    if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failed=$((failed + 1)); fi
}

check "troubleshooting page quotes every message" python3 tools/check_troubleshooting.py
scripts/release.sh "$out" || { echo "FAIL release build"; exit 1; }

deb=$(ls "$out"/*.deb)
zip=$(ls "$out"/*-windows.zip)
setup=$(ls "$out"/*-setup.exe)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== Windows programs"
unzip -q "$zip" -d "$work/zip"
for exe in ztupdater.exe ztupdate.exe; do
    check "$exe in the zip" test -f "$work/zip/$exe"
    # Static: only DLLs that come with Windows, none of the compiler's run-time DLLs.
    check "$exe needs no compiler run-time DLL" \
        bash -c "! x86_64-w64-mingw32-objdump -p '$work/zip/$exe' | grep -iE 'DLL Name: (libstdc|libgcc|libwinpthread)'"
done
has_utf16() { python3 -c 'import sys; sys.exit(sys.argv[2].encode("utf-16-le") not in open(sys.argv[1], "rb").read())' "$@"; }
for exe in ztupdater.exe ztupdate.exe; do
    check "$exe carries its version resource" has_utf16 "$work/zip/$exe" "ZT Series Firmware Updater"
    check "$exe carries its manifest (asInvoker)" grep -q 'level="asInvoker"' "$work/zip/$exe"
done

echo "== Debian package"
dpkg-deb -c "$deb" > "$work/deb-contents"
for path in usr/bin/ztupdate usr/bin/zt-unit-sim usr/share/man/man1/ztupdate.1.gz usr/share/man/man1/zt-unit-sim.1.gz \
            usr/share/bash-completion/completions/ztupdate usr/share/doc/ztupdate/serial-ports.txt; do
    check "package holds /$path" grep -q " \./$path\$" "$work/deb-contents"
done
# Errors and warnings fail; info and pedantic tags (hardening flags, lintian's spelling guesses in
# the binaries' strings) are advice that a package outside Debian's archive may leave.
check "lintian: no error or warning" lintian --fail-on error,warning "$deb"
if dpkg-query -W -f='${Status}' ztupdate 2>/dev/null | grep -q 'install ok installed'; then
    # Someone uses an installed copy on this machine: leave it alone and check an unpacked one.
    dpkg-deb -x "$deb" "$work/root"
    check "ztupdate --help (unpacked)" "$work/root/usr/bin/ztupdate" --help
    check "man ztupdate (unpacked)" bash -c "man -P cat -l '$work/root/usr/share/man/man1/ztupdate.1.gz' | grep -q dialout"
else
    check "dpkg -i" dpkg -i "$deb"
    check "ztupdate --help" bash -c 'ztupdate --help | grep -q "Exit status"'
    check "zt-unit-sim --help" bash -c 'zt-unit-sim --help >/dev/null'
    check "man ztupdate" bash -c 'man -P cat ztupdate 2>/dev/null | grep -q dialout'
    check "man zt-unit-sim" bash -c 'man -P cat zt-unit-sim 2>/dev/null | grep -q ready'
    check "bash completion offers the commands" bash -c \
        'source /usr/share/bash-completion/completions/ztupdate 2>/dev/null; _init_completion() { cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]}; words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD; }; COMP_WORDS=(ztupdate --ip 192.0.2.10 upd); COMP_CWORD=3; _ztupdate; [ "${COMPREPLY[*]}" = update ]'
    check "dpkg -r" dpkg -r ztupdate >/dev/null
fi

echo "== Windows installer under Wine"
x86_64-w64-mingw32-g++-posix -std=c++20 -Wall -Wextra -Werror -municode -static -O1 \
    -o "$work/window_probe.exe" tests/release/window_probe.cpp
check "installer: silent install, start, close, uninstall" \
    bash tests/release/installer_under_wine.sh "$setup" "$work/window_probe.exe"

echo "== Reproducible: the same artefacts from a copy of the tree in another folder"
# Deeper than the tree itself, so a build path left in any artefact changes its bytes.
copy=build/repro/elsewhere/tree
second=build/pkg-out-second
rm -rf build/repro "$second"
mkdir -p "$copy"
git ls-files -z -co --exclude-standard | tar --null --ignore-failed-read -T - -cf - | tar -xf - -C "$copy"
if "$copy/scripts/release.sh" "$PWD/$second" >"$work/second-build.log" 2>&1; then
    check "the same SHA-256 for every artefact (SHA256SUMS)" diff "$out/SHA256SUMS" "$second/SHA256SUMS"
else
    tail -20 "$work/second-build.log"
    check "second release build" false
fi
rm -rf build/repro

echo "== Artefacts"
cat "$out/SHA256SUMS"
[ $failed = 0 ] && echo "release check: all passed" || echo "release check: $failed failed"
[ $failed = 0 ]
