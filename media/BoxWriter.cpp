#include "media/BoxWriter.h"

size_t CBoxWriter::Open(const char (&type)[5]) {
    const size_t nBox = m_out.size();
    U32(0);
    Bytes(type, 4);
    return nBox;
}

size_t CBoxWriter::OpenFull(const char (&type)[5], uint8_t nVersion, uint32_t nFlags) {
    const size_t nBox = Open(type);
    U32((uint32_t(nVersion) << 24) | (nFlags & 0xFFFFFF));
    return nBox;
}

void CBoxWriter::Close(size_t nBox) {
    const uint32_t nSize = static_cast<uint32_t>(m_out.size() - nBox);
    m_out[nBox] = static_cast<uint8_t>(nSize >> 24);
    m_out[nBox + 1] = static_cast<uint8_t>(nSize >> 16);
    m_out[nBox + 2] = static_cast<uint8_t>(nSize >> 8);
    m_out[nBox + 3] = static_cast<uint8_t>(nSize);
}

void CBoxWriter::U16(uint16_t nValue) {
    U8(static_cast<uint8_t>(nValue >> 8));
    U8(static_cast<uint8_t>(nValue));
}

void CBoxWriter::U32(uint32_t nValue) {
    U16(static_cast<uint16_t>(nValue >> 16));
    U16(static_cast<uint16_t>(nValue));
}

void CBoxWriter::U64(uint64_t nValue) {
    U32(static_cast<uint32_t>(nValue >> 32));
    U32(static_cast<uint32_t>(nValue));
}

void CBoxWriter::Bytes(const void* pData, size_t nSize) {
    const uint8_t* p = static_cast<const uint8_t*>(pData);
    m_out.insert(m_out.end(), p, p + nSize);
}
