#!/usr/bin/env bash
# Benchmark of the rebuild engine, run by hand (not a test): a recording of about 1 GB cut off
# as a killed recorder leaves it (ftyp, free, mdat of size 0, no moov) is rebuilt by
# rebuild_cli, against reading the same file with cat, each with the file out of the page
# cache (cold) and in it (warm). Prints wall time and peak memory.
#   tools/rebuild-bench.sh
# CLIPMEND_BUILD_ROOT moves the build root; the media (about 2 GB) is kept there between runs.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
root=${CLIPMEND_BUILD_ROOT:-$repo/build}
build=$root/bench-native
media=$root/rebuild-bench
py=/usr/bin/python3
mkdir -p "$media"

# An optimised build without sanitizers.
CC=clang CXX=clang++ cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DCLIPMEND_SANITIZE=OFF -DCLIPMEND_FUZZ=OFF >"$root/bench-native-configure.log" 2>&1 ||
    { cat "$root/bench-native-configure.log" >&2; exit 1; }
cmake --build "$build" --parallel "$(nproc)" --target rebuild_cli >/dev/null
cli=$build/tests/rebuild/rebuild_cli

video=(-f lavfi -i testsrc2=size=1280x720:rate=30 -f lavfi -i sine=sample_rate=48000)
codecs=(-c:v libx264 -preset ultrafast -qp 0 -g 60 -pix_fmt yuv420p -c:a aac -b:a 128k)
if [ ! -f "$media/broken.mp4" ]; then
    echo "making the media (a few minutes)..."
    ffmpeg -v error -y "${video[@]}" -t 500 "${codecs[@]}" "$media/whole.mp4"
    ffmpeg -v error -y "${video[@]}" -t 10 "${codecs[@]}" "$media/reference.mp4"
    # Cut as a kill would: no moov, the last sample half written, mdat's size 0.
    "$py" - "$media/whole.mp4" "$media/broken.mp4" <<'EOF'
import os, struct, sys
src, dst = sys.argv[1], sys.argv[2]
with open(src, 'rb') as f:
    data = f.read(64)
    at, mdat = 0, None
    while mdat is None:
        f.seek(at)
        size, kind = struct.unpack('>I4s', f.read(8))
        if kind == b'mdat':
            mdat = at
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

size=$(stat -c %s "$media/broken.mp4")
echo "broken recording: $size bytes"
sync
evict "$media/broken.mp4"
measure "cat, cold" sh -c "cat '$media/broken.mp4' >/dev/null"
measure "cat, warm" sh -c "cat '$media/broken.mp4' >/dev/null"
# Reading and writing the whole file in blocks, what a rebuild does at the least.
measure "dd to a file, warm" dd if="$media/broken.mp4" of="$media/copy.mp4" bs=8M status=none
rm -f "$media/copy.mp4"
rm -f "$media/out.mp4"
sync
evict "$media/broken.mp4"
measure "rebuild, cold" "$cli" "$media/reference.mp4" "$media/broken.mp4" "$media/out.mp4"
rm -f "$media/out.mp4"
sync
measure "rebuild, warm" "$cli" "$media/reference.mp4" "$media/broken.mp4" "$media/out.mp4"
# The copy is created new: the last one goes first.
rm -f "$media/out.mp4"
"$cli" "$media/reference.mp4" "$media/broken.mp4" "$media/out.mp4" 2>/dev/null | sed 's/^/  /'
rm -f "$media/out.mp4"
