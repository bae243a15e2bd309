#if !defined(_WIN32)
// 64-bit off_t for fseeko/ftello on 32-bit POSIX systems too; must precede every system header.
#define _FILE_OFFSET_BITS 64
#endif

#include "media/ByteSource.h"

#include <cerrno>
#include <cstring>
#include <sys/types.h>

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

bool CMemoryByteSource::ReadAt(uint64_t offset, void* buffer, size_t count) {
    if (offset > m_nSize || count > m_nSize - offset)
        return false;
    if (count != 0)
        std::memcpy(buffer, m_pData + offset, count);
    return true;
}

CStdioByteSource::~CStdioByteSource() {
    Close();
}

void CStdioByteSource::Close() {
    if (m_pFile)
        std::fclose(m_pFile);
    m_pFile = nullptr;
    m_nSize = 0;
    m_nBlockLength = 0;
}

bool CStdioByteSource::Open(const char* path) {
    Close();
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
