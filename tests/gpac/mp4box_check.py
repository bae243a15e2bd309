#!/usr/bin/python3
"""Runs the real MP4Box.exe under Wine the way Clipmend does, on media made with ffmpeg.

  mp4box_check.py check DIR EXE [EXE...]   checks what a user would see for each exe
  mp4box_check.py compare DIR EXE_A EXE_B   runs both on every input, prints what differs

DIR is a work folder (media are made there once). A 32-bit exe is started with
$WINE32_LOADER (run this inside tools/wine32-env), a 64-bit one with wine. Needs ffmpeg and
python3-pefile (Debian's python3).
"""
import difflib
import json
import os
import re
import struct
import subprocess
import sys
import unittest
from pathlib import Path

import pefile

SRC = ["-f", "lavfi", "-i", "testsrc2=size=320x180:rate=30", "-f", "lavfi", "-i", "sine", "-t", "3"]

# Inputs made by ffmpeg from SRC: name -> output arguments. "-as.mp4": another format named .mp4.
FFMPEG = {
    "whole.mp4": ["-c:v", "libx264", "-c:a", "aac"],
    "mpeg4.mp4": ["-c:v", "mpeg4", "-c:a", "aac"],
    "fast.mp4": ["-c:v", "libx264", "-c:a", "aac", "-movflags", "+faststart"],
    "frag.mp4": ["-c:v", "libx264", "-c:a", "aac", "-movflags", "+frag_keyframe+empty_moov"],
    "qt.mov": ["-c:v", "libx264", "-c:a", "pcm_s16le", "-timecode", "01:00:00:00"],
    "hinted.mp4": ["-c:v", "libx264", "-c:a", "aac", "-movflags", "rtphint"],
    "hevc-ac3.mp4": ["-c:v", "libx265", "-x265-params", "log-level=none", "-c:a", "ac3"],
    "av1-opus.mp4": ["-c:v", "libaom-av1", "-cpu-used", "8", "-c:a", "libopus"],
    "ismv-as.mp4": ["-c:v", "libx264", "-c:a", "aac", "-f", "ismv"],
    "f4v-as.mp4": ["-c:v", "libx264", "-c:a", "aac", "-f", "f4v"],
    "3gp-as.mp4": ["-c:v", "libx264", "-c:a", "aac", "-f", "3gp"],
    "ts-as.mp4": ["-c:v", "libx264", "-c:a", "aac", "-f", "mpegts"],
    "ts-mpeg2.mp4": ["-c:v", "mpeg2video", "-c:a", "mp2", "-f", "mpegts"],
    "ts-hevc.mp4": ["-c:v", "libx265", "-x265-params", "log-level=none", "-c:a", "ac3", "-f", "mpegts"],
    "avi-as.mp4": ["-c:v", "mpeg4", "-c:a", "libmp3lame", "-f", "avi"],
    "avi-h264.mp4": ["-c:v", "libx264", "-c:a", "pcm_s16le", "-f", "avi"],
    "mkv-as.mp4": ["-c:v", "libx264", "-c:a", "aac", "-f", "matroska"],
    "mpg-as.mp4": ["-c:v", "mpeg2video", "-c:a", "mp2", "-f", "mpeg"],
    "flv-as.mp4": ["-c:v", "libx264", "-c:a", "aac", "-f", "flv"],
    "ogg-as.mp4": ["-vn", "-c:a", "libvorbis", "-f", "ogg"],
    "mp3-as.mp4": ["-vn", "-c:a", "libmp3lame", "-f", "mp3"],
    "wav-as.mp4": ["-vn", "-c:a", "pcm_s16le", "-f", "wav"],
    "adts-as.mp4": ["-vn", "-c:a", "aac", "-f", "adts"],
    "h264-as.mp4": ["-an", "-c:v", "libx264", "-f", "h264"],
    "jpeg-as.mp4": ["-an", "-frames:v", "1", "-c:v", "mjpeg", "-f", "image2"],
}


