#if !defined(_WIN32)
// 64-bit off_t for fseeko/ftello on 32-bit POSIX systems too; must precede every system header.
#define _FILE_OFFSET_BITS 64
#endif

#include "job/Mp4Check.h"

#include <cerrno>
#include <cstring>
#include <sys/types.h>

namespace {

const char kEmpty[] = "The new file is empty.";
const char kMissing[] = "The new file does not exist.";
const char kCannotOpen[] = "The new file cannot be opened.";
const char kCannotRead[] = "The new file could not be read.";
const char kNotMp4[] = "The new file is not an MP4 file.";
const char kCutShort[] = "The new file is cut short: a box runs past its end.";
const char kBadHeader[] = "The new file is damaged: a box header is not valid.";
const char kBadSize[] = "The new file is damaged: a box has an impossible size.";
const char kTooMany[] = "The new file has too many boxes to check.";
const char kNoMoov[] = "The new file has no movie header (moov).";
const char kEmptyMoov[] = "The new file has an empty movie header (moov).";
const char kNoFtyp[] = "The new file is not an MP4 file: it has no file type box (ftyp).";

CMp4Verdict Fail(const char* pszProblem) {
    return CMp4Verdict{false, CString(pszProblem)};
}

uint32_t ReadBE32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

uint64_t ReadBE64(const unsigned char* p) {
    return (uint64_t(ReadBE32(p)) << 32) | ReadBE32(p + 4);
}

// Top-level box types are four printable ASCII characters; anything else means the walk has
// left the box structure (a wrong size earlier on, or not a box file at all).
bool IsBoxType(const unsigned char* p) {
    for (int i = 0; i < 4; ++i) {
        if (p[i] < 0x20 || p[i] > 0x7E)
            return false;
    }
    return true;
}

bool IsType(const unsigned char* p, const char* pszType) {
    return std::memcmp(p, pszType, 4) == 0;
}

int Seek64(FILE* pFile, uint64_t nOffset, int nOrigin) {
#if defined(_WIN32)
    return _fseeki64(pFile, static_cast<__int64>(nOffset), nOrigin);
#else
    return fseeko(pFile, static_cast<off_t>(nOffset), nOrigin);
#endif
}

int64_t Tell64(FILE* pFile) {
#if defined(_WIN32)
    return _ftelli64(pFile);
#else
    return ftello(pFile);
#endif
}

} // namespace

CStdioByteSource::~CStdioByteSource() {
    if (m_pFile)
        std::fclose(m_pFile);
}

bool CStdioByteSource::Open(const char* path) {
    if (m_pFile) {
        std::fclose(m_pFile);
        m_pFile = nullptr;
    }
    m_nSize = 0;
    m_nBlockLength = 0;

    FILE* pFile = std::fopen(path, "rb");
    if (!pFile)
        return false;
    // Our own block cache does the buffering; a stdio buffer on top would only copy twice.
    std::setvbuf(pFile, nullptr, _IONBF, 0);
    int64_t nEnd = -1;
    if (Seek64(pFile, 0, SEEK_END) == 0)
        nEnd = Tell64(pFile);
    if (nEnd < 0) {
        const int nError = errno;
        std::fclose(pFile);
        errno = nError;
        return false;
    }
    m_pFile = pFile;
    m_nSize = static_cast<uint64_t>(nEnd);
    return true;
}

bool CStdioByteSource::ReadAt(uint64_t offset, void* buffer, size_t count) {
    if (!m_pFile || offset > m_nSize || count > m_nSize - offset)
        return false;
    if (count == 0)
        return true;
    if (count > kBlockSize) {
        return Seek64(m_pFile, offset, SEEK_SET) == 0 &&
               std::fread(buffer, 1, count, m_pFile) == count;
    }
    const bool bCached = m_nBlockLength != 0 && offset >= m_nBlockOffset &&
                         offset - m_nBlockOffset + count <= m_nBlockLength;
    if (!bCached) {
        // The block starts at the request, so a jump over a large box costs one small read.
        m_nBlockLength = 0;
        const uint64_t nLeft = m_nSize - offset;
        const size_t nWant = nLeft < kBlockSize ? static_cast<size_t>(nLeft) : kBlockSize;
        if (Seek64(m_pFile, offset, SEEK_SET) != 0 ||
            std::fread(m_block, 1, nWant, m_pFile) != nWant)
            return false;
        m_nBlockOffset = offset;
        m_nBlockLength = nWant;
    }
    std::memcpy(buffer, m_block + (offset - m_nBlockOffset), count);
    return true;
}

CMp4Verdict CheckMp4Boxes(CByteSource& source) {
    const uint64_t nFileSize = source.Size();
    if (nFileSize == 0)
        return Fail(kEmpty);

    bool bFtyp = false;
    bool bMoov = false;
    bool bEmptyMoov = false;
    unsigned nBoxes = 0;
    uint64_t nOffset = 0;
    while (nOffset < nFileSize) {
        // A file whose very first box does not hold together is not a box file at all (a text
        // file, say), rather than a damaged one.
        const bool bFirst = nOffset == 0;
        if (++nBoxes > kMaxMp4TopLevelBoxes)
            return Fail(kTooMany);

        const uint64_t nLeft = nFileSize - nOffset;
        unsigned char header[16];
        if (nLeft < 8)
            return Fail(bFirst ? kNotMp4 : kCutShort);
        if (!source.ReadAt(nOffset, header, 8))
            return Fail(kCannotRead);
        if (!IsBoxType(header + 4))
            return Fail(bFirst ? kNotMp4 : kBadHeader);

        uint64_t nBoxSize = ReadBE32(header);
        uint64_t nHeaderSize = 8;
        if (nBoxSize == 1) {
            // The 64-bit largesize follows the type.
            if (nLeft < 16)
                return Fail(bFirst ? kNotMp4 : kCutShort);
            if (!source.ReadAt(nOffset + 8, header + 8, 8))
                return Fail(kCannotRead);
            nBoxSize = ReadBE64(header + 8);
            nHeaderSize = 16;
        } else if (nBoxSize == 0) {
            // The last box may run to the end of the file.
            nBoxSize = nLeft;
        }
        if (IsType(header + 4, "uuid"))
            nHeaderSize += 16; // the extended type is part of the header
        if (nBoxSize < nHeaderSize)
            return Fail(bFirst ? kNotMp4 : kBadSize);
        if (nBoxSize > nLeft)
            return Fail(bFirst ? kNotMp4 : kCutShort);

        if (IsType(header + 4, "ftyp")) {
            bFtyp = true;
        } else if (IsType(header + 4, "moov")) {
            bMoov = true;
            bEmptyMoov = nBoxSize == nHeaderSize;
        }
        nOffset += nBoxSize;
    }

    if (!bMoov)
        return Fail(kNoMoov);
    if (bEmptyMoov)
        return Fail(kEmptyMoov);
    if (!bFtyp)
        return Fail(kNoFtyp);
    return CMp4Verdict{true, CString()};
}

CMp4Verdict CheckMp4File(const char* path) {
    CStdioByteSource source;
    if (!source.Open(path))
        return Fail(errno == ENOENT ? kMissing : kCannotOpen);
    return CheckMp4Boxes(source);
}
