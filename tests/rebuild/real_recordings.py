#!/usr/bin/python3
"""The rebuild on recordings real devices wrote (tests/rebuild/real/): each is cut at 30, 60 and
90 % of its mdat's payload, without its moov, and rebuilt with the whole file as the reference,
and the Android twin video_2 also from video_1. What comes back is compared with the original
by ffprobe's packets: per track, the packets whose bytes lie wholly before the cut, in order,
with the same size, bytes, key-frame flag and composition offset, and nothing more; and the
copy must decode without errors, and play (its edit lists applied) no longer than the
original. Decoding times are judged where a recording is rebuilt from its own whole copy: each
within one frame (the time between two of the original's pictures or sound frames) of the
original's; a recording rebuilt from another cannot know them. Where they stray by a tick or
more the line shows how far.

Each is also rebuilt alone, with no reference ("@30 alone"), beside recordings ffmpeg makes
here whose video repeats its parameter sets (MADE): one whose video carries its parameter
sets in its samples (ffmpeg's trace_headers shows them) or whose media data holds a camera's
records (an 'fdsc' track) must come back as from a reference, timed within a frame; any
other must be refused, saying that its video does not carry its settings, with nothing written.
Some of those (MADE_WITH_REFERENCE) are also rebuilt from their own whole copy.

  real_recordings.py REBUILD_CLI DATA_DIR

Prints one line per case. Fails when a case outside KNOWN_FAILING fails, or when one inside it
passes (then the list is out of date).
"""
import concurrent.futures
import hashlib
import json
import os
import struct
import subprocess
import sys
import tempfile
import time
from fractions import Fraction

RECORDINGS = [
    "android-6.0.1-CIF-video_1.mp4",
    "android-6.0.1-CIF-video_2.mp4",
    "apple-iPhone12ProMax-sample_with_color_info.mp4",
    "apple-iPhone14Pro-dolbyVision-hdr.MOV",
    "apple-iPhone6s-livephoto-train.mov",
    "google-pixel-mett-h265_with_metadata_track.mp4",
    "gopro-max-heromode.mp4",
    "insta360-ambarella-lowres-sample.insv",
    "panasonic-lumix-P1010238-fixture-mjpeg.mov",
    "samsung-galaxy-android10-sample_sef_super_slow_motion.mp4",
    "samsung-galaxy-android12-portrait_4k60.mp4",
    "sonyericsson-EMP-phone2004-MOV00006.3gp",
]
TWINS = [("android-6.0.1-CIF-video_2.mp4", "android-6.0.1-CIF-video_1.mp4")]
CUTS = (30, 60, 90)

# Made with ffmpeg at run time: video that repeats its parameter sets before its key frames,
# H.264 and HEVC, several sizes and rates, AAC at 44.1 and 48 kHz, mono and stereo, or none.
TESTSRC = ["-f", "lavfi", "-i"]
MADE = {
    "x264-25fps-aac48k-stereo.mp4":
        TESTSRC + ["testsrc2=size=640x360:rate=25", "-f", "lavfi", "-i",
                   "sine=frequency=440:sample_rate=48000", "-c:v", "libx264", "-x264-params",
                   "repeat-headers=1", "-g", "25", "-c:a", "aac", "-ac", "2"],
    "x264-29.97fps-aac44k-mono.mp4":
        TESTSRC + ["testsrc2=size=320x240:rate=30000/1001", "-f", "lavfi", "-i",
                   "sine=frequency=330:sample_rate=44100", "-c:v", "libx264", "-x264-params",
                   "repeat-headers=1", "-g", "30", "-c:a", "aac", "-ac", "1"],
    "x264-baseline-30fps-silent.mp4":
        TESTSRC + ["testsrc2=size=352x288:rate=30", "-c:v", "libx264", "-profile:v", "baseline",
                   "-x264-params", "repeat-headers=1", "-g", "15"],
    "x265-hev1-30fps-silent.mp4":
        TESTSRC + ["testsrc2=size=480x270:rate=30", "-c:v", "libx265", "-x265-params",
                   "repeat-headers=1:log-level=error", "-tag:v", "hev1", "-g", "30"],
    "x264-mp3-sound.mp4":
        TESTSRC + ["testsrc2=size=320x240:rate=25", "-f", "lavfi", "-i",
                   "sine=sample_rate=44100", "-c:v", "libx264", "-x264-params",
                   "repeat-headers=1", "-g", "25", "-c:a", "libmp3lame"],
    "x265-50fps-aac44k-stereo.mp4":
        TESTSRC + ["testsrc2=size=480x270:rate=50", "-f", "lavfi", "-i",
                   "sine=frequency=300:sample_rate=44100", "-c:v", "libx265", "-x265-params",
                   "repeat-headers=1:log-level=error", "-g", "50", "-c:a", "aac", "-ac", "2"],
    # No parameter sets in the stream: found by the search.
    "x264-plain-30fps-aac44k-stereo.mp4":
        TESTSRC + ["testsrc2=size=640x480:rate=30", "-f", "lavfi", "-i",
                   "sine=frequency=500:sample_rate=44100", "-c:v", "libx264", "-g", "30",
                   "-c:a", "aac", "-ac", "2"],
    "x264-plain-baseline-25fps-silent.mp4":
        TESTSRC + ["testsrc2=size=320x180:rate=25", "-c:v", "libx264", "-profile:v", "baseline",
                   "-g", "25"],
}
# Also rebuilt from their own whole copy: two video tracks (a recording and its preview)
# stay two.
MADE_WITH_REFERENCE = {
    "x264-two-video-tracks.mp4":
        TESTSRC + ["testsrc2=size=320x240:rate=25", "-f", "lavfi", "-i",
                   "testsrc=size=160x120:rate=25", "-f", "lavfi", "-i",
                   "sine=sample_rate=48000", "-map", "0", "-map", "1", "-map", "2", "-c:v",
                   "libx264", "-g", "25", "-c:a", "aac"],
}
MADE.update(MADE_WITH_REFERENCE)
MADE_SECONDS = "6"

