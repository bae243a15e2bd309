#include "rebuild/PlayStart.h"

#include "codec/ConfigVariant.h"
#include "codec/NalUnit.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace {

// The recording's start: its first group of pictures, up to this many, and sound frames.
const uint64_t kStartPictures = 30;
const uint64_t kStartFrames = 48;
// The size search: each size on the key frame alone, then those that decoded it clean on this
// many pictures.
const uint64_t kSearchPictures = 8;

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

// Where the last coded slice of a sample lies: its NAL unit's length is written at nLength and
// its payload begins at nUnit; the slice [nBegin, nEnd) is the payload less its padding, or,
// in an SVC prefix unit that wraps it, what follows its start code; nUnitEnd ends the payload.
struct CSliceAt {
    size_t nLength = 0, nUnit = 0, nBegin = 0, nEnd = 0, nUnitEnd = 0;
};
bool FindLastSlice(const std::vector<uint8_t>& sample, int nLengthSize, bool bHevc,
                   CSliceAt* pSlice) {
    bool bFound = false;
    for (size_t nAt = 0; nLengthSize > 0 && nAt + size_t(nLengthSize) < sample.size();) {
        uint64_t nSize = 0;
        for (int i = 0; i < nLengthSize; ++i)
            nSize = (nSize << 8) | sample[nAt + size_t(i)];
        const size_t nUnit = nAt + size_t(nLengthSize);
        if (nSize == 0 || nSize > sample.size() - nUnit)
            break;
        const size_t nUnitEnd = nUnit + static_cast<size_t>(nSize);
        size_t nBegin = nUnit;
        int nType = bHevc ? (sample[nUnit] >> 1) & 0x3F : sample[nUnit] & 0x1F;
        if (!bHevc && nType == 14) {
            for (size_t i = nUnit; i + 3 < nUnitEnd; ++i) {
                if (sample[i] == 0 && sample[i + 1] == 0 && sample[i + 2] == 1)
                    nBegin = i + 3;
            }
            nType = nBegin != nUnit ? sample[nBegin] & 0x1F : 0;
        }
        const size_t nEnd = nUnit + NalUnitEnd(&sample[nUnit], nUnitEnd - nUnit);
        if ((bHevc ? nType < 32 : nType >= 1 && nType <= 5) && nEnd > nBegin) {
            *pSlice = CSliceAt{nAt, nUnit, nBegin, nEnd, nUnitEnd};
            bFound = true;
        }
        nAt = nUnitEnd;
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
CKeyTry TryKey(CDecoderFactory& decoders, ECodec eCodec, const std::vector<uint8_t>& config,
               const std::vector<uint8_t>& sample) {
    CKeyTry result;
    std::string strError;
    const std::unique_ptr<CSampleDecoder> pDecoder =
        decoders.Open(eCodec, config.data(), config.size(), EDecoderUse::Hash, &strError);
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
// to its end: bytes put after the end change nothing, bytes changed near it change the picture
// (the nearest of a few places that does: an encoder may end the bottom slice of a picture of
// several with bytes that change nothing of it).
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
        CSliceAt slice;
        if (!FindLastSlice(m_key, nLengthSize, bHevc, &slice))
            return false;
        // Bytes after the slice's end, in place of its padding, none of them zero (nothing a
        // NAL unit could end with).
        const uint8_t kTail[] = {0x9A, 0x5C, 0xE3, 0x71, 0xB8, 0x2F, 0xD6, 0x4B};
        m_longer = m_key;
        m_longer.erase(m_longer.begin() + static_cast<ptrdiff_t>(slice.nEnd),
                       m_longer.begin() + static_cast<ptrdiff_t>(slice.nUnitEnd));
        for (int i = 0; i < 8; ++i)
            m_longer.insert(m_longer.begin() + static_cast<ptrdiff_t>(slice.nEnd), kTail,
                            kTail + 8);
        PutLength(&m_longer, slice.nLength, nLengthSize, slice.nEnd - slice.nUnit + 64);
        // The last bytes before the stop bit (cabac_zero_words, and the emulation prevention
        // bytes in them, come after it); and, as an encoder may end a slice with bytes its
        // decoder need not read, some further back.
        size_t nStop = slice.nEnd;
        while (nStop > slice.nBegin && (m_key[nStop - 1] == 0 || m_key[nStop - 1] == 3))
            --nStop;
        m_changed.clear();
        for (size_t nBack : {size_t(4), size_t(16), size_t(64)}) {
            if (nStop < slice.nBegin + (bHevc ? 2 : 1) + 4 + nBack)
                break;
            m_changed.push_back(m_key);
            for (size_t i = nStop - nBack; i + 1 < nStop - nBack + 4; ++i)
                m_changed.back()[i] ^= 0x5A;
        }
        return true;
    }
    uint64_t KeySize() const { return m_key.size(); }
    bool Fits(CDecoderFactory& decoders, const std::vector<uint8_t>& config) const {
        const CKeyTry plain = TryKey(decoders, m_eCodec, config, m_key);
        if (!plain.bClean)
            return false;
        const CKeyTry after = TryKey(decoders, m_eCodec, config, m_longer);
        if (!after.bClean || after.nHash != plain.nHash)
            return false;
        // The nearest change that shows tells the decoder read the slice to there.
        for (const std::vector<uint8_t>& changed : m_changed) {
            const CKeyTry before = TryKey(decoders, m_eCodec, config, changed);
            if (!before.bClean || before.nHash != plain.nHash)
                return true;
        }
        return m_changed.empty();
    }

private:
    ECodec m_eCodec = ECodec::H264;
    std::vector<uint8_t> m_key, m_longer;
    std::vector<std::vector<uint8_t>> m_changed;
};

// The picture shape the recording's pictures [nKey, nEnd) decode with, when the reference's
// configuration is made over for each size recorders use (and, for HEVC, 8 and 10 bits), the
// likeliest first by the key frame's bytes against the reference's: one that fits the key frame
// and decodes the first pictures clean. False when none does.
bool FindShape(CByteSource& source, const CSampleLayout& layout, uint64_t nKey, uint64_t nEnd,
               const CKeyFit& fit, const CReferenceTrack& reference, ECodec eCodec,
               const CPictureShape& referenceShape, CDecoderFactory& decoders, CCancelPoll* pCancel,
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
        if (pCancel && pCancel->Cancelled()) {
            *pRun = EDecodeRun::Cancelled;
            return false;
        }
        std::vector<uint8_t> config;
        if (!MakeConfigVariant(entry.eCodec, entry.decoderConfig, shape, &config) ||
            !fit.Fits(decoders, config))
            continue;
        std::string strError;
        const std::unique_ptr<CSampleDecoder> pDecoder =
            OpenDecoder(decoders, eCodec, config, &strError);
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

// The samples of a track's start to decode, of the nPlaced the probe placed: its first group of
// pictures, up to kStartPictures, or its first sound frames. False when no key frame is placed.
bool StartRange(const CWalkTrack& track, uint64_t nPlaced, uint64_t* pFrom, uint64_t* pTo) {
    *pFrom = 0;
    *pTo = std::min(nPlaced, kStartFrames);
    if (track.Kind() != EWalkKind::Video)
        return true;
    const std::vector<uint32_t>& syncs = track.SyncSamples();
    if (syncs.empty() || syncs[0] >= nPlaced)
        return false;
    *pFrom = syncs[0];
    *pTo = syncs.size() > 1 ? std::min<uint64_t>(syncs[1], nPlaced) : nPlaced;
    *pTo = std::min(*pTo, *pFrom + kStartPictures);
    return true;
}

// The reference's shape: as its pictures decoded, else as its parameter sets say.
// The shape the reference's own pictures of the track decoded as, else its entry's.
CPictureShape ReferenceShape(const std::vector<CDecodedFormat>& referenceVideo,
                             const CWalkTrack& track) {
    const size_t t = track.ReferenceIndex();
    const CDecodedFormat decoded = t < referenceVideo.size() ? referenceVideo[t] : CDecodedFormat();
    CPictureShape reference{decoded.nWidth, decoded.nHeight, decoded.nBitDepth};
    if (reference.nWidth == 0 && track.VideoParser()) {
        const CVideoFormat& format = track.VideoParser()->EntryFormat();
        reference = CPictureShape{format.nWidth, format.nHeight, format.nBitDepth};
    }
    return reference;
}

// The recording's pictures [nFrom, nTo), which decoder decoded (as eRun) with the reference's
// configuration: a mismatch of kind None when they are of the reference's shape, else the
// shape they decode at, or that they do not decode.
CMismatch VideoStartMismatch(CByteSource& source, const CSampleLayout& layout, uint64_t nFrom,
                             uint64_t nTo, const CReferenceTrack& referenceTrack,
                             const CPictureShape& reference, ECodec eCodec, EDecodeRun eRun,
                             const CSampleDecoder& decoder, CDecoderFactory& decoders,
                             CCancelPoll* pCancel, EDecodeRun* pRun) {
    const CSampleEntry& entry = referenceTrack.entry;
    int64_t nLabel = 0;
    std::string strFault = eRun == EDecodeRun::Clean ? "" : FirstFault(decoder, &nLabel);
    const CDecodedFormat own = decoder.Format();
    CKeyFit fit;
    const bool bKey = fit.Prepare(source, layout, nFrom, entry.nLengthSize, eCodec, pRun);
    if (*pRun != EDecodeRun::Clean)
        return CMismatch();
    if (eRun == EDecodeRun::Clean && (!bKey || fit.Fits(decoders, entry.decoderConfig))) {
        // Parameter sets in the recording itself may say another shape.
        if (reference.nWidth != 0 &&
            (own.nWidth != reference.nWidth || own.nHeight != reference.nHeight))
            return SizeMismatch(own.nWidth, own.nHeight, reference.nWidth, reference.nHeight);
        if (reference.nBitDepth != 0 && own.nBitDepth != reference.nBitDepth)
            return Values(CMismatch::EKind::BitDepth, own.nBitDepth, reference.nBitDepth);
        return CMismatch();
    }
    if (strFault.empty())
        strFault = "its first picture's data does not end where a picture of the "
                   "reference's size does";
    CPictureShape found;
    const bool bFound = bKey && FindShape(source, layout, nFrom, nTo, fit, referenceTrack, eCodec,
                                          reference, decoders, pCancel, &found, pRun);
    if (*pRun != EDecodeRun::Clean)
        return CMismatch();
    if (bFound) {
        if (found.nWidth != reference.nWidth || found.nHeight != reference.nHeight)
            return SizeMismatch(found.nWidth, found.nHeight, reference.nWidth, reference.nHeight);
        return Values(CMismatch::EKind::BitDepth, found.nBitDepth, reference.nBitDepth);
    }
    CMismatch mismatch;
    mismatch.eKind = CMismatch::EKind::VideoDoesNotDecode;
    mismatch.strRecording = strFault;
    return mismatch;
}

} // namespace

CMismatch PlayRecordingStart(CByteSource& source, const CReferenceMovie& movie,
                             const std::vector<std::unique_ptr<CWalkTrack>>& tracks,
                             const CMediaWalk& probe,
                             const std::vector<CDecodedFormat>& referenceVideo,
                             CDecoderFactory& decoders, CCancelPoll* pCancel, EDecodeRun* pRun) {
    *pRun = EDecodeRun::Clean;
    // Past a stretch the probe left out, pictures lack those they refer to.
    const size_t nChunks =
        probe.Stretches().empty() ? probe.Chunks().size() : probe.Stretches()[0].nChunks;
    for (size_t t = 0; t < tracks.size(); ++t) {
        const CWalkTrack& track = *tracks[t];
        const CSampleEntry& entry = movie.tracks[track.ReferenceIndex()].entry;
        ECodec eCodec = ECodec::Aac;
        if ((track.Kind() != EWalkKind::Video && track.Kind() != EWalkKind::Audio) ||
            !DecodableCodecOf(entry, &eCodec))
            continue;
        CSampleLayout layout(track.Sizes());
        uint64_t nPlaced = 0;
        WalkLayout(probe, t, nChunks, &layout, &nPlaced);
        uint64_t nFrom = 0, nTo = 0;
        if (nPlaced == 0 || !StartRange(track, nPlaced, &nFrom, &nTo))
            continue;
        std::string strError;
        const std::unique_ptr<CSampleDecoder> pDecoder =
            OpenDecoder(decoders, eCodec, entry.decoderConfig, &strError);
        // The reference's configuration decoded the reference: this does not happen.
        if (!pDecoder)
            continue;
        const EDecodeRun eRun = DecodeWhole(source, layout, nFrom, nTo, *pDecoder, pCancel);
        if (eRun == EDecodeRun::Cancelled || eRun == EDecodeRun::ReadFailed) {
            *pRun = eRun;
            return CMismatch();
        }
        if (track.Kind() == EWalkKind::Audio) {
            if (eRun == EDecodeRun::Clean)
                continue;
            int64_t nLabel = 0;
            CMismatch mismatch;
            mismatch.eKind = CMismatch::EKind::SoundDoesNotDecode;
            mismatch.strRecording = FirstFault(*pDecoder, &nLabel);
            return mismatch;
        }
        // A run that stopped leaves a mismatch of kind None.
        const CMismatch mismatch =
            VideoStartMismatch(source, layout, nFrom, nTo, movie.tracks[track.ReferenceIndex()],
                               ReferenceShape(referenceVideo, track), eCodec, eRun, *pDecoder,
                               decoders, pCancel, pRun);
        if (*pRun != EDecodeRun::Clean || mismatch.eKind != CMismatch::EKind::None)
            return mismatch;
    }
    return CMismatch();
}
