// Boxes of ISO base media files (MP4, MOV, 3GP): reading a header, walking the boxes that tile
// a range (the file's top level, or a box's payload), and reading a payload, a table or a whole
// box into memory, each only up to a bound the caller gives. A walk reads headers only, so a
// multi-gigabyte file is walked in a few small reads. Portable.
#pragma once

#include "media/ByteSource.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

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

// A box or format type as text, with '?' for bytes that are not printable.
std::string FourCCText(uint32_t nFourCC);
// Box types are four printable ASCII characters; anything else means the reader has left the
// box structure (a wrong size earlier on, or no box file at all).
bool IsBoxType(const unsigned char* p);

struct CBox {
    uint32_t nType = 0;
    uint64_t nOffset = 0;     // of the header
    uint64_t nSize = 0;       // header included; what the header says, even past the range
    uint32_t nHeaderSize = 0; // 8, 16 with a 64-bit size, 16 more for a uuid's extended type
    bool bToEnd = false;      // size 0: the box runs to the end of its range

    bool IsFound() const { return nSize != 0; } // a box that was read, not a default one
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

// Boxes looked at inside one box: a movie, a track or a sample entry holds a handful.
const unsigned kMaxChildBoxes = 4096;

// The first box of type nType among the first kMaxChildBoxes that tile [begin, end); false if
// there is none before the range ends or the tiling breaks.
bool FindBox(CByteSource& source, uint64_t begin, uint64_t end, uint32_t nType, CBox* pBox);
inline bool FindChild(CByteSource& source, const CBox& parent, uint32_t nType, CBox* pBox) {
    return FindBox(source, parent.PayloadOffset(), parent.End(), nType, pBox);
}

// Asked now and then during long reads whether the user has cancelled the work.
class CCancelPoll {
public:
    virtual bool Cancelled() = 0;

protected:
    ~CCancelPoll() = default;
};

// The payload of box, read in blocks with a look at pCancel between them; false when it holds
// more than nMax bytes, cannot be read, or the read was cancelled.
bool ReadPayload(CByteSource& source, const CBox& box, uint64_t nMax, std::vector<uint8_t>* pData,
                 CCancelPoll* pCancel = nullptr);
// The first bytes of box's payload, nMax at most: the fields of a header, whatever follows.
bool ReadPayloadStart(CByteSource& source, const CBox& box, size_t nMax,
                      std::vector<uint8_t>* pData);
// The whole box, header included, as a copy takes it over; false when it is larger than nMax.
bool ReadBox(CByteSource& source, const CBox& box, uint64_t nMax, std::vector<uint8_t>* pData);
// Appends the children of parent whole to *pOut, but for those of the types in skip and those
// larger than nMaxBox; among its first kMaxChildBoxes.
void AppendChildren(CByteSource& source, const CBox& parent, std::initializer_list<uint32_t> skip,
                    uint64_t nMaxBox, std::vector<uint8_t>* pOut);

// Sample tables and the like are read into memory up to this size, hours of any recording.
const uint64_t kMaxTableBox = uint64_t(256) << 20;

// A table of a full box: nFields bytes of fields after version and flags, the last four the
// entry count, then the entries of nEntryBits bits each. Open checks the count against the
// bytes the box holds before anything is made of it.
class CTable {
public:
    bool Open(CByteSource& source, const CBox& box, size_t nFields, size_t nEntryBits,
              CCancelPoll* pCancel);
    bool IsOpen() const { return !m_data.empty(); }
    uint8_t Version() const { return m_data[0]; }
    // The fields after version and flags.
    const uint8_t* Fields() const { return m_data.data() + 4; }
    uint32_t Count() const { return m_nCount; }
    // Entry i of a table of whole bytes.
    const uint8_t* Entry(uint32_t i) const {
        return m_data.data() + m_nEntries + m_nEntryBytes * i;
    }

private:
    std::vector<uint8_t> m_data;
    size_t m_nEntries = 0;
    size_t m_nEntryBytes = 0;
    uint32_t m_nCount = 0;
};
