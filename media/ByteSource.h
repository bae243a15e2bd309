// Random access to the bytes of a file, with 64-bit positions on every build (the 32-bit exe
// too). The box readers work on a CByteSource, so tests and fuzzers supply their own. Portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Seeks and tells with 64-bit positions on every build (fseek's long is 32 bits on Windows).
int Seek64(FILE* pFile, uint64_t nOffset, int nOrigin);
int64_t Tell64(FILE* pFile);

class CByteSource {
public:
    virtual ~CByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads exactly count bytes at offset; false if they cannot all be read.
    virtual bool ReadAt(uint64_t offset, void* buffer, size_t count) = 0;
};

// Bytes held in memory (a box built by the program, a fuzzer's input); not copied.
class CMemoryByteSource : public CByteSource {
public:
    CMemoryByteSource(const void* pData, size_t nSize)
        : m_pData(static_cast<const unsigned char*>(pData)), m_nSize(nSize) {}
    uint64_t Size() const override { return m_nSize; }
    bool ReadAt(uint64_t offset, void* buffer, size_t count) override;

private:
    const unsigned char* m_pData;
    size_t m_nSize;
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
    void Close();
    bool IsOpen() const { return m_pFile != nullptr; }
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