# Cases that fail today, "recording@percent" (or "recording@percent<reference"), and why.
# Keep it true: a case listed here that passes fails the test.
H263_TIMES = ("every picture and sound frame comes back byte for byte, but the H.263 pictures, "
              "of 29 different durations (a variable rate), are timed from the AMR chunks around "
              "them, a second each: a picture's decode time is off by up to 0.7 s")
SVC_SAMPLES = ("its samples hold a prefix unit and then start codes inside one length-prefixed "
               "unit: no key frame with a length prefix, so no search; it asks for a reference")
KNOWN_FAILING = {
    "samsung-galaxy-android10-sample_sef_super_slow_motion.mp4@30 alone": SVC_SAMPLES,
    "samsung-galaxy-android10-sample_sef_super_slow_motion.mp4@60 alone": SVC_SAMPLES,
    "samsung-galaxy-android10-sample_sef_super_slow_motion.mp4@90 alone": SVC_SAMPLES,
    "sonyericsson-EMP-phone2004-MOV00006.3gp@30": H263_TIMES,
    "sonyericsson-EMP-phone2004-MOV00006.3gp@60": H263_TIMES,
    "sonyericsson-EMP-phone2004-MOV00006.3gp@90": H263_TIMES,
}


def case_name(recording, percent, reference):
    name = f"{recording}@{percent}"
    if reference is None:
        return f"{name} alone"
    return name if reference == recording else f"{name}<{reference}"


def make_recordings(folder):
    for name, args in MADE.items():
        subprocess.run(["ffmpeg", "-nostdin", "-v", "error"] + args +
                       ["-t", MADE_SECONDS, "-y", os.path.join(folder, name)], check=True)


def rebuilds_alone(path, streams):
    """How a recording holds what a rebuild without a reference needs: "stream" for its video's
    parameter sets in its samples or a camera's records of its media data, "search" for H.264
    video without them, which the search may find; "" for neither."""
    if any(s["codec_tag_string"] == "fdsc" for s in streams):
        return "stream"
    # Sound other than AAC is made out only with a reference.
    if any(s["codec_type"] == "audio" and s["codec_name"] != "aac" for s in streams):
        return ""
    run = subprocess.run(["ffmpeg", "-nostdin", "-hide_banner", "-nostats", "-i", path, "-map",
                          "0:v:0", "-c", "copy", "-bsf:v", "trace_headers", "-f", "null", "-"],
                         capture_output=True, text=True)
    packets = False
    for line in run.stderr.splitlines():
        packets = packets or "] Packet:" in line
        if packets and "Sequence Parameter Set" in line:
            return "stream"
    videos = [s for s in streams if s["codec_type"] == "video"]
    return "search" if len(videos) == 1 and videos[0]["codec_name"] == "h264" else ""


