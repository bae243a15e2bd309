#!/usr/bin/env bash
# Benchmark of the rebuild engine, run by hand (not a test): a recording of about 1 GB cut off
# as a killed recorder leaves it (ftyp, free, mdat of size 0, no moov) is rebuilt by
# rebuild_cli, against reading the same file with cat, each with the file out of the page
# cache (cold) and in it (warm). Prints wall time and peak memory.
#   tools/rebuild-bench.sh [--big]
# --big: a real recording past 4 GiB instead (1080p, about 4.7 GB: 64-bit sizes and chunk
# offsets).
# CLIPMEND_BUILD_ROOT moves the build root; the media (about 2 GB, or 10 GB with --big while it
# is made) is kept there between runs.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
root=${CLIPMEND_BUILD_ROOT:-$repo/build}
build=$root/bench-native
media=$root/rebuild-bench
py=/usr/bin/python3
big=
[ "${1:-}" = --big ] && big=-big
mkdir -p "$media"

# An optimised build without sanitizers, with FFmpeg's decoders built alike: the copy is checked
# as the program checks it, and the check's time is printed beside the rebuild's.
ffmpeg=${CLIPMEND_FFMPEG_PREFIX:-$("$repo/tools/ffmpeg-build.sh" bench)}
CC=clang CXX=clang++ cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DCLIPMEND_SANITIZE=OFF -DCLIPMEND_FUZZ=OFF -DCLIPMEND_FFMPEG_PREFIX="$ffmpeg" \
    >"$root/bench-native-configure.log" 2>&1 ||
    { cat "$root/bench-native-configure.log" >&2; exit 1; }
cmake --build "$build" --parallel "$(nproc)" --target rebuild_cli >/dev/null
cli=$build/tests/rebuild/rebuild_cli

picture=1280x720 seconds=500
[ -n "$big" ] && picture=1920x1080 seconds=${CLIPMEND_BENCH_BIG_SECONDS:-1100}
video=(-f lavfi -i testsrc2=size=$picture:rate=30 -f lavfi -i sine=sample_rate=48000)
codecs=(-c:v libx264 -preset ultrafast -qp 0 -g 60 -pix_fmt yuv420p -c:a aac -b:a 128k)
broken=$media/broken$big.mp4
reference=$media/reference$big.mp4
if [ ! -f "$broken" ]; then
    echo "making the media (a few minutes; with --big, half an hour)..."
    ffmpeg -v error -y "${video[@]}" -t "$seconds" "${codecs[@]}" "$media/whole.mp4"
    ffmpeg -v error -y "${video[@]}" -t 10 "${codecs[@]}" "$reference"
    # Cut as a kill would: no moov, the last sample half written, mdat's size 0.
    "$py" - "$media/whole.mp4" "$broken" <<'EOF'
import os, struct, sys
src, dst = sys.argv[1], sys.argv[2]
with open(src, 'rb') as f:
    data = f.read(64)
    at, mdat = 0, None
    while mdat is None:
        f.seek(at)
        size, kind = struct.unpack('>I4s', f.read(8))
        wide = size == 1
        if kind == b'mdat':
            mdat = at
        if wide:
            size = struct.unpack('>Q', f.read(8))[0]
        at += size
end = at - 12345
with open(src, 'rb') as f, open(dst, 'wb') as out:
    left = end
    while left:
        block = f.read(min(left, 1 << 24))
        out.write(block)
        left -= len(block)
with open(dst, 'r+b') as out:
    out.seek(mdat)
    out.write(b'\0\0\0\0')
    if wide:
        # ffmpeg gives a file past 4 GiB its 64-bit mdat header only when it ends, in the 8
        # bytes of the free box before mdat: killed, it leaves that box and a size of 0.
        out.seek(mdat)
        out.write(b'\0\0\0\x08free\0\0\0\0mdat')
EOF
    rm -f "$media/whole.mp4"
fi

evict() {
    "$py" -c 'import os, sys
fd = os.open(sys.argv[1], os.O_RDONLY)
os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
os.close(fd)' "$1"
}

measure() {
    # label, then the command
    local label=$1
    shift
    /usr/bin/time -f "%e %M" -o "$media/time.txt" "$@" >/dev/null 2>&1
    read -r seconds peak <"$media/time.txt"
    printf '%-26s %7.2f s  %8d KB peak\n' "$label" "$seconds" "$peak"
}

size=$(stat -c %s "$broken")
echo "broken recording: $size bytes"
sync
evict "$broken"
measure "cat, cold" sh -c "cat '$broken' >/dev/null"
measure "cat, warm" sh -c "cat '$broken' >/dev/null"
# Reading and writing the whole file in blocks, what a rebuild does at the least.
measure "dd to a file, warm" dd if="$broken" of="$media/copy.mp4" bs=8M status=none
rm -f "$media/copy.mp4"
rm -f "$media/out.mp4"
sync
evict "$broken"
measure "rebuild, cold" "$cli" "$reference" "$broken" "$media/out.mp4"
rm -f "$media/out.mp4"
sync
measure "rebuild, warm" "$cli" "$reference" "$broken" "$media/out.mp4"
# The copy is created new: the last one goes first.
rm -f "$media/out.mp4"
"$cli" "$reference" "$broken" "$media/out.mp4" 2>/dev/null | sed 's/^/  /'
rm -f "$media/out.mp4"
