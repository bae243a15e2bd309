#include "rebuild/OutputFile.h"

#include "media/ByteSource.h"

COutputFile::~COutputFile() {
    if (m_pFile)
        Remove();
}

bool COutputFile::Open(const char* pszPath) {
    m_pFile = std::fopen(pszPath, "wb");
    if (!m_pFile)
        return false;
    m_strPath = pszPath;
    m_nPosition = 0;
    // The media is written in blocks of megabytes; a stdio buffer would only copy them again.
    std::setvbuf(m_pFile, nullptr, _IONBF, 0);
    return true;
}

bool COutputFile::Write(const uint8_t* pData, size_t nSize) {
    if (!m_pFile)
        return false;
    if (nSize != 0 && std::fwrite(pData, 1, nSize, m_pFile) != nSize)
        return false;
    m_nPosition += nSize;
    return true;
}

bool COutputFile::WriteAt(uint64_t nOffset, const uint8_t* pData, size_t nSize) {
    if (!m_pFile || Seek64(m_pFile, nOffset, SEEK_SET) != 0 ||
        std::fwrite(pData, 1, nSize, m_pFile) != nSize)
        return false;
    return Seek64(m_pFile, m_nPosition, SEEK_SET) == 0;
}

bool COutputFile::Close() {
    if (!m_pFile)
        return false;
    const bool bOk = std::fflush(m_pFile) == 0 && !std::ferror(m_pFile);
    const bool bClosed = std::fclose(m_pFile) == 0;
    m_pFile = nullptr;
    return bOk && bClosed;
}

void COutputFile::Remove() {
    if (m_pFile) {
        std::fclose(m_pFile);
        m_pFile = nullptr;
    }
    if (!m_strPath.empty())
        std::remove(m_strPath.c_str());
    m_strPath.clear();
}
