#include "media/Movie.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Keeps the first box of a type: a second one of a kind that is to be single is ignored.
void Keep(CBox* pSlot, const CBox& box) {
    if (!pSlot->IsFound())
        *pSlot = box;
}

// Calls onChild with each of the first kMaxChildBoxes children of parent.
template <typename F> void ForEachChild(CByteSource& source, const CBox& parent, F&& onChild) {
    CBoxWalk walk(source, parent);
    CBox box;
    for (unsigned n = 0; n < kMaxChildBoxes && walk.Next(&box); ++n)
        onChild(box);
}

// The time scale and duration of a full box laid out as mvhd and mdhd are: version 1 with
// 64-bit times, any other with 32-bit ones.
bool ReadTimes(const std::vector<uint8_t>& data, uint32_t* pTimescale, uint64_t* pDuration) {
    const bool bWide = !data.empty() && data[0] == 1;
    if (data.size() < (bWide ? 32u : 20u))
        return false;
    *pTimescale = ReadBE32(data.data() + (bWide ? 20 : 12));
    if (bWide) {
        *pDuration = ReadBE64(data.data() + 24);
    } else {
        // All ones: unknown.
        const uint32_t nDuration = ReadBE32(data.data() + 16);
        *pDuration = nDuration == 0xFFFFFFFFu ? 0 : nDuration;
    }
    return true;
}

void ReadMovieHeader(CByteSource& source, const CBox& mvhd, CMovie* pMovie) {
    std::vector<uint8_t> data;
    if (!ReadPayloadStart(source, mvhd, 112, &data))
        return;
    pMovie->bHeader = ReadTimes(data, &pMovie->nTimescale, &pMovie->nDuration);
    // Rate, volume and matrix follow the times; the header ends 80 bytes after them.
    const size_t nRest = data.size() >= 1 && data[0] == 1 ? 32 : 20;
    if (!pMovie->bHeader || data.size() < std::max<size_t>(100, nRest + 76))
        return;
    pMovie->nRate = ReadBE32(data.data() + nRest);
    pMovie->nVolume = ReadBE16(data.data() + nRest + 4);
    std::memcpy(pMovie->matrix, data.data() + nRest + 16, 36);
    pMovie->bWholeHeader = true;
}

void ReadTrackHeader(CByteSource& source, const CBox& tkhd, CMovieTrack* pTrack) {
    std::vector<uint8_t> data;
    if (!ReadPayloadStart(source, tkhd, 96, &data) || data.empty())
        return;
    const bool bWide = data[0] == 1;
    const size_t nFields = bWide ? 36 : 24; // up to the reserved words after duration
    if (data.size() < nFields + 60)
        return;
    pTrack->nTrackFlags = ReadBE32(data.data()) & 0xFFFFFF;
    pTrack->nTrackId = ReadBE32(data.data() + (bWide ? 20 : 12));
    const uint8_t* pRest = data.data() + nFields;
    pTrack->nLayer = static_cast<int16_t>(ReadBE16(pRest + 8));
    pTrack->nAlternateGroup = static_cast<int16_t>(ReadBE16(pRest + 10));
    pTrack->nVolume = ReadBE16(pRest + 12);
    std::memcpy(pTrack->matrix, pRest + 16, 36);
    pTrack->nWidth = ReadBE32(pRest + 52);
    pTrack->nHeight = ReadBE32(pRest + 56);
    pTrack->bHeader = true;
}

void ReadMediaHeader(CByteSource& source, const CBox& mdhd, CMovieTrack* pTrack) {
    std::vector<uint8_t> data;
    if (!ReadPayloadStart(source, mdhd, 36, &data) ||
        !ReadTimes(data, &pTrack->nTimescale, &pTrack->nStatedDuration))
        return;
    const bool bWide = data[0] == 1;
    if (data.size() < (bWide ? 36u : 24u))
        return;
    pTrack->nLanguage = ReadBE16(data.data() + (bWide ? 32 : 20));
    pTrack->bMediaHeader = true;
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
        // Both sums stop at their type's top: a crafted table must not wrap them into a
        // plausible length.
        for (uint64_t k = 0; k < n; ++k) {
            const uint32_t nCount = ReadBE32(block.data() + k * 8);
            const uint64_t nSpan = uint64_t(nCount) * ReadBE32(block.data() + k * 8 + 4);
            pTrack->nSamples = static_cast<uint32_t>(
                std::min<uint64_t>(uint64_t(pTrack->nSamples) + nCount, UINT32_MAX));
            pTrack->nSampleDuration = nSpan > UINT64_MAX - pTrack->nSampleDuration
                                          ? UINT64_MAX
                                          : pTrack->nSampleDuration + nSpan;
        }
    }
}

void ReadSampleTableBoxes(CByteSource& source, CMovieTrack* pTrack) {
    ForEachChild(source, pTrack->stbl, [&](const CBox& box) {
        switch (box.nType) {
        case FourCC("stsd"):
            Keep(&pTrack->stsd, box);
            break;
        case FourCC("stts"):
            Keep(&pTrack->stts, box);
            break;
        case FourCC("stsc"):
            Keep(&pTrack->stsc, box);
            break;
        case FourCC("stsz"):
        case FourCC("stz2"):
            Keep(&pTrack->stsz, box);
            break;
        case FourCC("stco"):
        case FourCC("co64"):
            Keep(&pTrack->stco, box);
            break;
        case FourCC("ctts"):
            Keep(&pTrack->ctts, box);
            break;
        default:
            break;
        }
    });
}

