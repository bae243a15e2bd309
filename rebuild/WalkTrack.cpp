#include "rebuild/WalkTrack.h"

#include "codec/AmrFrame.h"

#include <algorithm>
#include <cstddef>
#include <map>

namespace {

// A NAL unit may be this many times the reference's largest sample (a still scene's reference
// against a busy recording), within these bounds.
const size_t kMinNalLimit = 4u << 20;
const size_t kMaxNalLimit = 64u << 20;
// An AAC frame is at most 6144 bits a channel; a whole one fits in this at any layout.
const size_t kAacLookahead = 48u << 10;
// A sample of a track whose samples mark their end may be this long, or four times the
// reference's longest.
const size_t kMinShapeMax = 64u << 10;
// A track of repeating samples: at most this many others before them, and at least this many
// of them among the reference's first samples.
const size_t kMaxLead = 4;
const size_t kMinRepeats = 4;

// The sizes of a track's first samples that differ from the one size all its others have, if
// its first samples show that (its last sample may differ too).
bool RepeatsAfterLead(const CReferenceTrack& reference, std::vector<uint32_t>* pLead,
                      uint32_t* pSize) {
    std::vector<uint32_t> sizes = reference.leadSizes;
    if (sizes.size() == reference.nSamples && sizes.size() > kMinRepeats + 1 &&
        sizes.back() != sizes[sizes.size() - 2])
        sizes.pop_back();
    if (sizes.size() < kMinRepeats + 1)
        return false;
    const uint32_t nSize = sizes.back();
    size_t nFirst = sizes.size() - 1;
    while (nFirst > 0 && sizes[nFirst - 1] == nSize)
        --nFirst;
    if (nSize == 0 || nFirst == 0 || nFirst > kMaxLead || sizes.size() - nFirst < kMinRepeats ||
        (!reference.commonSizes.empty() && reference.commonSizes[0] != nSize))
        return false;
    pLead->assign(sizes.begin(), sizes.begin() + static_cast<std::ptrdiff_t>(nFirst));
    *pSize = nSize;
    return true;
}

// What every sample begins with, if the reference's samples show it: at least kMinPrefix bytes
// in as many samples as it has (two at least), at most kMaxPrefix of them kept.
const size_t kMinPrefix = 8;
const size_t kMaxPrefix = 64;
// A marked sample may be this long, or four times the reference's longest, up to the most
// the walk looks ahead for where one ends.
const size_t kMinMarkedMax = 4096;
const size_t kMaxMarkedMax = 16u << 20;

std::vector<uint8_t> CommonPrefix(const std::vector<std::vector<uint8_t>>& samples) {
    if (samples.size() < 2)
        return std::vector<uint8_t>();
    std::vector<uint8_t> prefix(
        samples[0].begin(),
        samples[0].begin() + static_cast<std::ptrdiff_t>(std::min(samples[0].size(), kMaxPrefix)));
    for (const std::vector<uint8_t>& sample : samples) {
        size_t n = 0;
        while (n < prefix.size() && n < sample.size() && sample[n] == prefix[n])
            ++n;
        prefix.resize(n);
    }
    // A sample that is nothing but the prefix would leave its end to chance.
    for (const std::vector<uint8_t>& sample : samples) {
        if (sample.size() <= prefix.size())
            prefix.clear();
    }
    if (prefix.size() < kMinPrefix)
        prefix.clear();
    return prefix;
}

// AMR frames a sample may hold (a second's), and the bytes of the longest.
const int kMaxSpeechFrames = 50;
const size_t kMaxAmrFrame = 61;
// Chunk sizes of PCM tried where the one predicted does not fit.
const size_t kCommonChunks = 4;

// AMR frames each of the reference's first samples holds, when they all hold as many.
int SpeechFramesPerSample(const CReferenceTrack& reference, bool bWide) {
    int nFrames = 0;
    for (const std::vector<uint8_t>& sample : reference.firstSamples) {
        const int nHere = CountAmrFrames(bWide, sample.data(), sample.size());
        if (nHere == 0 || nHere > kMaxSpeechFrames || (nFrames != 0 && nHere != nFrames))
            return 0;
        nFrames = nHere;
    }
    return nFrames;
}

// The bytes a sample of PCM covers: a frame, whether stsz counts it as its size or, as old
// QuickTime files do, as a single byte.
uint32_t PcmSampleBytes(const CReferenceTrack& reference) {
    const uint32_t nFrame = reference.entry.pcm.nFrameBytes;
    if (nFrame != 0 && (reference.nFixedSampleSize == nFrame || reference.nFixedSampleSize == 1))
        return nFrame;
    return 0;
}

// The reference's chunk sizes, commonest first (its last chunk, often cut short, not counted).
std::vector<uint32_t> CommonChunkSizes(const std::vector<CReferenceChunk>& chunks) {
    std::map<uint32_t, size_t> counts;
    for (size_t i = 0; i + 1 < chunks.size() || (i == 0 && chunks.size() == 1); ++i)
        ++counts[chunks[i].nSamples];
    std::vector<std::pair<size_t, uint32_t>> sorted;
    for (const std::pair<const uint32_t, size_t>& count : counts)
        sorted.emplace_back(count.second, count.first);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const std::pair<size_t, uint32_t>& a,
                        const std::pair<size_t, uint32_t>& b) { return a.first > b.first; });
    std::vector<uint32_t> sizes;
    for (size_t i = 0; i < sorted.size() && i < kCommonChunks; ++i)
        sizes.push_back(sorted[i].second);
    return sizes;
}

} // namespace

