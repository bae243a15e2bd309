#include "rebuild/ReferenceMovie.h"

#include "rebuild/SampleRecords.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace {

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
// Motion JPEG pictures are larger: read up to this each, and this in all.
const uint32_t kFirstPictureBytes = 4 << 20;
const uint64_t kFirstPicturesBytes = 16 << 20;

// Boxes the copy takes over as they are (ftyp, stsd, hdlr, udta...): a few kilobytes, a
// thumbnail at most.
const uint64_t kMaxCopiedBox = 16u << 20;

struct CTables {
    CTable stts, stsc, stco, ctts;
    CBox stsz; // or stz2, read by ReadSizes
    bool b64 = false, bCtts = false;
};

bool Cancelled(CCancelPoll* pCancel, uint32_t i) {
    return i % kPollEntries == 0 && pCancel && pCancel->Cancelled();
}

// The tables the movie reader found, opened; the sample entry read and kept for the copy.
bool ReadSampleTables(CByteSource& source, const CMovieTrack& found, CReferenceTrack* pTrack,
                      CTables* pTables, CCancelPoll* pCancel) {
    if (!found.stsd.IsFound() || !ReadSampleEntry(source, found.stsd, &pTrack->entry) ||
        !ReadBox(source, found.stsd, kMaxCopiedBox, &pTrack->stsd))
        return false;
    pTables->b64 = found.stco.nType == FourCC("co64");
    if ((found.stts.IsFound() && !pTables->stts.Open(source, found.stts, 4, 64, pCancel)) ||
        (found.stsc.IsFound() && !pTables->stsc.Open(source, found.stsc, 4, 96, pCancel)) ||
        (found.stco.IsFound() &&
         !pTables->stco.Open(source, found.stco, 4, pTables->b64 ? 64 : 32, pCancel)))
        return false;
    pTables->stsz = found.stsz;
    pTables->bCtts = found.ctts.IsFound();
    // Without its offsets the pictures' order still tells their times.
    if (pTables->bCtts)
        pTables->ctts.Open(source, found.ctts, 4, 64, pCancel);
    return true;
}

