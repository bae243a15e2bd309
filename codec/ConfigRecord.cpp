#include "codec/ConfigRecord.h"

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