size_t NalSizeLimit(uint32_t nMaxSampleSize) {
    // In 64 bits: a 32-bit size_t would wrap for samples of 256 MiB and more.
    return static_cast<size_t>(std::min<uint64_t>(
        kMaxNalLimit, std::max<uint64_t>(kMinNalLimit, uint64_t(nMaxSampleSize) * 16)));
}

CTrackLeftOut TrackLeftOut(const CReferenceTrack& track, CTrackLeftOut::EReason eReason) {
    CTrackLeftOut out;
    out.nTrackId = track.nTrackId;
    out.nHandler = track.nHandler;
    out.nFormat = track.entry.nFormat;
    out.eReason = eReason;
    return out;
}

CWalkTrack::CWalkTrack(const CReferenceTrack& reference, size_t nReference)
    : m_nReference(nReference), m_nHandler(reference.nHandler),
      m_bSteady(reference.bSteadyDurations), m_nMaxSampleBytes(reference.nMaxSampleSize) {
    m_dSampleSeconds = double(reference.nTypicalDuration ? reference.nTypicalDuration : 1) /
                       double(reference.nTimescale);
    for (const CReferenceChunk& chunk : reference.chunks) {
        const uint64_t nBytes = reference.nFixedSampleSize != 0
                                    ? uint64_t(chunk.nSamples) * reference.nFixedSampleSize
                                    : uint64_t(chunk.nSamples) * reference.nMaxSampleSize;
        m_nMaxChunkBytes = std::max(m_nMaxChunkBytes, nBytes);
    }
    const CSampleEntry& entry = reference.entry;
    if (reference.nHandler == FourCC("vide") &&
        (entry.eCodec == ECodec::H264 || entry.eCodec == ECodec::Hevc)) {
        const ECodec codec = entry.eCodec;
        m_pVideo.reset(new CVideoSampleParser(codec, entry.nLengthSize,
                                              NalSizeLimit(reference.nMaxSampleSize)));
        bool bSets = !entry.parameterSets.empty();
        for (const std::vector<uint8_t>& nal : entry.parameterSets)
            bSets = m_pVideo->AddParameterSet(nal.data(), nal.size()) && bSets;
        if (bSets) {
            m_eKind = EWalkKind::Video;
            m_pOrder.reset(new CPictureOrder(codec));
            return;
        }
        m_pVideo.reset();
        m_eProblem = CTrackLeftOut::EReason::ConfigurationUnreadable;
    } else if (reference.nHandler == FourCC("soun") && entry.eCodec == ECodec::Aac) {
        m_eKind = EWalkKind::Audio;
        m_aac = entry.aac;
        return;
    } else if (reference.nHandler == FourCC("vide") &&
               (entry.eCodec == ECodec::Mjpeg || entry.eCodec == ECodec::H263)) {
        if (m_picture.Learn(reference)) {
            m_eKind = EWalkKind::Picture;
            return;
        }
    } else if (reference.nHandler == FourCC("soun") &&
               (entry.eCodec == ECodec::AmrNb || entry.eCodec == ECodec::AmrWb)) {
        m_bWideSpeech = entry.eCodec == ECodec::AmrWb;
        m_nSpeechFrames = SpeechFramesPerSample(reference, m_bWideSpeech);
        if (m_nSpeechFrames != 0) {
            m_eKind = EWalkKind::Speech;
            return;
        }
    } else if (reference.nHandler == FourCC("soun") && entry.eCodec == ECodec::Pcm) {
        m_nSampleBytes = PcmSampleBytes(reference);
        if (m_nSampleBytes != 0) {
            m_eKind = EWalkKind::Pcm;
            m_nFixedSize = reference.nFixedSampleSize;
            m_commonChunks = CommonChunkSizes(reference.chunks);
            for (const CReferenceChunk& chunk : reference.chunks)
                m_nMaxChunkBytes =
                    std::max<uint64_t>(m_nMaxChunkBytes, uint64_t(chunk.nSamples) * m_nSampleBytes);
            return;
        }
    }
    if (reference.bRecords) {
        m_eKind = EWalkKind::Records;
        m_recordKinds = reference.recordKinds;
        return;
    }
    if (reference.nFixedSampleSize != 0) {
        m_eKind = EWalkKind::Fixed;
        m_nFixedSize = reference.nFixedSampleSize;
        return;
    }
    if (entry.eCodec == ECodec::Other) {
        m_shape.Learn(reference.firstSamples);
        if (m_shape.Kind() != CSampleShape::EKind::None) {
            m_eKind = EWalkKind::Shaped;
            // A recording's samples may be longer than the reference's, within reason.
            m_nShapeMax = std::max<size_t>(kMinShapeMax, size_t(reference.nMaxSampleSize) * 4);
            return;
        }
    }
    if (entry.eCodec == ECodec::Other) {
        m_prefix = CommonPrefix(reference.firstSamples);
        if (!m_prefix.empty()) {
            m_eKind = EWalkKind::Marked;
            m_nShapeMax = static_cast<size_t>(std::min<uint64_t>(
                kMaxMarkedMax,
                std::max<uint64_t>(kMinMarkedMax, uint64_t(reference.nMaxSampleSize) * 4)));
            return;
        }
    }
    if (entry.eCodec == ECodec::Other && RepeatsAfterLead(reference, &m_leadSizes, &m_nFixedSize)) {
        m_eKind = EWalkKind::Repeating;
        return;
    }
    m_eKind = EWalkKind::Unknown;
    m_commonSizes = reference.commonSizes;
}

