#include "rebuild/WalkEnds.h"

#include <algorithm>

namespace {

const size_t kNone = static_cast<size_t>(-1);
// Known samples in a row that show a sample ended where they begin: a single sound frame is
// too easily found by chance.
const int kFollowDepth = 3;
// Chunks of fixed-size samples or PCM the walk looks across for a known sample.
const int kMaxHops = 8;
// Sound frames of other tracks that must fill the end of an H.263 picture, for the picture to
// end where they begin; fewer where the interleaving has the picture's chunk end there.
const int kMinTile = 3;
const int kMinTileAtChunkEnd = 2;
// An H.263 picture is longer than its header.
const uint64_t kMinPicture = 8;
// AMR frames that must follow one of a track that was not predicted.
const int kSpeechDepth = 2;
// Positions looked at between two looks at the clock.
const uint64_t kPollPositions = 4096;
// How far before an H.263 picture's next start code sound is looked for at most.
const uint64_t kMaxSplitReach = 1u << 20;

} // namespace

CWalkEnds::CWalkEnds(CWalkReader& reader, const CMediaRange& range,
                     std::vector<std::unique_ptr<CWalkTrack>>& tracks, CInterleaveModel& model)
    : m_reader(reader), m_range(range), m_tracks(tracks), m_model(model) {
    // Sound that may lie before an H.263 picture's next start code: a chunk of it, twice over.
    bool bH263 = false;
    for (const std::unique_ptr<CWalkTrack>& pTrack : m_tracks) {
        bH263 = bH263 || (pTrack->Kind() == EWalkKind::Picture && !pTrack->AllSync());
        if (pTrack->Kind() == EWalkKind::Audio || pTrack->Kind() == EWalkKind::Speech)
            m_nSplitReach = std::max<uint64_t>(m_nSplitReach, 2 * pTrack->MaxChunkBytes() + 64);
    }
    m_nSplitReach = bH263 ? std::min(m_nSplitReach, kMaxSplitReach) : 0;
}

bool CWalkEnds::FollowsAt(uint64_t nAt, size_t nAhead, int nHops, bool* pYes) {
    *pYes = false;
    for (int nHop = 0;; ++nHop) {
        // The data's end, just there: a chunk predicted that it would cut off shows nothing.
        if (nAt >= m_range.nEnd) {
            *pYes = nAt == m_range.nEnd;
            return true;
        }
        bool bVerified = false;
        if (!m_reader.VerifiedAt(nAt, kFollowDepth, &bVerified, false) || !PictureCutAt(nAt, pYes))
            return false;
        bVerified = bVerified || *pYes;
        if (bVerified || nHop == nHops) {
            *pYes = bVerified;
            return true;
        }
        // A walk that lost the reference's pattern (past damage) may still be before a chunk of
        // PCM of a size the reference often has.
        if (nHop == 0 && !PcmChunkFollows(nAt, pYes))
            return false;
        if (*pYes)
            return true;
        const CInterleaveModel::CPrediction next = m_model.Following(nAhead + size_t(nHop));
        if (next.nTrack < 0)
            return true;
        const CWalkTrack& track = *m_tracks[static_cast<size_t>(next.nTrack)];
        const uint64_t nBytes = track.Kind() == EWalkKind::Pcm     ? track.SampleBytes()
                                : track.Kind() == EWalkKind::Fixed ? track.MaxSampleBytes()
                                                                   : 0;
        if (nBytes == 0 || next.nSamples == 0)
            return true;
        nAt += nBytes * next.nSamples;
    }
}

bool CWalkEnds::PictureCutAt(uint64_t nAt, bool* pYes) {
    *pYes = false;
    CTrackTry attempt;
    for (size_t t = 0; t < m_tracks.size() && !*pYes; ++t) {
        if (!m_tracks[t]->Pictures())
            continue;
        if (!m_reader.TryTrack(t, nAt, &attempt, false))
            return false;
        m_tracks[t]->Drop(attempt);
        *pYes = attempt.eResult == ESampleParse::Truncated;
    }
    return true;
}

bool CWalkEnds::PcmChunkFollows(uint64_t nAt, bool* pYes) {
    *pYes = false;
    for (const std::unique_ptr<CWalkTrack>& pTrack : m_tracks) {
        if (pTrack->Kind() != EWalkKind::Pcm)
            continue;
        for (uint32_t nCount : pTrack->CommonChunks()) {
            const uint64_t nBytes = uint64_t(nCount) * pTrack->SampleBytes();
            if (nBytes > m_range.nEnd - nAt)
                continue;
            if (!m_reader.VerifiedAt(nAt + nBytes, kFollowDepth, pYes, false))
                return false;
            if (*pYes)
                return true;
        }
    }
    return true;
}

