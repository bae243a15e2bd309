#!/usr/bin/python3
"""GO with the real MP4Box: makes the videos with ffmpeg (whole, and damaged as users' videos
are), runs the window driver's RealTool tests on them under Wine, then checks the new files
with ffprobe: the same streams and packet counts, the length, the Name tag, and the
"m:ss of m:ss" a partial copy's message gives.

  real_tool.py --driver e2e_tests.exe --wine tools/wine-run --arch x86_64|i686 --work DIR [--few]

The tool comes from tools/gpac-build.sh (cached), or from CLIPMEND_MP4BOX when that is set.
"""
import argparse
import json
import os
import re
import shutil
import struct
import subprocess
import sys

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
failures = []


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what)
    if not ok:
        failures.append(what)


def ffmpeg(*args):
    subprocess.run(["ffmpeg", "-v", "error", "-y", *args], check=True)


def ffprobe(path, *entries):
    out = subprocess.run(["ffprobe", "-v", "error", "-of", "json", *entries, path],
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def windows(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def boxes(data):
    """The top-level boxes: (type, offset, size)."""
    at, found = 0, []
    while at + 8 <= len(data):
        size, kind = struct.unpack_from(">I4s", data, at)
        if size == 1:
            size, = struct.unpack_from(">Q", data, at + 8)
        found.append((kind.decode("latin-1"), at, size or len(data) - at))
        at += size or len(data) - at
    return found


def without_index(whole, keep, mdat_size):
    """A recording cut off before its index: moov dropped, media cut to keep of it."""
    data = open(whole, "rb").read()
    found = {kind: (at, size) for kind, at, size in boxes(data)}
    at, size = found["mdat"]
    cut = data[:at + int(size * keep)]
    return cut[:at] + struct.pack(">I", mdat_size(size)) + cut[at + 4:]


def make_media(folder):
    os.makedirs(folder, exist_ok=True)
    src = ["-f", "lavfi", "-i", "testsrc2=size=640x360:rate=30", "-f", "lavfi", "-i",
           "sine=sample_rate=48000:frequency=440"]
    h264 = ["-c:v", "libx264", "-preset", "veryfast", "-g", "60", "-pix_fmt", "yuv420p",
            "-c:a", "aac", "-b:a", "128k"]
    p = lambda name: os.path.join(folder, name)
    ffmpeg(*src, "-t", "10", *h264, p("whole-h264.mp4"))
    # Made the same way, and another way, as the recording cut off before its index below.
    other = ["-f", "lavfi", "-i", "testsrc=size=640x360:rate=30", "-f", "lavfi", "-i",
             "sine=sample_rate=48000:frequency=880"]
    ffmpeg(*other, "-t", "4", *h264, p("reference-h264.mp4"))
    # The same settings at another size: only the decoders tell.
    ffmpeg("-f", "lavfi", "-i", "testsrc=size=1280x720:rate=30", *other[4:], "-t", "4", *h264,
           p("reference-720.mp4"))
    ffmpeg(*other, "-t", "4", "-c:v", "libx265", "-tag:v", "hvc1", "-x265-params", "log-level=error",
           "-c:a", "aac", p("reference-hevc.mp4"))
    ffmpeg(*src, "-t", "10", "-c:v", "mpeg4", "-q:v", "5", "-c:a", "aac", p("whole-mpeg4.mp4"))
    shutil.copy(p("whole-h264.mp4"), p("видео 1.mp4"))
    ffmpeg(*src, "-t", "20", *h264, "-movflags", "+faststart", p("faststart.mp4"))
    ffmpeg(*src, "-t", "20", *h264, "-movflags", "+frag_keyframe+empty_moov", p("fragmented.mp4"))
    ffmpeg(*src, "-t", "5", "-c:v", "libx264", "-c:a", "aac", "-f", "matroska", p("matroska.mp4"))
    ffmpeg(*src, "-t", "5", *h264, "-f", "mpegts", p("mpegts.mp4"))
    ffmpeg(*src, "-t", "5", "-c:v", "mpeg4", "-c:a", "libmp3lame", "-f", "avi", p("avi.mp4"))

    def write(name, data):
        with open(p(name), "wb") as f:
            f.write(data)

    write("nomoov-size0.mp4", without_index(p("whole-h264.mp4"), 0.6, lambda size: 0))
    write("nomoov-pastend.mp4", without_index(p("whole-h264.mp4"), 0.6, lambda size: size))
    # A camera's recording that carries its own records: rebuilt with no reference.
    gopro = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "rebuild", "real",
                         "gopro-max-heromode.mp4")
    write("gopro-cut.mp4", without_index(gopro, 0.6, lambda size: size))
    fast = open(p("faststart.mp4"), "rb").read()
    moov = next((at, size) for kind, at, size in boxes(fast) if kind == "moov")
    write("cut-in-moov.mp4", fast[:moov[0] + moov[1] // 2])
    write("faststart-cut.mp4", fast[:len(fast) // 2])
    fragmented = open(p("fragmented.mp4"), "rb").read()
    write("fragmented-cut.mp4", fragmented[:int(len(fragmented) * 0.6)])
    write("._clip.mp4", b"\x00\x05\x16\x07\x00\x02\x00\x00Mac OS X        " + bytes(4070))
    write("zeros.mp4", bytes(65536))
    write("empty.mp4", b"")


def packets(path):
    """Per stream: codec type, packet count, and where its last packet ends (seconds)."""
    info = ffprobe(path, "-show_entries",
                   "stream=index,codec_type:packet=stream_index,pts_time,duration_time")
    streams = {s["index"]: [s["codec_type"], 0, 0.0] for s in info["streams"]}
    for packet in info.get("packets", []):
        stream = streams[packet["stream_index"]]
        stream[1] += 1
        end = float(packet.get("pts_time", 0)) + float(packet.get("duration_time", 0))
        stream[2] = max(stream[2], end)
    return [tuple(s) for _, s in sorted(streams.items())]


def seconds(text):
    parts = [int(x) for x in text.split(":")]
    return sum(v * 60 ** i for i, v in enumerate(reversed(parts)))


def hashes(path):
    """Per stream: the packets' sizes and MD5s, in order."""
    info = ffprobe(path, "-show_packets", "-show_data_hash", "MD5", "-show_entries",
                   "packet=stream_index,size,data_hash")
    streams = {}
    for packet in info["packets"]:
        streams.setdefault(packet["stream_index"], []).append((packet["size"], packet["data_hash"]))
    return [streams[i] for i in sorted(streams)]


def pictures(path, count):
    """The MD5 of each of a file's first count pictures."""
    out = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-map", "0:v:0", "-frames:v",
                          str(count), "-f", "framemd5", "-"], capture_output=True, text=True)
    return [line.split(",")[-1].strip() for line in out.stdout.splitlines()
            if not line.startswith("#")]


def verify(media, results):
    # From a reference, and by the search for its settings.
    for kept in ["rebuilt-nomoov-size0.mp4", "searched-nomoov-size0.mp4"]:
        rebuilt = os.path.join(results, kept)
        if not os.path.exists(rebuilt + ".txt"):
            continue
        # The samples found are the whole file's, as many as the cut left.
        whole, new = hashes(os.path.join(media, "whole-h264.mp4")), hashes(rebuilt)
        check(len(new) == len(whole) and all(w[:len(n)] == n and len(n) > len(w) // 2
                                             for w, n in zip(whole, new)),
              f"{kept}: every sample as in the whole file ({[len(n) for n in new]} of "
              f"{[len(w) for w in whole]})")
        decode = subprocess.run(["ffmpeg", "-v", "error", "-i", rebuilt, "-f", "null", "-"],
                                capture_output=True, text=True)
        check(decode.returncode == 0 and not decode.stderr, f"{kept}: decodes {decode.stderr!r}")
        if kept.startswith("searched"):
            # Settings found by the search, with what x264 noted of the rest: the very pictures.
            frames = len(new[0])
            check(pictures(rebuilt, frames) == pictures(os.path.join(media, "whole-h264.mp4"),
                                                       frames),
                  f"{kept}: its {frames} pictures are the whole file's")

    for name in ["whole-h264.mp4", "whole-mpeg4.mp4", "видео 1.mp4"]:
        copy = os.path.join(results, name)
        if not os.path.exists(copy + ".txt"):
            continue
        source, new = packets(os.path.join(media, name)), packets(copy)
        check([s[:2] for s in new] == [s[:2] for s in source],
              f"{name}: same streams and packet counts {[s[:2] for s in new]}")
        check(all(abs(a[2] - b[2]) < 0.1 for a, b in zip(new, source)),
              f"{name}: same length {[round(s[2], 2) for s in new]}")
        title = ffprobe(copy, "-show_entries", "format_tags=title")["format"]["tags"]["title"]
        check(title == name[:-4], f"{name}: Name tag '{title}'")
    for name in ["faststart-cut.mp4", "fragmented-cut.mp4"]:
        copy = os.path.join(results, name)
        if not os.path.exists(copy + ".txt"):
            continue
        message = open(copy + ".txt", encoding="utf-8").read()
        match = re.search(r"holds ([0-9:]+) of (?:the ([0-9:]+) )?the video", message)
        check(match is not None, f"{name}: the message says how much it holds: {message!r}")
        if not match:
            continue
        held = max(s[2] for s in packets(copy))
        check(abs(seconds(match.group(1)) - held) <= 0.51,
              f"{name}: holds {match.group(1)}, ffprobe says {held:.2f} s")
        if match.group(2):
            stated = float(ffprobe(os.path.join(media, name.replace("-cut", "")),
                                   "-show_entries", "format=duration")["format"]["duration"])
            check(abs(seconds(match.group(2)) - stated) <= 0.51,
                  f"{name}: should have {match.group(2)}, the whole video is {stated:.2f} s")
    for name in ["mpegts.mp4", "avi.mp4"]:
        copy = os.path.join(results, name)
        if not os.path.exists(copy + ".txt"):
            continue
        source, new = packets(os.path.join(media, name)), packets(copy)
        video = lambda streams: [s[1] for s in streams if s[0] == "video"]
        check(video(new) == video(source) and video(new),
              f"{name}: converted with every video packet {video(new)}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--driver", required=True)
    parser.add_argument("--wine", required=True)
    parser.add_argument("--arch", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--few", action="store_true")
    args = parser.parse_args()

    tool = os.environ.get("CLIPMEND_MP4BOX") or subprocess.run(
        [os.path.join(REPO, "tools", "gpac-build.sh"), args.arch], check=True,
        capture_output=True, text=True).stdout.split()[-1]
    media, results = os.path.join(args.work, "media"), os.path.join(args.work, "results")
    if not all(os.path.exists(os.path.join(media, name))
               for name in ("empty.mp4", "reference-720.mp4")):
        make_media(media)
    shutil.rmtree(results, ignore_errors=True)
    os.makedirs(results)

    env = dict(os.environ, CLIPMEND_REAL_TOOL=windows(tool), CLIPMEND_MEDIA=windows(media),
               CLIPMEND_RESULTS=windows(results))
    if args.few:
        env["CLIPMEND_REAL_FEW"] = "1"
    driver = subprocess.run([args.wine, args.driver, "--gtest_filter=RealTool.*"], env=env)
    check(driver.returncode == 0, "the window driver's RealTool tests")
    verify(media, results)
    print(f"{len(failures)} checks failed" if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