void ReadTrack(CByteSource& source, const CBox& trak, bool bSampleTimes, CMovieTrack* pTrack) {
    CBox tkhd, mdhd;
    ForEachChild(source, trak, [&](const CBox& box) {
        switch (box.nType) {
        case FourCC("tkhd"):
            Keep(&tkhd, box);
            break;
        case FourCC("edts"):
            Keep(&pTrack->edts, box);
            break;
        case FourCC("tref"):
            Keep(&pTrack->tref, box);
            break;
        case FourCC("udta"):
            Keep(&pTrack->udta, box);
            break;
        case FourCC("mdia"):
            Keep(&pTrack->mdia, box);
            break;
        default:
            break;
        }
    });
    if (tkhd.IsFound())
        ReadTrackHeader(source, tkhd, pTrack);
    if (!pTrack->mdia.IsFound())
        return;
    ForEachChild(source, pTrack->mdia, [&](const CBox& box) {
        if (box.nType == FourCC("mdhd"))
            Keep(&mdhd, box);
        else if (box.nType == FourCC("hdlr"))
            Keep(&pTrack->hdlr, box);
        else if (box.nType == FourCC("minf"))
            Keep(&pTrack->minf, box);
    });
    if (mdhd.IsFound())
        ReadMediaHeader(source, mdhd, pTrack);
    std::vector<uint8_t> data;
    if (pTrack->hdlr.IsFound() && ReadPayloadStart(source, pTrack->hdlr, 12, &data) &&
        data.size() >= 12)
        pTrack->nHandler = ReadBE32(data.data() + 8);
    if (pTrack->minf.IsFound())
        FindChild(source, pTrack->minf, FourCC("stbl"), &pTrack->stbl);
    if (!pTrack->stbl.IsFound())
        return;
    ReadSampleTableBoxes(source, pTrack);
    if (bSampleTimes && pTrack->stts.IsFound())
        ReadSampleTimes(source, pTrack->stts, pTrack);
}

} // namespace

bool CSampleSizeTable::Open(CByteSource& source, const CBox& box, CCancelPoll* pCancel) {
    *this = CSampleSizeTable();
    // stsz: sample_size, sample_count, and entries of 32 bits when sample_size is 0; stz2:
    // field_size in the last byte of its first field, then the count and the entries.
    uint8_t head[12];
    if (box.PayloadSize() < sizeof head || !source.ReadAt(box.PayloadOffset(), head, sizeof head))
        return false;
    const bool bCompact = box.nType == FourCC("stz2");
    const uint32_t nFixed = bCompact ? 0 : ReadBE32(head + 4);
    const int nBits = bCompact ? head[7] : 32;
    if (nBits != 4 && nBits != 8 && nBits != 16 && nBits != 32)
        return false;
    if (nFixed != 0) {
        // No table: the count alone.
        m_nFixed = nFixed;
        m_nCount = ReadBE32(head + 8);
        return true;
    }
    if (!m_table.Open(source, box, 8, static_cast<size_t>(nBits), pCancel))
        return false;
    m_nBits = nBits;
    m_nCount = m_table.Count();
    return true;
}

double CMovie::StatedSeconds() const {
    return nTimescale ? static_cast<double>(nDuration) / nTimescale : 0.0;
}

double CMovie::SampleSeconds() const {
    double dLongest = 0;
    for (const CMovieTrack& track : tracks) {
        if (track.nTimescale)
            dLongest =
                std::max(dLongest, static_cast<double>(track.nSampleDuration) / track.nTimescale);
    }
    return dLongest;
}

bool ReadMovie(CByteSource& file, const CBox& moov, CMovie* pMovie, size_t nMaxTracks,
               bool bSampleTimes, CCancelPoll* pCancel) {
    *pMovie = CMovie();
    CBudgetByteSource source(file, kMaxMovieReads, kMaxMovieBytes);
    CBox mvhd, mvex;
    CBoxWalk walk(source, moov);
    CBox box;
    unsigned nChildren = 0;
    while (walk.Next(&box)) {
        if (++nChildren > kMaxChildBoxes || (pCancel && pCancel->Cancelled())) {
            pMovie->bCutShort = true;
            break;
        }
        if (box.nType == FourCC("mvhd") && !mvhd.IsFound()) {
            mvhd = box;
            ReadMovieHeader(source, mvhd, pMovie);
        } else if (box.nType == FourCC("trak")) {
            ++pMovie->nTrackBoxes;
            if (pMovie->tracks.size() < nMaxTracks) {
                pMovie->tracks.emplace_back();
                ReadTrack(source, box, bSampleTimes, &pMovie->tracks.back());
            }
        } else if (box.nType == FourCC("mvex")) {
            Keep(&mvex, box);
        } else if (box.nType == FourCC("udta")) {
            Keep(&pMovie->udta, box);
        }
    }
    if (walk.Status() == EBoxHeader::ReadError)
        pMovie->bCutShort = true;
    pMovie->bFragmented = mvex.IsFound();
    // A fragmented movie states its length in mehd, if anywhere.
    CBox mehd;
    std::vector<uint8_t> data;
    if (pMovie->nDuration == 0 && mvex.IsFound() &&
        FindChild(source, mvex, FourCC("mehd"), &mehd) &&
        ReadPayloadStart(source, mehd, 12, &data) && data.size() >= 8)
        pMovie->nDuration = data[0] == 1 && data.size() >= 12 ? ReadBE64(data.data() + 4)
                                                              : ReadBE32(data.data() + 4);
    return pMovie->bHeader && !(pCancel && pCancel->Cancelled());
}