bool CWalkEnds::SoundRunsTo(uint64_t nFrom, uint64_t nTo, size_t nOwn) {
    std::vector<CSoundRun>& runs = m_soundRuns;
    runs.assign(static_cast<size_t>(nTo - nFrom) + 1, CSoundRun());
    runs.back().nCount = 0;
    CTrackTry attempt;
    for (uint64_t nAt = nTo; nAt-- > nFrom;) {
        if ((nTo - nAt) % kPollPositions == 0 && !m_reader.Poll(nAt))
            return false;
        if (!m_reader.Ensure(nAt, 16))
            return !m_reader.Failed();
        CSoundRun& run = runs[static_cast<size_t>(nAt - nFrom)];
        for (size_t t = 0; t < m_tracks.size() && run.nCount < 0; ++t) {
            CWalkTrack& track = *m_tracks[t];
            if (t == nOwn ||
                (track.Kind() != EWalkKind::Audio && track.Kind() != EWalkKind::Speech) ||
                !track.MayStart(m_reader.At(nAt), m_reader.Available(nAt)))
                continue;
            const uint8_t nHeader = m_reader.At(nAt)[0];
            if (!m_reader.TryTrack(t, nAt, &attempt, false))
                return false;
            // The last frame may be cut off where the data ends.
            if (attempt.eResult == ESampleParse::Truncated && nTo == m_range.nEnd) {
                run.nCount = 0;
                continue;
            }
            if (attempt.eResult != ESampleParse::Ok || attempt.nSize > nTo - nAt)
                continue;
            const CSoundRun& next = runs[static_cast<size_t>(nAt + attempt.nSize - nFrom)];
            if (next.nCount < 0)
                continue;
            // Frames of one track, and of AMR one mode, as an encoder writes them.
            run.nCount = next.nCount + 1;
            run.nTrack = t;
            run.nHeader = nHeader;
            run.bAlike = next.nCount > 0 && next.nTrack == t &&
                         (track.Kind() != EWalkKind::Speech || next.nHeader == nHeader);
        }
    }
    return true;
}

bool CWalkEnds::SettlePicture(size_t nTrack, uint64_t nAt, bool bRunEnds, CTrackTry* pTry) {
    const CPictureEnd& end = pTry->picture;
    if (end.eKind == CPictureEnd::EKind::Padded) {
        if (pTry->eResult != ESampleParse::Ok || end.nMost <= pTry->nSize)
            return true;
        // The least padding after which the data ends or known samples follow; where the
        // picture's chunk ends, the chunks the reference has next may lie between.
        const uint64_t nStep = std::max<uint64_t>(1, end.nStep);
        for (uint64_t nSize = pTry->nSize; nSize <= end.nMost; nSize += nStep) {
            if (nSize >= m_range.nEnd - nAt) {
                pTry->nSize = static_cast<size_t>(m_range.nEnd - nAt);
                return true;
            }
            bool bYes = false;
            if (!m_reader.Poll(nAt + nSize) || !FollowsAt(nAt + nSize, 1, kMaxHops, &bYes))
                return false;
            if (bYes) {
                pTry->nSize = static_cast<size_t>(nSize);
                return true;
            }
        }
        return true;
    }
    // H.263: up to the next start code, or the data's end; unless sound of other tracks fills
    // the picture's last bytes.
    const bool bCut = pTry->eResult == ESampleParse::Truncated;
    if ((pTry->eResult != ESampleParse::Ok && !bCut) || pTry->nSize <= kMinPicture)
        return true;
    const uint64_t nTo = nAt + pTry->nSize;
    // A chunk of PCM between this picture and the next, as long as the reference's chunk there:
    // nothing in either marks where the picture ends, the pattern alone says it.
    const CInterleaveModel::CPrediction next =
        bRunEnds && !bCut ? m_model.Following(1) : CInterleaveModel::CPrediction();
    if (next.nTrack >= 0 && m_tracks[static_cast<size_t>(next.nTrack)]->Kind() == EWalkKind::Pcm) {
        const uint64_t nBytes =
            uint64_t(next.nSamples) * m_tracks[static_cast<size_t>(next.nTrack)]->SampleBytes();
        if (nBytes != 0 && nBytes < pTry->nSize - kMinPicture)
            pTry->nSize -= static_cast<size_t>(nBytes);
        return true;
    }
    if (m_nSplitReach == 0)
        return true;
    const int nMin = bRunEnds ? kMinTileAtChunkEnd : kMinTile;
    const uint64_t nFrom =
        nAt + std::max<uint64_t>(kMinPicture,
                                 pTry->nSize > m_nSplitReach ? pTry->nSize - m_nSplitReach : 0);
    if (!SoundRunsTo(nFrom, nTo, nTrack))
        return false;
    // A frame's header byte can stand in the picture's last bytes by chance, just before the
    // frames that follow it, and every run of frames that ends there fills them too: of the
    // splits, the first whose frames begin alike (an encoder's mode), else the first.
    size_t nBest = 0;
    int nBestRank = 0;
    for (size_t i = 0; i + 1 < m_soundRuns.size() && nBestRank < 2; ++i) {
        const CSoundRun& run = m_soundRuns[i];
        const int nRank = run.nCount < nMin ? 0 : run.bAlike ? 2 : 1;
        if (nRank > nBestRank) {
            nBest = i;
            nBestRank = nRank;
        }
    }
    if (nBestRank != 0) {
        pTry->nSize = static_cast<size_t>(nFrom + nBest - nAt);
        pTry->eResult = ESampleParse::Ok;
    }
    return true;
}

