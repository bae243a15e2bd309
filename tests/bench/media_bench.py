#!/usr/bin/python3
"""Benchmarks on real videos (not a test): the source check's time on a 200 MB file and on a
fragmented recording of thousands of fragments, cold (out of the page cache) and warm; and the
real MP4Box on the 200 MB file alone against GO to the message box through Clipmend.

  media_bench.py --bench app_bench.exe --wine tools/wine-run --work DIR [--runs 5]

The videos are made with ffmpeg the first time; the tool comes from tools/gpac-build.sh.
"""
import argparse
import os
import subprocess

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def windows(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def uncache(path):
    fd = os.open(path, os.O_RDONLY)
    os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
    os.close(fd)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bench", required=True)
    parser.add_argument("--wine", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--runs", default="5")
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    big = os.path.join(args.work, "big-720p.mp4")
    fragmented = os.path.join(args.work, "fragmented-long.mp4")
    if not os.path.exists(big):
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                        "testsrc2=size=1280x720:rate=30", "-f", "lavfi", "-i", "sine", "-t", "90",
                        "-c:v", "libx264", "-preset", "ultrafast", "-b:v", "35M", "-c:a", "aac",
                        big], check=True)
    if not os.path.exists(fragmented):
        # A fragment every fifth of a second for twelve minutes: some 3,600 of them.
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                        "testsrc2=size=320x240:rate=30", "-f", "lavfi", "-i", "sine", "-t", "720",
                        "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", "-movflags",
                        "+frag_keyframe+empty_moov", "-frag_duration", "200000", fragmented],
                       check=True)
    for path in (big, fragmented):
        print(f"{os.path.basename(path)}: {os.path.getsize(path) / 1e6:.0f} MB")
    for label in ("cold", "warm", "warm"):
        if label == "cold":
            for path in (big, fragmented):
                uncache(path)
        print(label)
        subprocess.run([args.wine, args.bench, "check", windows(big), windows(fragmented)],
                       check=True)
    tool = os.environ.get("CLIPMEND_MP4BOX") or subprocess.run(
        [os.path.join(REPO, "tools", "gpac-build.sh"), "x86_64"], check=True,
        capture_output=True, text=True).stdout.split()[-1]
    subprocess.run([args.wine, args.bench, "tool", windows(tool), windows(big), args.runs],
                   check=True)


if __name__ == "__main__":
    main()