def boxes(data):
    """Top-level (type, offset, size) of an ISO file."""
    out, pos = [], 0
    while pos + 8 <= len(data):
        size, kind = struct.unpack(">I4s", data[pos:pos + 8])
        out.append((kind, pos, size))
        if size < 8:
            break
        pos += size
    return out


def derived(d):
    """Broken files as users have them, cut or patched from the whole ones."""
    whole = (d / "whole.mp4").read_bytes()
    fast = (d / "fast.mp4").read_bytes()
    frag = (d / "frag.mp4").read_bytes()
    mdat = next(b for b in boxes(whole) if b[0] == b"mdat")
    moov = next(b for b in boxes(whole) if b[0] == b"moov")
    media = whole[:mdat[1]] + b"\0\0\0\0mdat" + whole[mdat[1] + 8:moov[1]]
    return {
        "nomoov.mp4": media,  # recording stopped before its index: mdat of size 0
        "nomoov-over.mp4": media[:mdat[1]] + struct.pack(">I", mdat[2] + 99999) + media[mdat[1] + 4:],
        "moovcut.mp4": whole[:moov[1] + moov[2] // 2],
        "fasthalf.mp4": fast[:len(fast) // 2],
        "fragcut.mp4": frag[:len(frag) * 2 // 3],
        "empty.mp4": b"",
        "zeros.mp4": bytes(65536),
        "random.mp4": bytes((i * 7919 + (i >> 8) * 31) & 0xFF for i in range(65536)),
        "._whole.mp4": b"\x00\x05\x16\x07\x00\x02\x00\x00" + bytes(4088),
        "text.mp4": b"not a video\r\n" * 100,
        "m3u8-as.mp4": b"#EXTM3U\n#EXT-X-TARGETDURATION:3\n#EXTINF:3,\nts-as.mp4\n#EXT-X-ENDLIST\n",
        "party #2.mp4": whole,
    }


def make_media(d):
    d.mkdir(parents=True, exist_ok=True)
    for name, args in FFMPEG.items():
        if not (d / name).exists():
            part = d / ("partial-" + name)
            subprocess.run(["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", *SRC,
                            *args, str(part)], check=True)
            part.rename(d / name)
    for name, data in derived(d).items():
        if not (d / name).exists():
            (d / name).write_bytes(data)


def loader(exe):
    machine = pefile.PE(str(exe), fast_load=True).FILE_HEADER.Machine
    if machine == 0x14C:
        return os.environ.get("WINE32_LOADER") or sys.exit("a 32-bit exe needs tools/wine32-env")
    return "wine"


class Run:
    """One MP4Box run as Clipmend starts it, from the folder of the input."""

    def __init__(self, d, exe, src, shell=False, keep=None):
        self.out = d / f"{Path(src).stem}-NEW.mp4"
        self.out.unlink(missing_ok=True)
        env = {k: v for k, v in os.environ.items() if k != "SHELL"}
        env.update(WINEDEBUG="-all")
        if shell:
            env["SHELL"] = "/bin/bash"
        p = subprocess.run([loader(exe), str(exe), "-itags", f"Name={Path(src).stem}", "-add", src,
                            "-new", self.out.name], cwd=d, env=env, capture_output=True, timeout=300)
        self.rc, self.stdout = p.returncode, p.stdout
        if keep and self.out.exists():
            # Another run of the same input writes the same name, as its messages say.
            self.out = self.out.rename(d / keep / self.out.name)
        self.err = p.stderr.decode("utf-8", "replace")
        # Object addresses change from run to run and build to build.
        self.norm = re.sub(r"file=[0-9A-Fa-f]{8,16}", "file=ADDR", self.err)

    def lines(self):
        return [l for l in re.split(r"\r\n|\n|\r", self.norm) if l.strip()]

    def probe(self):
        """ffprobe's view of the output: streams, tags and each stream's packet count."""
        if not self.out.exists():
            return None
        p = subprocess.run(["ffprobe", "-v", "error", "-count_packets", "-show_streams",
                            "-show_format", "-of", "json", str(self.out)], capture_output=True, text=True)
        if p.returncode:
            return {"error": p.stderr.strip()}
        j = json.loads(p.stdout)
        streams = [{k: s.get(k) for k in ("codec_name", "codec_type", "width", "height", "sample_rate",
                                           "nb_read_packets", "duration_ts")} for s in j["streams"]]
        tags = {k: v for k, v in j["format"].get("tags", {}).items() if k != "creation_time"}
        return {"streams": streams, "tags": tags, "size": self.out.stat().st_size}

    def frames(self):
        """Per-packet timestamps, sizes and hashes of every stream, for comparing two outputs."""
        if not self.out.exists():
            return None
        return subprocess.run(["ffmpeg", "-v", "error", "-i", str(self.out), "-map", "0", "-c", "copy",
                               "-f", "framemd5", "-"], capture_output=True, text=True).stdout


def probe_input(d, name):
    p = subprocess.run(["ffprobe", "-v", "error", "-count_packets", "-show_streams", "-of", "json",
                        str(d / name)], capture_output=True, text=True, check=True)
    return [(s["codec_name"], int(s["nb_read_packets"])) for s in json.loads(p.stdout)["streams"]]


PROGRESS = re.compile(r"^(.*?): \|[= ]{20}\| \((\d\d\d?)/100\)$")


def phases(run):
    """The progress phases in order, each as (title, last percentage)."""
    out = []
    for line in re.split(r"\r\n|\n|\r", run.err):
        m = PROGRESS.match(line)
        if m and (not out or out[-1][0] != m[1] or out[-1][1] >= int(m[2])):
            out.append((m[1], int(m[2])))
        elif m:
            out[-1] = (m[1], int(m[2]))
    return out


class ToolChecks(unittest.TestCase):
    """What Clipmend's user sees from one exe; DIR and EXE come from the command line."""
    d = exe = None

    def run_tool(self, name, **kw):
        return Run(self.d, self.exe, name, **kw)

    def assert_copy(self, run, src, codecs):
        self.assertEqual(run.rc, 0, run.norm)
        probe = run.probe()
        self.assertEqual(sorted(s["codec_name"] for s in probe["streams"]), sorted(codecs))
        self.assertEqual(probe["tags"].get("title"), Path(src).stem)
        return probe

    def test_whole_file_is_copied_with_its_name_and_every_packet(self):
        # A "#" in the name is no option: the file exists.
        for name in ("whole.mp4", "party #2.mp4"):
            with self.subTest(name):
                run = self.run_tool(name)
                probe = self.assert_copy(run, name, ["h264", "aac"])
                self.assertEqual([(s["codec_name"], int(s["nb_read_packets"])) for s in probe["streams"]],
                                 probe_input(self.d, name))
                self.assertEqual(phases(run), [("Importing ISO File", 100)] * 2 + [("ISO File Writing", 100)])
                self.assertIn(f"IsoMedia import {name} - track ID 1 - Video (size 320 x 180)", run.lines())
                self.assertEqual(run.stdout, b"")
                self.assertNotIn("\x1b", run.err)

    def test_shell_variable_colours_the_lines(self):
        plain, coloured = self.run_tool("nomoov.mp4"), self.run_tool("nomoov.mp4", shell=True)
        self.assertEqual((plain.rc, coloured.rc), (1, 1))
        self.assertNotIn("\x1b[", plain.err)
        self.assertIn("\x1b[31mError importing nomoov.mp4: Invalid IsoMedia File", coloured.err)
        self.assertEqual(re.sub("\x1b\\[[0-9;]*m", "", coloured.norm), plain.norm)

    def test_other_containers_named_mp4_become_real_mp4(self):
        for name, codecs in [("ts-as.mp4", ["h264", "aac"]), ("avi-as.mp4", ["mpeg4", "mp3"])]:
            with self.subTest(name):
                run = self.run_tool(name)
                probe = self.assert_copy(run, name, codecs)
                # Every video frame; audio may be framed anew.
                video = [int(s["nb_read_packets"]) for s in probe["streams"] if s["codec_name"] == codecs[0]]
                self.assertEqual(video, [n for codec, n in probe_input(self.d, name) if codec == codecs[0]])
                self.assertEqual(phases(run)[-1], ("ISO File Writing", 100))
                self.assertTrue(any(l.startswith("Import: |") for l in re.split("\r", run.err)))

    def test_mpeg4_part2_is_copied(self):
        self.assert_copy(self.run_tool("mpeg4.mp4"), "mpeg4.mp4", ["mpeg4", "aac"])

    def test_cut_faststart_file_gives_its_first_part(self):
        run = self.run_tool("fasthalf.mp4")
        probe = self.assert_copy(run, "fasthalf.mp4", ["h264", "aac"])
        self.assertIn("Incomplete box mdat", run.err)
        m = re.search(r"aborting track #1 import after (\d+) / (\d+) samples", run.err)
        self.assertTrue(m, run.norm)
        # The count is that of the sample it could not read.
        self.assertEqual(int(probe["streams"][0]["nb_read_packets"]), int(m[1]) - 1)
        self.assertLess(int(m[1]), int(m[2]))

    def test_unreadable_files_fail_with_a_reason(self):
        for name, reason in [("nomoov.mp4", "Invalid IsoMedia File"), ("mkv-as.mp4", "Invalid IsoMedia File"),
                             ("empty.mp4", "Not ready, retry later")]:
            with self.subTest(name):
                run = self.run_tool(name)
                self.assertEqual(run.rc, 1)
                self.assertEqual(run.lines()[-1], f"Error importing {name}: {reason}")
                self.assertFalse(run.out.exists())


def check(d, exes):
    ok = True
    for exe in exes:
        print(f"== {exe}", flush=True)
        ToolChecks.d, ToolChecks.exe = d, Path(exe).resolve()
        suite = unittest.defaultTestLoader.loadTestsFromTestCase(ToolChecks)
        ok &= unittest.TextTestRunner(verbosity=2).run(suite).wasSuccessful()
    return ok


def compare(d, a, b):
    names = sorted(list(FFMPEG) + list(derived(d)))
    for tag in "ab":
        (d / tag).mkdir(exist_ok=True)
    same = True
    for name in names:
        for shell in (False, True):
            ra, rb = (Run(d, Path(x).resolve(), name, shell, tag) for x, tag in ((a, "a"), (b, "b")))
            diffs = [what for what, x, y in [("exit code", ra.rc, rb.rc), ("stderr", ra.norm, rb.norm),
                                               ("output", ra.probe(), rb.probe()),
                                               ("packets", ra.frames(), rb.frames())] if x != y]
            print(f"{name:18} {'SHELL' if shell else '     '} exit {ra.rc}, {rb.rc}: "
                  f"{'differs in ' + ', '.join(diffs) if diffs else 'same'}", flush=True)
            if diffs:
                same = False
                lines = [[l for l in r.lines() if not PROGRESS.match(l)] + [str(r.probe())] for r in (ra, rb)]
                print(*difflib.unified_diff(*lines, "A", "B", lineterm="", n=1), sep="\n    ")
    return same


def main():
    if len(sys.argv) < 4 or sys.argv[1] not in ("check", "compare") or \
            sys.argv[1] == "compare" and len(sys.argv) != 5:
        sys.exit(__doc__)
    d = Path(sys.argv[2]).resolve()
    make_media(d)
    ok = check(d, sys.argv[3:]) if sys.argv[1] == "check" else compare(d, *sys.argv[3:])
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
