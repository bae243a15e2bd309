// Random access to the bytes of a file, with 64-bit positions on every build (the 32-bit exe
// too). The box readers work on a CByteSource, so tests and fuzzers supply their own. Portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Seeks and tells with 64-bit positions on every build (fseek's long is 32 bits on Windows).
int Seek64(FILE* pFile, uint64_t nOffset, int nOrigin);
int64_t Tell64(FILE* pFile);

// What makes a file itself whatever name it is reached by (another spelling of its path, a
// link, a hard link): its volume and its number on it.
struct CFileIdentity {
    uint64_t nVolume = 0;
    uint64_t nIndex = 0;
    bool operator==(const CFileIdentity& other) const {
        return nVolume == other.nVolume && nIndex == other.nIndex;
    }
    bool operator!=(const CFileIdentity& other) const { return !(*this == other); }
};

// The identity of the file that path names (links followed); false when there is none.
bool FileIdentityOf(const char* path, CFileIdentity* pIdentity);

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

// Another source read through a budget: a number of reads and of bytes, after which every read
// fails. Bounds what a reader may spend on a file that makes it look far and wide.
class CBudgetByteSource : public CByteSource {
public:
    CBudgetByteSource(CByteSource& source, uint64_t nReads, uint64_t nBytes)
        : m_source(source), m_nReads(nReads), m_nBytes(nBytes) {}
    uint64_t Size() const override { return m_source.Size(); }
    bool ReadAt(uint64_t offset, void* buffer, size_t count) override;

private:
    CByteSource& m_source;
    uint64_t m_nReads;
    uint64_t m_nBytes;
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
    // The identity of the file opened.
    bool Identity(CFileIdentity* pIdentity) const;
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
