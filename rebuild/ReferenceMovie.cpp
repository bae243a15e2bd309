#include "rebuild/ReferenceMovie.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace {

const uint64_t kMaxTableBox = uint64_t(256) << 20;

bool ReadWhole(CByteSource& source, const CBox& box, std::vector<uint8_t>* pData) {
    if (box.nSize > kMaxTableBox)
        return false;
    pData->resize(static_cast<size_t>(box.nSize));
    return source.ReadAt(box.nOffset, pData->data(), pData->size());
}

bool ReadPayload(CByteSource& source, const CBox& box, std::vector<uint8_t>* pData) {
    if (box.PayloadSize() > kMaxTableBox)
        return false;
    pData->resize(static_cast<size_t>(box.PayloadSize()));
    return pData->empty() || source.ReadAt(box.PayloadOffset(), pData->data(), pData->size());
}

// A full box's payload after version and flags, checked to hold nCount entries of nEntry bytes.
bool TableEntries(const std::vector<uint8_t>& data, size_t nHead, size_t nEntry, uint32_t nCount) {
    return data.size() >= nHead && (data.size() - nHead) / nEntry >= nCount;
}

struct CTables {
    std::vector<uint8_t> stts, stsz, stsc, stco;
    bool b64 = false, bCompact = false, bCtts = false;
};

bool ReadSampleTables(CByteSource& source, const CBox& stbl, CReferenceTrack* pTrack,
                      CTables* pTables) {
    CBoxWalk walk(source, stbl);
    CBox box;
    bool bStsd = false;
    while (walk.Next(&box)) {
        switch (box.nType) {
        case FourCC("stsd"):
            bStsd = ReadSampleEntry(source, box, &pTrack->entry) &&
                    ReadWhole(source, box, &pTrack->stsd);
            break;
        case FourCC("stts"):
            if (!ReadPayload(source, box, &pTables->stts))
                return false;
            break;
        case FourCC("stsz"):
        case FourCC("stz2"):
            if (!ReadPayload(source, box, &pTables->stsz))
                return false;
            pTables->bCompact = box.nType == FourCC("stz2");
            break;
        case FourCC("stsc"):
            if (!ReadPayload(source, box, &pTables->stsc))
                return false;
            break;
        case FourCC("stco"):
        case FourCC("co64"):
            if (!ReadPayload(source, box, &pTables->stco))
                return false;
            pTables->b64 = box.nType == FourCC("co64");
            break;
        case FourCC("ctts"):
            pTables->bCtts = true;
            break;
        default:
            break;
        }
    }
    return bStsd;
}

