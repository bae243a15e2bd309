#include "rebuild/OutputFile.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Bytes handed to one write call.
const size_t kMaxWrite = 1u << 30;

} // namespace

COutputFile::~COutputFile() {
    Remove();
}

#if defined(_WIN32)

bool COutputFile::Create(const char* pszPath) {
    Remove();
    // CREATE_NEW fails when anything is at the name, a link or junction too, dangling or not;
    // and a reparse point is opened as itself, never followed. DELETE lets a failed copy be
    // removed through this handle, GENERIC_READ lets the copy be checked through it. No
    // FILE_SHARE_DELETE: nobody renames or deletes it while it is written.
    HANDLE hFile =
        ::CreateFileA(pszPath, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    m_hFile = hFile;
    m_nPosition = 0;
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(hFile, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
        info.nNumberOfLinks != 1) {
        Remove();
        return false;
    }
    return true;
}

bool COutputFile::WriteAll(const uint8_t* pData, size_t nSize) {
    while (nSize != 0) {
        const DWORD nChunk = static_cast<DWORD>(nSize < kMaxWrite ? nSize : kMaxWrite);
        DWORD nWritten = 0;
        if (!::WriteFile(m_hFile, pData, nChunk, &nWritten, nullptr) || nWritten != nChunk)
            return false;
        pData += nChunk;
        nSize -= nChunk;
    }
    return true;
}

bool COutputFile::WriteAt(uint64_t nOffset, const uint8_t* pData, size_t nSize) {
    LARGE_INTEGER at, back;
    at.QuadPart = static_cast<LONGLONG>(nOffset);
    back.QuadPart = static_cast<LONGLONG>(m_nPosition);
    return m_hFile && ::SetFilePointerEx(m_hFile, at, nullptr, FILE_BEGIN) &&
           WriteAll(pData, nSize) && ::SetFilePointerEx(m_hFile, back, nullptr, FILE_BEGIN);
}

bool COutputFile::ReadAt(uint64_t nOffset, uint8_t* pData, size_t nSize) {
    if (!m_hFile)
        return false;
    while (nSize != 0) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(nOffset);
        at.OffsetHigh = static_cast<DWORD>(nOffset >> 32);
        const DWORD nChunk = static_cast<DWORD>(nSize < kMaxWrite ? nSize : kMaxWrite);
        DWORD nRead = 0;
        if (!::ReadFile(m_hFile, pData, nChunk, &nRead, &at) || nRead == 0)
            return false;
        pData += nRead;
        nSize -= nRead;
        nOffset += nRead;
    }
    // A read at a position moves the handle's position too.
    LARGE_INTEGER back;
    back.QuadPart = static_cast<LONGLONG>(m_nPosition);
    return ::SetFilePointerEx(m_hFile, back, nullptr, FILE_BEGIN) != FALSE;
}

bool COutputFile::Identity(CFileIdentity* pIdentity) const {
    BY_HANDLE_FILE_INFORMATION info;
    if (!m_hFile || !::GetFileInformationByHandle(m_hFile, &info))
        return false;
    pIdentity->nVolume = info.dwVolumeSerialNumber;
    pIdentity->nIndex = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

bool COutputFile::Close() {
    if (!m_hFile)
        return false;
    const bool bClosed = ::CloseHandle(m_hFile) != FALSE;
    m_hFile = nullptr;
    return bClosed;
}

void COutputFile::Remove() {
    if (!m_hFile)
        return;
    // Marked for deletion through the handle that created it: the file goes when the handle
    // closes, whatever its name has come to lead to.
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = TRUE;
    ::SetFileInformationByHandle(m_hFile, FileDispositionInfo, &disposition, sizeof disposition);
    ::CloseHandle(m_hFile);
    m_hFile = nullptr;
}

#else

bool COutputFile::Create(const char* pszPath) {
    Remove();
    // O_EXCL fails on anything at the name, a symbolic link too, dangling or not.
    const int nFile = open(pszPath, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (nFile < 0)
        return false;
    m_nFile = nFile;
    m_strPath = pszPath;
    m_nPosition = 0;
    return true;
}

bool COutputFile::WriteAll(const uint8_t* pData, size_t nSize) {
    while (nSize != 0) {
        const ssize_t nWritten = write(m_nFile, pData, nSize < kMaxWrite ? nSize : kMaxWrite);
        if (nWritten < 0 && errno == EINTR)
            continue;
        if (nWritten <= 0)
            return false;
        pData += nWritten;
        nSize -= static_cast<size_t>(nWritten);
    }
    return true;
}

bool COutputFile::WriteAt(uint64_t nOffset, const uint8_t* pData, size_t nSize) {
    if (m_nFile < 0 || lseek(m_nFile, static_cast<off_t>(nOffset), SEEK_SET) < 0 ||
        !WriteAll(pData, nSize))
        return false;
    return lseek(m_nFile, static_cast<off_t>(m_nPosition), SEEK_SET) >= 0;
}

bool COutputFile::ReadAt(uint64_t nOffset, uint8_t* pData, size_t nSize) {
    while (nSize != 0) {
        const ssize_t nRead = pread(m_nFile, pData, nSize < kMaxWrite ? nSize : kMaxWrite,
                                    static_cast<off_t>(nOffset));
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead <= 0)
            return false;
        pData += nRead;
        nSize -= static_cast<size_t>(nRead);
        nOffset += static_cast<uint64_t>(nRead);
    }
    return true;
}

bool COutputFile::Identity(CFileIdentity* pIdentity) const {
    struct stat info;
    if (m_nFile < 0 || fstat(m_nFile, &info) != 0)
        return false;
    pIdentity->nVolume = static_cast<uint64_t>(info.st_dev);
    pIdentity->nIndex = static_cast<uint64_t>(info.st_ino);
    return true;
}

bool COutputFile::Close() {
    if (m_nFile < 0)
        return false;
    const bool bClosed = close(m_nFile) == 0;
    m_nFile = -1;
    m_strPath.clear();
    return bClosed;
}

void COutputFile::Remove() {
    if (m_nFile < 0)
        return;
    // POSIX removes by name only: the name goes only while it still leads to this very file
    // (another file put in its place stays). Between the look and the unlink, a rename by
    // someone with write access to the folder could still slip in.
    CFileIdentity own, named;
    struct stat info;
    if (Identity(&own) && lstat(m_strPath.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
        named.nVolume = static_cast<uint64_t>(info.st_dev);
        named.nIndex = static_cast<uint64_t>(info.st_ino);
        if (named == own)
            unlink(m_strPath.c_str());
    }
    close(m_nFile);
    m_nFile = -1;
    m_strPath.clear();
}

#endif

bool COutputFile::Write(const uint8_t* pData, size_t nSize) {
#if defined(_WIN32)
    const bool bOpen = m_hFile != nullptr;
#else
    const bool bOpen = m_nFile >= 0;
#endif
    if (!bOpen || !WriteAll(pData, nSize))
        return false;
    m_nPosition += nSize;
    return true;
}