// Sample sizes: the largest, the total (which the file must be able to hold), whether they
// are all one, and for a track of another kind whose sizes vary, the commonest.
bool ReadSizes(CByteSource& source, const CBox& box, CReferenceTrack* pTrack,
               CCancelPoll* pCancel) {
    CSampleSizeTable sizes;
    if (!sizes.Open(source, box, pCancel))
        return false;
    const uint32_t nFixed = sizes.Fixed();
    if (nFixed != 0) {
        // No table: the count costs the file nothing, so the file must hold what it says.
        pTrack->nSamples = sizes.Count();
        pTrack->nFixedSampleSize = nFixed;
        pTrack->nMaxSampleSize = nFixed;
        pTrack->nTotalSampleBytes = uint64_t(pTrack->nSamples) * nFixed;
        pTrack->leadSizes.assign(std::min(pTrack->nSamples, kLeadSamples), nFixed);
        return pTrack->nTotalSampleBytes <= source.Size();
    }
    const uint32_t nCount = sizes.Count();
    pTrack->nSamples = nCount;
    const int nBits = sizes.EntryBits();
    bool bOne = true;
    for (uint32_t i = 0; i < nCount; ++i) {
        if (Cancelled(pCancel, i))
            return false;
        const uint32_t nSize = sizes.Size(i);
        pTrack->nMaxSampleSize = std::max(pTrack->nMaxSampleSize, nSize);
        pTrack->nTotalSampleBytes += nSize;
        bOne = bOne && nSize == sizes.Size(0);
    }
    if (pTrack->nTotalSampleBytes > source.Size())
        return false;
    for (uint32_t i = 0; i < nCount && i < kLeadSamples; ++i)
        pTrack->leadSizes.push_back(sizes.Size(i));
    // Equal sizes written one by one are as fixed as stsz's sample_size.
    if (nCount != 0 && bOne) {
        pTrack->nFixedSampleSize = sizes.Size(0);
        return true;
    }
    if (pTrack->entry.eCodec != ECodec::Other || nCount == 0)
        return true;
    // Each size with its count, sizes rising; then the commonest first.
    std::vector<std::pair<uint32_t, uint32_t>> counts;
    if (nBits < 32) {
        std::vector<uint32_t> table(size_t(1) << nBits, 0);
        for (uint32_t i = 0; i < nCount; ++i) {
            if (Cancelled(pCancel, i))
                return false;
            ++table[sizes.Size(i)];
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
            sorted[i] = sizes.Size(i);
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
bool ReadDurations(const CTable& stts, CReferenceTrack* pTrack, CCancelPoll* pCancel) {
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
                CCancelPoll* pCancel) {
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

// The first samples of a track of another kind (of one sample size too: those may be records of
// the others'), or of Motion JPEG or AMR, as the chunks place them: what they are made of tells
// how to find its samples in a recording. Their sizes are the lead sizes ReadSizes kept.
bool ReadFirstSamples(CByteSource& source, CReferenceTrack* pTrack) {
    const ECodec eCodec = pTrack->entry.eCodec;
    const bool bPictures = eCodec == ECodec::Mjpeg;
    if ((eCodec != ECodec::Other && !bPictures && eCodec != ECodec::AmrNb &&
         eCodec != ECodec::AmrWb) ||
        pTrack->chunks.empty())
        return true;
    static_assert(kFirstSamples <= kLeadSamples, "the lead sizes hold the first samples'");
    const size_t nSizes = std::min<size_t>(pTrack->leadSizes.size(), kFirstSamples);
    const uint32_t nMaxBytes = bPictures ? kFirstPictureBytes : kFirstSampleBytes;
    uint64_t nRead = 0;
    for (const CReferenceChunk& chunk : pTrack->chunks) {
        uint64_t nAt = chunk.nOffset;
        for (uint32_t i = chunk.nFirstSample; i < chunk.nFirstSample + chunk.nSamples; ++i) {
            if (i >= nSizes)
                return true;
            const uint32_t nSize = pTrack->leadSizes[i];
            nRead += nSize;
            if (nSize > nMaxBytes || (bPictures && nRead > kFirstPicturesBytes) ||
                nAt > source.Size() || nSize > source.Size() - nAt)
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

// The first samples' durations, and where the track has composition offsets, how its recorder
// shows pictures out of decoding order. Both tables' runs are walked as far as the samples go.
bool ReadLeadTimes(const CTables& tables, CReferenceTrack* pTrack, CCancelPoll* pCancel) {
    const uint32_t nWant = std::min(pTrack->nSamples, kPatternSamples);
    for (uint32_t i = 0; i < tables.stts.Count() && pTrack->leadDurations.size() < nWant; ++i) {
        if (Cancelled(pCancel, i))
            return false;
        const uint32_t nRun = ReadBE32(tables.stts.Entry(i));
        const uint32_t nDelta = ReadBE32(tables.stts.Entry(i) + 4);
        const size_t nTake = std::min<size_t>(nRun, nWant - pTrack->leadDurations.size());
        pTrack->leadDurations.insert(pTrack->leadDurations.end(), nTake, nDelta);
    }
    if (!tables.ctts.IsOpen())
        return true;
    std::vector<int32_t> offsets;
    const size_t nTimed = pTrack->leadDurations.size();
    for (uint32_t i = 0; i < tables.ctts.Count() && offsets.size() < nTimed; ++i) {
        if (Cancelled(pCancel, i))
            return false;
        const uint32_t nRun = ReadBE32(tables.ctts.Entry(i));
        // Signed whatever the version: recorders write negative offsets in version 0 too.
        const int32_t nOffset = static_cast<int32_t>(ReadBE32(tables.ctts.Entry(i) + 4));
        offsets.insert(offsets.end(), std::min<size_t>(nRun, nTimed - offsets.size()), nOffset);
    }
    pTrack->composition = LearnComposition(pTrack->leadDurations, offsets,
                                           nTimed == pTrack->nSamples && offsets.size() == nTimed);
    // Decode times in bursts: what a picture lasts is the time between pictures shown, which
    // is steady.
    if (pTrack->composition.eKind == CCompositionPattern::EKind::Bunched) {
        pTrack->nTypicalDuration = pTrack->composition.nFrame;
        pTrack->bSteadyDurations = true;
    }
    return true;
}

bool BuildTables(CByteSource& source, const CTables& tables, CReferenceTrack* pTrack,
                 uint32_t* pChunksLeft, CCancelPoll* pCancel) {
    if (!tables.stsz.IsFound() || !tables.stts.IsOpen() || !tables.stco.IsOpen() ||
        !tables.stsc.IsOpen())
        return false;
    if (!ReadSizes(source, tables.stsz, pTrack, pCancel) ||
        !ReadDurations(tables.stts, pTrack, pCancel) || !ReadLeadTimes(tables, pTrack, pCancel) ||
        !ReadChunks(tables, pTrack, pChunksLeft, pCancel) || !ReadFirstSamples(source, pTrack))
        return false;
    TimeChunks(tables.stts, pTrack);
    pTrack->bCompositionOffsets = tables.bCtts;
    return true;
}

// Key frames at samples 1, 1 + n, 1 + 2n... to the last, and nowhere else.
void ReadSyncPeriod(CByteSource& source, const CBox& stbl, CReferenceTrack* pTrack,
                    CCancelPoll* pCancel) {
    CBox stss;
    CTable table;
    if (!FindChild(source, stbl, FourCC("stss"), &stss) ||
        !table.Open(source, stss, 4, 32, pCancel) || table.Count() < 2 ||
        ReadBE32(table.Entry(0)) != 1)
        return;
    const uint32_t nPeriod = ReadBE32(table.Entry(1)) - 1;
    if (nPeriod < 2 || table.Count() != (uint64_t(pTrack->nSamples) + nPeriod - 1) / nPeriod)
        return;
    for (uint32_t i = 0; i < table.Count(); ++i) {
        if (Cancelled(pCancel, i) || ReadBE32(table.Entry(i)) != 1 + uint64_t(i) * nPeriod)
            return;
    }
    pTrack->nSyncPeriod = nPeriod;
}

bool ReadEdits(CByteSource& source, const CBox& edts, CReferenceTrack* pTrack) {
    CBox elst;
    uint8_t nVersion = 0;
    if (!FindChild(source, edts, FourCC("elst"), &elst) || elst.PayloadSize() < 1 ||
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

bool ReadTrack(CByteSource& source, const CMovieTrack& found, CReferenceTrack* pTrack,
               uint32_t* pChunksLeft, CCancelPoll* pCancel) {
    if (!found.bHeader || !found.bMediaHeader || found.nTimescale == 0)
        return false;
    static_cast<CTrackHeader&>(*pTrack) = found;
    pTrack->nTrackId = found.nTrackId;
    if (found.edts.IsFound())
        ReadEdits(source, found.edts, pTrack);
    if (found.tref.IsFound() && ReadBox(source, found.tref, kMaxCopiedBox, &pTrack->tref)) {
        CBoxWalk refs(source, found.tref);
        CBox ref;
        std::vector<uint8_t> ids;
        for (unsigned n = 0; n < kMaxChildBoxes && refs.Next(&ref); ++n) {
            if (ReadPayload(source, ref, kMaxTableBox, &ids)) {
                for (size_t i = 0; i + 4 <= ids.size(); i += 4)
                    pTrack->trefIds.push_back(ReadBE32(ids.data() + i));
            }
        }
    }
    if (found.udta.IsFound())
        ReadBox(source, found.udta, kMaxCopiedBox, &pTrack->udta);

    pTrack->nTimescale = found.nTimescale;
    pTrack->nLanguage = found.nLanguage;
    pTrack->nHandler = found.nHandler;
    if (!found.hdlr.IsFound() || !ReadBox(source, found.hdlr, kMaxCopiedBox, &pTrack->hdlr) ||
        pTrack->hdlr.size() < 20 || !found.stbl.IsFound())
        return false;
    AppendChildren(source, found.minf, {FourCC("stbl")}, kMaxCopiedBox, &pTrack->mediaInfoHeaders);
    CTables tables;
    if (!ReadSampleTables(source, found, pTrack, &tables, pCancel) ||
        !BuildTables(source, tables, pTrack, pChunksLeft, pCancel))
        return false;
    ReadSyncPeriod(source, found.stbl, pTrack, pCancel);
    return true;
}

} // namespace

bool ReadReferenceMovie(CByteSource& source, CReferenceMovie* pMovie,
                        CRebuildResult::EProblem* pProblem, CCancelPoll* pCancel) {
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
            ReadBox(source, box, kMaxCopiedBox, &movie.ftyp);
        if (box.nType == FourCC("moov") && !bMoov) {
            moov = box;
            bMoov = true;
        }
    }
    if (!bMoov) {
        *pProblem = CRebuildResult::EProblem::ReferenceWithoutIndex;
        return false;
    }
    return ReadReferenceIndex(source, moov, std::move(movie.ftyp), pMovie, pProblem, pCancel);
}

bool ReadReferenceIndex(CByteSource& source, const CBox& moov, std::vector<uint8_t> ftyp,
                        CReferenceMovie* pMovie, CRebuildResult::EProblem* pProblem,
                        CCancelPoll* pCancel) {
    CReferenceMovie movie;
    movie.ftyp = std::move(ftyp);
    CMovie index;
    ReadMovie(source, moov, &index, kMaxReferenceTracks, false, pCancel);
    if (pCancel && pCancel->Cancelled()) {
        *pProblem = CRebuildResult::EProblem::Cancelled;
        return false;
    }
    // Each track would cost the walk and its interleaving more than its bytes.
    if (index.nTrackBoxes > kMaxReferenceTracks) {
        *pProblem = CRebuildResult::EProblem::ReferenceWithTooManyTracks;
        return false;
    }
    if (!index.bWholeHeader || index.nTimescale == 0 || index.bCutShort) {
        *pProblem = CRebuildResult::EProblem::ReferenceIndexUnreadable;
        return false;
    }
    movie.nTimescale = index.nTimescale;
    movie.nRate = index.nRate;
    movie.nVolume = index.nVolume;
    std::memcpy(movie.matrix, index.matrix, 36);
    // What describes the device (make, model, encoder) stays; what describes the one recording
    // (its date and place) goes.
    if (index.udta.IsFound())
        AppendChildren(source, index.udta,
                       {FourCC("\xA9xyz"), FourCC("loci"),
                        FourCC("\xA9"
                               "day")},
                       kMaxCopiedBox, &movie.udta);
    uint32_t nChunksLeft = kMaxReferenceChunks;
    for (const CMovieTrack& found : index.tracks) {
        CReferenceTrack track;
        if (ReadTrack(source, found, &track, &nChunksLeft, pCancel))
            movie.tracks.push_back(std::move(track));
    }
    LearnRecordKinds(source, &movie, pCancel);
    if (pCancel && pCancel->Cancelled()) {
        *pProblem = CRebuildResult::EProblem::Cancelled;
        return false;
    }
    bool bSamples = false;
    for (const CReferenceTrack& track : movie.tracks)
        bSamples = bSamples || track.nSamples != 0;
    if (!bSamples) {
        *pProblem = index.bFragmented ? CRebuildResult::EProblem::ReferenceFragmented
                                      : CRebuildResult::EProblem::ReferenceWithoutSamples;
        return false;
    }
    if (movie.ftyp.empty()) {
        // Old QuickTime files have none: the copy says it is one.
        const uint8_t kFtyp[] = {0,   0,   0, 20, 'f', 't', 'y', 'p', 'q', 't',
                                 ' ', ' ', 0, 0,  2,   0,   'q', 't', ' ', ' '};
        movie.ftyp.assign(kFtyp, kFtyp + sizeof kFtyp);
    }
    *pMovie = std::move(movie);
    return true;
}
