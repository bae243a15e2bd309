#include "media/Movie.h"

#include <algorithm>
#include <vector>

namespace {

// A box's payload, at most nMax bytes of it.
bool ReadPayload(CByteSource& source, const CBox& box, std::vector<unsigned char>* pData,
                 uint64_t nMax) {
    const uint64_t nSize = std::min(box.PayloadSize(), nMax);
    pData->resize(static_cast<size_t>(nSize));
    return source.ReadAt(box.PayloadOffset(), pData->data(), pData->size());
}

// The timescale and duration of a full box laid out as mvhd and mdhd are: version 1 with
// 64-bit times, version 0 with 32-bit ones.
bool ReadTimes(const std::vector<unsigned char>& data, uint32_t* pTimescale, uint64_t* pDuration) {
    if (data.size() >= 32 && data[0] == 1) {
        *pTimescale = ReadBE32(data.data() + 20);
        *pDuration = ReadBE64(data.data() + 24);
        return true;
    }
    if (data.size() >= 20 && data[0] == 0) {
        *pTimescale = ReadBE32(data.data() + 12);
        const uint32_t nDuration = ReadBE32(data.data() + 16);
        // All ones: unknown.
        *pDuration = nDuration == 0xFFFFFFFFu ? 0 : nDuration;
        return true;
    }
    return false;
}

// Walks stts a block at a time: a long track has tens of thousands of entries.
void ReadSampleTimes(CByteSource& source, const CBox& stts, CMovieTrack* pTrack) {
    unsigned char head[8];
    if (stts.PayloadSize() < 8 || !source.ReadAt(stts.PayloadOffset(), head, 8))
        return;
    const uint64_t nEntries = std::min<uint64_t>(ReadBE32(head + 4), (stts.PayloadSize() - 8) / 8);
    std::vector<unsigned char> block;
    const uint64_t kEntriesPerRead = 4096;
    for (uint64_t i = 0; i < nEntries; i += kEntriesPerRead) {
        const uint64_t n = std::min(kEntriesPerRead, nEntries - i);
        block.resize(static_cast<size_t>(n * 8));
        if (!source.ReadAt(stts.PayloadOffset() + 8 + i * 8, block.data(), block.size()))
            return;
        for (uint64_t k = 0; k < n; ++k) {
            const uint32_t nCount = ReadBE32(block.data() + k * 8);
            pTrack->nSamples += nCount;
            pTrack->nSampleDuration += uint64_t(nCount) * ReadBE32(block.data() + k * 8 + 4);
        }
    }
}

void ReadTrack(CByteSource& source, const CBox& trak, CMovieSummary* pSummary) {
    CMovieTrack track;
    CBox mdia, box;
    std::vector<unsigned char> data;
    if (FindChild(source, trak, FourCC("mdia"), &mdia)) {
        if (FindChild(source, mdia, FourCC("mdhd"), &box) && ReadPayload(source, box, &data, 32))
            ReadTimes(data, &track.nTimescale, &track.nStatedDuration);
        if (FindChild(source, mdia, FourCC("hdlr"), &box) && ReadPayload(source, box, &data, 12) &&
            data.size() >= 12)
            track.nHandler = ReadBE32(data.data() + 8);
        CBox minf, stbl, stts;
        if (FindChild(source, mdia, FourCC("minf"), &minf) &&
            FindChild(source, minf, FourCC("stbl"), &stbl) &&
            FindChild(source, stbl, FourCC("stts"), &stts))
            ReadSampleTimes(source, stts, &track);
    }
    pSummary->tracks.push_back(track);
}

} // namespace

double CMovieSummary::StatedSeconds() const {
    return nTimescale ? static_cast<double>(nDuration) / nTimescale : 0.0;
}

double CMovieSummary::SampleSeconds() const {
    double dLongest = 0;
    for (const CMovieTrack& track : tracks) {
        if (track.nTimescale)
            dLongest =
                std::max(dLongest, static_cast<double>(track.nSampleDuration) / track.nTimescale);
    }
    return dLongest;
}

bool ReadMovieSummary(CByteSource& file, const CBox& moov, CMovieSummary* pSummary) {
    *pSummary = CMovieSummary();
    CBudgetByteSource source(file, kMaxMovieReads, kMaxMovieBytes);
    bool bHeader = false;
    CBoxWalk walk(source, moov);
    CBox box;
    std::vector<unsigned char> data;
    while (walk.Next(&box)) {
        if (box.nType == FourCC("mvhd")) {
            bHeader = ReadPayload(source, box, &data, 32) &&
                      ReadTimes(data, &pSummary->nTimescale, &pSummary->nDuration);
        } else if (box.nType == FourCC("trak") && pSummary->tracks.size() < kMaxMovieTracks) {
            ReadTrack(source, box, pSummary);
        } else if (box.nType == FourCC("mvex")) {
            pSummary->bFragmented = true;
            // A fragmented movie states its length in mehd, if anywhere.
            CBox mehd;
            if (pSummary->nDuration == 0 && FindChild(source, box, FourCC("mehd"), &mehd) &&
                ReadPayload(source, mehd, &data, 12) && data.size() >= 8)
                pSummary->nDuration = data[0] == 1 && data.size() >= 12 ? ReadBE64(data.data() + 4)
                                                                        : ReadBE32(data.data() + 4);
        }
    }
    return bHeader;
}
