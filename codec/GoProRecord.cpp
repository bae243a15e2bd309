#include "codec/GoProRecord.h"

#include <utility>

namespace {

// Where the header keeps its text, as the cameras seen write it: the firmware (15 characters),
// the serial number and the model, each zero-padded to the end of its field.
const size_t kFirmwareAt = 8, kFirmwareSize = 15;
const size_t kSerialAt = 23, kSerialEnd = 71;
const size_t kModelAt = 102, kModelEnd = 132;
// The block of settings: 'GPRO' again, then little-endian words; these are its fields.
const size_t kSettingsSize = 96;
const size_t kTimescaleAt = 48, kWidthAt = 52, kHeightAt = 56, kRateAt = 76, kChannelsAt = 88;

uint32_t Be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

uint32_t Le32(const uint8_t* p) {
    return (uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
}

bool IsPrintable(uint8_t c) {
    return c >= 0x20 && c < 0x7F;
}

// Text filling [nAt, nEnd) of the header, zero-padded; empty when the bytes are not that.
std::string Field(const uint8_t* pData, size_t nAt, size_t nEnd) {
    size_t n = nAt;
    while (n < nEnd && IsPrintable(pData[n]))
        ++n;
    for (size_t i = n; i < nEnd; ++i) {
        if (pData[i] != 0)
            return std::string();
    }
    return std::string(reinterpret_cast<const char*>(pData + nAt), n - nAt);
}

// A parameter set's NAL header, of H.264 (SPS, PPS) or HEVC (VPS, SPS, PPS): what slots hold,
// and what a picture's first NAL unit, which may follow them, is not.
bool IsParameterSet(uint8_t nHeader) {
    const int nAvc = nHeader & 0x1F, nHevc = (nHeader >> 1) & 0x3F;
    return (nHeader & 0x80) == 0 && (nAvc == 7 || nAvc == 8 || (nHevc >= 32 && nHevc <= 34));
}

// A slot of the first frame's record: a parameter set of 1 to 64 bytes, zeros after it. nAvail
// may end inside it: then whether what is there may begin one.
bool IsSlot(const uint8_t* p, size_t nAvail) {
    if (nAvail < 5)
        return nAvail < 4 || (Be32(p) >= 1 && Be32(p) <= kGoProSlotSize - 4);
    const uint32_t nNal = Be32(p);
    if (nNal < 1 || nNal > kGoProSlotSize - 4 || !IsParameterSet(p[4]))
        return false;
    for (size_t i = 4 + nNal; i < nAvail && i < kGoProSlotSize; ++i) {
        if (p[i] != 0)
            return false;
    }
    return true;
}

// Bytes to ask for: NeedMore while more may come, else Truncated.
ESampleParse More(size_t nWanted, bool bAtEnd, size_t* pNeed) {
    if (bAtEnd)
        return ESampleParse::Truncated;
    *pNeed = nWanted;
    return ESampleParse::NeedMore;
}

} // namespace

EGoProSample GoProSampleOf(uint8_t nKind) {
    switch (nKind) {
    case 0:
    case 3:
        return EGoProSample::Video;
    case 4:
        return EGoProSample::Sound;
    case 5:
        return EGoProSample::Timecode;
    case 6:
        return EGoProSample::Metadata;
    default:
        return EGoProSample::Unknown;
    }
}

bool IsGoProHeader(const uint8_t* pData, size_t nAvail) {
    return nAvail >= 4 && pData[0] == 'G' && pData[1] == 'P' && pData[2] == 'R' && pData[3] == 'O';
}

size_t GoProHeaderLength(const uint8_t* pData, size_t nAvail) {
    if (nAvail < 8 || !IsGoProHeader(pData, nAvail))
        return 0;
    const uint32_t nLength = Le32(pData + 4);
    return nLength >= 8 && nLength <= kGoProMaxHeader ? nLength : 0;
}

ESampleParse ParseGoProRecord(const uint8_t* pData, size_t nAvail, bool bAtEnd,
                              CGoProRecord* pRecord, size_t* pNeed) {
    if (nAvail >= 1 && pData[0] != 'G')
        return ESampleParse::Invalid;
    if (nAvail >= 2 && pData[1] != 'P')
        return ESampleParse::Invalid;
    if (IsGoProHeader(pData, nAvail))
        return ESampleParse::Invalid;
    if (nAvail < kGoProRecordSize)
        return More(kGoProRecordSize, bAtEnd, pNeed);
    CGoProRecord record;
    record.nKind = pData[2];
    record.nFlag = pData[3];
    record.nSize = Be32(pData + 4);
    record.nDuration = Be32(pData + 8);
    record.nInterval = Be32(pData + 12);
    record.nLength = kGoProRecordSize;
    // The first frame's record carries its parameter sets: as many slots as there are.
    if (record.nKind == 3) {
        for (size_t k = 0; k < kGoProMaxSlots; ++k) {
            const uint8_t* pSlot = pData + record.nLength;
            const size_t nLeft = nAvail - record.nLength;
            if (nLeft < kGoProSlotSize) {
                // Bytes that end right after a slot end the record.
                if ((nLeft != 0 || !bAtEnd) && IsSlot(pSlot, nLeft))
                    return More(record.nLength + kGoProSlotSize, bAtEnd, pNeed);
                break;
            }
            if (!IsSlot(pSlot, kGoProSlotSize))
                break;
            record.parameterSets.emplace_back(pSlot + 4, pSlot + 4 + Be32(pSlot));
            record.nLength += kGoProSlotSize;
        }
    }
    *pRecord = std::move(record);
    return ESampleParse::Ok;
}

ESampleParse ParseGoProHeader(const uint8_t* pData, size_t nAvail, bool bAtEnd,
                              CGoProHeader* pHeader, size_t* pNeed) {
    if (nAvail < 8) {
        const char kTag[] = "GPRO";
        for (size_t i = 0; i < nAvail && i < 4; ++i) {
            if (pData[i] != uint8_t(kTag[i]))
                return ESampleParse::Invalid;
        }
        return More(8, bAtEnd, pNeed);
    }
    const size_t nLength = GoProHeaderLength(pData, nAvail);
    if (nLength == 0)
        return ESampleParse::Invalid;
    if (nAvail < nLength)
        return More(nLength, bAtEnd, pNeed);
    CGoProHeader header;
    header.nLength = nLength;
    if (nLength >= kFirmwareAt + kFirmwareSize) {
        header.strFirmware = Field(pData, kFirmwareAt, kFirmwareAt + kFirmwareSize);
        if (header.strFirmware.size() != kFirmwareSize)
            header.strFirmware.clear();
    }
    if (nLength >= kSerialEnd)
        header.strSerial = Field(pData, kSerialAt, kSerialEnd);
    if (nLength >= kModelEnd)
        header.strModel = Field(pData, kModelAt, kModelEnd);
    // The settings: the first block whose fields all make sense.
    for (size_t nAt = 8; nAt + kSettingsSize <= nLength; nAt += 4) {
        const uint8_t* p = pData + nAt;
        if (!IsGoProHeader(p, kSettingsSize))
            continue;
        const uint32_t nTimescale = Le32(p + kTimescaleAt);
        const uint32_t nWidth = Le32(p + kWidthAt);
        const uint32_t nHeight = Le32(p + kHeightAt);
        const uint32_t nRate = Le32(p + kRateAt);
        const uint32_t nChannels = Le32(p + kChannelsAt);
        if (nTimescale == 0 || nWidth < 16 || nWidth > 16384 || nHeight < 16 || nHeight > 16384 ||
            nRate < 8000 || nRate > 192000 || nChannels < 1 || nChannels > 8)
            continue;
        header.nTimescale = nTimescale;
        header.nWidth = nWidth;
        header.nHeight = nHeight;
        header.nSampleRate = nRate;
        header.nChannels = nChannels;
        break;
    }
    *pHeader = std::move(header);
    return ESampleParse::Ok;
}
