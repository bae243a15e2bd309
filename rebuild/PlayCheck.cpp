#include "rebuild/PlayCheck.h"

#include "codec/ConfigVariant.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <set>
#include <string>

namespace {

// Bytes read at once from runs of samples that follow one another.
const size_t kReadBlock = 4u << 20;
// The reference: this many of its first pictures and sound frames.
const uint64_t kReferencePictures = 10;
const uint64_t kReferenceFrames = 48;
// The recording's start: its first group of pictures, up to this many, and sound frames.
const uint64_t kStartPictures = 30;
const uint64_t kStartFrames = 48;
// The size search: each size on the key frame alone, then those that decoded it clean on this
// many pictures.
const uint64_t kSearchPictures = 8;
// A place in the copy: a key frame and this many pictures after it, or this many sound frames
// (about a second).
const uint64_t kPlacePictures = 4;
const uint64_t kPlaceFrames = 48;
// Places between the start and the end: at 1/2, 1/4, 3/4, ... 4095/4096 of the way at most.
const uint64_t kPlaceParts = 4096;

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool Cancelled(CCancelCheck* pCancel) {
    return pCancel && pCancel->Cancelled();
}

std::unique_ptr<CSampleDecoder> OpenDecoder(CSampleChecker& checker, ECodec eCodec,
                                            const std::vector<uint8_t>& config,
                                            std::string* pError) {
    return checker.Open(eCodec, config.data(), config.size(), false, pError);
}

// The first fault a decoder found, or what it lacked when nothing came out.
std::string FirstFault(const CSampleDecoder& decoder, int64_t* pLabel) {
    const std::vector<CSampleFault> faults = decoder.Faults();
    if (!faults.empty()) {
        *pLabel = faults[0].nLabel;
        return faults[0].strText;
    }
    *pLabel = 0;
    return "nothing came out of the decoder";
}

// Decodes [nFrom, nTo) and what the decoder holds then; Clean when that found no fault and
// gave frames.
EDecodeRun DecodeWhole(CByteSource& source, const CSampleLayout& layout, uint64_t nFrom,
                       uint64_t nTo, CSampleDecoder& decoder, CCancelCheck* pCancel) {
    const EDecodeRun eRun = DecodeSamples(source, layout, nFrom, nTo, decoder, pCancel);
    if (eRun == EDecodeRun::Cancelled || eRun == EDecodeRun::ReadFailed)
        return eRun;
    const bool bFinished = decoder.Finish();
    return eRun == EDecodeRun::Clean && bFinished && decoder.FaultCount() == 0 &&
                   decoder.Frames() != 0
               ? EDecodeRun::Clean
               : EDecodeRun::Faults;
}

// The layout of a walk track's samples up to the walk's first nChunks chunks; *pPlaced: how
// many samples they hold.
void WalkLayout(const CMediaWalk& walk, size_t nTrack, size_t nChunks, CSampleLayout* pLayout,
                uint64_t* pPlaced) {
    *pPlaced = 0;
    const std::vector<CWalkChunk>& chunks = walk.Chunks();
    for (size_t c = 0; c < nChunks && c < chunks.size(); ++c) {
        if (chunks[c].nTrack != nTrack)
            continue;
        pLayout->AddRun(chunks[c].nOffset, chunks[c].nFirstSample, chunks[c].nSamples);
        *pPlaced = uint64_t(chunks[c].nFirstSample) + chunks[c].nSamples;
    }
}

CMismatch Values(CMismatch::EKind eKind, int64_t nRecording, int64_t nReference) {
    CMismatch mismatch;
    mismatch.eKind = eKind;
    mismatch.nRecording = nRecording;
    mismatch.nReference = nReference;
    return mismatch;
}

CMismatch SizeMismatch(int nWidth, int nHeight, int nReferenceWidth, int nReferenceHeight) {
    CMismatch mismatch = Values(CMismatch::EKind::PictureSize, nWidth, nReferenceWidth);
    mismatch.nRecordingHeight = nHeight;
    mismatch.nReferenceHeight = nReferenceHeight;
    return mismatch;
}

// Where the last NAL unit of a coded slice in a sample lies: its payload [*pBegin, *pEnd) and
// where its length is written.
bool FindLastSlice(const std::vector<uint8_t>& sample, int nLengthSize, bool bHevc, size_t* pLength,
                   size_t* pBegin, size_t* pEnd) {
    bool bFound = false;
    for (size_t nAt = 0; nLengthSize > 0 && nAt + size_t(nLengthSize) < sample.size();) {
        uint64_t nSize = 0;
        for (int i = 0; i < nLengthSize; ++i)
            nSize = (nSize << 8) | sample[nAt + size_t(i)];
        const size_t nBegin = nAt + size_t(nLengthSize);
        if (nSize == 0 || nSize > sample.size() - nBegin)
            break;
        const int nType = bHevc ? (sample[nBegin] >> 1) & 0x3F : sample[nBegin] & 0x1F;
        if (bHevc ? nType < 32 : nType >= 1 && nType <= 5) {
            *pLength = nAt;
            *pBegin = nBegin;
            *pEnd = nBegin + static_cast<size_t>(nSize);
            bFound = true;
        }
        nAt = nBegin + static_cast<size_t>(nSize);
    }
    return bFound;
}

void PutLength(std::vector<uint8_t>* pSample, size_t nAt, int nLengthSize, uint64_t nSize) {
    for (int i = nLengthSize - 1; i >= 0; --i, nSize >>= 8)
        (*pSample)[nAt + size_t(i)] = static_cast<uint8_t>(nSize);
}

// A key frame decoded alone with a configuration: whether clean, and what it showed.
struct CKeyTry {
    bool bClean = false;
    uint64_t nHash = 0;
};
CKeyTry TryKey(CSampleChecker& checker, ECodec eCodec, const std::vector<uint8_t>& config,
               const std::vector<uint8_t>& sample) {
    CKeyTry result;
    std::string strError;
    const std::unique_ptr<CSampleDecoder> pDecoder =
        checker.Open(eCodec, config.data(), config.size(), true, &strError);
    if (!pDecoder)
        return result;
    const bool bDecoded = pDecoder->Decode(sample.data(), sample.size(), 0);
    result.bClean =
        pDecoder->Finish() && bDecoded && pDecoder->FaultCount() == 0 && pDecoder->Frames() != 0;
    result.nHash = pDecoder->PictureHash();
    return result;
}

// Whether a configuration fits a key frame. A decoder can decode a picture of another size, or
// bit depth, without a complaint (FFmpeg's HEVC decoder does, reading past the slice data or
// stopping short of it), so the key frame must decode clean and read its last slice's data
// exactly to its end: bytes put after the end change nothing, bytes changed just before it
// change the picture.
class CKeyFit {
public:
    // False when the key frame has no slice to try.
    bool Prepare(CByteSource& source, const CSampleLayout& layout, uint64_t nKey, int nLengthSize,
                 ECodec eCodec, EDecodeRun* pRun) {
        m_eCodec = eCodec;
        const std::vector<CSampleLayout::CSpan> spans = layout.Locate(nKey, nKey + 1);
        if (spans.empty())
            return false;
        m_key.resize(spans[0].nSize);
        if (!source.ReadAt(spans[0].nOffset, m_key.data(), m_key.size())) {
            *pRun = EDecodeRun::ReadFailed;
            return false;
        }
        const bool bHevc = eCodec == ECodec::Hevc;
        size_t nLength = 0, nBegin = 0, nEnd = 0;
        if (!FindLastSlice(m_key, nLengthSize, bHevc, &nLength, &nBegin, &nEnd))
            return false;
        // Bytes after the slice's end, none of them zero (nothing a NAL unit could end with).
        const uint8_t kTail[] = {0x9A, 0x5C, 0xE3, 0x71, 0xB8, 0x2F, 0xD6, 0x4B};
        m_longer = m_key;
        for (int i = 0; i < 8; ++i)
            m_longer.insert(m_longer.begin() + static_cast<ptrdiff_t>(nEnd), kTail, kTail + 8);
        PutLength(&m_longer, nLength, nLengthSize, nEnd - nBegin + 64);
        // The last bytes before the stop bit (cabac_zero_words, and the emulation prevention
        // bytes in them, come after it).
        size_t nStop = nEnd;
        while (nStop > nBegin && (m_key[nStop - 1] == 0 || m_key[nStop - 1] == 3))
            --nStop;
        m_changed = m_key;
        m_bChanged = nStop >= nBegin + (bHevc ? 2 : 1) + 8;
        for (size_t i = m_bChanged ? nStop - 4 : nStop; i + 1 < nStop; ++i)
            m_changed[i] ^= 0x5A;
        return true;
    }
    uint64_t KeySize() const { return m_key.size(); }
    bool Fits(CSampleChecker& checker, const std::vector<uint8_t>& config) const {
        const CKeyTry plain = TryKey(checker, m_eCodec, config, m_key);
        if (!plain.bClean)
            return false;
        const CKeyTry after = TryKey(checker, m_eCodec, config, m_longer);
        if (!after.bClean || after.nHash != plain.nHash)
            return false;
        if (!m_bChanged)
            return true;
        const CKeyTry before = TryKey(checker, m_eCodec, config, m_changed);
        return !before.bClean || before.nHash != plain.nHash;
    }

private:
    ECodec m_eCodec = ECodec::H264;
    std::vector<uint8_t> m_key, m_longer, m_changed;
    bool m_bChanged = false;
};

// The picture shape the recording's pictures [nKey, nEnd) decode with, when the reference's
// configuration is made over for each size recorders use (and, for HEVC, 8 and 10 bits), the
// likeliest first by the key frame's bytes against the reference's: one that fits the key frame
// and decodes the first pictures clean. False when none does.
bool FindShape(CByteSource& source, const CSampleLayout& layout, uint64_t nKey, uint64_t nEnd,
               const CKeyFit& fit, const CReferenceTrack& reference, ECodec eCodec,
               const CPictureShape& referenceShape, CSampleChecker& checker, CCancelCheck* pCancel,
               CPictureShape* pShape, EDecodeRun* pRun) {
    const CSampleEntry& entry = reference.entry;
    const bool bHevc = eCodec == ECodec::Hevc;
    std::vector<int> depths = {referenceShape.nBitDepth};
    if (bHevc)
        depths.push_back(referenceShape.nBitDepth == 8 ? 10 : 8);
    std::vector<CPictureShape> shapes;
    for (int nDepth : depths) {
        if (nDepth != depths[0])
            shapes.push_back({referenceShape.nWidth, referenceShape.nHeight, nDepth});
        for (const CPictureShape& size : RecorderPictureSizes()) {
            if (size.nWidth != referenceShape.nWidth || size.nHeight != referenceShape.nHeight)
                shapes.push_back({size.nWidth, size.nHeight, bHevc ? nDepth : 0});
        }
    }
    // A recorder spends about as many bytes on a pixel at every size.
    const uint32_t nReferenceKey = reference.leadSizes.empty() ? 0 : reference.leadSizes[0];
    if (nReferenceKey != 0 && referenceShape.nWidth > 0 && referenceShape.nHeight > 0) {
        const double dPixels = double(referenceShape.nWidth) * referenceShape.nHeight *
                               double(fit.KeySize()) / nReferenceKey;
        const auto distance = [&](const CPictureShape& shape) {
            return std::fabs(std::log(double(shape.nWidth) * shape.nHeight / dPixels));
        };
        std::stable_sort(shapes.begin(), shapes.end(),
                         [&](const CPictureShape& a, const CPictureShape& b) {
                             return distance(a) < distance(b);
                         });
    }

    for (const CPictureShape& shape : shapes) {
        if (Cancelled(pCancel)) {
            *pRun = EDecodeRun::Cancelled;
            return false;
        }
        std::vector<uint8_t> config;
        if (!MakeConfigVariant(entry.eCodec, entry.decoderConfig, shape, &config) ||
            !fit.Fits(checker, config))
            continue;
        std::string strError;
        const std::unique_ptr<CSampleDecoder> pDecoder =
            OpenDecoder(checker, eCodec, config, &strError);
        if (!pDecoder)
            continue;
        const EDecodeRun eRun = DecodeWhole(
            source, layout, nKey, std::min(nEnd, nKey + kSearchPictures), *pDecoder, pCancel);
        if (eRun == EDecodeRun::Cancelled || eRun == EDecodeRun::ReadFailed) {
            *pRun = eRun;
            return false;
        }
        if (eRun == EDecodeRun::Clean) {
            *pShape = shape;
            return true;
        }
    }
    return false;
}

// Where each sample of a copy's track is shown, in seconds.
double SampleSeconds(const CTrackTables& tables, uint64_t nSample) {
    uint64_t nTime = 0;
    if (tables.durations.empty()) {
        nTime = nSample * tables.nSampleDuration;
    } else {
        uint64_t nLeft = nSample;
        uint32_t nLast = tables.nSampleDuration;
        for (const CTrackTables::CDurationRun& run : tables.durations) {
            const uint64_t nTake = std::min<uint64_t>(nLeft, run.nCount);
            nTime += nTake * run.nDuration;
            nLeft -= nTake;
            nLast = run.nDuration;
            if (nLeft == 0)
                break;
        }
        nTime += nLeft * nLast;
    }
    int64_t nShown = static_cast<int64_t>(nTime);
    if (nSample < tables.compositionOffsets.size())
        nShown += int64_t(tables.compositionOffsets[static_cast<size_t>(nSample)]) -
                  int64_t(tables.nCompositionShift);
    const uint32_t nTimescale = tables.pReference->nTimescale;
    return nShown > 0 && nTimescale ? double(nShown) / nTimescale : 0.0;
}

// The faults a decoder of a copy's track found, at their times.
void TakeFaults(const CSampleDecoder& decoder, const CTrackTables& tables, bool bVideo,
                CPlayCheck* pCheck) {
    pCheck->nDamaged += static_cast<uint64_t>(decoder.FaultCount());
    for (const CSampleFault& fault : decoder.Faults()) {
        CDamagedFrame frame;
        frame.bVideo = bVideo;
        frame.dAt =
            SampleSeconds(tables, static_cast<uint64_t>(std::max<int64_t>(0, fault.nLabel)));
        frame.strDecoder = fault.strText;
        pCheck->damaged.push_back(frame);
    }
}

// One track of the copy under check: its decoder, where its samples are, and what its first
// samples cost to decode.
struct CTrackCheck {
    const CTrackTables* pTables = nullptr;
    bool bVideo = false;
    std::unique_ptr<CSampleDecoder> pDecoder;
    std::unique_ptr<CSampleLayout> pLayout;
    uint64_t nCount = 0;
    uint64_t nStartEnd = 0;         // its start, decoded first: [0, nStartEnd)
    double dPerSample = 0;          // what a sample of the start took
    bool bWhole = false;            // all of it decoded
    bool bEnd = false;              // its last sample decoded
    int nPlaces = 0;                // places decoded, the start among them
    std::set<uint64_t> done = {0};  // where places began
    uint64_t nDepth = 1, nPart = 1; // the next place: nPart / 2^nDepth of the way

