#include "rebuild/ReferenceMovie.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace {

const uint64_t kMaxTableBox = uint64_t(256) << 20;
// Boxes looked at in one container: a movie or a track has a handful.
const unsigned kMaxChildren = 4096;
// Entries between two looks at whether the user cancelled.
const uint32_t kPollEntries = 1 << 16;
// Sizes of an unreadable track's samples the walk tries where the interleaving predicts one.
const size_t kCommonSizes = 16;
const uint32_t kCommonSizeSamples = 1 << 20;
// Chunks kept of a track, and of all the tracks: hours of any recording. What a longer
// reference has beyond them adds nothing to its interleaving.
const uint32_t kMaxTrackChunks = 1 << 19;
const uint32_t kMaxReferenceChunks = 1 << 20;
// Samples of a track of another kind that are read, to learn how its samples are made.
const uint32_t kFirstSamples = 32;
const uint32_t kFirstSampleBytes = 64 << 10;

// Boxes the copy takes over as they are (ftyp, stsd, hdlr, udta...): a few kilobytes, a
// thumbnail at most.
const uint64_t kMaxCopiedBox = 16u << 20;

bool ReadWhole(CByteSource& source, const CBox& box, std::vector<uint8_t>* pData) {
    if (box.nSize > kMaxCopiedBox)
        return false;
    pData->resize(static_cast<size_t>(box.nSize));
    return source.ReadAt(box.nOffset, pData->data(), pData->size());
}

// Read in blocks, so that a cancel is seen between them.
bool ReadPayload(CByteSource& source, const CBox& box, std::vector<uint8_t>* pData,
                 CCancelCheck* pCancel = nullptr) {
    const size_t kBlock = 4u << 20;
    if (box.PayloadSize() > kMaxTableBox)
        return false;
    pData->resize(static_cast<size_t>(box.PayloadSize()));
    for (size_t nAt = 0; nAt < pData->size(); nAt += kBlock) {
        if ((pCancel && pCancel->Cancelled()) ||
            !source.ReadAt(box.PayloadOffset() + nAt, pData->data() + nAt,
                           std::min(kBlock, pData->size() - nAt)))
            return false;
    }
    return true;
}

// The first child of parent of type nType, among its first kMaxChildren.
bool FindChildBounded(CByteSource& source, const CBox& parent, uint32_t nType, CBox* pBox) {
    CBoxWalk walk(source, parent);
    CBox box;
    for (unsigned n = 0; n < kMaxChildren && walk.Next(&box); ++n) {
        if (box.nType == nType) {
            *pBox = box;
            return true;
        }
    }
    return false;
}

// A table of a full box: nFields bytes of fields after version and flags, the last four the
// entry count, then the entries of nEntryBits bits each. Open checks the count against the
// bytes the box holds before anything is made of it.
class CTable {
public:
    bool Open(CByteSource& source, const CBox& box, size_t nFields, size_t nEntryBits,
              CCancelCheck* pCancel) {
        m_nCount = 0;
        if (!ReadPayload(source, box, &m_data, pCancel) || m_data.size() < 4 + nFields)
            return false;
        m_nEntries = 4 + nFields;
        const uint32_t nCount = ReadBE32(m_data.data() + m_nEntries - 4);
        if ((m_data.size() - m_nEntries) * 8 / nEntryBits < nCount)
            return false;
        m_nCount = nCount;
        m_nEntryBytes = nEntryBits / 8;
        return true;
    }
    bool IsOpen() const { return !m_data.empty(); }
    uint8_t Version() const { return m_data[0]; }
    // The fields after version and flags.
    const uint8_t* Fields() const { return m_data.data() + 4; }
    uint32_t Count() const { return m_nCount; }
    // Entry i of a table of whole bytes.
    const uint8_t* Entry(uint32_t i) const {
        return m_data.data() + m_nEntries + m_nEntryBytes * i;
    }

private:
    std::vector<uint8_t> m_data;
    size_t m_nEntries = 0;
    size_t m_nEntryBytes = 0;
    uint32_t m_nCount = 0;
};

