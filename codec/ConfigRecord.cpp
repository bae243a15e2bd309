#include "codec/ConfigRecord.h"

#include "codec/RbspReader.h"

#include <utility>

namespace {

// Fields before the arrays, and the bytes a record has at least.
const size_t kAvcFields = 5;
const size_t kHevcFields = 22;

// nCount NAL units, each after a 16-bit length, from *pAt on.
bool ReadUnits(const uint8_t* pData, size_t nSize, unsigned nCount, size_t* pAt,
               CNalUnitArray* pArray) {
    size_t nAt = *pAt;
    for (unsigned i = 0; i < nCount; ++i) {
        if (nSize - nAt < 2)
            return false;
        const size_t nLength = (size_t(pData[nAt]) << 8) | pData[nAt + 1];
        nAt += 2;
        if (nLength == 0 || nLength > nSize - nAt)
            return false;
        pArray->units.emplace_back(pData + nAt, pData + nAt + nLength);
        nAt += nLength;
    }
    *pAt = nAt;
    return true;
}

void PutBE16(size_t nValue, std::vector<uint8_t>* pOut) {
    pOut->push_back(static_cast<uint8_t>(nValue >> 8));
    pOut->push_back(static_cast<uint8_t>(nValue));
}

bool WriteUnits(const CNalUnitArray& array, std::vector<uint8_t>* pOut) {
    for (const std::vector<uint8_t>& unit : array.units) {
        if (unit.empty() || unit.size() > 0xFFFF)
            return false;
        PutBE16(unit.size(), pOut);
        pOut->insert(pOut->end(), unit.begin(), unit.end());
    }
    return true;
}

} // namespace

int CConfigRecord::LengthSize() const {
    const size_t nAt = eCodec == ECodec::H264 ? 4 : 21;
    return nAt < fields.size() ? (fields[nAt] & 3) + 1 : 0;
}

bool CConfigRecord::HoldsSps(size_t i) const {
    if (i >= arrays.size())
        return false;
    return eCodec == ECodec::H264 ? i == 0 : (arrays[i].nHead & 0x3F) == 33;
}

bool ReadConfigRecord(ECodec eCodec, const uint8_t* pData, size_t nSize, CConfigRecord* pRecord) {
    CConfigRecord record;
    record.eCodec = eCodec;
    size_t nAt = 0;
    if (eCodec == ECodec::H264) {
        // The fields, the SPS count in 5 bits, the SPS, the PPS count in a byte, the PPS.
        if (nSize < kAvcFields + 2 || pData[0] != 1)
            return false;
        record.fields.assign(pData, pData + kAvcFields);
        nAt = kAvcFields;
        for (int nList = 0; nList < 2; ++nList) {
            if (nAt >= nSize)
                return false;
            CNalUnitArray array;
            array.nHead = nList == 0 ? pData[nAt] & 0xE0 : 0;
            const unsigned nCount = nList == 0 ? pData[nAt] & 0x1F : pData[nAt];
            ++nAt;
            if (!ReadUnits(pData, nSize, nCount, &nAt, &array))
                return false;
            record.arrays.push_back(std::move(array));
        }
    } else if (eCodec == ECodec::Hevc) {
        // The fields, the count of arrays, then each: its head, a 16-bit count, the NAL units.
        if (nSize < kHevcFields + 1 || pData[0] != 1)
            return false;
        record.fields.assign(pData, pData + kHevcFields);
        const unsigned nArrays = pData[kHevcFields];
        nAt = kHevcFields + 1;
        for (unsigned a = 0; a < nArrays; ++a) {
            if (nSize - nAt < 3)
                return false;
            CNalUnitArray array;
            array.nHead = pData[nAt];
            const unsigned nCount = (unsigned(pData[nAt + 1]) << 8) | pData[nAt + 2];
            nAt += 3;
            if (!ReadUnits(pData, nSize, nCount, &nAt, &array))
                return false;
            record.arrays.push_back(std::move(array));
        }
    } else {
        return false;
    }
    if (record.LengthSize() == 3)
        return false;
    record.rest.assign(pData + nAt, pData + nSize);
    *pRecord = std::move(record);
    return true;
}