    // The key frame at or before sample n (every sound frame is one).
    uint64_t KeyAtOrBefore(uint64_t n) const {
        const std::vector<uint32_t>& syncs = pTables->syncSamples;
        if (!bVideo || pTables->bAllSync)
            return n;
        const auto it = std::upper_bound(syncs.begin(), syncs.end(), n);
        return it == syncs.begin() ? 0 : *(it - 1);
    }
    // Where a place that begins at nKey ends: a few pictures on (not past the next key frame),
    // or a second of sound.
    uint64_t PlaceEnd(uint64_t nKey) const {
        if (!bVideo)
            return std::min(nCount, nKey + kPlaceFrames);
        uint64_t nNext = nCount;
        if (pTables->bAllSync) {
            nNext = nKey + 1;
        } else {
            const std::vector<uint32_t>& syncs = pTables->syncSamples;
            const auto it = std::upper_bound(syncs.begin(), syncs.end(), nKey);
            if (it != syncs.end())
                nNext = *it;
        }
        return std::min({nCount, nNext, nKey + 1 + kPlacePictures});
    }
};

bool Stopped(EDecodeRun eRun) {
    return eRun == EDecodeRun::Cancelled || eRun == EDecodeRun::ReadFailed;
}

// Opens a track's decoder and decodes its start, whatever that takes; it tells what a sample
// costs. The decoder is left unfinished, to go on.
EDecodeRun StartTrack(CByteSource& copy, CCancelCheck* pCancel, CTrackCheck* pTrack) {
    CTrackCheck& track = *pTrack;
    const double dBegin = Now();
    track.nStartEnd = track.PlaceEnd(0);
    const EDecodeRun eRun =
        DecodeSamples(copy, *track.pLayout, 0, track.nStartEnd, *track.pDecoder, pCancel);
    track.nPlaces = 1;
    track.bEnd = track.nStartEnd == track.nCount;
    track.dPerSample = (Now() - dBegin) / double(std::max<uint64_t>(1, track.nStartEnd));
    return eRun;
}

// Where a track's end begins: its last group of pictures, or its last second of sound.
uint64_t EndPlace(const CTrackCheck& track) {
    return track.bVideo ? track.KeyAtOrBefore(track.nCount - 1)
                        : track.nCount - std::min(track.nCount, kPlaceFrames);
}

// A track's end, decoded whatever the time, the decoder having reached nReached: on from
// there when the end begins before it, else afresh from where the end begins.
EDecodeRun DecodeEndFrom(CByteSource& copy, uint64_t nReached, CCancelCheck* pCancel,
                         CTrackCheck* pTrack) {
    CTrackCheck& track = *pTrack;
    uint64_t nFrom = nReached;
    const uint64_t nEnd = EndPlace(track);
    if (nEnd > nReached) {
        track.pDecoder->Finish();
        track.pDecoder->Reset();
        track.done.insert(nEnd);
        ++track.nPlaces;
        nFrom = nEnd;
    }
    const EDecodeRun eRun =
        DecodeSamples(copy, *track.pLayout, nFrom, track.nCount, *track.pDecoder, pCancel);
    if (Stopped(eRun))
        return eRun;
    track.pDecoder->Finish();
    track.bEnd = true;
    return EDecodeRun::Clean;
}

// The rest of a started track, as far as the time allows; its end whatever the time.
EDecodeRun DecodeRest(CByteSource& copy, double dDeadline, CCancelCheck* pCancel,
                      CTrackCheck* pTrack) {
    CTrackCheck& track = *pTrack;
    uint64_t nReached = track.nStartEnd;
    const EDecodeRun eRun = DecodeSamples(copy, *track.pLayout, track.nStartEnd, track.nCount,
                                          *track.pDecoder, pCancel, &dDeadline, &nReached);
    if (Stopped(eRun))
        return eRun;
    track.bWhole = nReached == track.nCount;
    return DecodeEndFrom(copy, nReached, pCancel, pTrack);
}

// The end of a started track whose rest does not fit in the time.
EDecodeRun DecodeEnd(CByteSource& copy, CCancelCheck* pCancel, CTrackCheck* pTrack) {
    return DecodeEndFrom(copy, pTrack->nStartEnd, pCancel, pTrack);
}

// The next place between the start and the end, halving the gaps: 1/2, 1/4, 3/4, 1/8...;
// *pPlaced false when none is left or it would not end before dDeadline.
EDecodeRun DecodePlace(CByteSource& copy, double dDeadline, CCancelCheck* pCancel,
                       CTrackCheck* pTrack, bool* pPlaced) {
    CTrackCheck& track = *pTrack;
    *pPlaced = false;
    while ((uint64_t(1) << track.nDepth) <= kPlaceParts) {
        const uint64_t nParts = uint64_t(1) << track.nDepth;
        const uint64_t nKey = track.KeyAtOrBefore(track.nCount * track.nPart / nParts);
        track.nPart += 2;
        if (track.nPart >= nParts) {
            ++track.nDepth;
            track.nPart = 1;
        }
        if (!track.done.insert(nKey).second)
            continue;
        const uint64_t nEnd = track.PlaceEnd(nKey);
        if (Now() + track.dPerSample * double(nEnd - nKey) > dDeadline)
            return EDecodeRun::Clean;
        track.pDecoder->Reset();
        const EDecodeRun eRun =
            DecodeSamples(copy, *track.pLayout, nKey, nEnd, *track.pDecoder, pCancel);
        if (Stopped(eRun))
            return eRun;
        track.pDecoder->Finish();
        ++track.nPlaces;
        *pPlaced = true;
        return EDecodeRun::Clean;
    }
    return EDecodeRun::Clean;
}

} // namespace

