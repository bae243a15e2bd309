#!/usr/bin/env bash
# Builds Clipmend and starts it under Wine, with GPAC's MP4Box (tools/gpac-build.sh: minutes
# the first time, then cached) as tool\MP4Box.exe beside it, and a short video, sample.mp4,
# beside it to open.
#   tools/run.sh [--win32] [--standin] [--headless] [screenshot.png]
# By default it runs the 64-bit twin; --win32 runs the 32-bit release, the exe users get,
# under the 32-bit Wine of tools/wine32-setup.sh (set up the first time, about a minute).
# --standin puts the tests' stand-in tool there instead of MP4Box.
# On the user's display ($DISPLAY) it runs until its window is closed. Without a display, or
# with --headless, it runs under an Xvfb of its own, saves a screenshot once the window is
# up (default: <build>/clipmend-screenshot.png), and stops.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
root=${CLIPMEND_BUILD_ROOT:-$repo/build}
export CLIPMEND_BUILD_ROOT=$root

headless=
win32=
standin=
while [[ ${1:-} == --* ]]; do
    case $1 in
    --headless) headless=1 ;;
    --win32) win32=1 ;;
    --standin) standin=1 ;;
    *)
        echo "usage: run.sh [--win32] [--standin] [--headless] [screenshot.png]" >&2
        exit 2
        ;;
    esac
    shift
done
[[ -n ${DISPLAY:-} ]] || headless=1
shot=$(realpath -m "${1:-$root/clipmend-screenshot.png}")

# xwininfo (x11-utils) tells when the window is up.
"$repo/tools/setup.sh" x11-utils ffmpeg
if [[ -n $win32 ]]; then
    build=win32
    arch=i686
    run=$root/run32
    "$repo/tools/wine32-setup.sh" >/dev/null
    # The 32-bit loader, where 32-bit programs can start.
    wine=("$repo/tools/wine-run32")
    in_wine32=("$repo/tools/wine32-env")
else
    build=win64
    arch=x86_64
    run=$root/run
    wine=(wine)
    in_wine32=()
fi
"$repo/tools/build.sh" "$build" Clipmend standin

exe=$(find "$root/$build" -name Clipmend.exe -path '*/app/*' -type f | head -n 1)
if [[ -n $standin ]]; then
    tool=$(find "$root/$build" -name standin.exe -type f | head -n 1)
else
    tool=$("$repo/tools/gpac-build.sh" "$arch")
fi
[[ -n $exe && -n $tool ]] || {
    echo "run.sh: Clipmend.exe or the tool was not built" >&2
    exit 1
}
mkdir -p "$run/tool"
cp "$exe" "$run/Clipmend.exe"
cp "$tool" "$run/tool/MP4Box.exe"
if [[ ! -f $run/sample.mp4 ]]; then
    ffmpeg -loglevel error -f lavfi -i testsrc2=size=640x360:rate=30 -f lavfi -i sine \
        -t 10 -c:v libx264 -c:a aac -y "$run/sample.mp4"
fi

# shellcheck source=tools/wine-env.sh
source "$repo/tools/wine-env.sh"
wine_env own

if [[ -z $headless ]]; then
    "${in_wine32[@]}" "$repo/tools/wine-prefix.sh"
    cd "$run"
    exec "${wine[@]}" ./Clipmend.exe
fi

xvfb_pid=
app_pid=
cleanup() {
    if [[ -n $app_pid ]]; then
        kill "$app_pid" 2>/dev/null || true
    fi
    wineserver -k 2>/dev/null || true
    if [[ -n $app_pid ]]; then
        wait "$app_pid" 2>/dev/null || true
    fi
    if [[ -n $xvfb_pid ]]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# shellcheck source=tools/xvfb.sh
source "$repo/tools/xvfb.sh"
start_xvfb "$root/run-xvfb.log" 1024x768x24 || {
    echo "run.sh: Xvfb did not start" >&2
    exit 1
}

"${in_wine32[@]}" "$repo/tools/wine-prefix.sh"
(cd "$run" && exec "${wine[@]}" ./Clipmend.exe) &
app_pid=$!

caption="Velmora Clipmend - ONE Click"
for _ in $(seq 300); do
    xwininfo -root -tree 2>/dev/null | grep -qF "\"$caption\"" && break
    kill -0 "$app_pid" 2>/dev/null || {
        echo "run.sh: Clipmend exited before showing its window" >&2
        exit 1
    }
    sleep 0.1
done
xwininfo -root -tree | grep -qF "\"$caption\"" || {
    echo "run.sh: the window did not appear" >&2
    exit 1
}
# Mapped is not yet painted; give the first paint a moment.
sleep 1
mkdir -p "$(dirname "$shot")"
import -window root "$shot"
echo "screenshot: $shot"