bool WriteConfigRecord(const CConfigRecord& record, std::vector<uint8_t>* pOut) {
    std::vector<uint8_t> out = record.fields;
    if (record.eCodec == ECodec::H264) {
        if (record.fields.size() != kAvcFields || record.arrays.size() != 2 ||
            record.arrays[0].units.size() > 0x1F || record.arrays[1].units.size() > 0xFF)
            return false;
        for (size_t nList = 0; nList < 2; ++nList) {
            const CNalUnitArray& array = record.arrays[nList];
            const uint8_t nHead = nList == 0 ? array.nHead & 0xE0 : 0;
            out.push_back(static_cast<uint8_t>(nHead | array.units.size()));
            if (!WriteUnits(array, &out))
                return false;
        }
    } else if (record.eCodec == ECodec::Hevc) {
        if (record.fields.size() != kHevcFields || record.arrays.size() > 0xFF)
            return false;
        out.push_back(static_cast<uint8_t>(record.arrays.size()));
        for (const CNalUnitArray& array : record.arrays) {
            if (array.units.size() > 0xFFFF)
                return false;
            out.push_back(array.nHead);
            PutBE16(array.units.size(), &out);
            if (!WriteUnits(array, &out))
                return false;
        }
    } else {
        return false;
    }
    out.insert(out.end(), record.rest.begin(), record.rest.end());
    *pOut = std::move(out);
    return true;
}

bool MakeConfigRecord(ECodec eCodec, const std::vector<std::vector<uint8_t>>& parameterSets,
                      int nChromaFormat, int nBitDepthLuma, int nBitDepthChroma,
                      CConfigRecord* pRecord) {
    CConfigRecord record;
    record.eCodec = eCodec;
    const uint8_t nDepths[2] = {static_cast<uint8_t>(0xF8 | ((nBitDepthLuma - 8) & 7)),
                                static_cast<uint8_t>(0xF8 | ((nBitDepthChroma - 8) & 7))};
    if (eCodec == ECodec::H264) {
        record.arrays.resize(2);
        record.arrays[0].nHead = 0xE0;
        for (const std::vector<uint8_t>& nal : parameterSets) {
            const int nType = nal.empty() ? 0 : nal[0] & 0x1F;
            if (nType == 7 || nType == 8)
                record.arrays[nType - 7].units.push_back(nal);
        }
        if (record.arrays[0].units.empty() || record.arrays[1].units.empty() ||
            record.arrays[0].units[0].size() < 4)
            return false;
        const std::vector<uint8_t>& sps = record.arrays[0].units[0];
        record.fields = {1, sps[1], sps[2], sps[3], 0xFF};
        // The high profiles' fields.
        const int nProfile = sps[1];
        if (nProfile == 100 || nProfile == 110 || nProfile == 122 || nProfile == 144 ||
            nProfile == 244)
            record.rest = {static_cast<uint8_t>(0xFC | (nChromaFormat & 3)), nDepths[0], nDepths[1],
                           0};
    } else if (eCodec == ECodec::Hevc) {
        const int kTypes[3] = {32, 33, 34};
        for (int nType : kTypes) {
            CNalUnitArray array;
            array.nHead = static_cast<uint8_t>(0x80 | nType); // complete
            for (const std::vector<uint8_t>& nal : parameterSets) {
                if (nal.size() >= 2 && ((nal[0] >> 1) & 0x3F) == nType)
                    array.units.push_back(nal);
            }
            if (array.units.empty())
                return false;
            record.arrays.push_back(std::move(array));
        }
        // The general profile, tier and level: the 12 bytes after the SPS's first.
        const std::vector<uint8_t>& sps = record.arrays[1].units[0];
        std::vector<uint8_t> rbsp(sps.size());
        rbsp.resize(UnescapeRbsp(sps.data() + 2, sps.size() - 2, rbsp.data()));
        if (rbsp.size() < 13)
            return false;
        record.fields.push_back(1);
        record.fields.insert(record.fields.end(), rbsp.begin() + 1, rbsp.begin() + 13);
        const uint8_t nSubLayers = static_cast<uint8_t>(((rbsp[0] >> 1) & 7) + 1);
        const uint8_t nNested = rbsp[0] & 1;
        const uint8_t kRest[] = {0xF0,
                                 0x00,
                                 0xFC,
                                 static_cast<uint8_t>(0xFC | (nChromaFormat & 3)),
                                 nDepths[0],
                                 nDepths[1],
                                 0,
                                 0,
                                 static_cast<uint8_t>((nSubLayers << 3) | (nNested << 2) | 3)};
        record.fields.insert(record.fields.end(), kRest, kRest + sizeof kRest);
    } else {
        return false;
    }
    *pRecord = std::move(record);
    return true;
}
