#include "rebuild/MediaWalk.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

const size_t kNone = static_cast<size_t>(-1);
// How far the walk looks for the next known sample past one of a track it cannot read.
const uint64_t kMaxSkip = 16u << 20;
// Positions Resync tries between two looks at the clock.
const uint64_t kResyncPoll = 1024;
// Samples a track of the copy can have (stsz counts them in 32 bits).
const uint64_t kMaxTrackSamples = 0xFFFFFFFFu;
// How much damage the walk looks through for the next sample it can confirm (zeros are
// stepped over and do not count), and how often it looks at the clock meanwhile.
const uint64_t kMaxDamage = 16u << 20;
const uint64_t kRecoverPoll = 64u << 10;
// Samples after the one found past damage that must follow it; after the first one found
// where no sample begins the media data, more: nothing before it tells where the media starts.
const int kRecoverDepth = 2;
const int kStartDepth = 3;

// Ends a step of the walk: the walk stops, for eStop.
bool StopWith(EWalkStop eStop, EWalkStop* pStop) {
    *pStop = eStop;
    return false;
}

} // namespace

CMediaWalk::CMediaWalk(CByteSource& source, const CMediaRange& range,
                       std::vector<std::unique_ptr<CWalkTrack>>& tracks, CInterleaveModel& model)
    : CWalkReader(source, range, tracks), m_model(model), m_ends(*this, range, tracks, model),
      m_nMediaBegin(range.nBegin) {
    // Samples of tracks that cannot be read, or that only the interleaving predicts, may be
    // stepped over to the next known sample.
    for (const std::unique_ptr<CWalkTrack>& pTrack : m_tracks) {
        if (pTrack->Kind() == EWalkKind::Unknown || pTrack->Kind() == EWalkKind::Repeating ||
            pTrack->Kind() == EWalkKind::Marked) {
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

// The track whose sample is at nAt: video first (its checks are the strongest); a track whose
// samples mark their end where the interleaving predicts it; sound, first wanting each frame
// to continue its track's last, then not (an encoder may switch windows in ways the standard
// does not allow); samples that mark their end elsewhere, where what follows confirms them; a
// track of fixed-size samples only where predicted. *pTrack is kNone when none fits.
bool CMediaWalk::FindSample(uint64_t nAt, size_t nPreferred, uint32_t nRunLeft, size_t* pTrack,
                            CTrackTry* pTry, bool* pCut, bool* pUnclear) {
    *pTrack = kNone;
    std::vector<size_t>& order = m_order;
    order.clear();
    for (size_t t = 0; t < m_tracks.size(); ++t) {
        if (t != nPreferred && m_tracks[t]->Pictures())
            order.push_back(t);
    }
    // Of the rest, the track that is furthest behind is the likeliest to come next.
    std::stable_sort(order.begin(), order.end(), [this](size_t a, size_t b) {
        return double(m_tracks[a]->Count()) * m_tracks[a]->SampleSeconds() <
               double(m_tracks[b]->Count()) * m_tracks[b]->SampleSeconds();
    });
    if (nPreferred != kNone && m_tracks[nPreferred]->Pictures())
        order.insert(order.begin(), nPreferred);
    bool bPictureCut = false;
    for (size_t t : order) {
        if (!TryTrack(t, nAt, pTry))
            return false;
        if (m_tracks[t]->Kind() == EWalkKind::Picture &&
            !m_ends.SettlePicture(t, nAt, t == nPreferred && nRunLeft <= 1, pTry))
            return false;
        if (pTry->eResult == ESampleParse::Ok) {
            *pTrack = t;
            return true;
        }
        if (pTry->eResult == ESampleParse::Truncated)
            *pCut = bPictureCut = true;
    }
    if (nPreferred != kNone && m_tracks[nPreferred]->Kind() == EWalkKind::Shaped) {
        if (!TryShaped(nPreferred, nAt, pTry, pCut))
            return false;
        if (pTry->eResult == ESampleParse::Ok) {
            *pTrack = nPreferred;
            return true;
        }
    }
    for (size_t t = 0; t < m_tracks.size(); ++t) {
        if (m_tracks[t]->Kind() != EWalkKind::Marked)
            continue;
        if (!TryMarked(t, nAt, pTry, pCut))
            return false;
        if (pTry->eResult == ESampleParse::Ok) {
            *pTrack = t;
            return true;
        }
    }
    for (bool bStrict : {true, false}) {
        if (!FindSound(nAt, nPreferred, nRunLeft, bStrict, pTrack, pTry, pCut, pUnclear))
            return false;
        if (*pUnclear)
            return true;
        if (*pTrack == kNone)
            continue;
        // A frame that does not continue its track's last one is taken only where a sample
        // follows it: a damaged frame can parse as shorter ones.
        bool bVerified = bStrict;
        if (!bVerified && !VerifiedAt(nAt + pTry->nSize, 1, &bVerified, false))
            return false;
        if (bVerified)
            return true;
        *pTrack = kNone;
    }
    if (!m_ends.FindSpeech(nAt, nPreferred, pTrack, pTry, pCut))
        return false;
    if (*pTrack != kNone)
        return true;
    for (size_t t = 0; t < m_tracks.size(); ++t) {
        if (t == nPreferred || m_tracks[t]->Kind() != EWalkKind::Shaped)
            continue;
        if (!TryShaped(t, nAt, pTry, pCut))
            return false;
        if (pTry->eResult == ESampleParse::Ok) {
            *pTrack = t;
            return true;
        }
    }
    if (nPreferred != kNone && m_tracks[nPreferred]->Kind() == EWalkKind::Repeating) {
        if (!TryShaped(nPreferred, nAt, pTry, pCut))
            return false;
        if (pTry->eResult == ESampleParse::Ok) {
            *pTrack = nPreferred;
            return true;
        }
    }
    if (nPreferred != kNone && m_tracks[nPreferred]->Kind() == EWalkKind::Pcm) {
        if (m_range.nEnd - nAt < m_tracks[nPreferred]->SampleBytes())
            *pCut = true;
        // Not a chunk the data's end cuts off where a picture begins that it cuts off.
        if (!m_ends.TryPcmChunk(nPreferred, nAt, nRunLeft, !bPictureCut, pTry))
            return false;
        if (pTry->eResult == ESampleParse::Ok ||
            (pTry->eResult == ESampleParse::Truncated && pTry->nSamples != 0))
            *pTrack = nPreferred;
        return true;
    }
    // Where the walk lost the reference's pattern: PCM right after a sample taken, of a size the
    // reference's chunks often have, up to a known sample.
    for (size_t t = 0; t < m_tracks.size() && !m_chunks.empty() && m_nChunkEnd == nAt; ++t) {
        if (m_tracks[t]->Kind() != EWalkKind::Pcm)
            continue;
        if (!m_ends.TryPcmChunk(t, nAt, 0, false, pTry))
            return false;
        if (pTry->eResult == ESampleParse::Ok) {
            *pTrack = t;
            return true;
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

// The sound track whose frame is at nAt. Each frame is parsed once for tracks whose frames
// parse alike; of several tracks it fits, the recorder's order by time decides (each frame or
// each chunk to the track furthest behind), else the interleaving's prediction, else the
// track clearly furthest behind. Where none of these tells, *pUnclear.
bool CMediaWalk::FindSound(uint64_t nAt, size_t nPreferred, uint32_t nRunLeft, bool bStrict,
                           size_t* pTrack, CTrackTry* pTry, bool* pCut, bool* pUnclear) {
    m_candidates.clear();
    m_soundTries.resize(m_tracks.size());
    for (size_t t = 0; t < m_tracks.size(); ++t) {
        CWalkTrack& track = *m_tracks[t];
        if (track.Kind() != EWalkKind::Audio)
            continue;
        size_t nSame = kNone;
        for (size_t u = 0; u < t && nSame == kNone; ++u) {
            if (track.SameSyntax(*m_tracks[u]))
                nSame = u;
        }
        CTrackTry& raw = m_soundTries[t];
        if (nSame != kNone)
            raw = m_soundTries[nSame];
        else if (!TryTrack(t, nAt, &raw, false))
            return false;
        if (raw.eResult == ESampleParse::Truncated)
            *pCut = true;
        if (raw.eResult != ESampleParse::Ok || (bStrict && !track.Continues(raw)))
            continue;
        m_candidates.push_back(t);
    }
    if (m_candidates.empty())
        return true;
    size_t nChosen = m_candidates.front();
    if (m_candidates.size() > 1) {
        m_counts.resize(m_tracks.size());
        for (size_t t = 0; t < m_tracks.size(); ++t)
            m_counts[t] = m_tracks[t]->Count();
        const CSoundOrder::ELevel eLevel =
            m_pSoundOrder ? m_pSoundOrder->Level() : CSoundOrder::ELevel::None;
        const bool bPredicted =
            std::find(m_candidates.begin(), m_candidates.end(), nPreferred) != m_candidates.end();
        if (eLevel == CSoundOrder::ELevel::Chunk && bPredicted && nRunLeft > 0) {
            nChosen = nPreferred;
        } else if (eLevel != CSoundOrder::ELevel::None) {
            nChosen = m_pSoundOrder->First(m_candidates, m_counts);
        } else if (bPredicted) {
            nChosen = nPreferred;
        } else {
            // The track furthest behind, if it is clearly behind the others.
            std::stable_sort(m_candidates.begin(), m_candidates.end(), [this](size_t a, size_t b) {
                return double(m_counts[a]) * m_tracks[a]->SampleSeconds() <
                       double(m_counts[b]) * m_tracks[b]->SampleSeconds();
            });
            const size_t a = m_candidates[0], b = m_candidates[1];
            const double dGap = double(m_counts[b]) * m_tracks[b]->SampleSeconds() -
                                double(m_counts[a]) * m_tracks[a]->SampleSeconds();
            if (dGap < 0.5 * m_tracks[a]->SampleSeconds()) {
                *pUnclear = true;
                return true;
            }
            nChosen = a;
        }
    }
    *pTry = m_soundTries[nChosen];
    *pTrack = nChosen;
    return true;
}

// A sample of a track whose samples mark their end or repeat one size, where what follows
// confirms it.
bool CMediaWalk::TryShaped(size_t nTrack, uint64_t nAt, CTrackTry* pTry, bool* pCut) {
    if (!TryTrack(nTrack, nAt, pTry))
        return false;
    if (pTry->eResult == ESampleParse::Truncated)
        *pCut = true;
    if (pTry->eResult != ESampleParse::Ok)
        return true;
    // Where it ends, video or sound must begin (or another of its samples, or one of a track
    // of repeating samples, then those).
    const uint64_t nEnd = nAt + pTry->nSize;
    bool bVerified = false;
    if (!VerifiedAt(nEnd, 1, &bVerified, false))
        return false;
    for (size_t t = 0; t < m_tracks.size() && !bVerified; ++t) {
        const CWalkTrack& track = *m_tracks[t];
        uint64_t nNext = 0;
        if (track.Kind() == EWalkKind::Repeating) {
            nNext = track.SizeOf(track.Count() + (t == nTrack ? 1 : 0));
        } else if (t == nTrack) {
            CTrackTry next;
            if (!TryTrack(t, nEnd, &next))
                return false;
            nNext = next.eResult == ESampleParse::Ok ? next.nSize : 0;
        }
        if (nNext != 0 && nNext <= m_range.nEnd - nEnd &&
            !VerifiedAt(nEnd + nNext, 1, &bVerified, false))
            return false;
    }
    if (!bVerified)
        pTry->eResult = ESampleParse::Invalid;
    return true;
}

// A sample of a track whose samples all begin with the same bytes: from its beginning to where
// the next sample begins, another of its own (its first bytes) or a confirmed one of another
// track (video, or sound that a sample follows, or a record and the sample it announces).
bool CMediaWalk::TryMarked(size_t nTrack, uint64_t nAt, CTrackTry* pTry, bool* pCut) {
    const std::vector<uint8_t>& prefix = m_tracks[nTrack]->Prefix();
    pTry->eResult = ESampleParse::Invalid;
    const size_t nPrefix = prefix.size();
    auto marked = [&](uint64_t nPos) {
        return Available(nPos) >= nPrefix && std::memcmp(At(nPos), prefix.data(), nPrefix) == 0;
    };
    if (!Ensure(nAt, nPrefix))
        return !m_bError;
    if (!marked(nAt))
        return true;
    const uint64_t nLimit = nAt + m_tracks[nTrack]->MarkedMax();
    CTrackTry attempt;
    for (uint64_t nEnd = nAt + nPrefix; nEnd <= nLimit; ++nEnd) {
        if (nEnd >= m_range.nEnd) {
            // Nothing after it tells where it ends.
            *pCut = true;
            return true;
        }
        if (nEnd % kResyncPoll == 0 && !Poll(m_nAccepted))
            return false;
        if (!Ensure(nEnd, nPrefix))
            return !m_bError;
        bool bFound = marked(nEnd);
        uint64_t nAfter = nEnd;
        if (!bFound && !RecordedAt(nEnd, &nAfter, &bFound))
            return false;
        for (size_t t = 0; t < m_tracks.size() && !bFound; ++t) {
            CWalkTrack& track = *m_tracks[t];
            if (track.Kind() != EWalkKind::Video && track.Kind() != EWalkKind::Audio)
                continue;
            if (!TryTrack(t, nEnd, &attempt, false))
                return false;
            if (attempt.eResult != ESampleParse::Ok)
                continue;
            track.Drop(attempt);
            bFound = track.Kind() == EWalkKind::Video;
            if (!bFound && !VerifiedAt(nEnd + attempt.nSize, 1, &bFound, false))
                return false;
        }
        if (bFound) {
            pTry->eResult = ESampleParse::Ok;
            pTry->nSize = static_cast<size_t>(nEnd - nAt);
            return true;
        }
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
            if (!track.Confirms())
                continue;
            if (!TryTrack(t, nTry, &attempt))
                return false;
            if (attempt.eResult != ESampleParse::Ok)
                continue;
            track.Drop(attempt);
            bool bFound = track.Pictures();
            if (!bFound) {
                // One frame is too easily found by chance: a sample must follow it, of any
                // track (video follows sound as often as sound does).
                const uint64_t nNext = nTry + attempt.nSize;
                if (nNext < m_range.nEnd && !VerifiedAt(nNext, 1, &bFound, false))
                    return false;
            }
            if (bFound) {
                *pFound = nTry;
                return true;
            }
        }
    }
    return false;
}

// Past damage: the first position after nAt where a sample of video or sound begins that
// further samples follow, or nAt itself when there is none within reach. Linear in the bytes
// it crosses: each position is tried once, runs of zeros are stepped over without a try, and
// the look ends kMaxDamage bytes of other data past nAt. What it crosses is never written; the
// window lets go of it as the look moves on. *pNonZero counts the bytes that were not zeros.
bool CMediaWalk::Recover(uint64_t nKeep, uint64_t nAt, int nDepth, uint64_t* pFound,
                         uint64_t* pNonZero) {
    *pFound = nAt;
    *pNonZero = 0;
    // Everything taken goes to the sink before the window moves on; from nKeep on (a sample
    // that may be damaged too) it stays in the window until the look ends.
    if (!Ensure(nKeep, 0) || !Flush(nKeep))
        return false;
    m_bRecovering = true;
    CTrackTry attempt;
    uint64_t nPolled = nAt;
    uint64_t nTry = nAt + 1;
    while (nTry + 8 <= m_range.nEnd && *pNonZero < kMaxDamage) {
        if (nTry - nPolled >= kRecoverPoll) {
            nPolled = nTry;
            if (!Poll(nTry))
                break;
        }
        // The window keeps what the try at nTry may need, nothing before it.
        m_nAccepted = nKeep < nAt ? nKeep : nTry;
        if (!Ensure(nTry, 64) || Available(nTry) < 8)
            break;
        const uint8_t* p = At(nTry);
        if (p[0] == 0) {
            // A run of zeros: its last bytes may begin a sample's length.
            const size_t nAvail = Available(nTry);
            size_t nRun = 1;
            while (nRun < nAvail && p[nRun] == 0)
                ++nRun;
            if (nRun > 8) {
                nTry += nRun - 8;
                continue;
            }
        } else {
            ++*pNonZero;
        }
        bool bFound = false;
        uint64_t nEnd = nTry;
        if (!RecordedAt(nTry, &nEnd, &bFound) ||
            (bFound && !VerifiedAt(nEnd, kRecoverDepth, &bFound, false)))
            break;
        for (size_t t = 0; t < m_tracks.size() && !bFound; ++t) {
            CWalkTrack& track = *m_tracks[t];
            if (!track.Confirms())
                continue;
            if (!TryTrack(t, nTry, &attempt, false))
                break;
            if (attempt.eResult != ESampleParse::Ok)
                continue;
            track.Drop(attempt);
            // A whole picture of the reference's size is enough by itself.
            bFound = track.Kind() == EWalkKind::Picture;
            if (!bFound && !VerifiedAt(nTry + attempt.nSize, nDepth, &bFound, false))
                break;
        }
        if (m_bError)
            break;
        if (bFound) {
            *pFound = nTry;
            break;
        }
        ++nTry;
    }
    m_bRecovering = false;
    if (m_bError)
        return false;
    // Found: the sink has nothing of what was crossed. Not found: what was kept back is still
    // in the window, to be written up to where the walk stops.
    if (*pFound != nAt)
        m_nFlushed = *pFound;
    m_nAccepted = *pFound;
    return true;
}

// A stretch the walk left out: [nFrom, nFound), of which the sink has nothing from nOmitted on.
// How long it lasted is told by the recording's bytes a second so far (the reference's, early
// on); the tracks of steady samples count what it took of theirs, so that the interleaving
// and the sound's order go on from the right place.
void CMediaWalk::LeaveOut(uint64_t nFrom, uint64_t nOmitted, uint64_t nFound, uint64_t nNonZero) {
    CWalkStretch stretch;
    stretch.nOffset = nFrom;
    stretch.nEnd = nFound;
    stretch.nOmitted = nOmitted;
    stretch.nChunks = m_chunks.size();
    uint64_t nLargest = 0;
    double dSeconds = 0;
    for (const std::unique_ptr<CWalkTrack>& pTrack : m_tracks) {
        nLargest = std::max<uint64_t>(nLargest, pTrack->MaxSampleBytes());
        if (pTrack->Confirms() || pTrack->Kind() == EWalkKind::Pcm)
            dSeconds = std::max(dSeconds, double(pTrack->Count()) * pTrack->SampleSeconds());
    }
    // Zeros that overwrote the edges of samples are still zeros, by and large.
    if (nNonZero * 10 <= nFound - nFrom)
        stretch.eKind = CWalkStretch::EKind::Zeros;
    else if (nFound - nFrom <= 2 * nLargest + 4096)
        stretch.eKind = CWalkStretch::EKind::DamagedFrame;
    const uint64_t nWalked = nFrom - m_nMediaBegin - m_nOmitted;
    const double dRate =
        dSeconds >= 1 && nWalked >= (64u << 10) ? double(nWalked) / dSeconds : m_dByteRate;
    stretch.dSeconds = dRate > 0 ? double(nFound - nFrom) / dRate : 0;
    stretch.lost.assign(m_tracks.size(), 0);
    for (size_t t = 0; t < m_tracks.size(); ++t) {
        CWalkTrack& track = *m_tracks[t];
        // Records last no time: how many a stretch took is not told by its time.
        const bool bSteady = track.SteadyDurations() && track.Kind() != EWalkKind::Shaped &&
                             track.Kind() != EWalkKind::Unknown &&
                             track.Kind() != EWalkKind::Records && track.SampleSeconds() > 0;
        if (!bSteady || track.Found() == 0)
            continue;
        const double dLost = std::floor(stretch.dSeconds / track.SampleSeconds() + 0.5);
        stretch.lost[t] = dLost > 0 ? static_cast<uint64_t>(std::min(dLost, 1e9)) : 0;
        track.AddSkipped(static_cast<uint32_t>(stretch.lost[t]));
    }
    m_nOmitted += nFound - nOmitted;
    m_stretches.push_back(stretch);
}

uint64_t CMediaWalk::OmittedBefore(uint64_t nOffset) const {
    uint64_t nOmitted = 0;
    for (const CWalkStretch& stretch : m_stretches) {
        if (stretch.nEnd > nOffset)
            break;
        nOmitted += stretch.nEnd - stretch.nOmitted;
    }
    return nOmitted;
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

// Whether a record (or the header) begins at nAt, or the data ends there or inside one.
bool CMediaWalk::RecordFollows(uint64_t nAt, bool* pFollows) {
    *pFollows = nAt >= m_range.nEnd;
    if (*pFollows)
        return true;
    CTrackTry record;
    if (!TryTrack(m_nRecords, nAt, &record))
        return false;
    *pFollows = record.eResult == ESampleParse::Ok || record.eResult == ESampleParse::Truncated;
    return true;
}

// A record at nAt and the sample it announces: taken, and *pTaken, when the sample is its
// track's as far as its syntax tells (H.264, AAC, KLV; for samples without one, the next
// record must follow). Where the data ends inside the sample, the record alone is taken and
// the walk ends after it. False where the walk ends, at *pNext, with why in *pStop.
bool CMediaWalk::TakeRecorded(uint64_t nAt, uint64_t* pNext, bool* pTaken, EWalkStop* pStop) {
    *pTaken = false;
    *pNext = nAt;
    CTrackTry& record = m_record;
    if (!TryTrack(m_nRecords, nAt, &record))
        return StopWith(m_eError, pStop);
    if (record.eResult == ESampleParse::Truncated)
        return StopWith(EWalkStop::CutOff, pStop);
    if (record.eResult != ESampleParse::Ok)
        return true;
    const uint64_t nSampleAt = nAt + record.nSize;
    size_t nTrack = kNone;
    uint64_t nSize = 0;
    CTrackTry& sample = m_announced;
    sample.eResult = ESampleParse::Ok;
    bool bSyntax = false;
    if (record.bRecord) {
        nSize = record.record.nSize;
        nTrack = m_recordTrack[record.record.nKind];
        if (nTrack != kNone && m_tracks[nTrack]->Kind() == EWalkKind::Unknown)
            nTrack = kNone;
        if (nTrack != kNone) {
            if (!CheckAnnounced(nTrack, nSampleAt, nSize, &sample))
                return StopWith(m_eError, pStop);
            const EWalkKind eKind = m_tracks[nTrack]->Kind();
            bSyntax = eKind == EWalkKind::Video || eKind == EWalkKind::Audio ||
                      eKind == EWalkKind::Shaped;
        } else if (nSize > m_range.nEnd - nSampleAt) {
            sample.eResult = ESampleParse::Truncated;
        }
    }
    if (sample.eResult == ESampleParse::Invalid)
        return true;
    if (m_tracks[m_nRecords]->Found() >= kMaxTrackSamples ||
        (nTrack != kNone && m_tracks[nTrack]->Found() >= kMaxTrackSamples)) {
        if (nTrack != kNone)
            m_tracks[nTrack]->Drop(sample);
        return StopWith(EWalkStop::Limit, pStop);
    }
    if (sample.eResult == ESampleParse::Truncated) {
        // The record is whole, the sample it announces is not.
        Record(m_nRecords, nAt, record);
        m_nAccepted = nSampleAt;
        *pNext = nSampleAt;
        return StopWith(EWalkStop::CutOff, pStop);
    }
    const uint64_t nEnd = nSampleAt + nSize;
    if (!bSyntax) {
        bool bFollows = false;
        if (!RecordFollows(nEnd, &bFollows))
            return StopWith(m_eError, pStop);
        if (!bFollows) {
            if (nTrack != kNone)
                m_tracks[nTrack]->Drop(sample);
            return true;
        }
    }
    Record(m_nRecords, nAt, record);
    m_nAccepted = nSampleAt;
    if (nTrack != kNone) {
        Record(nTrack, nSampleAt, sample);
    } else if (record.bRecord) {
        // A sample of a track the walk cannot read: kept in the copy as it is.
        if (!Pass(nEnd))
            return StopWith(m_eError, pStop);
        const size_t nSkipped = m_recordTrack[record.record.nKind];
        if (nSkipped != kNone)
            m_tracks[nSkipped]->AddSkipped(1);
    }
    m_nAccepted = nEnd;
    *pNext = nEnd;
    *pTaken = true;
    return true;
}

void CMediaWalk::Record(size_t nTrack, uint64_t nAt, const CTrackTry& found) {
    CWalkTrack& track = *m_tracks[nTrack];
    const uint32_t nIndex = static_cast<uint32_t>(track.Found());
    track.Take(found);
    if (!m_chunks.empty() && m_chunks.back().nTrack == nTrack && m_nChunkEnd == nAt) {
        m_chunks.back().nSamples += found.nSamples;
    } else {
        CWalkChunk chunk;
        chunk.nOffset = nAt;
        chunk.nTrack = nTrack;
        chunk.nFirstSample = nIndex;
        chunk.nSamples = found.nSamples;
        m_chunks.push_back(chunk);
    }
    m_nChunkEnd = nAt + found.nSize;
    m_nLastSample = nAt;
    m_nLastSamples = found.nSamples;
}

EWalkStop CMediaWalk::Finish(EWalkStop eStop, uint64_t nAt) {
    m_nStop = nAt;
    if (eStop == EWalkStop::Cancelled || eStop == EWalkStop::ReadFailed ||
        eStop == EWalkStop::WriteFailed)
        return eStop;
    // A look past damage that found nothing has written up to nAt already.
    if (nAt > m_nFlushed && (!Ensure(nAt, 0) || !Flush(nAt)))
        return m_eError;
    return eStop;
}

// A run the interleaving predicts of a track that cannot be read: passed as it is, where sizes its
// samples have lead to known samples; *pNext stays nAt where they do not. False on an error.
bool CMediaWalk::SkipUnknownRun(uint64_t nAt, size_t nRunTrack, uint32_t nRunLeft,
                                uint64_t* pNext) {
    *pNext = nAt;
    if (nRunTrack == kNone || m_tracks[nRunTrack]->Kind() != EWalkKind::Unknown)
        return true;
    uint64_t nNext = nAt;
    if (!SkipPredicted(nAt, *m_tracks[nRunTrack], std::min<uint32_t>(nRunLeft, 3), &nNext))
        return false;
    if (nNext == nAt)
        return true;
    if (!Pass(nNext))
        return false;
    m_tracks[nRunTrack]->AddSkipped(nRunLeft);
    *pNext = nNext;
    return true;
}

// No sample of a known track begins at nAt: the walk goes on past the samples of a track that
// cannot be read, at the next known sample, else past damage. False where it ends at nAt, with
// why in *pStop; else it goes on at *pNext.
bool CMediaWalk::GoPastNoSample(uint64_t nAt, size_t nRunTrack, uint32_t nRunLeft, bool bCut,
                                uint64_t* pNext, EWalkStop* pStop) {
    if (!Ensure(nAt, 16))
        return StopWith(m_eError, pStop);
    const size_t nLook = std::min<size_t>(16, Available(nAt));
    const uint8_t* p = At(nAt);
    const bool bZeros = std::all_of(p, p + nLook, [](uint8_t b) { return b == 0; });
    uint64_t nFound = 0;
    // Where nothing begins the media data, bytes are skipped as a track's that cannot be read
    // only where the reference begins with one.
    const bool bStart = nAt == m_range.nBegin && m_chunks.empty() &&
                        (nRunTrack == kNone || m_tracks[nRunTrack]->Kind() != EWalkKind::Unknown);
    if (!bZeros && m_bHasUnknown && !bStart && Resync(nAt, &nFound)) {
        size_t nSkippedTrack = nRunTrack;
        if (nSkippedTrack == kNone || m_tracks[nSkippedTrack]->Kind() != EWalkKind::Unknown) {
            nSkippedTrack = kNone;
            for (size_t t = 0; t < m_tracks.size() && nSkippedTrack == kNone; ++t) {
                if (m_tracks[t]->Kind() == EWalkKind::Unknown)
                    nSkippedTrack = t;
            }
        }
        if (!Pass(nFound))
            return StopWith(m_eError, pStop);
        // Repeating samples stepped over are not counted: their sizes go by the count.
        if (nSkippedTrack != kNone)
            m_tracks[nSkippedTrack]->AddSkipped(std::max<uint32_t>(nRunLeft, 1));
        *pNext = nFound;
        return true;
    }
    if (m_bError)
        return StopWith(m_eError, pStop);
    if (!bZeros && (bCut || m_range.nEnd - nAt < 8))
        return StopWith(EWalkStop::CutOff, pStop);
    return GoPastDamage(nAt, bZeros, pNext, pStop);
}

// Damage in the middle: the walk goes on from the next sample it can confirm. Where the bytes
// at nAt begin no sample, the damage began inside the sample just taken (nothing but chance
// puts its start at a sample's end): that one goes too. False where nothing is found, with
// why in *pStop.
bool CMediaWalk::GoPastDamage(uint64_t nAt, bool bZeros, uint64_t* pNext, EWalkStop* pStop) {
    const bool bDamaged = bZeros || ZerosAhead(nAt);
    if (m_bError)
        return StopWith(m_eError, pStop);
    if (nAt == m_range.nBegin && m_chunks.empty())
        return FindStart(nAt, bDamaged, pNext, pStop);
    bool bSuspect = !m_chunks.empty() && m_nChunkEnd == nAt && m_nLastSample < nAt &&
                    m_nFlushed <= m_nLastSample && m_nLastSamples == 1;
    for (size_t t = 0; t < m_tracks.size() && bSuspect; ++t)
        bSuspect = !m_tracks[t]->MayStart(At(nAt), Available(nAt));
    const uint64_t nFrom = bSuspect ? m_nLastSample : nAt;
    uint64_t nFound = 0, nNonZero = 0;
    if (!Recover(nFrom, nAt, kRecoverDepth, &nFound, &nNonZero))
        return StopWith(m_eError, pStop);
    if (nFound == nAt)
        return StopWith(bDamaged ? EWalkStop::Zeros : EWalkStop::Unknown, pStop);
    if (bSuspect) {
        CWalkChunk& last = m_chunks.back();
        m_tracks[last.nTrack]->Untake();
        if (--last.nSamples == 0)
            m_chunks.pop_back();
        m_nChunkEnd = 0;
    }
    LeaveOut(nFrom, nFrom, nFound, nNonZero);
    *pNext = nFound;
    return true;
}

// No sample begins the media data: it starts where a sample of video or sound begins that
// several more follow, what lies before it (zeros a writer reserved, a camera's own data, or
// damage) left out. False where nothing is found, with why in *pStop.
bool CMediaWalk::FindStart(uint64_t nAt, bool bDamaged, uint64_t* pNext, EWalkStop* pStop) {
    uint64_t nFound = 0, nNonZero = 0;
    if (!Recover(nAt, nAt, kStartDepth, &nFound, &nNonZero))
        return StopWith(m_eError, pStop);
    if (nFound == nAt)
        return StopWith(bDamaged ? EWalkStop::Zeros : EWalkStop::Unknown, pStop);
    m_bLeadZeros = nNonZero * 10 <= nFound - nAt;
    const uint64_t nBegin = LeadChunkStart(nAt, nFound);
    if (nBegin != nFound) {
        // Nothing has gone to the sink yet: the window starts again at the chunk.
        m_nFlushed = m_nAccepted = nBegin;
        if (nBegin < m_nBufferStart) {
            m_nBufferStart = nBegin;
            m_nBufferLength = 0;
        }
    }
    m_nMediaBegin = nBegin;
    *pNext = nBegin;
    return true;
}

uint64_t CMediaWalk::LeadChunkStart(uint64_t nAt, uint64_t nFound) {
    std::vector<uint64_t> counts(m_tracks.size(), 0);
    const CInterleaveModel::CPrediction first = m_model.Predict(counts, 0);
    if (first.nTrack < 0 || first.nSamples == 0)
        return nFound;
    const CWalkTrack& track = *m_tracks[static_cast<size_t>(first.nTrack)];
    uint64_t nBytes = 0;
    if (track.Kind() == EWalkKind::Pcm)
        nBytes = uint64_t(first.nSamples) * track.SampleBytes();
    else if (track.Kind() == EWalkKind::Fixed)
        nBytes = uint64_t(first.nSamples) * track.NextSize();
    return nBytes != 0 && nBytes <= nFound - nAt ? nFound - nBytes : nFound;
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
        uint64_t nNext = nAt;
        // The index, where the recording has one, says what comes next.
        if (m_nRecords != kNone) {
            bool bTaken = false;
            EWalkStop eStop = EWalkStop::End;
            if (!TakeRecorded(nAt, &nNext, &bTaken, &eStop))
                return Finish(eStop, nNext);
            if (bTaken) {
                nAt = nNext;
                nRunLeft = 0;
                continue;
            }
        }
        if (nRunLeft == 0) {
            for (size_t t = 0; t < m_tracks.size(); ++t)
                counts[t] = m_tracks[t]->Count();
            const CInterleaveModel::CPrediction prediction =
                m_model.Predict(counts, nAt - m_range.nBegin);
            nRunTrack = prediction.nTrack >= 0 ? static_cast<size_t>(prediction.nTrack) : kNone;
            nRunLeft = prediction.nSamples;
        }
        if (!SkipUnknownRun(nAt, nRunTrack, nRunLeft, &nNext))
            return Finish(m_eError, nAt);
        if (nNext != nAt) {
            nAt = nNext;
            nRunLeft = 0;
            continue;
        }
        size_t nTrack = kNone;
        CTrackTry found;
        bool bCut = false, bUnclear = false;
        if (!FindSample(nAt, nRunTrack, nRunLeft, &nTrack, &found, &bCut, &bUnclear))
            return Finish(m_eError, nAt);
        if (bUnclear)
            return Finish(EWalkStop::SoundUnclear, nAt);
        if (nTrack == kNone) {
            EWalkStop eStop = EWalkStop::End;
            if (!GoPastNoSample(nAt, nRunTrack, nRunLeft, bCut, &nNext, &eStop))
                return Finish(eStop, nAt);
            nAt = nNext;
            nRunLeft = 0;
            continue;
        }
        if (m_tracks[nTrack]->Found() + found.nSamples > kMaxTrackSamples)
            return Finish(EWalkStop::Limit, nAt);
        Record(nTrack, nAt, found);
        nAt += found.nSize;
        // A chunk of many samples goes through the window in blocks.
        if (found.nSamples > 1 && !Pass(nAt))
            return Finish(m_eError, m_nAccepted);
        m_nAccepted = nAt;
        if (nTrack == nRunTrack && nRunLeft > found.nSamples &&
            m_tracks[nTrack]->Kind() != EWalkKind::Pcm)
            nRunLeft -= found.nSamples;
        else
            nRunLeft = 0;
    }
}
