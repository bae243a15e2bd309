#include "rebuild/MediaWalk.h"

#include <algorithm>
#include <cstring>

namespace {

const size_t kNone = static_cast<size_t>(-1);
// Bytes read at a time; progress and cancellation are looked at after each read.
const size_t kReadBlock = 8u << 20;
// The window grows to hold a whole sample, up to this.
const size_t kMaxWindow = 80u << 20;
// How far the walk looks for the next known sample past one of a track it cannot read.
const uint64_t kMaxSkip = 16u << 20;
// How often the walk says where it is and asks whether to go on.
const std::chrono::milliseconds kPollInterval(20);
// Positions Resync tries between two looks at the clock.
const uint64_t kResyncPoll = 1024;
// Samples a track of the copy can have (stsz counts them in 32 bits).
const uint64_t kMaxTrackSamples = 0xFFFFFFFFu;

} // namespace

CMediaWalk::CMediaWalk(CByteSource& source, const CMediaRange& range,
                       std::vector<std::unique_ptr<CWalkTrack>>& tracks, CInterleaveModel& model)
    : m_source(source), m_range(range), m_tracks(tracks), m_model(model) {
    const uint64_t nSize = range.nEnd - range.nBegin;
    m_buffer.resize(static_cast<size_t>(std::min<uint64_t>(kReadBlock, nSize + 1)));
    for (const std::unique_ptr<CWalkTrack>& pTrack : m_tracks) {
        if (pTrack->Kind() == EWalkKind::Unknown) {
            m_bHasUnknown = true;
            m_nMaxSkip += 2 * pTrack->MaxChunkBytes() + 4096;
        }
    }
    m_nMaxSkip = std::min(m_nMaxSkip, kMaxSkip);
    for (const std::unique_ptr<CWalkTrack>& pTrack : m_tracks)
        m_nZeroReach = std::max<uint64_t>(m_nZeroReach, pTrack->MaxSampleBytes());
    m_nZeroReach = std::min<uint64_t>(2 * m_nZeroReach + 4096, kMaxSkip);
}

void CMediaWalk::SetLimit(uint64_t nBytes, double dSeconds) {
    m_nLimitBytes = nBytes;
    m_dLimitSeconds = dSeconds;
}

double CMediaWalk::LeadSeconds() const {
    return m_tracks.empty() ? 0 : double(m_tracks[0]->Found()) * m_tracks[0]->SampleSeconds();
}

bool CMediaWalk::Fail(EWalkStop eStop) {
    m_bError = true;
    m_eError = eStop;
    return false;
}

bool CMediaWalk::Poll(uint64_t nAt) {
    if (!m_pProgress)
        return true;
    const std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
    if (m_bPolled && now - m_lastPoll < kPollInterval)
        return true;
    m_bPolled = true;
    m_lastPoll = now;
    return m_pProgress->Continue(nAt) || Fail(EWalkStop::Cancelled);
}

bool CMediaWalk::Flush(uint64_t nUpTo) {
    if (nUpTo <= m_nFlushed)
        return true;
    // Only bytes in the window go out, and each once.
    if (m_nFlushed < m_nBufferStart || nUpTo > m_nBufferStart + m_nBufferLength)
        return Fail(EWalkStop::ReadFailed);
    if (m_pSink && !m_pSink->Write(At(m_nFlushed), static_cast<size_t>(nUpTo - m_nFlushed)))
        return Fail(EWalkStop::WriteFailed);
    m_nFlushed = nUpTo;
    return true;
}

bool CMediaWalk::Ensure(uint64_t nAt, size_t nNeed) {
    const uint64_t nEnd = m_range.nEnd;
    if (nAt > nEnd || nAt < m_nBufferStart)
        return Fail(EWalkStop::ReadFailed);
    const uint64_t nWant = std::min<uint64_t>(nNeed, nEnd - nAt);
    if (nAt + nWant <= m_nBufferStart + m_nBufferLength)
        return true;
    // What is before the last sample taken is final; what follows it may yet be needed.
    const uint64_t nKeep = std::min(nAt, m_nAccepted);
    if (nKeep < m_nBufferStart || nKeep > m_nBufferStart + m_nBufferLength)
        return Fail(EWalkStop::ReadFailed);
    if (!Flush(nKeep))
        return false;
    const size_t nDrop = static_cast<size_t>(nKeep - m_nBufferStart);
    if (nDrop != 0) {
        std::memmove(m_buffer.data(), m_buffer.data() + nDrop, m_nBufferLength - nDrop);
        m_nBufferLength -= nDrop;
        m_nBufferStart = nKeep;
    }
    const uint64_t nRequired = nAt + nWant - nKeep;
    if (nRequired > kMaxWindow)
        return false;
    if (nRequired > m_buffer.size())
        m_buffer.resize(static_cast<size_t>(
            std::min<uint64_t>(kMaxWindow, std::max<uint64_t>(nRequired, 2 * m_buffer.size()))));
    const uint64_t nFileAt = m_nBufferStart + m_nBufferLength;
    const uint64_t nMust = nAt + nWant - nFileAt;
    const uint64_t nRoom = std::min<uint64_t>(m_buffer.size() - m_nBufferLength, nEnd - nFileAt);
    const size_t nRead =
        static_cast<size_t>(std::min(nRoom, std::max<uint64_t>(nMust, kReadBlock)));
    if (nRead != 0 && !m_source.ReadAt(nFileAt, m_buffer.data() + m_nBufferLength, nRead))
        return Fail(EWalkStop::ReadFailed);
    m_nBufferLength += nRead;
    return Poll(m_nAccepted);
}

