#!/usr/bin/env bash
# Makes the Wine prefix in $WINEPREFIX ready for Clipmend's tests and runs: created once
# with wineboot; windows left unmanaged (without a window manager, Wine otherwise waits
# about 2 s whenever a managed window is hidden); no crash dialog, which would keep a
# crashed test program alive until someone dismissed it.
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must be set}"
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko install prompts: nothing here needs them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [[ ! -f $WINEPREFIX/system.reg ]]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    wineboot -i
fi
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
