#include "media/Box.h"

namespace {

// Box types are four printable ASCII characters; anything else means the reader has left the
// box structure (a wrong size earlier on, or no box file at all).
bool IsBoxType(const unsigned char* p) {
    for (int i = 0; i < 4; ++i) {
        if (p[i] < 0x20 || p[i] > 0x7E)
            return false;
    }
    return true;
}

} // namespace

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
    while (walk.Next(&box)) {
        if (box.nType == nType) {
            *pBox = box;
            return true;
        }
    }
    return false;
}