bool CWalkEnds::FindSpeech(uint64_t nAt, size_t nPreferred, size_t* pTrack, CTrackTry* pTry,
                           bool* pCut) {
    *pTrack = kNone;
    for (int nPass = 0; nPass < 2; ++nPass) {
        for (size_t t = 0; t < m_tracks.size(); ++t) {
            if (m_tracks[t]->Kind() != EWalkKind::Speech || (t == nPreferred) != (nPass == 0))
                continue;
            if (!m_reader.TryTrack(t, nAt, pTry, false))
                return false;
            if (pTry->eResult == ESampleParse::Truncated)
                *pCut = true;
            if (pTry->eResult != ESampleParse::Ok)
                continue;
            bool bVerified = t == nPreferred;
            if (!bVerified &&
                !m_reader.VerifiedAt(nAt + pTry->nSize, kSpeechDepth, &bVerified, false))
                return false;
            if (bVerified) {
                *pTrack = t;
                return true;
            }
        }
    }
    return true;
}

bool CWalkEnds::TryPcmChunk(size_t nTrack, uint64_t nAt, uint32_t nRunLeft, bool bPredicted,
                            CTrackTry* pTry) {
    const CWalkTrack& track = *m_tracks[nTrack];
    pTry->eResult = ESampleParse::Invalid;
    std::vector<uint32_t> counts;
    if (nRunLeft != 0)
        counts.push_back(nRunLeft);
    for (uint32_t nCount : track.CommonChunks()) {
        if (std::find(counts.begin(), counts.end(), nCount) == counts.end())
            counts.push_back(nCount);
    }
    const uint64_t nLeft = m_range.nEnd - nAt;
    for (uint32_t nCount : counts) {
        const uint64_t nBytes = uint64_t(nCount) * track.SampleBytes();
        if (nBytes == 0 || nBytes > nLeft)
            continue;
        bool bYes = false;
        if (!FollowsAt(nAt + nBytes, 1, kMaxHops, &bYes))
            return false;
        if (bYes) {
            track.TryChunk(nullptr, static_cast<size_t>(nBytes), false, nCount, pTry);
            return true;
        }
    }
    // The data ends inside the chunk predicted: its whole samples, read to see they are not
    // zeros.
    if (!bPredicted || nRunLeft == 0 || uint64_t(nRunLeft) * track.SampleBytes() <= nLeft ||
        nLeft < track.SampleBytes() || !m_reader.Ensure(nAt, static_cast<size_t>(nLeft)))
        return !m_reader.Failed();
    if (m_reader.Available(nAt) >= nLeft)
        track.TryChunk(m_reader.At(nAt), static_cast<size_t>(nLeft), true, nRunLeft, pTry);
    if (pTry->eResult == ESampleParse::Truncated && pTry->nSamples == 0)
        pTry->eResult = ESampleParse::Invalid;
    return true;
}
