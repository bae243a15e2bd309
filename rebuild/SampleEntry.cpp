#include "rebuild/SampleEntry.h"

#include "codec/ConfigRecord.h"

#include <algorithm>

namespace {

const size_t kMaxConfigBox = 1 << 20;

// An MPEG-4 descriptor's tag and its expandable size (up to four bytes of seven bits).
bool ReadDescriptor(const uint8_t* pData, size_t nSize, size_t* pAt, int* pTag, size_t* pLength) {
    size_t nAt = *pAt;
    if (nAt >= nSize)
        return false;
    *pTag = pData[nAt++];
    size_t nLength = 0;
    for (int i = 0; i < 4; ++i) {
        if (nAt >= nSize)
            return false;
        const uint8_t nByte = pData[nAt++];
        nLength = (nLength << 7) | (nByte & 0x7F);
        if (!(nByte & 0x80))
            break;
    }
    if (nLength > nSize - nAt)
        return false;
    *pAt = nAt;
    *pLength = nLength;
    return true;
}

bool IsVisualFormat(uint32_t nFormat) {
    return nFormat == FourCC("avc1") || nFormat == FourCC("avc3") || nFormat == FourCC("hvc1") ||
           nFormat == FourCC("hev1");
}

// Codecs whose samples tell themselves apart without a configuration box.
ECodec PlainVisualCodec(uint32_t nFormat) {
    // Motion JPEG: QuickTime's, Motion-JPEG A (its fields marked), Avid's and OpenDML's. Not
    // Motion-JPEG B, whose pictures have no markers.
    if (nFormat == FourCC("jpeg") || nFormat == FourCC("mjpa") || nFormat == FourCC("AVDJ") ||
        nFormat == FourCC("dmb1"))
        return ECodec::Mjpeg;
    if (nFormat == FourCC("s263") || nFormat == FourCC("h263") || nFormat == FourCC("H263"))
        return ECodec::H263;
    return ECodec::Other;
}

} // namespace

bool FindAudioSpecificConfig(const uint8_t* pData, size_t nSize, const uint8_t** ppConfig,
                             size_t* pConfigSize) {
    size_t nAt = 0;
    int nTag = 0;
    size_t nLength = 0;
    if (!ReadDescriptor(pData, nSize, &nAt, &nTag, &nLength) || nTag != 3 || nLength < 3)
        return false;
    const size_t nEsEnd = nAt + nLength;
    const uint8_t nFlags = pData[nAt + 2];
    nAt += 3;
    if (nFlags & 0x80)
        nAt += 2; // dependsOn_ES_ID
    if (nFlags & 0x40) {
        if (nAt >= nEsEnd)
            return false;
        nAt += 1 + pData[nAt]; // URL
    }
    if (nFlags & 0x20)
        nAt += 2; // OCR_ES_Id
    if (nAt >= nEsEnd)
        return false;
    if (!ReadDescriptor(pData, nEsEnd, &nAt, &nTag, &nLength) || nTag != 4 || nLength < 13)
        return false;
    const size_t nDecoderEnd = nAt + nLength;
    const uint8_t nObjectType = pData[nAt];
    // MPEG-4 audio, or the MPEG-2 AAC profiles.
    if (nObjectType != 0x40 && (nObjectType < 0x66 || nObjectType > 0x68))
        return false;
    nAt += 13;
    if (!ReadDescriptor(pData, nDecoderEnd, &nAt, &nTag, &nLength) || nTag != 5)
        return false;
    *ppConfig = pData + nAt;
    *pConfigSize = nLength;
    return true;
}