void CSampleLayout::AddRun(uint64_t nOffset, uint64_t nFirst, uint64_t nCount) {
    if (nCount != 0)
        m_runs.push_back(CRun{nOffset, nFirst, nCount});
}

std::vector<CSampleLayout::CSpan> CSampleLayout::Locate(uint64_t nFrom, uint64_t nTo) const {
    std::vector<CSpan> spans;
    nTo = std::min(nTo, m_sizes.Count());
    const std::vector<CSampleSizes::CRun>& sizes = m_sizes.Runs();
    size_t nSizeRun = 0;
    uint64_t nSizeRunFirst = 0;
    for (const CRun& run : m_runs) {
        if (run.nFirst >= nTo)
            break;
        if (run.nFirst + run.nCount <= nFrom)
            continue;
        uint64_t nOffset = run.nOffset;
        for (uint64_t i = run.nFirst; i < run.nFirst + run.nCount && i < nTo; ++i) {
            while (nSizeRun < sizes.size() && nSizeRunFirst + sizes[nSizeRun].nCount <= i)
                nSizeRunFirst += sizes[nSizeRun++].nCount;
            if (nSizeRun == sizes.size() || i < nSizeRunFirst)
                return spans;
            const uint32_t nSize = sizes[nSizeRun].nSize;
            if (i >= nFrom)
                spans.push_back(CSpan{i, nOffset, nSize});
            nOffset += nSize;
        }
    }
    return spans;
}