size_t CWalkTrack::Lookahead() const {
    switch (m_eKind) {
    case EWalkKind::Video:
        return 256;
    case EWalkKind::Audio:
        return kAacLookahead;
    case EWalkKind::Picture:
        return 256;
    case EWalkKind::Speech:
        return size_t(m_nSpeechFrames) * kMaxAmrFrame;
    case EWalkKind::Fixed:
        return m_nFixedSize;
    case EWalkKind::Repeating:
        return NextSize();
    case EWalkKind::Shaped:
        return 64;
    case EWalkKind::Marked:
        return m_prefix.size();
    case EWalkKind::Records:
        return kGoProRecordSize + kGoProMaxSlots * kGoProSlotSize;
    default:
        return 0;
    }
}

size_t CWalkTrack::LargestSample() const {
    switch (m_eKind) {
    case EWalkKind::Video:
        return NalSizeLimit(m_nMaxSampleBytes);
    case EWalkKind::Audio:
        return kAacLookahead;
    case EWalkKind::Fixed:
    case EWalkKind::Repeating:
        return NextSize();
    case EWalkKind::Shaped:
    case EWalkKind::Marked:
        return m_nShapeMax;
    default:
        return SIZE_MAX;
    }
}

void CWalkTrack::Try(const uint8_t* pData, size_t nAvail, bool bAtEnd, bool bStrict,
                     CTrackTry* pTry, uint64_t nOffset) {
    pTry->eResult = ESampleParse::Invalid;
    pTry->nSize = 0;
    pTry->nSamples = 1;
    switch (m_eKind) {
    case EWalkKind::Video:
        pTry->eResult = m_pVideo->Parse(pData, nAvail, bAtEnd, &pTry->video, &pTry->nNeed, nOffset);
        if (pTry->eResult == ESampleParse::Ok)
            pTry->nSize = pTry->video.nSize;
        return;
    case EWalkKind::Audio: {
        size_t nLength = 0;
        const EAacFrame eFrame = ParseAacFrame(m_aac, pData, nAvail, &nLength, &pTry->aac);
        if (eFrame == EAacFrame::Ok && nLength > 0 && nLength <= nAvail &&
            (!bStrict || Continues(*pTry))) {
            pTry->eResult = ESampleParse::Ok;
            pTry->nSize = nLength;
        } else if (eFrame == EAacFrame::Truncated) {
            pTry->eResult = ESampleParse::Truncated;
        }
        return;
    }
    case EWalkKind::Shaped:
        pTry->eResult =
            m_shape.Parse(pData, nAvail, bAtEnd, m_nShapeMax, &pTry->nSize, &pTry->nNeed);
        return;
    case EWalkKind::Records: {
        pTry->bRecord = !IsGoProHeader(pData, nAvail);
        if (pTry->bRecord) {
            pTry->eResult = ParseGoProRecord(pData, nAvail, bAtEnd, &pTry->record, &pTry->nNeed);
            pTry->nSize = pTry->eResult == ESampleParse::Ok ? pTry->record.nLength : 0;
        } else {
            CGoProHeader header;
            pTry->eResult = ParseGoProHeader(pData, nAvail, bAtEnd, &header, &pTry->nNeed);
            pTry->nSize = pTry->eResult == ESampleParse::Ok ? header.nLength : 0;
        }
        return;
    }
    case EWalkKind::Picture:
        pTry->eResult =
            m_picture.Parse(pData, nAvail, bAtEnd, &pTry->nSize, &pTry->nNeed, &pTry->picture);
        pTry->video.bSync = pTry->picture.bSync;
        return;
    case EWalkKind::Speech: {
        bool bCut = false;
        pTry->nSize = AmrFramesSize(m_bWideSpeech, pData, nAvail, m_nSpeechFrames, &bCut);
        if (pTry->nSize != 0)
            pTry->eResult = ESampleParse::Ok;
        else if (bCut && bAtEnd)
            pTry->eResult = ESampleParse::Truncated;
        return;
    }
    case EWalkKind::Fixed:
    case EWalkKind::Repeating:
        if (nAvail >= NextSize()) {
            pTry->eResult = ESampleParse::Ok;
            pTry->nSize = NextSize();
        } else if (bAtEnd) {
            pTry->eResult = ESampleParse::Truncated;
        }
        return;
    default:
        return;
    }
}

