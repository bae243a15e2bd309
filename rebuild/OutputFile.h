// The file a rebuild writes: sequential writes with 64-bit positions on every build, a patch
// of bytes already written, and removal of what was written when the rebuild fails.
#pragma once

#include "rebuild/MediaWalk.h"

#include <cstdint>
#include <cstdio>
#include <string>

class COutputFile : public CByteSink {
public:
    COutputFile() = default;
    ~COutputFile();
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    // Creates (or empties) the file; the path is in the ANSI code page on Windows.
    bool Open(const char* pszPath);
    bool Write(const uint8_t* pData, size_t nSize) override;
    // Overwrites bytes written before, then carries on at the end.
    bool WriteAt(uint64_t nOffset, const uint8_t* pData, size_t nSize);
    uint64_t Position() const { return m_nPosition; }
    // Closes the file, keeping it; false if the last writes failed.
    bool Close();
    // Closes and deletes the file.
    void Remove();

private:
    FILE* m_pFile = nullptr;
    std::string m_strPath;
    uint64_t m_nPosition = 0;
};