EDecodeRun DecodeSamples(CByteSource& source, const CSampleLayout& layout, uint64_t nFrom,
                         uint64_t nTo, CSampleDecoder& decoder, CCancelCheck* pCancel,
                         const double* pDeadline, uint64_t* pTo) {
    const std::vector<CSampleLayout::CSpan> spans = layout.Locate(nFrom, nTo);
    if (pTo)
        *pTo = nFrom;
    std::vector<uint8_t> block;
    bool bClean = true;
    for (size_t i = 0; i < spans.size();) {
        if (Cancelled(pCancel))
            return EDecodeRun::Cancelled;
        // Samples that follow one another in the file, read at once.
        size_t j = i + 1;
        uint64_t nBytes = spans[i].nSize;
        while (j < spans.size() && spans[j].nOffset == spans[j - 1].nOffset + spans[j - 1].nSize &&
               nBytes + spans[j].nSize <= kReadBlock)
            nBytes += spans[j++].nSize;
        // A size the table claims but the file cannot hold is refused before it is allocated.
        if (spans[i].nOffset > source.Size() || nBytes > source.Size() - spans[i].nOffset)
            return EDecodeRun::ReadFailed;
        block.resize(static_cast<size_t>(nBytes));
        if (!source.ReadAt(spans[i].nOffset, block.data(), block.size()))
            return EDecodeRun::ReadFailed;
        size_t nAt = 0;
        for (size_t k = i; k < j; ++k) {
            if (pDeadline && Now() > *pDeadline)
                return bClean ? EDecodeRun::Clean : EDecodeRun::Faults;
            if ((k - i) % 32 == 31 && Cancelled(pCancel))
                return EDecodeRun::Cancelled;
            bClean = decoder.Decode(block.data() + nAt, spans[k].nSize,
                                    static_cast<int64_t>(spans[k].nIndex)) &&
                     bClean;
            nAt += spans[k].nSize;
            if (pTo)
                *pTo = spans[k].nIndex + 1;
        }
        i = j;
    }
    return bClean ? EDecodeRun::Clean : EDecodeRun::Faults;
}

