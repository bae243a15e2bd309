#!/usr/bin/env bash
# Configures and builds one of the three builds under the build root.
#   tools/build.sh native|win64|win32 [target...]
# CLIPMEND_BUILD_ROOT overrides the build root (default: <repo>/build).
# CLIPMEND_FFMPEG_PREFIX names another static FFmpeg for this build than the one
# tools/ffmpeg-build.sh makes (and caches) for it.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
root=${CLIPMEND_BUILD_ROOT:-$repo/build}
kind=${1:?usage: build.sh native|win64|win32 [target...]}
shift

dir=$root/$kind
mkdir -p "$root"
case $kind in
native)
    export CC=clang CXX=clang++
    args=(-DCLIPMEND_SANITIZE=ON -DCLIPMEND_FUZZ=ON)
    ;;
win64)
    args=(-DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-x86_64.cmake")
    ;;
win32)
    # The release product, with its tests beside it: they run the shipped exe under the
    # 32-bit Wine that tools/wine32-setup.sh provides.
    args=(-DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release
        -DCLIPMEND_TESTS=ON)
    ;;
*)
    echo "build.sh: unknown build '$kind'" >&2
    exit 2
    ;;
esac

# FFmpeg's decoders, built the first time (minutes; tools/test.sh starts that early), then
# cached. Another run building the same arch is waited for.
ffmpeg=${CLIPMEND_FFMPEG_PREFIX:-}
if [[ -z $ffmpeg ]]; then
    case $kind in
    native) arch=native ;;
    win64) arch=x86_64 ;;
    win32) arch=i686 ;;
    esac
    ffmpeg=$("$repo/tools/ffmpeg-build.sh" "$arch") || {
        echo "build.sh: FFmpeg's build for $arch failed" >&2
        exit 1
    }
fi
args+=(-DCLIPMEND_FFMPEG_PREFIX="$ffmpeg")

# Configuring again is cheap and repairs a directory whose first configure failed.
cmake -S "$repo" -B "$dir" "${args[@]}" >"$root/$kind-configure.log" 2>&1 || {
    cat "$root/$kind-configure.log" >&2
    exit 1
}

jobs=$(nproc 2>/dev/null || echo 2)
targets=()
for t in "$@"; do
    targets+=(--target "$t")
done
cmake --build "$dir" --parallel "$jobs" "${targets[@]}"