bool CMediaWalk::Pass(uint64_t nTo) {
    while (m_nAccepted < nTo) {
        const size_t nStep = static_cast<size_t>(std::min<uint64_t>(nTo - m_nAccepted, kReadBlock));
        if (!Ensure(m_nAccepted, nStep) || Available(m_nAccepted) < nStep)
            return Fail(m_bError ? m_eError : EWalkStop::ReadFailed);
        m_nAccepted += nStep;
    }
    return true;
}

// Tries one track at nAt, reading as much as it asks for. False only on an error.
bool CMediaWalk::TryTrack(size_t nTrack, uint64_t nAt, CTrackTry* pTry, bool bStrict) {
    CWalkTrack& track = *m_tracks[nTrack];
    size_t nNeed = std::max<size_t>(track.Lookahead(), 16);
    for (;;) {
        if (!Ensure(nAt, nNeed)) {
            pTry->eResult = ESampleParse::Invalid;
            return !m_bError;
        }
        track.Try(At(nAt), Available(nAt), AtEnd(), bStrict, pTry, nAt);
        if (pTry->eResult == ESampleParse::NeedMore && pTry->nNeed > Available(nAt)) {
            nNeed = pTry->nNeed;
            continue;
        }
        if (pTry->eResult == ESampleParse::NeedMore ||
            (pTry->eResult == ESampleParse::Truncated && !AtEnd()))
            pTry->eResult = ESampleParse::Invalid;
        return true;
    }
}

// The track whose sample is at nAt: video first (its checks are the strongest), then sound,
// each kind with the predicted track first; then sound again without wanting each frame to
// continue its track's last (an encoder may switch windows in ways the standard does not
// allow); a track of fixed-size samples only where predicted. *pTrack is kNone when none
// fits.
bool CMediaWalk::FindSample(uint64_t nAt, size_t nPreferred, size_t* pTrack, CTrackTry* pTry,
                            bool* pCut) {
    *pTrack = kNone;
    std::vector<size_t>& order = m_order;
    for (int nPass = 0; nPass < 3; ++nPass) {
        const EWalkKind kind = nPass == 0 ? EWalkKind::Video : EWalkKind::Audio;
        order.clear();
        for (size_t t = 0; t < m_tracks.size(); ++t) {
            if (t != nPreferred && m_tracks[t]->Kind() == kind)
                order.push_back(t);
        }
        // Of the rest, the track that is furthest behind is the likeliest to come next.
        std::stable_sort(order.begin(), order.end(), [this](size_t a, size_t b) {
            return double(m_tracks[a]->Count()) * m_tracks[a]->SampleSeconds() <
                   double(m_tracks[b]->Count()) * m_tracks[b]->SampleSeconds();
        });
        if (nPreferred != kNone && m_tracks[nPreferred]->Kind() == kind)
            order.insert(order.begin(), nPreferred);
        for (size_t t : order) {
            if (!TryTrack(t, nAt, pTry, nPass < 2))
                return false;
            if (pTry->eResult == ESampleParse::Ok) {
                *pTrack = t;
                return true;
            }
            if (pTry->eResult == ESampleParse::Truncated)
                *pCut = true;
        }
    }
    if (nPreferred != kNone && m_tracks[nPreferred]->Kind() == EWalkKind::Fixed) {
        if (!TryTrack(nPreferred, nAt, pTry))
            return false;
        if (pTry->eResult == ESampleParse::Ok)
            *pTrack = nPreferred;
        else if (pTry->eResult == ESampleParse::Truncated)
            *pCut = true;
    }
    return true;
}

