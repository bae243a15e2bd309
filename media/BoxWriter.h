// Builds boxes in memory: a box's size is filled in when it is closed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CBoxWriter {
public:
    explicit CBoxWriter(std::vector<uint8_t>& out) : m_out(out) {}

    // Opens a box (a full box with version and flags); returns what Close takes.
    size_t Open(const char (&type)[5]);
    size_t OpenFull(const char (&type)[5], uint8_t nVersion, uint32_t nFlags);
    void Close(size_t nBox);

    void U8(uint8_t nValue) { m_out.push_back(nValue); }
    void U16(uint16_t nValue);
    void U32(uint32_t nValue);
    void U64(uint64_t nValue);
    void Bytes(const void* pData, size_t nSize);
    void Bytes(const std::vector<uint8_t>& data) { Bytes(data.data(), data.size()); }
    void Zeros(size_t nCount) { m_out.insert(m_out.end(), nCount, 0); }

private:
    std::vector<uint8_t>& m_out;
};
