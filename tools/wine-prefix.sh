#!/usr/bin/env bash
# Makes the Wine prefix in $WINEPREFIX (default: the build root's) ready for Clipmend's tests
# and runs (run it inside tools/wine32-env for the 32-bit ones too): created once with wineboot;
# windows left unmanaged (without a window manager, Wine otherwise waits about 2 s whenever a
# managed window is hidden); no crash dialog, which would keep a crashed test program alive
# until someone dismissed it.
set -euo pipefail
# shellcheck source=tools/wine-env.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
wine_env keep
# Inside tools/wine32-env the prefix also gets its 32-bit half. Wine 8 does not find the i386
# zlib1.dll among its builtins in a 32-bit process: the real ones go into the system folders
# before wineboot fills them.
# A prefix this script made carries this mark; it never deletes any other folder.
made=$WINEPREFIX/.clipmend-prefix
wow64=$WINEPREFIX/.clipmend-wow64
if [[ -n ${WINE32_LOADER:-} && ! -f $wow64 && -e $WINEPREFIX ]]; then
    # Made before the 32-bit Wine was there: "wineboot -u" cannot add the 32-bit half (the
    # 32-bit loader then finds no kernel32), so the test prefix is made anew.
    if [[ ! -f $made ]]; then
        echo "wine-prefix.sh: $WINEPREFIX lacks a 32-bit half, and this script did not make" \
            "it: remove it yourself or choose another WINEPREFIX" >&2
        exit 1
    fi
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
fi
# Marked before anything goes in, so that a prefix half made is still known as ours.
if [[ ! -f $WINEPREFIX/system.reg ]]; then
    if [[ -e $WINEPREFIX && ! -f $made && -n $(ls -A "$WINEPREFIX" 2>/dev/null) ]]; then
        echo "wine-prefix.sh: $WINEPREFIX is a folder with other things in it, not a Wine" \
            "prefix: choose another WINEPREFIX" >&2
        exit 1
    fi
    mkdir -p "$WINEPREFIX"
    : >"$made"
fi
if [[ -n ${WINE32_LOADER:-} && ! -f $wow64 ]]; then
    mkdir -p "$WINEPREFIX/drive_c/windows/system32" "$WINEPREFIX/drive_c/windows/syswow64"
    cp /usr/x86_64-w64-mingw32/lib/zlib1.dll "$WINEPREFIX/drive_c/windows/system32/"
    cp /usr/i686-w64-mingw32/lib/zlib1.dll "$WINEPREFIX/drive_c/windows/syswow64/"
fi
if [[ ! -f $WINEPREFIX/system.reg ]]; then
    wineboot -i
fi
if [[ -n ${WINE32_LOADER:-} ]]; then
    : >"$wow64"
fi
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