bool BuildTables(const CTables& tables, CReferenceTrack* pTrack) {
    // Sample sizes.
    const std::vector<uint8_t>& stsz = tables.stsz;
    if (stsz.size() < 12)
        return false;
    uint32_t nCount = ReadBE32(stsz.data() + 8);
    std::vector<uint32_t> sizes;
    if (!tables.bCompact) {
        pTrack->nFixedSampleSize = ReadBE32(stsz.data() + 4);
        if (pTrack->nFixedSampleSize == 0) {
            if (!TableEntries(stsz, 12, 4, nCount))
                return false;
            sizes.resize(nCount);
            for (uint32_t i = 0; i < nCount; ++i)
                sizes[i] = ReadBE32(stsz.data() + 12 + 4 * size_t(i));
        }
    } else {
        const int nBits = stsz[7];
        if ((nBits != 4 && nBits != 8 && nBits != 16) || (stsz.size() - 12) * 8 / nBits < nCount)
            return false;
        sizes.resize(nCount);
        for (uint32_t i = 0; i < nCount; ++i) {
            const uint8_t* p = stsz.data() + 12;
            if (nBits == 16)
                sizes[i] = ReadBE16(p + 2 * size_t(i));
            else if (nBits == 8)
                sizes[i] = p[i];
            else
                sizes[i] = (i & 1) ? (p[i / 2] & 0x0F) : (p[i / 2] >> 4);
        }
    }
    pTrack->nSamples = nCount;
    if (pTrack->nFixedSampleSize != 0) {
        pTrack->nMaxSampleSize = pTrack->nFixedSampleSize;
        pTrack->nTotalSampleBytes = uint64_t(nCount) * pTrack->nFixedSampleSize;
    } else {
        for (uint32_t nSize : sizes) {
            pTrack->nMaxSampleSize = std::max(pTrack->nMaxSampleSize, nSize);
            pTrack->nTotalSampleBytes += nSize;
        }
        // Equal sizes written one by one are as fixed as stsz's sample_size.
        if (!sizes.empty() &&
            std::all_of(sizes.begin(), sizes.end(), [&](uint32_t n) { return n == sizes[0]; }))
            pTrack->nFixedSampleSize = sizes[0];
        else if (pTrack->entry.eCodec == ETrackCodec::Other)
            pTrack->sampleSizes = std::move(sizes);
    }

    // Durations: the typical one is what most samples last (the last one often differs).
    const std::vector<uint8_t>& stts = tables.stts;
    if (stts.size() < 8)
        return false;
    const uint32_t nEntries = ReadBE32(stts.data() + 4);
    if (!TableEntries(stts, 8, 8, nEntries))
        return false;
    std::map<uint32_t, uint64_t> counts;
    uint64_t nTimed = 0;
    for (uint32_t i = 0; i < nEntries; ++i) {
        const uint32_t nRun = ReadBE32(stts.data() + 8 + 8 * size_t(i));
        const uint32_t nDelta = ReadBE32(stts.data() + 12 + 8 * size_t(i));
        counts[nDelta] += nRun;
        nTimed += nRun;
        pTrack->nMediaDuration += uint64_t(nRun) * nDelta;
    }
    uint64_t nBest = 0;
    for (const auto& entry : counts) {
        if (entry.second > nBest) {
            nBest = entry.second;
            pTrack->nTypicalDuration = entry.first;
        }
    }
    // Durations that vary (a variable frame rate) are replaced by their mean.
    if (nTimed > 1 && nBest * 10 < (nTimed - 1) * 9) {
        pTrack->nTypicalDuration =
            static_cast<uint32_t>((pTrack->nMediaDuration + nTimed / 2) / nTimed);
        pTrack->bSteadyDurations = false;
    }

    // Chunks: stsc runs of samples per chunk over the chunk offsets.
    const std::vector<uint8_t>& stco = tables.stco;
    const std::vector<uint8_t>& stsc = tables.stsc;
    if (stco.size() < 8 || stsc.size() < 8)
        return false;
    const uint32_t nChunks = ReadBE32(stco.data() + 4);
    const uint32_t nRuns = ReadBE32(stsc.data() + 4);
    if (!TableEntries(stco, 8, tables.b64 ? 8 : 4, nChunks) || !TableEntries(stsc, 8, 12, nRuns))
        return false;
    uint32_t nSample = 0;
    pTrack->chunks.reserve(nChunks);
    for (uint32_t nRun = 0; nRun < nRuns && nSample < nCount; ++nRun) {
        const uint8_t* pRun = stsc.data() + 8 + 12 * size_t(nRun);
        const uint32_t nFirst = ReadBE32(pRun);
        const uint32_t nPer = ReadBE32(pRun + 4);
        const uint32_t nLast =
            nRun + 1 < nRuns ? ReadBE32(pRun + 12) - 1 : nChunks; // 1-based, inclusive
        if (nFirst == 0 || nLast > nChunks)
            return false;
        for (uint32_t c = nFirst; c <= nLast && nSample < nCount; ++c) {
            CReferenceChunk chunk;
            chunk.nOffset = tables.b64 ? ReadBE64(stco.data() + 8 + 8 * size_t(c - 1))
                                       : ReadBE32(stco.data() + 8 + 4 * size_t(c - 1));
            chunk.nFirstSample = nSample;
            chunk.nSamples = std::min(nPer, nCount - nSample);
            nSample += chunk.nSamples;
            if (chunk.nSamples != 0)
                pTrack->chunks.push_back(chunk);
        }
    }
    pTrack->bCompositionOffsets = tables.bCtts;
    return true;
}