bool ReadSampleEntry(CByteSource& source, const CBox& stsd, CSampleEntry* pEntry) {
    CSampleEntry entry;
    CBox box;
    // stsd: version and flags, entry_count, then the entries as boxes.
    if (stsd.PayloadSize() < 8 ||
        ReadBoxHeader(source, stsd.PayloadOffset() + 8, stsd.End(), &box) != EBoxHeader::Ok)
        return false;
    entry.nFormat = box.nType;
    std::vector<uint8_t> fields;
    const ECodec ePlain = PlainVisualCodec(box.nType);
    if (ePlain != ECodec::Other) {
        unsigned char head[28];
        if (box.PayloadSize() < 78 || !source.ReadAt(box.PayloadOffset(), head, sizeof head))
            return false;
        entry.nWidth = ReadBE16(head + 24);
        entry.nHeight = ReadBE16(head + 26);
        entry.eCodec = ePlain;
    } else if (IsVisualFormat(box.nType)) {
        const uint64_t kVisualFields = 78;
        unsigned char head[kVisualFields];
        if (box.PayloadSize() < kVisualFields ||
            !source.ReadAt(box.PayloadOffset(), head, sizeof head))
            return false;
        entry.nWidth = ReadBE16(head + 24);
        entry.nHeight = ReadBE16(head + 26);
        const bool bAvc = box.nType == FourCC("avc1") || box.nType == FourCC("avc3");
        const ECodec eCodec = bAvc ? ECodec::H264 : ECodec::Hevc;
        CBox config;
        CConfigRecord record;
        if (FindBox(source, box.PayloadOffset() + kVisualFields, box.End(),
                    bAvc ? FourCC("avcC") : FourCC("hvcC"), &config) &&
            ReadPayload(source, config, kMaxConfigBox, &fields) &&
            ReadConfigRecord(eCodec, fields.data(), fields.size(), &record)) {
            entry.eCodec = eCodec;
            entry.nLengthSize = record.LengthSize();
            for (const CNalUnitArray& array : record.arrays)
                entry.parameterSets.insert(entry.parameterSets.end(), array.units.begin(),
                                           array.units.end());
            entry.decoderConfig = fields;
        }
    } else if (box.nType == FourCC("samr") || box.nType == FourCC("sawb") ||
               IsPcmFormat(box.nType)) {
        // A sound description: version 0's fields, or QuickTime's longer versions 1 and 2.
        const size_t kMaxFields = 64;
        unsigned char sound[kMaxFields];
        const size_t nFields =
            static_cast<size_t>(std::min<uint64_t>(box.PayloadSize(), kMaxFields));
        if (nFields < 28 || !source.ReadAt(box.PayloadOffset(), sound, nFields))
            return false;
        entry.nChannels = ReadBE16(sound + 16);
        entry.nSampleRate = ReadBE32(sound + 24) >> 16;
        if (box.nType == FourCC("samr"))
            entry.eCodec = ECodec::AmrNb;
        else if (box.nType == FourCC("sawb"))
            entry.eCodec = ECodec::AmrWb;
        else if (ReadPcmLayout(box.nType, sound, nFields, &entry.pcm))
            entry.eCodec = ECodec::Pcm;
    } else if (box.nType == FourCC("mp4a")) {
        unsigned char head[28];
        if (box.PayloadSize() < sizeof head ||
            !source.ReadAt(box.PayloadOffset(), head, sizeof head))
            return false;
        // QuickTime sound descriptions of version 1 and 2 carry more fields before the boxes.
        const uint16_t nVersion = ReadBE16(head + 8);
        const uint64_t nFields = nVersion == 1 ? 44 : nVersion == 2 ? 64 : 28;
        entry.nChannels = ReadBE16(head + 16);
        entry.nSampleRate = ReadBE32(head + 24) >> 16;
        CBox esds, wave;
        bool bFound =
            FindBox(source, box.PayloadOffset() + nFields, box.End(), FourCC("esds"), &esds);
        if (!bFound &&
            FindBox(source, box.PayloadOffset() + nFields, box.End(), FourCC("wave"), &wave))
            bFound = FindChild(source, wave, FourCC("esds"), &esds);
        const uint8_t* pConfig = nullptr;
        size_t nConfig = 0;
        if (bFound && ReadPayload(source, esds, kMaxConfigBox, &fields) && fields.size() > 4 &&
            FindAudioSpecificConfig(fields.data() + 4, fields.size() - 4, &pConfig, &nConfig) &&
            ParseAudioSpecificConfig(pConfig, nConfig, &entry.aac)) {
            entry.eCodec = ECodec::Aac;
            entry.decoderConfig.assign(pConfig, pConfig + nConfig);
        }
    }
    *pEntry = entry;
    return true;
}