bool CheckedCodecOf(const CSampleEntry& entry, ECodec* pCodec) {
    if (entry.decoderConfig.empty() || entry.eCodec == ECodec::Other)
        return false;
    *pCodec = entry.eCodec;
    return true;
}

bool ReferencePlays(CByteSource& source, const CReferenceMovie& movie,
                    const std::vector<size_t>& tracks, CSampleChecker& checker,
                    CCancelCheck* pCancel, CDamagedFrame* pFault, CDecodedFormat* pVideo,
                    EDecodeRun* pRun) {
    *pRun = EDecodeRun::Clean;
    bool bVideoSeen = false;
    for (size_t t : tracks) {
        const CReferenceTrack& track = movie.tracks[t];
        ECodec eCodec = ECodec::Aac;
        if (!CheckedCodecOf(track.entry, &eCodec))
            continue;
        const bool bVideo = eCodec != ECodec::Aac;
        CSampleSizes sizes;
        for (size_t i = 0;
             i < track.leadSizes.size() && i < (bVideo ? kReferencePictures : kReferenceFrames);
             ++i)
            sizes.Add(track.leadSizes[i]);
        CSampleLayout layout(sizes);
        for (const CReferenceChunk& chunk : track.chunks) {
            if (chunk.nFirstSample >= sizes.Count())
                break;
            layout.AddRun(chunk.nOffset, chunk.nFirstSample, chunk.nSamples);
        }
        pFault->bVideo = bVideo;
        std::string strError;
        const std::unique_ptr<CSampleDecoder> pDecoder =
            OpenDecoder(checker, eCodec, track.entry.decoderConfig, &strError);
        if (!pDecoder) {
            pFault->strDecoder = strError;
            return false;
        }
        const EDecodeRun eRun = DecodeWhole(source, layout, 0, sizes.Count(), *pDecoder, pCancel);
        if (eRun == EDecodeRun::Cancelled || eRun == EDecodeRun::ReadFailed) {
            *pRun = eRun;
            return false;
        }
        if (eRun != EDecodeRun::Clean) {
            int64_t nLabel = 0;
            pFault->strDecoder = FirstFault(*pDecoder, &nLabel);
            pFault->dAt =
                track.nTimescale ? double(nLabel) * track.nTypicalDuration / track.nTimescale : 0.0;
            return false;
        }
        if (bVideo && !bVideoSeen) {
            *pVideo = pDecoder->Format();
            bVideoSeen = true;
        }
    }
    return true;
}

