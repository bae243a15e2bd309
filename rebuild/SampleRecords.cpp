#include "rebuild/SampleRecords.h"

#include "codec/GoProRecord.h"

#include <algorithm>
#include <map>
#include <utility>

namespace {

// Records of a track read to learn what follows each kind: enough to meet every kind a camera
// writes (its metadata comes once a second), one short read each.
const uint32_t kLearntRecords = 4096;
const size_t kRecordRead = kGoProRecordSize + kGoProMaxSlots * kGoProSlotSize;
const uint32_t kPollRecords = 256;

struct CChunkStart {
    uint64_t nOffset;
    size_t nTrack;
    uint32_t nFirstSample;
};

// Which track's sample follows each kind of the track's records, by its records' votes.
void LearnTrack(CByteSource& source, const std::vector<CChunkStart>& starts,
                CReferenceMovie* pMovie, size_t nTrack, CCancelPoll* pCancel) {
    const std::vector<CReferenceTrack>& tracks = pMovie->tracks;
    std::map<std::pair<uint8_t, size_t>, uint32_t> votes;
    std::vector<uint8_t> buffer(kRecordRead);
    uint32_t nRead = 0;
    for (const CReferenceChunk& chunk : tracks[nTrack].chunks) {
        uint64_t nAt = chunk.nOffset;
        for (uint32_t s = 0; s < chunk.nSamples && nRead < kLearntRecords; ++s, ++nRead) {
            if (nRead % kPollRecords == 0 && pCancel && pCancel->Cancelled())
                return;
            if (nAt >= source.Size())
                break;
            const size_t nGot =
                static_cast<size_t>(std::min<uint64_t>(kRecordRead, source.Size() - nAt));
            if (!source.ReadAt(nAt, buffer.data(), nGot))
                break;
            size_t nNeed = 0;
            if (IsGoProHeader(buffer.data(), nGot)) {
                const size_t nLength = GoProHeaderLength(buffer.data(), nGot);
                if (nLength == 0)
                    break;
                nAt += nLength;
                continue;
            }
            CGoProRecord record;
            if (ParseGoProRecord(buffer.data(), nGot, nGot < kRecordRead, &record, &nNeed) !=
                ESampleParse::Ok)
                break;
            const uint64_t nNext = nAt + record.nLength;
            const auto it = std::lower_bound(
                starts.begin(), starts.end(), nNext,
                [](const CChunkStart& start, uint64_t nOffset) { return start.nOffset < nOffset; });
            if (it != starts.end() && it->nOffset == nNext) {
                const std::vector<uint32_t>& sizes = tracks[it->nTrack].leadSizes;
                if (it->nFirstSample >= sizes.size() || sizes[it->nFirstSample] == record.nSize)
                    ++votes[std::make_pair(record.nKind, it->nTrack)];
            }
            nAt = nNext;
        }
        if (nRead >= kLearntRecords)
            break;
    }
    std::vector<CRecordKind>& kinds = pMovie->tracks[nTrack].recordKinds;
    uint32_t nBest = 0;
    for (const auto& vote : votes) {
        if (kinds.empty() || kinds.back().nKind != vote.first.first) {
            kinds.push_back(CRecordKind{vote.first.first, vote.first.second});
            nBest = vote.second;
        } else if (vote.second > nBest) {
            kinds.back().nTrack = vote.first.second;
            nBest = vote.second;
        }
    }
}

} // namespace

size_t RecordLength(const uint8_t* pData, size_t nAvail) {
    size_t nNeed = 0;
    if (IsGoProHeader(pData, nAvail)) {
        CGoProHeader header;
        return ParseGoProHeader(pData, nAvail, true, &header, &nNeed) == ESampleParse::Ok
                   ? header.nLength
                   : 0;
    }
    CGoProRecord record;
    return ParseGoProRecord(pData, nAvail, true, &record, &nNeed) == ESampleParse::Ok
               ? record.nLength
               : 0;
}

bool SamplesAreRecords(const std::vector<std::vector<uint8_t>>& samples) {
    if (samples.size() < 2)
        return false;
    bool bRecord = false;
    for (const std::vector<uint8_t>& sample : samples) {
        if (sample.empty() || RecordLength(sample.data(), sample.size()) != sample.size())
            return false;
        bRecord = bRecord || !IsGoProHeader(sample.data(), sample.size());
    }
    return bRecord;
}

void LearnRecordKinds(CByteSource& source, CReferenceMovie* pMovie, CCancelPoll* pCancel) {
    std::vector<CReferenceTrack>& tracks = pMovie->tracks;
    bool bAny = false;
    for (CReferenceTrack& track : tracks) {
        track.bRecords =
            track.entry.eCodec == ECodec::Other && SamplesAreRecords(track.firstSamples);
        bAny = bAny || track.bRecords;
    }
    if (!bAny)
        return;
    // Where every chunk of the other tracks begins, as far as the records read reach: a
    // record's sample begins one.
    uint64_t nReach = 0;
    for (const CReferenceTrack& track : tracks) {
        for (size_t c = 0; track.bRecords && c < track.chunks.size() && c < kLearntRecords; ++c)
            nReach = std::max(nReach, track.chunks[c].nOffset);
    }
    nReach += kGoProMaxHeader + kRecordRead * kLearntRecords;
    std::vector<CChunkStart> starts;
    for (size_t t = 0; t < tracks.size(); ++t) {
        if (tracks[t].bRecords)
            continue;
        for (const CReferenceChunk& chunk : tracks[t].chunks) {
            if (chunk.nOffset <= nReach)
                starts.push_back(CChunkStart{chunk.nOffset, t, chunk.nFirstSample});
        }
    }
    std::sort(starts.begin(), starts.end(),
              [](const CChunkStart& a, const CChunkStart& b) { return a.nOffset < b.nOffset; });
    for (size_t t = 0; t < tracks.size(); ++t) {
        if (tracks[t].bRecords)
            LearnTrack(source, starts, pMovie, t, pCancel);
    }
}