def top_boxes(data):
    """(type, offset, header size, size) of the file's top-level boxes."""
    boxes, pos = [], 0
    while pos + 8 <= len(data):
        size, kind = struct.unpack_from(">I4s", data, pos)
        header = 8
        if size == 1 and pos + 16 <= len(data):
            size, header = struct.unpack_from(">Q", data, pos + 8)[0], 16
        elif size == 0:
            size = len(data) - pos
        if size < header:
            break
        boxes.append((kind, pos, header, size))
        pos += size
    return boxes


def cut_recording(data, percent):
    """The file a device leaves when it stops at percent of its mdat's payload: the boxes
    before mdat less moov and free, then mdat's header and that much of its payload. Returns
    the cut file and the offset in the original where the payload was cut."""
    kept = b""
    for kind, pos, header, size in top_boxes(data):
        if kind == b"mdat":
            payload = min(size, len(data) - pos) - header
            end = pos + header + payload * percent // 100
            return kept + data[pos:end], end
        if kind not in (b"moov", b"free"):
            kept += data[pos:pos + size]
    raise ValueError("no mdat")


def probe(path):
    out = subprocess.run(
        ["ffprobe", "-v", "error", "-ignore_editlist", "1", "-show_entries",
         "stream=index,codec_type,codec_name,codec_tag_string,time_base,channels,"
         "bits_per_sample:packet=stream_index,pts,dts,size,pos,flags", "-of", "json", path],
        check=True, capture_output=True, text=True).stdout
    info = json.loads(out)
    streams = []
    for stream in info.get("streams", []):
        num, den = stream["time_base"].split("/")
        stream["tb"] = Fraction(int(num), int(den))
        stream["packets"] = []
        streams.append(stream)
    with open(path, "rb") as file:
        for packet in info.get("packets", []):
            stream = streams[packet["stream_index"]]
            pos, size = int(packet["pos"]), int(packet["size"])
            file.seek(pos)
            data = file.read(size)
            pts, dts = packet.get("pts"), packet.get("dts")
            stream["packets"].append({
                "pos": pos, "size": size, "data": data, "key": "K" in packet["flags"],
                "cts": None if pts is None or dts is None else (pts - dts) * stream["tb"],
                "dts": None if dts is None else dts * stream["tb"]})
    return streams


def decode_errors(path):
    run = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:v?",
                          "-map", "0:a?", "-f", "null", "-"], capture_output=True, text=True)
    # The null muxer's complaints about timestamps (and their repeats) are not the decoders'.
    lines = [line for line in run.stderr.splitlines() if line.strip()
             and not line.startswith("[null @") and "Last message repeated" not in line]
    return lines if lines or run.returncode == 0 else [f"ffmpeg exited {run.returncode}"]


def match_streams(original, rebuilt):
    """Each original stream's counterpart in the copy: the same kind and sample entry type,
    the n-th of them. Also the copy's streams that match none."""
    pairs, used = [], set()
    for stream in original:
        twin = next((s for s in rebuilt if s["index"] not in used
                     and s["codec_type"] == stream["codec_type"]
                     and s["codec_tag_string"] == stream["codec_tag_string"]), None)
        if twin:
            used.add(twin["index"])
        pairs.append((stream, twin))
    return pairs, [s for s in rebuilt if s["index"] not in used]