CMismatch CheckRecordingStart(CByteSource& source, const CReferenceMovie& movie,
                              const std::vector<std::unique_ptr<CWalkTrack>>& tracks,
                              const CMediaWalk& probe, const CDecodedFormat& referenceVideo,
                              CSampleChecker& checker, CCancelCheck* pCancel, EDecodeRun* pRun) {
    *pRun = EDecodeRun::Clean;
    // Past a stretch the probe left out, pictures lack those they refer to.
    const size_t nChunks =
        probe.Stretches().empty() ? probe.Chunks().size() : probe.Stretches()[0].nChunks;
    for (size_t t = 0; t < tracks.size(); ++t) {
        const CWalkTrack& track = *tracks[t];
        const CSampleEntry& entry = movie.tracks[track.ReferenceIndex()].entry;
        ECodec eCodec = ECodec::Aac;
        if ((track.Kind() != EWalkKind::Video && track.Kind() != EWalkKind::Audio) ||
            !CheckedCodecOf(entry, &eCodec))
            continue;
        CSampleLayout layout(track.Sizes());
        uint64_t nPlaced = 0;
        WalkLayout(probe, t, nChunks, &layout, &nPlaced);
        if (nPlaced == 0)
            continue;
        uint64_t nFrom = 0, nTo = std::min(nPlaced, kStartFrames);
        if (track.Kind() == EWalkKind::Video) {
            const std::vector<uint32_t>& syncs = track.SyncSamples();
            if (syncs.empty() || syncs[0] >= nPlaced)
                continue;
            nFrom = syncs[0];
            nTo = syncs.size() > 1 ? std::min<uint64_t>(syncs[1], nPlaced) : nPlaced;
            nTo = std::min(nTo, nFrom + kStartPictures);
        }
        std::string strError;
        const std::unique_ptr<CSampleDecoder> pDecoder =
            OpenDecoder(checker, eCodec, entry.decoderConfig, &strError);
        // The reference's configuration decoded the reference: this does not happen.
        if (!pDecoder)
            continue;
        const EDecodeRun eRun = DecodeWhole(source, layout, nFrom, nTo, *pDecoder, pCancel);
        if (eRun == EDecodeRun::Cancelled || eRun == EDecodeRun::ReadFailed) {
            *pRun = eRun;
            return CMismatch();
        }
        int64_t nLabel = 0;
        if (track.Kind() == EWalkKind::Audio) {
            if (eRun == EDecodeRun::Clean)
                continue;
            CMismatch mismatch;
            mismatch.eKind = CMismatch::EKind::SoundDoesNotDecode;
            mismatch.strRecording = FirstFault(*pDecoder, &nLabel);
            return mismatch;
        }

        // The reference's shape: as its pictures decoded, else as its parameter sets say.
        CPictureShape reference{referenceVideo.nWidth, referenceVideo.nHeight,
                                referenceVideo.nBitDepth};
        if (reference.nWidth == 0 && track.VideoParser()) {
            const CVideoFormat& format = track.VideoParser()->EntryFormat();
            reference = CPictureShape{format.nWidth, format.nHeight, format.nBitDepth};
        }
        std::string strFault = eRun == EDecodeRun::Clean ? "" : FirstFault(*pDecoder, &nLabel);
        const CDecodedFormat own = pDecoder->Format();
        CKeyFit fit;
        const bool bKey = fit.Prepare(source, layout, nFrom, entry.nLengthSize, eCodec, pRun);
        if (*pRun != EDecodeRun::Clean)
            return CMismatch();
        if (eRun == EDecodeRun::Clean && (!bKey || fit.Fits(checker, entry.decoderConfig))) {
            // Parameter sets in the recording itself may say another shape.
            if (reference.nWidth != 0 &&
                (own.nWidth != reference.nWidth || own.nHeight != reference.nHeight))
                return SizeMismatch(own.nWidth, own.nHeight, reference.nWidth, reference.nHeight);
            if (reference.nBitDepth != 0 && own.nBitDepth != reference.nBitDepth)
                return Values(CMismatch::EKind::BitDepth, own.nBitDepth, reference.nBitDepth);
            continue;
        }
        if (strFault.empty())
            strFault = "its first picture's data does not end where a picture of the "
                       "reference's size does";
        CPictureShape found;
        const bool bFound =
            bKey && FindShape(source, layout, nFrom, nTo, fit, movie.tracks[track.ReferenceIndex()],
                              eCodec, reference, checker, pCancel, &found, pRun);
        if (*pRun != EDecodeRun::Clean)
            return CMismatch();
        if (bFound) {
            if (found.nWidth != reference.nWidth || found.nHeight != reference.nHeight)
                return SizeMismatch(found.nWidth, found.nHeight, reference.nWidth,
                                    reference.nHeight);
            return Values(CMismatch::EKind::BitDepth, found.nBitDepth, reference.nBitDepth);
        }
        CMismatch mismatch;
        mismatch.eKind = CMismatch::EKind::VideoDoesNotDecode;
        mismatch.strRecording = strFault;
        return mismatch;
    }
    return CMismatch();
}

