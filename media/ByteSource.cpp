#if !defined(_WIN32)
// 64-bit off_t for fseeko/ftello on 32-bit POSIX systems too; must precede every system header.
#define _FILE_OFFSET_BITS 64
#endif

#include "media/ByteSource.h"

#include <cerrno>
#include <cstring>
#include <sys/types.h>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace {

#if defined(_WIN32)
bool IdentityOfHandle(HANDLE hFile, CFileIdentity* pIdentity) {
    BY_HANDLE_FILE_INFORMATION info;
    if (hFile == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(hFile, &info))
        return false;
    pIdentity->nVolume = info.dwVolumeSerialNumber;
    pIdentity->nIndex = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}
#else
void IdentityOfStat(const struct stat& info, CFileIdentity* pIdentity) {
    pIdentity->nVolume = static_cast<uint64_t>(info.st_dev);
    pIdentity->nIndex = static_cast<uint64_t>(info.st_ino);
}
#endif

} // namespace

bool FileIdentityOf(const char* path, CFileIdentity* pIdentity) {
#if defined(_WIN32)
    // Opened for its attributes only: whoever has it open, for whatever, does not matter.
    const HANDLE hFile = ::CreateFileA(path, FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const bool bOk = IdentityOfHandle(hFile, pIdentity);
    if (hFile != INVALID_HANDLE_VALUE)
        ::CloseHandle(hFile);
    return bOk;
#else
    struct stat info;
    if (stat(path, &info) != 0)
        return false;
    IdentityOfStat(info, pIdentity);
    return true;
#endif
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

bool CMemoryByteSource::ReadAt(uint64_t offset, void* buffer, size_t count) {
    if (offset > m_nSize || count > m_nSize - offset)
        return false;
    if (count != 0)
        std::memcpy(buffer, m_pData + offset, count);
    return true;
}

bool CBudgetByteSource::ReadAt(uint64_t offset, void* buffer, size_t count) {
    if (m_nReads == 0 || count > m_nBytes)
        return false;
    --m_nReads;
    m_nBytes -= count;
    return m_source.ReadAt(offset, buffer, count);
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

bool CStdioByteSource::Identity(CFileIdentity* pIdentity) const {
    if (!m_pFile)
        return false;
#if defined(_WIN32)
    return IdentityOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(m_pFile))), pIdentity);
#else
    struct stat info;
    if (fstat(fileno(m_pFile), &info) != 0)
        return false;
    IdentityOfStat(info, pIdentity);
    return true;
#endif
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