struct CTables {
    CTable stts, stsc, stco;
    CBox stsz; // or stz2, read by ReadSizes
    bool bStsz = false, b64 = false, bCtts = false;
};

bool Cancelled(CCancelCheck* pCancel, uint32_t i) {
    return i % kPollEntries == 0 && pCancel && pCancel->Cancelled();
}

bool ReadSampleTables(CByteSource& source, const CBox& stbl, CReferenceTrack* pTrack,
                      CTables* pTables, CCancelCheck* pCancel) {
    CBoxWalk walk(source, stbl);
    CBox box;
    bool bStsd = false;
    for (unsigned n = 0; n < kMaxChildren && walk.Next(&box); ++n) {
        switch (box.nType) {
        case FourCC("stsd"):
            bStsd = ReadSampleEntry(source, box, &pTrack->entry) &&
                    ReadWhole(source, box, &pTrack->stsd);
            break;
        case FourCC("stts"):
            if (!pTables->stts.Open(source, box, 4, 64, pCancel))
                return false;
            break;
        case FourCC("stsz"):
        case FourCC("stz2"):
            pTables->stsz = box;
            pTables->bStsz = true;
            break;
        case FourCC("stsc"):
            if (!pTables->stsc.Open(source, box, 4, 96, pCancel))
                return false;
            break;
        case FourCC("stco"):
        case FourCC("co64"):
            pTables->b64 = box.nType == FourCC("co64");
            if (!pTables->stco.Open(source, box, 4, pTables->b64 ? 64 : 32, pCancel))
                return false;
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

// Sample sizes: the largest, the total (which the file must be able to hold), whether they
// are all one, and for a track of another kind whose sizes vary, the commonest.
bool ReadSizes(CByteSource& source, const CBox& box, CReferenceTrack* pTrack,
               CCancelCheck* pCancel) {
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
        // No table: the count costs the file nothing, so the file must hold what it says.
        pTrack->nSamples = ReadBE32(head + 8);
        pTrack->nFixedSampleSize = nFixed;
        pTrack->nMaxSampleSize = nFixed;
        pTrack->nTotalSampleBytes = uint64_t(pTrack->nSamples) * nFixed;
        pTrack->leadSizes.assign(std::min(pTrack->nSamples, kLeadSamples), nFixed);
        return pTrack->nTotalSampleBytes <= source.Size();
    }
    CTable stsz;
    if (!stsz.Open(source, box, 8, static_cast<size_t>(nBits), pCancel))
        return false;
    const uint32_t nCount = stsz.Count();
    pTrack->nSamples = nCount;
    const uint8_t* p = stsz.Entry(0);
    auto size = [&](uint32_t i) -> uint32_t {
        switch (nBits) {
        case 4:
            return (i & 1) ? (p[i / 2] & 0x0F) : (p[i / 2] >> 4);
        case 8:
            return p[i];
        case 16:
            return ReadBE16(p + 2 * size_t(i));
        default:
            return ReadBE32(p + 4 * size_t(i));
        }
    };
    bool bOne = true;
    for (uint32_t i = 0; i < nCount; ++i) {
        if (Cancelled(pCancel, i))
            return false;
        const uint32_t nSize = size(i);
        pTrack->nMaxSampleSize = std::max(pTrack->nMaxSampleSize, nSize);
        pTrack->nTotalSampleBytes += nSize;
        bOne = bOne && nSize == size(0);
    }
    if (pTrack->nTotalSampleBytes > source.Size())
        return false;
    for (uint32_t i = 0; i < nCount && i < kLeadSamples; ++i)
        pTrack->leadSizes.push_back(size(i));
    // Equal sizes written one by one are as fixed as stsz's sample_size.
    if (nCount != 0 && bOne) {
        pTrack->nFixedSampleSize = size(0);
        return true;
    }
    if (pTrack->entry.eCodec != ETrackCodec::Other || nCount == 0)
        return true;
    // Each size with its count, sizes rising; then the commonest first.
    std::vector<std::pair<uint32_t, uint32_t>> counts;
    if (nBits < 32) {
        std::vector<uint32_t> table(size_t(1) << nBits, 0);
        for (uint32_t i = 0; i < nCount; ++i) {
            if (Cancelled(pCancel, i))
                return false;
            ++table[size(i)];
        }
        for (size_t n = 0; n < table.size(); ++n) {
            if (table[n] != 0)
                counts.emplace_back(static_cast<uint32_t>(n), table[n]);
        }
    } else {
        // The commonest sizes of the first million samples are common enough.
        std::vector<uint32_t> sorted(std::min(nCount, kCommonSizeSamples));
        for (uint32_t i = 0; i < sorted.size(); ++i) {
            if (Cancelled(pCancel, i))
                return false;
            sorted[i] = size(i);
        }
        std::sort(sorted.begin(), sorted.end());
        for (uint32_t nSize : sorted) {
            if (counts.empty() || counts.back().first != nSize)
                counts.emplace_back(nSize, 0);
            ++counts.back().second;
        }
    }
    std::stable_sort(counts.begin(), counts.end(),
                     [](const std::pair<uint32_t, uint32_t>& a,
                        const std::pair<uint32_t, uint32_t>& b) { return a.second > b.second; });
    for (size_t i = 0; i < counts.size() && i < kCommonSizes; ++i)
        pTrack->commonSizes.push_back(counts[i].first);
    return true;
}

// Durations: the typical one is what most samples last (the last one often differs); where
// they vary (a variable frame rate), their mean. Steady durations are those of nearly all the
// samples, a majority: one vote over the runs finds it without a table of every duration.
bool ReadDurations(const CTable& stts, CReferenceTrack* pTrack, CCancelCheck* pCancel) {
    const uint32_t nEntries = stts.Count();
    uint64_t nTimed = 0, nWeight = 0;
    uint32_t nCandidate = 0;
    std::vector<std::pair<uint32_t, uint32_t>> few; // the first runs that have samples
    for (uint32_t i = 0; i < nEntries; ++i) {
        if (Cancelled(pCancel, i))
            return false;
        const uint32_t nRun = ReadBE32(stts.Entry(i));
        const uint32_t nDelta = ReadBE32(stts.Entry(i) + 4);
        nTimed += nRun;
        pTrack->nMediaDuration += uint64_t(nRun) * nDelta;
        if (nRun == 0)
            continue;
        if (few.size() < 2)
            few.emplace_back(nDelta, nRun);
        if (nWeight == 0 || nDelta == nCandidate) {
            nCandidate = nDelta;
            nWeight += nRun;
        } else if (nWeight >= nRun) {
            nWeight -= nRun;
        } else {
            nCandidate = nDelta;
            nWeight = nRun - nWeight;
        }
    }
    uint64_t nBest = 0;
    if (nTimed <= 2) {
        // One or two samples: the longer-lived duration, the shorter one of a tie.
        std::sort(few.begin(), few.end());
        for (const auto& run : few) {
            if (run.second > nBest) {
                nBest = run.second;
                pTrack->nTypicalDuration = run.first;
            }
        }
    } else {
        for (uint32_t i = 0; i < nEntries; ++i) {
            if (Cancelled(pCancel, i))
                return false;
            if (ReadBE32(stts.Entry(i) + 4) == nCandidate)
                nBest += ReadBE32(stts.Entry(i));
        }
        pTrack->nTypicalDuration = nCandidate;
    }
    if (nTimed > 1 && nBest * 10 < (nTimed - 1) * 9) {
        pTrack->nTypicalDuration =
            static_cast<uint32_t>((pTrack->nMediaDuration + nTimed / 2) / nTimed);
        pTrack->bSteadyDurations = false;
    }
    return true;
}

// Chunks: stsc's runs of samples per chunk over the chunk offsets. The runs' first chunks
// rise and each chunk holds a sample at least, as the standard has it: each chunk is then
// looked at once.
bool ReadChunks(const CTables& tables, CReferenceTrack* pTrack, uint32_t* pChunksLeft,
                CCancelCheck* pCancel) {
    const CTable& stco = tables.stco;
    const CTable& stsc = tables.stsc;
    const uint32_t nChunks = stco.Count();
    const uint32_t nRuns = stsc.Count();
    const uint32_t nCount = pTrack->nSamples;
    uint32_t nSample = 0;
    uint32_t nPrevious = 0;
    uint32_t nLeft = std::min(kMaxTrackChunks, *pChunksLeft);
    pTrack->chunks.reserve(std::min(std::min(nChunks, nCount), nLeft));
    for (uint32_t nRun = 0; nRun < nRuns && nSample < nCount && nLeft != 0; ++nRun) {
        const uint8_t* pRun = stsc.Entry(nRun);
        const uint32_t nFirst = ReadBE32(pRun);
        const uint32_t nPer = ReadBE32(pRun + 4);
        const uint32_t nLast =
            nRun + 1 < nRuns ? ReadBE32(stsc.Entry(nRun + 1)) - 1 : nChunks; // 1-based, inclusive
        if (nFirst <= nPrevious || nPer == 0 || nLast > nChunks)
            return false;
        nPrevious = nFirst;
        for (uint32_t c = nFirst; c <= nLast && nSample < nCount && nLeft != 0; ++c) {
            if (Cancelled(pCancel, c))
                return false;
            --nLeft;
            --*pChunksLeft;
            CReferenceChunk chunk;
            chunk.nOffset = tables.b64 ? ReadBE64(stco.Entry(c - 1)) : ReadBE32(stco.Entry(c - 1));
            chunk.nFirstSample = nSample;
            chunk.nSamples = std::min(nPer, nCount - nSample);
            nSample += chunk.nSamples;
            pTrack->chunks.push_back(chunk);
        }
    }
    return true;
}

// The first samples of a track of another kind whose sizes vary, as the chunks place them: what
// they are made of tells how to find its samples in a recording.
bool ReadFirstSamples(CByteSource& source, const CBox& box, CReferenceTrack* pTrack) {
    if (pTrack->entry.eCodec != ETrackCodec::Other || pTrack->nFixedSampleSize != 0 ||
        pTrack->chunks.empty())
        return true;
    // stsz's head and its first entries; stz2's small fields are not worth it.
    uint8_t head[12 + 4 * kFirstSamples];
    if (box.nType != FourCC("stsz") || box.PayloadSize() < 12)
        return true;
    const uint32_t nSizes = static_cast<uint32_t>(
        std::min<uint64_t>({(box.PayloadSize() - 12) / 4, pTrack->nSamples, kFirstSamples}));
    if (!source.ReadAt(box.PayloadOffset(), head, 12 + 4 * size_t(nSizes)))
        return true;
    for (const CReferenceChunk& chunk : pTrack->chunks) {
        uint64_t nAt = chunk.nOffset;
        for (uint32_t i = chunk.nFirstSample; i < chunk.nFirstSample + chunk.nSamples; ++i) {
            if (i >= nSizes)
                return true;
            const uint32_t nSize = ReadBE32(head + 12 + 4 * size_t(i));
            if (nSize > kFirstSampleBytes || nAt > source.Size() || nSize > source.Size() - nAt)
                return true;
            std::vector<uint8_t> sample(nSize);
            if (nSize != 0 && !source.ReadAt(nAt, sample.data(), nSize))
                return true;
            pTrack->firstSamples.push_back(std::move(sample));
            nAt += nSize;
        }
    }
    return true;
}

// When each chunk's first sample is decoded: the runs of durations walked beside the chunks,
// which come in the order of their samples.
void TimeChunks(const CTable& stts, CReferenceTrack* pTrack) {
    uint32_t nRun = 0;
    uint64_t nRunFirst = 0, nRunTime = 0;
    for (CReferenceChunk& chunk : pTrack->chunks) {
        while (nRun < stts.Count() &&
               chunk.nFirstSample >= nRunFirst + ReadBE32(stts.Entry(nRun))) {
            nRunFirst += ReadBE32(stts.Entry(nRun));
            nRunTime += uint64_t(ReadBE32(stts.Entry(nRun))) * ReadBE32(stts.Entry(nRun) + 4);
            ++nRun;
        }
        const uint64_t nDelta = nRun < stts.Count() ? ReadBE32(stts.Entry(nRun) + 4) : 0;
        chunk.nTime = nRunTime + (chunk.nFirstSample - nRunFirst) * nDelta;
        // Its last sample, in this run or a later one.
        uint32_t nLastRun = nRun;
        uint64_t nLastFirst = nRunFirst, nLastRunTime = nRunTime;
        const uint64_t nLast = uint64_t(chunk.nFirstSample) + chunk.nSamples - 1;
        while (nLastRun < stts.Count() && nLast >= nLastFirst + ReadBE32(stts.Entry(nLastRun))) {
            nLastFirst += ReadBE32(stts.Entry(nLastRun));
            nLastRunTime +=
                uint64_t(ReadBE32(stts.Entry(nLastRun))) * ReadBE32(stts.Entry(nLastRun) + 4);
            ++nLastRun;
        }
        const uint64_t nLastDelta =
            nLastRun < stts.Count() ? ReadBE32(stts.Entry(nLastRun) + 4) : 0;
        chunk.nLastTime = nLastRunTime + (nLast - nLastFirst) * nLastDelta;
    }
}

bool BuildTables(CByteSource& source, const CTables& tables, CReferenceTrack* pTrack,
                 uint32_t* pChunksLeft, CCancelCheck* pCancel) {
    if (!tables.bStsz || !tables.stts.IsOpen() || !tables.stco.IsOpen() || !tables.stsc.IsOpen())
        return false;
    if (!ReadSizes(source, tables.stsz, pTrack, pCancel) ||
        !ReadDurations(tables.stts, pTrack, pCancel) ||
        !ReadChunks(tables, pTrack, pChunksLeft, pCancel) ||
        !ReadFirstSamples(source, tables.stsz, pTrack))
        return false;
    TimeChunks(tables.stts, pTrack);
    pTrack->bCompositionOffsets = tables.bCtts;
    return true;
}

bool ReadEdits(CByteSource& source, const CBox& edts, CReferenceTrack* pTrack) {
    CBox elst;
    uint8_t nVersion = 0;
    if (!FindChildBounded(source, edts, FourCC("elst"), &elst) || elst.PayloadSize() < 1 ||
        !source.ReadAt(elst.PayloadOffset(), &nVersion, 1))
        return false;
    const bool bWide = nVersion == 1;
    CTable table;
    if (!table.Open(source, elst, 4, bWide ? 160 : 96, nullptr) || table.Count() > 1000)
        return false;
    for (uint32_t i = 0; i < table.Count(); ++i) {
        const uint8_t* p = table.Entry(i);
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

bool ReadTrack(CByteSource& source, const CBox& trak, CReferenceTrack* pTrack,
               uint32_t* pChunksLeft, CCancelCheck* pCancel) {
    CBox box, mdia;
    std::vector<uint8_t> data;
    if (!FindChildBounded(source, trak, FourCC("tkhd"), &box) || !ReadPayload(source, box, &data))
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

    if (FindChildBounded(source, trak, FourCC("edts"), &box))
        ReadEdits(source, box, pTrack);
    if (FindChildBounded(source, trak, FourCC("tref"), &box) &&
        ReadWhole(source, box, &pTrack->tref)) {
        CBoxWalk refs(source, box);
        CBox ref;
        for (unsigned n = 0; n < kMaxChildren && refs.Next(&ref); ++n) {
            std::vector<uint8_t> ids;
            if (ReadPayload(source, ref, &ids)) {
                for (size_t i = 0; i + 4 <= ids.size(); i += 4)
                    pTrack->trefIds.push_back(ReadBE32(ids.data() + i));
            }
        }
    }
    if (FindChildBounded(source, trak, FourCC("udta"), &box))
        ReadWhole(source, box, &pTrack->udta);

    if (!FindChildBounded(source, trak, FourCC("mdia"), &mdia))
        return false;
    if (!FindChildBounded(source, mdia, FourCC("mdhd"), &box) || !ReadPayload(source, box, &data) ||
        data.size() < 24)
        return false;
    const bool bWideMdhd = data[0] == 1;
    if (bWideMdhd && data.size() < 36)
        return false;
    pTrack->nTimescale = ReadBE32(data.data() + (bWideMdhd ? 20 : 12));
    pTrack->nLanguage = ReadBE16(data.data() + (bWideMdhd ? 32 : 20));
    if (!FindChildBounded(source, mdia, FourCC("hdlr"), &box) ||
        !ReadWhole(source, box, &pTrack->hdlr) || pTrack->hdlr.size() < 20)
        return false;
    pTrack->nHandler = ReadBE32(pTrack->hdlr.data() + 16);

    CBox minf, stbl;
    if (!FindChildBounded(source, mdia, FourCC("minf"), &minf))
        return false;
    CBoxWalk children(source, minf);
    bool bStbl = false;
    for (unsigned n = 0; n < kMaxChildren && children.Next(&box); ++n) {
        if (box.nType == FourCC("stbl")) {
            stbl = box;
            bStbl = true;
        } else if (ReadWhole(source, box, &data)) {
            pTrack->mediaInfoHeaders.insert(pTrack->mediaInfoHeaders.end(), data.begin(),
                                            data.end());
        }
    }
    CTables tables;
    return bStbl && pTrack->nTimescale != 0 &&
           ReadSampleTables(source, stbl, pTrack, &tables, pCancel) &&
           BuildTables(source, tables, pTrack, pChunksLeft, pCancel);
}

// Keeps what describes the device (make, model, encoder) and drops what describes the one
// recording (its date and place).
std::vector<uint8_t> FilterUserData(CByteSource& source, const CBox& udta) {
    std::vector<uint8_t> kept, data;
    CBoxWalk walk(source, udta);
    CBox box;
    for (unsigned n = 0; n < kMaxChildren && walk.Next(&box); ++n) {
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
                        CRebuildResult::EProblem* pProblem, CCancelCheck* pCancel) {
    CReferenceMovie movie;
    CBoxWalk top(source, 0, source.Size());
    CBox box, moov;
    bool bMoov = false;
    for (uint32_t n = 1; (!bMoov || movie.ftyp.empty()) && top.Next(&box); ++n) {
        if (Cancelled(pCancel, n)) {
            *pProblem = CRebuildResult::EProblem::Cancelled;
            return false;
        }
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
    bool bFragmented = false, bMvhd = false, bTooMany = false;
    unsigned nChildren = 0, nTracks = 0;
    uint32_t nChunksLeft = kMaxReferenceChunks;
    while (children.Next(&box)) {
        if (++nChildren > kMaxChildren || (pCancel && pCancel->Cancelled())) {
            bTooMany = true;
            break;
        }
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
            // Each track would cost the walk and its interleaving more than its bytes.
            if (++nTracks > kMaxReferenceTracks) {
                *pProblem = CRebuildResult::EProblem::ReferenceWithTooManyTracks;
                return false;
            }
            CReferenceTrack track;
            if (ReadTrack(source, box, &track, &nChunksLeft, pCancel))
                movie.tracks.push_back(std::move(track));
        } else if (box.nType == FourCC("mvex")) {
            bFragmented = true;
        } else if (box.nType == FourCC("udta")) {
            movie.udta = FilterUserData(source, box);
        }
    }
    if (pCancel && pCancel->Cancelled()) {
        *pProblem = CRebuildResult::EProblem::Cancelled;
        return false;
    }
    if (!bMvhd || bTooMany || children.Status() == EBoxHeader::ReadError) {
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