bool ReadEdits(CByteSource& source, const CBox& edts, CReferenceTrack* pTrack) {
    CBox elst;
    std::vector<uint8_t> data;
    if (!FindChild(source, edts, FourCC("elst"), &elst) || !ReadPayload(source, elst, &data) ||
        data.size() < 8)
        return false;
    const bool bWide = data[0] == 1;
    const uint32_t nCount = ReadBE32(data.data() + 4);
    const size_t nEntry = bWide ? 20 : 12;
    if (!TableEntries(data, 8, nEntry, nCount) || nCount > 1000)
        return false;
    for (uint32_t i = 0; i < nCount; ++i) {
        const uint8_t* p = data.data() + 8 + nEntry * i;
        CEdit edit;
        if (bWide) {
            edit.nSegmentDuration = ReadBE64(p);
            edit.nMediaTime = static_cast<int64_t>(ReadBE64(p + 8));
            edit.nRate = ReadBE32(p + 16);
        } else {
            edit.nSegmentDuration = ReadBE32(p);
            edit.nMediaTime = static_cast<int32_t>(ReadBE32(p + 4));
            edit.nRate = ReadBE32(p + 8);
        }
        pTrack->edits.push_back(edit);
    }
    return true;
}

bool ReadTrack(CByteSource& source, const CBox& trak, CReferenceTrack* pTrack) {
    CBox box, mdia;
    std::vector<uint8_t> data;
    if (!FindChild(source, trak, FourCC("tkhd"), &box) || !ReadPayload(source, box, &data))
        return false;
    const bool bWideTkhd = !data.empty() && data[0] == 1;
    const size_t nTkhdFields = bWideTkhd ? 36 : 24; // up to the reserved words after duration
    if (data.size() < nTkhdFields + 60)
        return false;
    pTrack->nTrackFlags = ReadBE32(data.data()) & 0xFFFFFF;
    pTrack->nTrackId = ReadBE32(data.data() + (bWideTkhd ? 20 : 12));
    const uint8_t* pRest = data.data() + nTkhdFields;
    pTrack->nLayer = static_cast<int16_t>(ReadBE16(pRest + 8));
    pTrack->nAlternateGroup = static_cast<int16_t>(ReadBE16(pRest + 10));
    pTrack->nVolume = ReadBE16(pRest + 12);
    std::memcpy(pTrack->matrix, pRest + 16, 36);
    pTrack->nWidth = ReadBE32(pRest + 52);
    pTrack->nHeight = ReadBE32(pRest + 56);

    if (FindChild(source, trak, FourCC("edts"), &box))
        ReadEdits(source, box, pTrack);
    if (FindChild(source, trak, FourCC("tref"), &box) && ReadWhole(source, box, &pTrack->tref)) {
        CBoxWalk refs(source, box);
        CBox ref;
        while (refs.Next(&ref)) {
            std::vector<uint8_t> ids;
            if (ReadPayload(source, ref, &ids)) {
                for (size_t i = 0; i + 4 <= ids.size(); i += 4)
                    pTrack->trefIds.push_back(ReadBE32(ids.data() + i));
            }
        }
    }
    if (FindChild(source, trak, FourCC("udta"), &box))
        ReadWhole(source, box, &pTrack->udta);

    if (!FindChild(source, trak, FourCC("mdia"), &mdia))
        return false;
    if (!FindChild(source, mdia, FourCC("mdhd"), &box) || !ReadPayload(source, box, &data) ||
        data.size() < 24)
        return false;
    const bool bWideMdhd = data[0] == 1;
    if (bWideMdhd && data.size() < 36)
        return false;
    pTrack->nTimescale = ReadBE32(data.data() + (bWideMdhd ? 20 : 12));
    pTrack->nLanguage = ReadBE16(data.data() + (bWideMdhd ? 32 : 20));
    if (!FindChild(source, mdia, FourCC("hdlr"), &box) || !ReadWhole(source, box, &pTrack->hdlr) ||
        pTrack->hdlr.size() < 20)
        return false;
    pTrack->nHandler = ReadBE32(pTrack->hdlr.data() + 16);

    CBox minf, stbl;
    if (!FindChild(source, mdia, FourCC("minf"), &minf))
        return false;
    CBoxWalk children(source, minf);
    bool bStbl = false;
    while (children.Next(&box)) {
        if (box.nType == FourCC("stbl")) {
            stbl = box;
            bStbl = true;
        } else if (ReadWhole(source, box, &data)) {
            pTrack->mediaInfoHeaders.insert(pTrack->mediaInfoHeaders.end(), data.begin(),
                                            data.end());
        }
    }
    CTables tables;
    return bStbl && pTrack->nTimescale != 0 && ReadSampleTables(source, stbl, pTrack, &tables) &&
           BuildTables(tables, pTrack);
}

