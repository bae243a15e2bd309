#include "media/MediaStart.h"

#include <cstring>
#include <vector>

namespace {

// How far past a break in the boxes an mdat header is looked for (reserved index space).
const uint64_t kSearchLimit = 16u << 20;
// Boxes before the media data: a recording has a few (ftyp, free, wide).
const unsigned kMaxBoxesBefore = 100000;

// The media data of the mdat box whose header is at nHeader.
bool RangeFrom(CByteSource& source, uint64_t nHeader, CMediaRange* pRange) {
    const uint64_t nFileSize = source.Size();
    unsigned char head[16];
    if (nFileSize - nHeader < 8 || !source.ReadAt(nHeader, head, 8))
        return false;
    uint64_t nBegin = nHeader + 8;
    uint64_t nSize = ReadBE32(head);
    // A 64-bit size (or Android's placeholder for one) takes eight more bytes.
    if (nSize == 1 && nFileSize - nHeader >= 16 && source.ReadAt(nHeader + 8, head + 8, 8)) {
        nSize = ReadBE64(head + 8);
        nBegin += 8;
    }
    uint64_t nEnd = nFileSize;
    // A size that holds ends the data only if a box header follows: a cut file's garbage
    // size can fall inside it too.
    if (nSize >= nBegin - nHeader && nSize <= nFileSize - nHeader) {
        const uint64_t nAfter = nHeader + nSize;
        unsigned char next[8];
        if (nAfter < nFileSize && nFileSize - nAfter >= 8 && source.ReadAt(nAfter, next, 8) &&
            IsBoxType(next + 4) && ReadBE32(next) >= 8 && ReadBE32(next) <= nFileSize - nAfter)
            nEnd = nAfter;
        else if (nAfter == nFileSize)
            nEnd = nFileSize;
    }
    pRange->nBegin = nBegin;
    pRange->nEnd = nEnd;
    return nBegin <= nEnd;
}

} // namespace

bool FindMediaData(CByteSource& source, CMediaRange* pRange) {
    CBoxWalk walk(source, 0, source.Size());
    CBox box;
    for (unsigned n = 0; walk.Next(&box); ++n) {
        if (box.nType == FourCC("mdat"))
            return RangeFrom(source, box.nOffset, pRange);
        if (n >= kMaxBoxesBefore)
            return false;
    }
    if (walk.Status() == EBoxHeader::Overrun && walk.Failed().nType == FourCC("mdat"))
        return RangeFrom(source, walk.Failed().nOffset, pRange);
    if (walk.Status() == EBoxHeader::Ok || walk.Status() == EBoxHeader::ReadError)
        return false;
    // The boxes break off (zeros, a garbage size): look for the mdat type a little further.
    const uint64_t nFrom = walk.Offset();
    const uint64_t nFileSize = source.Size();
    const uint64_t nLimit = nFileSize - nFrom < kSearchLimit ? nFileSize : nFrom + kSearchLimit;
    std::vector<unsigned char> block(1 << 16);
    for (uint64_t nAt = nFrom; nAt < nLimit;) {
        const size_t nWant = static_cast<size_t>(
            nLimit - nAt < block.size() ? nLimit - nAt : uint64_t(block.size()));
        if (nWant < 4 || !source.ReadAt(nAt, block.data(), nWant))
            return false;
        for (size_t i = 0; i + 4 <= nWant; ++i) {
            if (std::memcmp(block.data() + i, "mdat", 4) == 0 && nAt + i >= nFrom + 4)
                return RangeFrom(source, nAt + i - 4, pRange);
        }
        // Blocks overlap by three bytes so that a type across their border is found.
        nAt += nWant - 3;
        if (nWant < block.size())
            break;
    }
    return false;
}
