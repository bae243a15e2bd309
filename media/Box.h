// Box headers of ISO base media files (MP4, MOV, 3GP): reading one, and walking the boxes
// that tile a range (the file's top level, or a box's payload). Only headers are read, so a
// multi-gigabyte file is walked in a few small reads. Portable.
#pragma once

#include "media/ByteSource.h"

#include <cstddef>
#include <cstdint>

constexpr uint32_t FourCC(const char (&type)[5]) {
    return (uint32_t(static_cast<unsigned char>(type[0])) << 24) |
           (uint32_t(static_cast<unsigned char>(type[1])) << 16) |
           (uint32_t(static_cast<unsigned char>(type[2])) << 8) |
           uint32_t(static_cast<unsigned char>(type[3]));
}

inline uint16_t ReadBE16(const unsigned char* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t ReadBE32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline uint64_t ReadBE64(const unsigned char* p) {
    return (uint64_t(ReadBE32(p)) << 32) | ReadBE32(p + 4);
}

struct CBox {
    uint32_t nType = 0;
    uint64_t nOffset = 0;     // of the header
    uint64_t nSize = 0;       // header included; what the header says, even past the range
    uint32_t nHeaderSize = 0; // 8, 16 with a 64-bit size, 16 more for a uuid's extended type
    bool bToEnd = false;      // size 0: the box runs to the end of its range

    uint64_t PayloadOffset() const { return nOffset + nHeaderSize; }
    uint64_t End() const { return nOffset + nSize; }
    uint64_t PayloadSize() const { return nSize - nHeaderSize; }
};

enum class EBoxHeader {
    Ok,
    Short,     // fewer bytes left in the range than the header needs
    NotABox,   // the type is not four printable characters
    BadSize,   // a size smaller than the header
    Overrun,   // the box runs past the end of its range (the header is filled in)
    ReadError, // the bytes could not be read
};

// Reads the header of the box at offset, which must lie within [offset, end).
EBoxHeader ReadBoxHeader(CByteSource& source, uint64_t offset, uint64_t end, CBox* pBox);

// The boxes that tile [begin, end), one after another. Next() stops at the end of the range
// or at the first header that is not Ok; Status() then says which.
class CBoxWalk {
public:
    CBoxWalk(CByteSource& source, uint64_t begin, uint64_t end)
        : m_source(source), m_nOffset(begin), m_nEnd(end) {}
    // The children of box (its payload).
    CBoxWalk(CByteSource& source, const CBox& box)
        : CBoxWalk(source, box.PayloadOffset(), box.End()) {}

    bool Next(CBox* pBox);
    // Ok once the walk has reached the end of its range exactly.
    EBoxHeader Status() const { return m_status; }
    // Where the walk stands: after the last box returned, or at the header that failed.
    uint64_t Offset() const { return m_nOffset; }
    // The header that failed with Overrun, as far as it was read.
    const CBox& Failed() const { return m_failed; }

private:
    CByteSource& m_source;
    uint64_t m_nOffset;
    uint64_t m_nEnd;
    EBoxHeader m_status = EBoxHeader::Ok;
    CBox m_failed;
};

// The first child of type nType among the boxes that tile [begin, end); false if there is none
// before the range ends or the tiling breaks.
bool FindBox(CByteSource& source, uint64_t begin, uint64_t end, uint32_t nType, CBox* pBox);
inline bool FindChild(CByteSource& source, const CBox& parent, uint32_t nType, CBox* pBox) {
    return FindBox(source, parent.PayloadOffset(), parent.End(), nType, pBox);
}
