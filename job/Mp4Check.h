// Checks the file the tool wrote before the run is called a success: the top-level boxes of an
// ISO base media file must tile it exactly and include a file type box and a movie box. Only
// box headers are read, so a multi-gigabyte file is checked in milliseconds. Portable.
#pragma once

#include "framework/CString.h"

#include <cstdint>
#include <cstdio>

struct CMp4Verdict {
    bool bValid = false;
    CString strProblem; // one short sentence for the user when !bValid, else empty
};

// Random access to the bytes under check; tests and the fuzzer supply their own.
class CByteSource {
public:
    virtual ~CByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads exactly count bytes at offset; false if they cannot all be read.
    virtual bool ReadAt(uint64_t offset, void* buffer, size_t count) = 0;
};

// A file opened with C stdio and 64-bit seeks; the path is in the ANSI code page on Windows.
// Reads go through a small block cache, so runs of tiny boxes cost few calls into the C library.
class CStdioByteSource : public CByteSource {
public:
    CStdioByteSource() = default;
    ~CStdioByteSource() override;
    CStdioByteSource(const CStdioByteSource&) = delete;
    CStdioByteSource& operator=(const CStdioByteSource&) = delete;

    // Opens path for reading; on failure returns false and keeps errno from the failing call.
    bool Open(const char* path);
    uint64_t Size() const override { return m_nSize; }
    bool ReadAt(uint64_t offset, void* buffer, size_t count) override;

private:
    static const size_t kBlockSize = 4096;

    FILE* m_pFile = nullptr;
    uint64_t m_nSize = 0;
    uint64_t m_nBlockOffset = 0;
    size_t m_nBlockLength = 0; // valid bytes in m_block, 0 when nothing is cached
    unsigned char m_block[kBlockSize];
};

// Most top-level boxes accepted; a real movie has a handful, a fragmented one some thousands.
// Beyond this the file is rejected, which keeps a file of millions of tiny boxes quick.
const unsigned kMaxMp4TopLevelBoxes = 100000;

CMp4Verdict CheckMp4Boxes(CByteSource& source);
CMp4Verdict CheckMp4File(const char* path);
