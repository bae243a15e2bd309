#include "rebuild/WalkReader.h"

#include <algorithm>
#include <cstring>

namespace {

const size_t kNone = static_cast<size_t>(-1);
// Bytes read at a time; progress and cancellation are looked at after each read.
const size_t kReadBlock = 8u << 20;
// The window grows to hold a whole sample, up to this.
const size_t kMaxWindow = 80u << 20;
// How often the walk says where it is and asks whether to go on.
const std::chrono::milliseconds kPollInterval(20);

} // namespace

CWalkReader::CWalkReader(CByteSource& source, const CMediaRange& range,
                         std::vector<std::unique_ptr<CWalkTrack>>& tracks)
    : m_source(source), m_range(range), m_tracks(tracks), m_nRecords(kNone) {
    const uint64_t nSize = range.nEnd - range.nBegin;
    m_buffer.resize(static_cast<size_t>(std::min<uint64_t>(kReadBlock, nSize + 1)));
    MapRecords();
}

// Each kind of record goes to the track whose samples followed it in the reference; kinds the
// reference did not show, to the track of the kind their number names.
void CWalkReader::MapRecords() {
    for (size_t t = 0; t < m_tracks.size() && m_nRecords == kNone; ++t) {
        if (m_tracks[t]->Kind() == EWalkKind::Records)
            m_nRecords = t;
    }
    if (m_nRecords == kNone)
        return;
    m_recordTrack.assign(256, kNone);
    std::vector<bool> learnt(256, false);
    for (const CRecordKind& kind : m_tracks[m_nRecords]->RecordKinds()) {
        learnt[kind.nKind] = true;
        for (size_t t = 0; t < m_tracks.size(); ++t) {
            if (t != m_nRecords && m_tracks[t]->ReferenceIndex() == kind.nTrack)
                m_recordTrack[kind.nKind] = t;
        }
    }
    for (size_t nKind = 0; nKind < 256; ++nKind) {
        if (learnt[nKind])
            continue;
        const EGoProSample eSample = GoProSampleOf(static_cast<uint8_t>(nKind));
        for (size_t t = 0; t < m_tracks.size() && m_recordTrack[nKind] == kNone; ++t) {
            const CWalkTrack& track = *m_tracks[t];
            if ((eSample == EGoProSample::Video && track.Kind() == EWalkKind::Video) ||
                (eSample == EGoProSample::Sound && track.Kind() == EWalkKind::Audio) ||
                (eSample == EGoProSample::Timecode && track.Handler() == FourCC("tmcd")) ||
                (eSample == EGoProSample::Metadata && track.Handler() == FourCC("meta") &&
                 t != m_nRecords))
                m_recordTrack[nKind] = t;
        }
    }
}

bool CWalkReader::Fail(EWalkStop eStop) {
    m_bError = true;
    m_eError = eStop;
    return false;
}

bool CWalkReader::Poll(uint64_t nAt) {
    if (!m_pProgress)
        return true;
    const std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
    if (m_bPolled && now - m_lastPoll < kPollInterval)
        return true;
    m_bPolled = true;
    m_lastPoll = now;
    return m_pProgress->Continue(nAt) || Fail(EWalkStop::Cancelled);
}

bool CWalkReader::Flush(uint64_t nUpTo) {
    if (nUpTo <= m_nFlushed)
        return true;
    // What damage spans is let go of unwritten.
    if (m_bRecovering) {
        m_nFlushed = nUpTo;
        return true;
    }
    // Only bytes in the window go out, and each once.
    if (m_nFlushed < m_nBufferStart || nUpTo > m_nBufferStart + m_nBufferLength)
        return Fail(EWalkStop::ReadFailed);
    if (m_pSink && !m_pSink->Write(At(m_nFlushed), static_cast<size_t>(nUpTo - m_nFlushed)))
        return Fail(EWalkStop::WriteFailed);
    m_nFlushed = nUpTo;
    return true;
}

