#!/usr/bin/env bash
# Makes the Wine prefix in $WINEPREFIX ready for Clipmend's tests and runs: created once
# with wineboot, and windows left unmanaged (without a window manager, Wine otherwise waits
# about 2 s whenever a managed window is hidden).
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