// Past the samples of a track that cannot be read: the next byte where a known track's
// sample begins, within the reach of that track's largest chunk.
bool CMediaWalk::Resync(uint64_t nAt, uint64_t* pFound) {
    const uint64_t nLimit = std::min(m_range.nEnd, nAt + m_nMaxSkip);
    CTrackTry attempt;
    for (uint64_t nTry = nAt + 1; nTry < nLimit; ++nTry) {
        if (nTry % kResyncPoll == 0 && !Poll(m_nAccepted))
            return false;
        for (size_t t = 0; t < m_tracks.size(); ++t) {
            CWalkTrack& track = *m_tracks[t];
            if (track.Kind() != EWalkKind::Video && track.Kind() != EWalkKind::Audio)
                continue;
            if (!TryTrack(t, nTry, &attempt))
                return false;
            if (attempt.eResult != ESampleParse::Ok)
                continue;
            track.Drop(attempt);
            bool bFound = track.Kind() == EWalkKind::Video;
            if (!bFound) {
                // One frame is too easily found by chance: the next must follow it.
                CTrackTry second;
                const uint64_t nNext = nTry + attempt.nSize;
                bFound = nNext < m_range.nEnd && TryTrack(t, nNext, &second) &&
                         second.eResult == ESampleParse::Ok;
            }
            if (bFound) {
                *pFound = nTry;
                return true;
            }
        }
    }
    return false;
}

// Zeros within a sample's reach: a sample that zeros overwrote in part, not garbage.
bool CMediaWalk::ZerosAhead(uint64_t nAt) {
    const size_t kRun = 32;
    if (!Ensure(nAt, static_cast<size_t>(m_nZeroReach)))
        return false;
    const uint8_t* p = At(nAt);
    const size_t nLook = std::min<size_t>(Available(nAt), static_cast<size_t>(m_nZeroReach));
    size_t nZeros = 0;
    for (size_t i = 0; i < nLook; ++i) {
        nZeros = p[i] == 0 ? nZeros + 1 : 0;
        if (nZeros == kRun)
            return true;
    }
    return false;
}

// Whether nDepth samples of known tracks follow one another from nAt (or the data ends).
bool CMediaWalk::VerifiedAt(uint64_t nAt, int nDepth, bool* pVerified) {
    *pVerified = nAt >= m_range.nEnd;
    if (*pVerified || nDepth == 0) {
        *pVerified = true;
        return true;
    }
    CTrackTry attempt;
    for (size_t t = 0; t < m_tracks.size(); ++t) {
        CWalkTrack& track = *m_tracks[t];
        if (track.Kind() != EWalkKind::Video && track.Kind() != EWalkKind::Audio)
            continue;
        if (!TryTrack(t, nAt, &attempt))
            return false;
        if (attempt.eResult != ESampleParse::Ok)
            continue;
        track.Drop(attempt);
        return VerifiedAt(nAt + attempt.nSize, nDepth - 1, pVerified);
    }
    return true;
}

// Where the interleaving predicts nSamples samples of a track that cannot be read: past them,
// if sizes its samples have in the reference lead to known samples.
bool CMediaWalk::SkipPredicted(uint64_t nAt, const CWalkTrack& track, uint32_t nSamples,
                               uint64_t* pNext) {
    *pNext = nAt;
    const std::vector<uint32_t>& sizes = track.CommonSizes();
    const size_t nTried = std::min<size_t>(sizes.size(), nSamples > 1 ? 6 : 16);
    for (size_t i = 0; i < nTried; ++i) {
        const uint32_t nSize = sizes[i];
        if (nSize == 0 || nSize > m_range.nEnd - nAt)
            continue;
        bool bVerified = false;
        if (!VerifiedAt(nAt + nSize, 2, &bVerified))
            return false;
        if (!bVerified && nSamples > 1) {
            uint64_t nNext = nAt + nSize;
            if (!SkipPredicted(nAt + nSize, track, nSamples - 1, &nNext))
                return false;
            if (nNext != nAt + nSize) {
                *pNext = nNext;
                return true;
            }
        }
        if (bVerified) {
            *pNext = nAt + nSize;
            return true;
        }
    }
    return true;
}

void CMediaWalk::Record(size_t nTrack, uint64_t nAt, const CTrackTry& found) {
    CWalkTrack& track = *m_tracks[nTrack];
    const uint32_t nIndex = static_cast<uint32_t>(track.Found());
    track.Take(found);
    if (!m_chunks.empty() && m_chunks.back().nTrack == nTrack && m_nChunkEnd == nAt) {
        ++m_chunks.back().nSamples;
    } else {
        CWalkChunk chunk;
        chunk.nOffset = nAt;
        chunk.nTrack = nTrack;
        chunk.nFirstSample = nIndex;
        chunk.nSamples = 1;
        m_chunks.push_back(chunk);
    }
    m_nChunkEnd = nAt + found.nSize;
}