bool CWalkReader::Ensure(uint64_t nAt, size_t nNeed) {
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

bool CWalkReader::Pass(uint64_t nTo) {
    while (m_nAccepted < nTo) {
        const size_t nStep = static_cast<size_t>(std::min<uint64_t>(nTo - m_nAccepted, kReadBlock));
        if (!Ensure(m_nAccepted, nStep) || Available(m_nAccepted) < nStep)
            return Fail(m_bError ? m_eError : EWalkStop::ReadFailed);
        m_nAccepted += nStep;
    }
    return true;
}

// Tries one track at nAt, reading as much as it asks for. False only on an error.
bool CWalkReader::TryTrack(size_t nTrack, uint64_t nAt, CTrackTry* pTry, bool bStrict) {
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

// Whether nDepth samples of known tracks follow one another from nAt (or the data ends).
bool CWalkReader::VerifiedAt(uint64_t nAt, int nDepth, bool* pVerified, bool bStrict) {
    *pVerified = nAt >= m_range.nEnd;
    if (*pVerified || nDepth == 0) {
        *pVerified = true;
        return true;
    }
    // A record and the sample it announces count as one.
    uint64_t nEnd = nAt;
    bool bRecorded = false;
    if (!RecordedAt(nAt, &nEnd, &bRecorded))
        return false;
    if (bRecorded)
        return VerifiedAt(nEnd, nDepth - 1, pVerified, bStrict);
    CTrackTry attempt;
    for (size_t t = 0; t < m_tracks.size(); ++t) {
        CWalkTrack& track = *m_tracks[t];
        if (!track.Confirms())
            continue;
        if (!TryTrack(t, nAt, &attempt, bStrict))
            return false;
        if (attempt.eResult != ESampleParse::Ok)
            continue;
        track.Drop(attempt);
        // A picture whose end its syntax does not pin is enough by itself: whole, of the
        // reference's size, begun by its markers.
        if (track.Kind() == EWalkKind::Picture) {
            *pVerified = true;
            return true;
        }
        return VerifiedAt(nAt + attempt.nSize, nDepth - 1, pVerified, bStrict);
    }
    return true;
}

// Whether the sample a record announces, nSize bytes at nAt, is one of track nTrack's: Ok when
// its syntax (where it has one) says so and its size is the one announced; Truncated when the
// data ends inside it and what is there may begin it. The try is dropped unless Ok.
bool CWalkReader::CheckAnnounced(size_t nTrack, uint64_t nAt, uint64_t nSize, CTrackTry* pTry) {
    CWalkTrack& track = *m_tracks[nTrack];
    pTry->eResult = ESampleParse::Invalid;
    const bool bCut = nSize > m_range.nEnd - nAt;
    const uint64_t nWanted = bCut ? m_range.nEnd - nAt : nSize;
    if (nSize > track.LargestSample() || nWanted > kMaxWindow / 2 ||
        !Ensure(nAt, static_cast<size_t>(nWanted)))
        return !m_bError;
    if (Available(nAt) < nWanted)
        return true;
    track.Try(At(nAt), static_cast<size_t>(nWanted), true, false, pTry, nAt);
    const ESampleParse eResult = pTry->eResult;
    if (eResult == ESampleParse::Ok && !bCut && pTry->nSize == nSize)
        return true;
    track.Drop(*pTry);
    pTry->eResult =
        bCut && eResult != ESampleParse::Invalid ? ESampleParse::Truncated : ESampleParse::Invalid;
    return true;
}

// Whether a record is at nAt whose sample is there as announced (or the header that begins
// the records): *pEnd where they end.
bool CWalkReader::RecordedAt(uint64_t nAt, uint64_t* pEnd, bool* pFound) {
    *pFound = false;
    if (m_nRecords == kNone)
        return true;
    CTrackTry record;
    if (!TryTrack(m_nRecords, nAt, &record))
        return false;
    if (record.eResult != ESampleParse::Ok)
        return true;
    *pEnd = nAt + record.nSize;
    if (!record.bRecord) {
        *pFound = true;
        return true;
    }
    const uint64_t nSize = record.record.nSize;
    const size_t nTrack = m_recordTrack[record.record.nKind];
    if (nTrack == kNone || m_tracks[nTrack]->Kind() == EWalkKind::Unknown) {
        *pFound = nSize <= m_range.nEnd - *pEnd;
        *pEnd += nSize;
        return true;
    }
    CTrackTry sample;
    if (!CheckAnnounced(nTrack, *pEnd, nSize, &sample))
        return false;
    if (sample.eResult != ESampleParse::Ok)
        return true;
    m_tracks[nTrack]->Drop(sample);
    *pFound = true;
    *pEnd += nSize;
    return true;
}