// Keeps what describes the device (make, model, encoder) and drops what describes the one
// recording (its date and place).
std::vector<uint8_t> FilterUserData(CByteSource& source, const CBox& udta) {
    std::vector<uint8_t> kept, data;
    CBoxWalk walk(source, udta);
    CBox box;
    while (walk.Next(&box)) {
        if (box.nType == FourCC("\xA9xyz") || box.nType == FourCC("loci") ||
            box.nType == FourCC("\xA9"
                                "day"))
            continue;
        if (ReadWhole(source, box, &data))
            kept.insert(kept.end(), data.begin(), data.end());
    }
    return kept;
}

} // namespace

std::string FourCCText(uint32_t nFourCC) {
    std::string strText;
    for (int nShift = 24; nShift >= 0; nShift -= 8) {
        const char c = static_cast<char>((nFourCC >> nShift) & 0xFF);
        strText += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return strText;
}

bool ReadReferenceMovie(CByteSource& source, CReferenceMovie* pMovie,
                        CRebuildResult::EProblem* pProblem) {
    CReferenceMovie movie;
    CBoxWalk top(source, 0, source.Size());
    CBox box, moov;
    bool bMoov = false;
    while (top.Next(&box)) {
        if (box.nType == FourCC("ftyp") && movie.ftyp.empty())
            ReadWhole(source, box, &movie.ftyp);
        if (box.nType == FourCC("moov") && !bMoov) {
            moov = box;
            bMoov = true;
        }
    }
    if (!bMoov) {
        *pProblem = CRebuildResult::EProblem::ReferenceWithoutIndex;
        return false;
    }
    std::vector<uint8_t> data;
    CBoxWalk children(source, moov);
    bool bFragmented = false, bMvhd = false;
    while (children.Next(&box)) {
        if (box.nType == FourCC("mvhd") && ReadPayload(source, box, &data) && data.size() >= 100) {
            const size_t nAt = data[0] == 1 ? 20 : 12;
            if (data.size() < nAt + 88)
                continue;
            movie.nTimescale = ReadBE32(data.data() + nAt);
            const size_t nRest = nAt + (data[0] == 1 ? 12 : 8);
            movie.nRate = ReadBE32(data.data() + nRest);
            movie.nVolume = ReadBE16(data.data() + nRest + 4);
            std::memcpy(movie.matrix, data.data() + nRest + 16, 36);
            bMvhd = movie.nTimescale != 0;
        } else if (box.nType == FourCC("trak")) {
            CReferenceTrack track;
            if (ReadTrack(source, box, &track))
                movie.tracks.push_back(std::move(track));
        } else if (box.nType == FourCC("mvex")) {
            bFragmented = true;
        } else if (box.nType == FourCC("udta")) {
            movie.udta = FilterUserData(source, box);
        }
    }
    if (!bMvhd || children.Status() == EBoxHeader::ReadError) {
        *pProblem = CRebuildResult::EProblem::ReferenceIndexUnreadable;
        return false;
    }
    bool bSamples = false;
    for (const CReferenceTrack& track : movie.tracks)
        bSamples = bSamples || track.nSamples != 0;
    if (!bSamples) {
        *pProblem = bFragmented ? CRebuildResult::EProblem::ReferenceFragmented
                                : CRebuildResult::EProblem::ReferenceWithoutSamples;
        return false;
    }
    if (movie.ftyp.empty()) {
        // Old QuickTime files have none; the copy still needs one.
        const uint8_t kFtyp[] = {0,   0,   0, 20, 'f', 't', 'y', 'p', 'i', 's',
                                 'o', 'm', 0, 0,  2,   0,   'i', 's', 'o', 'm'};
        movie.ftyp.assign(kFtyp, kFtyp + sizeof kFtyp);
    }
    *pMovie = std::move(movie);
    return true;
}