EWalkStop CMediaWalk::Finish(EWalkStop eStop, uint64_t nAt) {
    m_nStop = nAt;
    if (eStop == EWalkStop::Cancelled || eStop == EWalkStop::ReadFailed ||
        eStop == EWalkStop::WriteFailed)
        return eStop;
    if (!Ensure(nAt, 0) || !Flush(nAt))
        return m_eError;
    return eStop;
}

EWalkStop CMediaWalk::Run() {
    uint64_t nAt = m_range.nBegin;
    m_nBufferStart = nAt;
    m_nBufferLength = 0;
    m_nAccepted = nAt;
    m_nFlushed = nAt;
    std::vector<uint64_t> counts(m_tracks.size(), 0);
    size_t nRunTrack = kNone;
    uint32_t nRunLeft = 0;
    for (;;) {
        if (!Poll(nAt))
            return Finish(m_eError, nAt);
        if (nAt >= m_range.nEnd)
            return Finish(EWalkStop::End, nAt);
        if ((m_nLimitBytes != 0 && nAt - m_range.nBegin >= m_nLimitBytes) ||
            (m_dLimitSeconds > 0 && LeadSeconds() >= m_dLimitSeconds))
            return Finish(EWalkStop::Limit, nAt);
        if (nRunLeft == 0) {
            for (size_t t = 0; t < m_tracks.size(); ++t)
                counts[t] = m_tracks[t]->Count();
            const CInterleaveModel::CPrediction prediction =
                m_model.Predict(counts, nAt - m_range.nBegin);
            nRunTrack = prediction.nTrack >= 0 ? static_cast<size_t>(prediction.nTrack) : kNone;
            nRunLeft = prediction.nSamples;
        }
        if (nRunTrack != kNone && m_tracks[nRunTrack]->Kind() == EWalkKind::Unknown) {
            uint64_t nNext = nAt;
            if (!SkipPredicted(nAt, *m_tracks[nRunTrack], std::min<uint32_t>(nRunLeft, 3), &nNext))
                return Finish(m_eError, nAt);
            if (nNext != nAt) {
                if (!Pass(nNext))
                    return Finish(m_eError, nAt);
                m_tracks[nRunTrack]->AddSkipped(nRunLeft);
                nAt = nNext;
                nRunLeft = 0;
                continue;
            }
        }
        size_t nTrack = kNone;
        CTrackTry found;
        bool bCut = false;
        if (!FindSample(nAt, nRunTrack, &nTrack, &found, &bCut))
            return Finish(m_eError, nAt);
        if (nTrack == kNone) {
            if (!Ensure(nAt, 16))
                return Finish(m_eError, nAt);
            const size_t nLook = std::min<size_t>(16, Available(nAt));
            const uint8_t* p = At(nAt);
            if (std::all_of(p, p + nLook, [](uint8_t b) { return b == 0; }))
                return Finish(EWalkStop::Zeros, nAt);
            uint64_t nFound = 0;
            if (m_bHasUnknown && Resync(nAt, &nFound)) {
                size_t nSkippedTrack = nRunTrack;
                if (nSkippedTrack == kNone ||
                    m_tracks[nSkippedTrack]->Kind() != EWalkKind::Unknown) {
                    for (size_t t = 0; t < m_tracks.size(); ++t) {
                        if (m_tracks[t]->Kind() == EWalkKind::Unknown) {
                            nSkippedTrack = t;
                            break;
                        }
                    }
                }
                if (!Pass(nFound))
                    return Finish(m_eError, nAt);
                m_tracks[nSkippedTrack]->AddSkipped(std::max<uint32_t>(nRunLeft, 1));
                nAt = nFound;
                nRunLeft = 0;
                continue;
            }
            if (m_bError)
                return Finish(m_eError, nAt);
            if (bCut || m_range.nEnd - nAt < 8)
                return Finish(EWalkStop::CutOff, nAt);
            if (ZerosAhead(nAt))
                return Finish(EWalkStop::Zeros, nAt);
            if (m_bError)
                return Finish(m_eError, nAt);
            return Finish(EWalkStop::Unknown, nAt);
        }
        if (m_tracks[nTrack]->Found() >= kMaxTrackSamples)
            return Finish(EWalkStop::Limit, nAt);
        Record(nTrack, nAt, found);
        nAt += found.nSize;
        m_nAccepted = nAt;
        if (nTrack == nRunTrack && nRunLeft > 0)
            --nRunLeft;
        else
            nRunLeft = 0;
    }
}