def compare_pcm(stream, twin, cut):
    """Sound stored as chunks of PCM: ffprobe's packets follow the chunks, which the copy
    may lay out otherwise, so the track's bytes are compared, to the last whole frame before
    the cut."""
    frame = max(1, stream.get("channels", 1) * stream.get("bits_per_sample", 8) // 8)
    expected = b""
    for packet in stream["packets"]:
        if packet["pos"] >= cut:
            break
        expected += packet["data"][:max(0, cut - packet["pos"])]
        if packet["pos"] + packet["size"] > cut:
            break
    expected = expected[:len(expected) // frame * frame]
    got = b"".join(p["data"] for p in twin["packets"]) if twin else b""
    same = 0
    while same < min(len(got), len(expected)) and got[same] == expected[same]:
        same += 1
    ok = same == len(expected) == len(got)
    text = f"{same // frame}/{len(expected) // frame} frames"
    if len(got) > same:
        text += f" +{(len(got) - same) / frame:g}"
    return ok, text


def same_packet(a, b, tolerance, base_a, base_b):
    if a["size"] != b["size"] or a["key"] != b["key"] or a["data"] != b["data"]:
        return False
    if (a["cts"] is None) != (b["cts"] is None):
        return False
    return a["cts"] is None or abs((a["cts"] - base_a) - (b["cts"] - base_b)) < tolerance


def least_offset(packets):
    """ffmpeg moves decode times back by the most negative composition offset, but not by one
    in the last two entries of the table (so a copy cut short may be moved less): offsets are
    compared from the least of them, and decode times moved forward by it."""
    offsets = [p["cts"] for p in packets if p["cts"] is not None]
    return min(offsets) if offsets else 0


def frame_time(stream):
    """The time between two of the stream's samples as they are shown, typically."""
    shown = sorted(p["dts"] + p["cts"] for p in stream["packets"]
                   if p["dts"] is not None and p["cts"] is not None)
    steps = sorted(b - a for a, b in zip(shown, shown[1:]) if b > a)
    return steps[len(steps) // 2] if steps else 0


def compare_packets(stream, twin, cut, judge_dts):
    """Packets: the original's prefix that lies wholly before the cut comes back, each the
    same, and nothing after it; with judge_dts, each decoded within a frame of the original's
    time."""
    packets = stream["packets"]
    expected = 0
    while expected < len(packets) and packets[expected]["pos"] + packets[expected]["size"] <= cut:
        expected += 1
    got = twin["packets"] if twin else []
    tolerance = max(stream["tb"], twin["tb"]) if twin else 0
    count = min(len(got), expected)
    base_a, base_b = least_offset(packets[:count]), least_offset(got[:count])
    same = 0
    while same < count and same_packet(packets[same], got[same], tolerance, base_a, base_b):
        same += 1
    ok = same == expected == len(got)
    text = f"{same}/{expected}"
    if len(got) > same:
        text += f" +{len(got) - same}"
    drift = [abs((a["dts"] + base_a) - (b["dts"] + base_b))
             for a, b in zip(packets[:same], got[:same])
             if a["dts"] is not None and b["dts"] is not None]
    if drift and max(drift) >= tolerance:
        ms = float(max(drift)) * 1000
        text += f" dts~{ms:.0f}ms" if ms >= 10 else f" dts~{ms:.2g}ms"
        if judge_dts and max(drift) >= max(frame_time(stream), tolerance):
            ok = False
            text += f" (over a frame, {float(frame_time(stream)) * 1000:.3g}ms)"
    return ok, text


def play_seconds(path):
    """How long the file plays, its edit lists applied."""
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration", "-of",
                          "csv=p=0", path], capture_output=True, text=True).stdout.strip()
    try:
        return float(out)
    except ValueError:
        return None


def run_case(cli, folders, work, recording, percent, reference, originals, originals_seconds,
             alone):
    name = case_name(recording, percent, reference)
    folder = folders[recording]
    with open(os.path.join(folder, recording), "rb") as file:
        data = file.read()
    broken, cut = cut_recording(data, percent)
    stem = name.replace("<", "-from-").replace("@", "-")
    broken_path = os.path.join(work, stem + "-cut" + os.path.splitext(recording)[1])
    output = os.path.join(work, stem + "-rebuilt.mp4")
    with open(broken_path, "wb") as file:
        file.write(broken)
    begin = time.monotonic()
    said_lines = ""
    try:
        references = [] if reference is None else [os.path.join(folder, reference)]
        run = subprocess.run([cli] + references + [broken_path, output],
                             capture_output=True, text=True, timeout=300)
        said_lines = run.stdout
        status = next((line.split(": ", 1)[1] for line in said_lines.splitlines()
                       if line.startswith("status: ")), f"exit {run.returncode}")
    except subprocess.TimeoutExpired:
        status = "timed out"
    seconds = time.monotonic() - begin
    cells, passed = [], status == "rebuilt"
    rebuilt = []
    if reference is None and not alone.get(recording):
        # Nothing to go by: refused for the reason that is true, and nothing written.
        said = any(why in said_lines for why in (
            "does not carry the settings its video was recorded with",
            "its sound is of a kind Clipmend cannot make out"))
        passed = status == "needs-reference" and said and not os.path.exists(output)
        os.remove(broken_path)
        return name, passed, f"{status} in {seconds:.1f} s", [
            "says why" if said else "gives another reason"]
    searched = reference is None and alone.get(recording) == "search"
    rate_assumed = "(assumed: it does not say)" in said_lines
    if searched and status == "rebuilt":
        # What was found is told, with what decoding could not check.
        said = "found by a search and checked by decoding" in said_lines
        passed = passed and said
        cells.append("says it searched" if said else "does not say it searched")
    if status == "rebuilt":
        try:
            rebuilt = probe(output)
        except (subprocess.CalledProcessError, ValueError):
            status, passed = "rebuilt, but ffprobe cannot read the copy", False
    pairs, extra = match_streams(originals[recording], rebuilt)
    for stream, twin in pairs:
        if stream.get("codec_name", "").startswith("pcm_"):
            ok, text = compare_pcm(stream, twin, cut)
        else:
            # A searched stream's clock is the sound's, or assumed: its times are not judged.
            # A frame rate the stream does not tell, and the verdict says is assumed, is no time
            # to judge.
            ok, text = compare_packets(stream, twin, cut,
                                       reference in (recording, None) and not rate_assumed)
        passed = passed and ok
        cells.append(f"{stream['codec_tag_string'].strip() or stream['codec_type']} {text}")
    for stream in extra:
        passed = False
        cells.append(f"{stream['codec_tag_string']} not in the original")
    if status == "rebuilt":
        errors = decode_errors(output)
        cells.append("decodes" if not errors else f"{len(errors)} decode errors")
        passed = passed and not errors
        # What the original's edit lists hide stays hidden (a millisecond for rounding).
        plays, whole = play_seconds(output), originals_seconds[recording]
        if plays is None or whole is None or (plays > whole + 0.001 and not rate_assumed):
            passed = False
            cells.append(f"plays {plays} s of the original's {whole} s")
    for path in (broken_path, output):
        if os.path.exists(path):
            os.remove(path)
    return name, passed, f"{status} in {seconds:.1f} s", cells


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    cli, folder = os.path.abspath(sys.argv[1]), sys.argv[2]
    cases = [(r, p, r) for r in RECORDINGS for p in CUTS]
    cases += [(r, p, ref) for r, ref in TWINS for p in CUTS]
    cases += [(r, p, None) for r in RECORDINGS + list(MADE) for p in CUTS]
    cases += [(r, p, r) for r in MADE_WITH_REFERENCE for p in CUTS]
    unknown = set(KNOWN_FAILING) - {case_name(*case) for case in cases}
    if unknown:
        sys.exit(f"KNOWN_FAILING names cases that do not exist: {sorted(unknown)}")
    # A checkout that changed them (line endings, large-file pointers) tests nothing.
    with open(os.path.join(folder, "SHA256SUMS")) as file:
        sums = dict(reversed(line.split()) for line in file if line.strip())
    for recording in RECORDINGS:
        with open(os.path.join(folder, recording), "rb") as file:
            if hashlib.sha256(file.read()).hexdigest() != sums.get(recording):
                sys.exit(f"{recording} is not the file SHA256SUMS names")
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        originals = dict(zip(RECORDINGS, pool.map(
            lambda r: probe(os.path.join(folder, r)), RECORDINGS)))
    for recording in RECORDINGS:
        errors = decode_errors(os.path.join(folder, recording))
        if errors:
            sys.exit(f"{recording} itself does not decode cleanly: {errors[0]}")
    failures, passes = [], 0
    with tempfile.TemporaryDirectory() as work, tempfile.TemporaryDirectory() as made, \
            concurrent.futures.ThreadPoolExecutor(2) as pool:
        make_recordings(made)
        folders = dict({r: folder for r in RECORDINGS}, **{r: made for r in MADE})
        originals.update({r: probe(os.path.join(made, r)) for r in MADE})
        alone = {r: rebuilds_alone(os.path.join(folders[r], r), originals[r]) for r in folders}
        seconds = {r: play_seconds(os.path.join(folders[r], r)) for r in folders}
        jobs = [pool.submit(run_case, cli, folders, work, r, p, ref, originals, seconds, alone)
                for r, p, ref in cases]
        for job in jobs:
            name, passed, status, cells = job.result()
            passes += passed
            known = name in KNOWN_FAILING
            if passed and known:
                verdict = "PASS, but listed as failing: take it off KNOWN_FAILING"
                failures.append(name)
            elif passed:
                verdict = "PASS"
            elif known:
                verdict = f"FAIL (known: {KNOWN_FAILING[name]})"
            else:
                verdict = "FAIL"
                failures.append(name)
            print(f"{name}: {status} | {' | '.join(cells)} | {verdict}", flush=True)
    print(f"{len(cases)} cases: {passes} pass, {len(cases) - passes} fail "
          f"({len(KNOWN_FAILING)} known to), {len(failures)} unexpected")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
