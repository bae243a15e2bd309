#!/usr/bin/env bash
# Makes the decoder tests' recordings with ffmpeg, each at two picture sizes, and lists each
# file's packets in decoding order as ffprobe sees them, a line each: stream position size key
# (1 for a key frame).
#   tests/decode/make_media.sh DIR
set -euo pipefail
dir=${1:?usage: make_media.sh DIR}
mkdir -p "$dir"
cd "$dir"

make() { # NAME SIZE VIDEO-CODEC-ARGS... -- SOUND-ARGS...
    local name=$1 size=$2 video=() sound=()
    shift 2
    while [[ $1 != -- ]]; do
        video+=("$1")
        shift
    done
    shift
    sound=("$@")
    ffmpeg -v error -y -f lavfi -i "testsrc2=size=$size:rate=30" -f lavfi \
        -i "sine=sample_rate=${sound[0]}:frequency=440" -t 2 "${video[@]}" -g 30 \
        -c:a aac -ar "${sound[0]}" -ac "${sound[1]}" -f mp4 "$name.mp4.tmp"
    ffprobe -v error -show_entries packet=stream_index,pos,size,flags -of compact=p=0 \
        "$name.mp4.tmp" | awk -F'|' '/^stream_index=/ {
            for (i = 1; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
            print v["stream_index"], v["pos"], v["size"], (v["flags"] ~ /K/) ? 1 : 0 }' \
        >"$name.txt"
    mv "$name.mp4.tmp" "$name.mp4"
}
x264=(-c:v libx264 -preset veryfast -pix_fmt yuv420p)
x265=(-c:v libx265 -preset veryfast -pix_fmt yuv420p10le -tag:v hvc1 -x265-params log-level=error)
make h264 640x360 "${x264[@]}" -- 44100 1
make h264-720p 1280x720 "${x264[@]}" -- 48000 2
make hevc 640x360 "${x265[@]}" -- 48000 2
make hevc-720p 1280x720 "${x265[@]}" -- 44100 1
