#!/usr/bin/env bash
# Checks the real MP4Box.exe of both arches under Wine as Clipmend runs it (the 64-bit one with
# wine, the 32-bit one with the 32-bit Wine), on media made with ffmpeg in <work dir>.
#   tests/gpac/check_tool.sh <work dir> [MP4Box.exe...]   (none given: tools/gpac-build.sh's)
# WINEPREFIX (default: the build root's) names a prefix made by tools/wine-prefix.sh inside
# tools/wine32-env.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=${1:?usage: check_tool.sh <work dir> [MP4Box.exe...]}
shift
# shellcheck source=tools/wine-env.sh
source "$repo/tools/wine-env.sh"
wine_env keep
"$repo/tools/setup.sh" ffmpeg python3 python3-pefile
exes=("$@")
if ((${#exes[@]} == 0)); then
    mapfile -t exes < <("$repo/tools/gpac-build.sh")
fi
exec "$repo/tools/wine32-env" /usr/bin/python3 "$repo/tests/gpac/mp4box_check.py" check "$work" "${exes[@]}"
