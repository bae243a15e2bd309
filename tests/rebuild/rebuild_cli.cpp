// Runs the rebuild engine from the command line, for the tests and the benchmark:
//   rebuild_cli reference.mp4 broken.mp4 output.mp4
// Prints the result one field a line; the exit code is 0 when the copy was written.
#include "job/RunReport.h"
#include "rebuild/Rebuild.h"

#include <cstdio>

namespace {

const char* StatusName(CRebuildResult::EStatus eStatus) {
    switch (eStatus) {
    case CRebuildResult::EStatus::Rebuilt:
        return "rebuilt";
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
    if (argc != 4) {
        std::fprintf(stderr, "usage: rebuild_cli reference.mp4 broken.mp4 output.mp4\n");
        return 2;
    }
    CPrintProgress progress;
    const CRebuildResult result = RebuildRecording(argv[1], argv[2], argv[3], &progress);
    std::fprintf(stderr, "\n");
    std::printf("status: %s\n", StatusName(result.eStatus));
    std::printf("detail: %s\n", static_cast<const char*>(DescribeRebuildResult(argv[2], result)));
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
    return result.eStatus == CRebuildResult::EStatus::Rebuilt ? 0 : 1;
}
