#include "media/Box.h"

#include <algorithm>

bool IsBoxType(const unsigned char* p) {
    for (int i = 0; i < 4; ++i) {
        if (p[i] < 0x20 || p[i] > 0x7E)
            return false;
    }
    return true;
}

std::string FourCCText(uint32_t nFourCC) {
    std::string strText;
    for (int nShift = 24; nShift >= 0; nShift -= 8) {
        const char c = static_cast<char>((nFourCC >> nShift) & 0xFF);
        strText += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return strText;
}

EBoxHeader ReadBoxHeader(CByteSource& source, uint64_t offset, uint64_t end, CBox* pBox) {
    if (offset >= end || end - offset < 8)
        return EBoxHeader::Short;
    const uint64_t nLeft = end - offset;
    unsigned char header[16];
    if (!source.ReadAt(offset, header, 8))
        return EBoxHeader::ReadError;
    if (!IsBoxType(header + 4))
        return EBoxHeader::NotABox;

    CBox box;
    box.nOffset = offset;
    box.nType = ReadBE32(header + 4);
    box.nSize = ReadBE32(header);
    box.nHeaderSize = 8;
    if (box.nSize == 1) {
        // The 64-bit largesize follows the type.
        if (nLeft < 16)
            return EBoxHeader::Short;
        if (!source.ReadAt(offset + 8, header + 8, 8))
            return EBoxHeader::ReadError;
        box.nSize = ReadBE64(header + 8);
        box.nHeaderSize = 16;
    } else if (box.nSize == 0) {
        box.nSize = nLeft;
        box.bToEnd = true;
    }
    if (box.nType == FourCC("uuid"))
        box.nHeaderSize += 16; // the extended type is part of the header
    if (box.nSize < box.nHeaderSize)
        return EBoxHeader::BadSize;
    *pBox = box;
    return box.nSize > nLeft ? EBoxHeader::Overrun : EBoxHeader::Ok;
}

bool CBoxWalk::Next(CBox* pBox) {
    if (m_status != EBoxHeader::Ok || m_nOffset >= m_nEnd)
        return false;
    CBox box;
    m_status = ReadBoxHeader(m_source, m_nOffset, m_nEnd, &box);
    if (m_status == EBoxHeader::Overrun)
        m_failed = box;
    if (m_status != EBoxHeader::Ok)
        return false;
    m_nOffset = box.End();
    *pBox = box;
    return true;
}

bool FindBox(CByteSource& source, uint64_t begin, uint64_t end, uint32_t nType, CBox* pBox) {
    CBoxWalk walk(source, begin, end);
    CBox box;
    for (unsigned n = 0; n < kMaxChildBoxes && walk.Next(&box); ++n) {
        if (box.nType == nType) {
            *pBox = box;
            return true;
        }
    }
    return false;
}

bool ReadPayload(CByteSource& source, const CBox& box, uint64_t nMax, std::vector<uint8_t>* pData,
                 CCancelPoll* pCancel) {
    const size_t kBlock = 4u << 20;
    if (box.PayloadSize() > nMax)
        return false;
    pData->resize(static_cast<size_t>(box.PayloadSize()));
    for (size_t nAt = 0; nAt < pData->size(); nAt += kBlock) {
        if ((pCancel && pCancel->Cancelled()) ||
            !source.ReadAt(box.PayloadOffset() + nAt, pData->data() + nAt,
                           std::min(kBlock, pData->size() - nAt)))
            return false;
    }
    return true;
}

bool ReadPayloadStart(CByteSource& source, const CBox& box, size_t nMax,
                      std::vector<uint8_t>* pData) {
    pData->resize(static_cast<size_t>(std::min<uint64_t>(box.PayloadSize(), nMax)));
    return pData->empty() || source.ReadAt(box.PayloadOffset(), pData->data(), pData->size());
}

bool ReadBox(CByteSource& source, const CBox& box, uint64_t nMax, std::vector<uint8_t>* pData) {
    if (box.nSize > nMax)
        return false;
    pData->resize(static_cast<size_t>(box.nSize));
    return source.ReadAt(box.nOffset, pData->data(), pData->size());
}

void AppendChildren(CByteSource& source, const CBox& parent, std::initializer_list<uint32_t> skip,
                    uint64_t nMaxBox, std::vector<uint8_t>* pOut) {
    std::vector<uint8_t> data;
    CBoxWalk walk(source, parent);
    CBox box;
    for (unsigned n = 0; n < kMaxChildBoxes && walk.Next(&box); ++n) {
        if (std::find(skip.begin(), skip.end(), box.nType) == skip.end() &&
            ReadBox(source, box, nMaxBox, &data))
            pOut->insert(pOut->end(), data.begin(), data.end());
    }
}

bool CTable::Open(CByteSource& source, const CBox& box, size_t nFields, size_t nEntryBits,
                  CCancelPoll* pCancel) {
    m_nCount = 0;
    if (!ReadPayload(source, box, kMaxTableBox, &m_data, pCancel) || m_data.size() < 4 + nFields)
        return false;
    m_nEntries = 4 + nFields;
    const uint32_t nCount = ReadBE32(m_data.data() + m_nEntries - 4);
    if ((m_data.size() - m_nEntries) * 8 / nEntryBits < nCount)
        return false;
    m_nCount = nCount;
    m_nEntryBytes = nEntryBits / 8;
    return true;
}