CPlayCheck CheckCopy(CByteSource& copy, const std::vector<CTrackTables>& tables,
                     CSampleChecker& checker, double dBudget, CCancelCheck* pCancel,
                     EDecodeRun* pRun) {
    *pRun = EDecodeRun::Clean;
    CPlayCheck check;
    const double dBegin = Now();
    const double dDeadline = dBegin + dBudget;
    std::vector<CTrackCheck> checks;
    for (const CTrackTables& tablesOfTrack : tables) {
        ECodec eCodec = ECodec::Aac;
        if (!CheckedCodecOf(tablesOfTrack.pReference->entry, &eCodec) ||
            tablesOfTrack.sizes.Count() == 0)
            continue;
        CTrackCheck track;
        track.pTables = &tablesOfTrack;
        track.bVideo = eCodec != ECodec::Aac;
        track.nCount = tablesOfTrack.sizes.Count();
        track.pLayout.reset(new CSampleLayout(tablesOfTrack.sizes));
        uint64_t nFirst = 0;
        for (const CTrackTables::CChunk& chunk : tablesOfTrack.chunks) {
            track.pLayout->AddRun(chunk.nOffset, nFirst, chunk.nSamples);
            nFirst += chunk.nSamples;
        }
        std::string strError;
        track.pDecoder =
            OpenDecoder(checker, eCodec, tablesOfTrack.pReference->entry.decoderConfig, &strError);
        // The same configuration decoded the reference: this does not happen.
        if (!track.pDecoder)
            continue;
        check.bHevc = check.bHevc || eCodec == ECodec::Hevc;
        checks.push_back(std::move(track));
    }
    if (checks.empty())
        return check;
    check.bChecked = true;

    // Each track's start, whatever it takes. Then all of it, when that fits; else all the sound
    // that fits in half the time left, the end of each track, and places between in turn.
    for (CTrackCheck& track : checks) {
        *pRun = StartTrack(copy, pCancel, &track);
        if (Stopped(*pRun))
            return check;
    }
    double dRest = 0;
    for (const CTrackCheck& track : checks)
        dRest += double(track.nCount - track.nStartEnd) * track.dPerSample;
    const bool bAll = dRest <= dDeadline - Now();
    for (int nPass = 0; nPass < 2; ++nPass) {
        for (CTrackCheck& track : checks) {
            if (track.bVideo != (nPass == 1))
                continue;
            const double dLeft = dDeadline - Now();
            const double dTrackRest = double(track.nCount - track.nStartEnd) * track.dPerSample;
            *pRun = bAll || dTrackRest <= (track.bVideo ? dLeft : dLeft / 2)
                        ? DecodeRest(copy, dDeadline, pCancel, &track)
                        : DecodeEnd(copy, pCancel, &track);
            if (Stopped(*pRun))
                return check;
        }
    }
    for (bool bPlaced = true; bPlaced;) {
        bPlaced = false;
        for (CTrackCheck& track : checks) {
            bool bThis = false;
            if (!track.bWhole)
                *pRun = DecodePlace(copy, dDeadline, pCancel, &track, &bThis);
            if (Stopped(*pRun))
                return check;
            bPlaced = bPlaced || bThis;
        }
    }

    check.bSoundWhole = check.bVideoWhole = check.bVideoStart = check.bVideoEnd = true;
    check.bSoundEnd = true;
    for (const CTrackCheck& track : checks) {
        (track.bVideo ? check.bVideoWhole : check.bSoundWhole) &= track.bWhole;
        (track.bVideo ? check.bVideoEnd : check.bSoundEnd) &= track.bEnd;
        if (track.bVideo)
            check.nVideoPlaces += track.nPlaces;
        else
            check.nSoundPlaces += track.nPlaces;
        TakeFaults(*track.pDecoder, *track.pTables, track.bVideo, &check);
        check.bPlays = check.bPlays || track.pDecoder->Frames() > track.pDecoder->FaultCount();
    }
    std::stable_sort(check.damaged.begin(), check.damaged.end(),
                     [](const CDamagedFrame& a, const CDamagedFrame& b) { return a.dAt < b.dAt; });
    if (check.damaged.size() > kMaxDamagedNamed)
        check.damaged.resize(kMaxDamagedNamed);
    check.dSeconds = Now() - dBegin;
    return check;
}
