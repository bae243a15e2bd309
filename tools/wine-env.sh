# shellcheck shell=bash
# The environment Clipmend's Windows programs run in under Wine; sourced by test.sh, run.sh,
# wine-prefix.sh, wine-run and tests/package/check_installer.sh, so that all of them use the
# same prefix and settings.
#   wine_env keep   keeps what the caller exported, fills in the rest
#   wine_env own    the build root's prefix and these settings whatever the caller exported:
#                   the tests' settings never go into a user's own prefix
# The build root is CLIPMEND_BUILD_ROOT, else <repo>/build; it is exported.
wine_env() {
    local repo
    repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    export CLIPMEND_BUILD_ROOT=${CLIPMEND_BUILD_ROOT:-$repo/build}
    if [[ $1 == own ]]; then
        unset WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
    fi
    export WINEPREFIX=${WINEPREFIX:-$CLIPMEND_BUILD_ROOT/wineprefix}
    # Wine's own messages would bury the programs' output.
    export WINEDEBUG=${WINEDEBUG:--all}
    # No Mono or Gecko install prompts when a prefix is created: nothing here needs them.
    export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
}