uint32_t CWalkTrack::SizeOf(uint64_t nIndex) const {
    return nIndex < m_leadSizes.size() ? m_leadSizes[static_cast<size_t>(nIndex)] : m_nFixedSize;
}

void CWalkTrack::TryChunk(const uint8_t* pData, size_t nAvail, bool bAtEnd, uint32_t nSamples,
                          CTrackTry* pTry) const {
    pTry->eResult = ESampleParse::Invalid;
    pTry->nSize = 0;
    pTry->nSamples = 0;
    if (m_eKind != EWalkKind::Pcm || nSamples == 0)
        return;
    const uint64_t nBytes = uint64_t(nSamples) * m_nSampleBytes;
    if (nBytes <= nAvail) {
        pTry->eResult = ESampleParse::Ok;
        pTry->nSize = static_cast<size_t>(nBytes);
        pTry->nSamples = nSamples;
        return;
    }
    if (!bAtEnd)
        return;
    // Cut off: its whole samples, unless they are zeros (a file that was never written to).
    pTry->eResult = ESampleParse::Truncated;
    pTry->nSamples = static_cast<uint32_t>(nAvail / m_nSampleBytes);
    pTry->nSize = size_t(pTry->nSamples) * m_nSampleBytes;
    if (std::all_of(pData, pData + pTry->nSize, [](uint8_t b) { return b == 0; })) {
        pTry->nSamples = 0;
        pTry->nSize = 0;
    }
}

