// The file a rebuild writes: created new, never through a name that exists already (a file,
// a link, a junction someone put there), written with 64-bit positions on every build, read
// back through the same handle, and removed through it when the rebuild fails, so that only the
// file it made goes.
#pragma once

#include "media/ByteSource.h"
#include "rebuild/MediaWalk.h"

#include <cstdint>
#include <string>

class COutputFile : public CByteSink {
public:
    COutputFile() = default;
    // Removes a file still open: a rebuild that did not finish leaves no copy.
    ~COutputFile();
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    // Creates the file; fails when anything is at that name. The path is in the ANSI code page
    // on Windows.
    bool Create(const char* pszPath);
    bool Write(const uint8_t* pData, size_t nSize) override;
    // Overwrites bytes written before, then carries on at the end.
    bool WriteAt(uint64_t nOffset, const uint8_t* pData, size_t nSize);
    // Reads bytes written before; writing carries on at the end.
    bool ReadAt(uint64_t nOffset, uint8_t* pData, size_t nSize);
    uint64_t Position() const { return m_nPosition; }
    bool Identity(CFileIdentity* pIdentity) const;
    // Closes the file, keeping it; false if the last writes failed.
    bool Close();
    // Deletes the file this object created, and closes it.
    void Remove();

private:
    bool WriteAll(const uint8_t* pData, size_t nSize);

#if defined(_WIN32)
    void* m_hFile = nullptr; // a HANDLE, null when closed
#else
    int m_nFile = -1;
    std::string m_strPath;
#endif
    uint64_t m_nPosition = 0;
};
