// Runs the rebuild engine from the command line, for the tests and the benchmark:
//   rebuild_cli reference.mp4 broken.mp4 output.mp4
//   rebuild_cli broken.mp4 output.mp4            (from what the broken recording holds)
// Prints the result one field a line; the exit code is 0 when the copy was written. Built
// with FFmpeg's decoders where the build has them: then the copy is checked, and the check's
// time printed beside the rebuild's.
#include "job/RebuildReport.h"
#include "rebuild/Rebuild.h"

#if defined(CLIPMEND_DECODERS)
#include "decode/FfmpegDecoderFactory.h"
#endif

#include <cstdio>

namespace {

const char* StatusName(CRebuildResult::EStatus eStatus) {
    switch (eStatus) {
    case CRebuildResult::EStatus::Rebuilt:
        return "rebuilt";
    case CRebuildResult::EStatus::NotPlayable:
        return "not-playable";
    case CRebuildResult::EStatus::Mismatch:
        return "mismatch";
    case CRebuildResult::EStatus::ReferenceUnusable:
        return "reference-unusable";
    case CRebuildResult::EStatus::NoMediaData:
        return "no-media-data";
    case CRebuildResult::EStatus::ReadFailed:
        return "read-failed";
    case CRebuildResult::EStatus::WriteFailed:
        return "write-failed";
    case CRebuildResult::EStatus::NeedsReference:
        return "needs-reference";
    default:
        return "cancelled";
    }
}

class CPrintProgress : public CRebuildObserver {
public:
    void OnProgress(int nPercent) override { std::fprintf(stderr, "\r%3d%%", nPercent); }
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: rebuild_cli [reference.mp4] broken.mp4 output.mp4\n");
        return 2;
    }
    const char* pszReference = argc == 4 ? argv[1] : nullptr;
    const char* pszBroken = argv[argc - 2];
    const char* pszOutput = argv[argc - 1];
    CPrintProgress progress;
    CRebuildOptions options;
    options.bSearch = true;
#if defined(CLIPMEND_DECODERS)
    CFfmpegDecoderFactory decoders;
    options.pDecoders = &decoders;
#endif
    const CRebuildResult result =
        RebuildRecording(pszReference, pszBroken, pszOutput, &progress, options);
    std::fprintf(stderr, "\n");
    std::printf("status: %s\n", StatusName(result.eStatus));
    std::printf("detail: %s\n", static_cast<const char*>(DescribeRebuildResult(pszBroken, result)));
    if (result.found.eSource != CFoundSettings::ESource::None)
        std::printf("found: %s\n", static_cast<const char*>(DescribeFoundSettings(result.found)));
    for (const CRebuiltTrack& track : result.tracks)
        std::printf("track: %s %u samples, %.3f s\n", track.strCodec.c_str(), track.nSamples,
                    track.nTimescale ? double(track.nDuration) / track.nTimescale : 0.0);
    for (const CTrackLeftOut& track : result.tracksLeftOut)
        std::printf("left out: %s\n", static_cast<const char*>(DescribeTrackLeftOut(track)));
    for (const CStretchLeftOut& stretch : result.stretchesLeftOut) {
        if (!stretch.bToEnd)
            std::printf("stretch left out: %.3f s, %.3f s long, %llu bytes (%s)\n", stretch.dAt,
                        stretch.dSeconds, static_cast<unsigned long long>(stretch.nBytes),
                        DescribeStretchReason(stretch.eReason));
    }
    std::printf("bytes left out: %llu\n", static_cast<unsigned long long>(result.nBytesLeftOut));
    for (const CStretchLeftOut& stretch : result.stretchesLeftOut) {
        if (stretch.bToEnd)
            std::printf("stopped at: %.3f s (%s)\n", stretch.dAt,
                        DescribeStretchReason(stretch.eReason));
    }
    const CPlayResult& play = result.play;
    if (play.bChecked) {
        std::printf("play check: %s\n", static_cast<const char*>(DescribePlayResult(play)));
        std::printf("play check: %.3f s after %.3f s of rebuild (%.1f %%), %.3f s of decoding "
                    "before it; video %s, %d places%s%s; sound %s; %llu damaged\n",
                    play.dSeconds, play.dRebuildSeconds,
                    play.dRebuildSeconds > 0 ? 100 * play.dSeconds / play.dRebuildSeconds : 0.0,
                    play.dBeforeSeconds, play.bVideoWhole ? "whole" : "sampled", play.nVideoPlaces,
                    play.bVideoStart ? ", start" : "", play.bVideoEnd ? ", end" : "",
                    play.bSoundWhole ? "whole" : "not whole",
                    static_cast<unsigned long long>(play.nDamaged));
        for (const CDamagedFrame& frame : play.damaged)
            std::printf("damaged: %s at %.3f s: %s\n", frame.bVideo ? "picture" : "sound",
                        frame.dAt, frame.strDecoder.c_str());
    }
    return result.eStatus == CRebuildResult::EStatus::Rebuilt ? 0 : 1;
}