void CWalkTrack::Take(const CTrackTry& found) {
    if (m_eKind == EWalkKind::Pcm) {
        m_sizes.Add(m_nFixedSize, found.nSamples);
        return;
    }
    if (m_eKind == EWalkKind::Picture &&
        (m_picture.SyncPeriod() != 0 ? Count() % m_picture.SyncPeriod() == 0 : found.video.bSync))
        m_syncSamples.push_back(static_cast<uint32_t>(m_sizes.Count()));
    if (m_eKind == EWalkKind::Video) {
        m_pVideo->Accept();
        if (found.video.bSync)
            m_syncSamples.push_back(static_cast<uint32_t>(m_sizes.Count()));
        m_pOrder->Add(found.video, *m_pVideo);
    } else if (m_eKind == EWalkKind::Audio) {
        m_lastAac = found.aac;
        m_bLastAac = true;
    }
    m_sizes.Add(static_cast<uint32_t>(found.nSize));
}

void CWalkTrack::Untake() {
    if (m_sizes.Count() == 0)
        return;
    m_sizes.RemoveLast();
    if (!m_syncSamples.empty() && m_syncSamples.back() == m_sizes.Count())
        m_syncSamples.pop_back();
    if (m_eKind == EWalkKind::Video)
        m_pOrder->RemoveLast();
    // The frame before it is not kept: the next may follow any.
    m_bLastAac = false;
}

bool CWalkTrack::MayStart(const uint8_t* pData, size_t nAvail) const {
    if (m_eKind == EWalkKind::Video)
        return m_pVideo->MayStartSample(pData, nAvail);
    if (m_eKind == EWalkKind::Records)
        return nAvail >= 2 && pData[0] == 'G' && pData[1] == 'P';
    if (m_eKind == EWalkKind::Picture)
        return m_picture.MayStart(pData, nAvail);
    if (m_eKind == EWalkKind::Speech)
        return nAvail >= 1 && AmrFrameSize(m_bWideSpeech, pData[0]) != 0;
    if (m_eKind != EWalkKind::Audio || nAvail < 1)
        return false;
    // A raw frame begins with its first channel element, whose tag is its first.
    const CAacImplicitLayout& layout = AacImplicitLayout(m_aac.nChannelConfig);
    const int nType = pData[0] >> 5;
    const int nTag = (pData[0] >> 1) & 0x0F;
    return layout.nCount > 0 ? nType == int(layout.aTypes[0]) && nTag == 0
                             : nType <= int(EAacElementType::Lfe);
}

bool CWalkTrack::SameSyntax(const CWalkTrack& other) const {
    if (m_eKind != EWalkKind::Audio || other.m_eKind != EWalkKind::Audio)
        return false;
    const CAacConfig& a = m_aac;
    const CAacConfig& b = other.m_aac;
    return a.nObjectType == b.nObjectType && a.nChannelConfig == b.nChannelConfig &&
           AacSameBandTables(a.nSampleRateIndex, b.nSampleRateIndex) &&
           (a.nChannelConfig != 0 || AacSameProgram(a.program, b.program));
}

bool CWalkTrack::Continues(const CTrackTry& found) const {
    return !m_bLastAac || AacFrameContinues(m_lastAac, found.aac);
}

void CWalkTrack::Drop(const CTrackTry& found) {
    if (m_eKind == EWalkKind::Video && found.eResult == ESampleParse::Ok)
        m_pVideo->Reject();
}

std::vector<std::unique_ptr<CWalkTrack>> MakeWalkTracks(const CReferenceMovie& movie,
                                                        std::vector<CTrackLeftOut>* pLeftOut) {
    std::vector<std::unique_ptr<CWalkTrack>> tracks;
    for (size_t i = 0; i < movie.tracks.size(); ++i) {
        const CReferenceTrack& reference = movie.tracks[i];
        if (reference.nSamples == 0 || reference.chunks.empty()) {
            pLeftOut->push_back(
                TrackLeftOut(reference, CTrackLeftOut::EReason::NoSamplesInReference));
            continue;
        }
        tracks.emplace_back(new CWalkTrack(reference, i));
    }
    std::stable_sort(
        tracks.begin(), tracks.end(),
        [](const std::unique_ptr<CWalkTrack>& a, const std::unique_ptr<CWalkTrack>& b) {
            return static_cast<int>(a->Kind()) < static_cast<int>(b->Kind());
        });
    return tracks;
}
