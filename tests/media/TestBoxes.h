// ISO files built in code with the program's own box writer, for the tests, the fuzzers and
// the stand-in tool: a small whole MP4, sample tables as a test wants them, and files of a
// length where only some pieces are written (the rest a hole on disk).
#pragma once

#include "media/BoxWriter.h"
#include "media/ByteSource.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace testmedia {

// A header alone, with the size field as given (0: to the end, 1: a 64-bit size follows).
inline void Header(CBoxWriter& box, uint32_t nSizeField, const char* pszType) {
    box.U32(nSizeField);
    box.Bytes(pszType, 4);
}

// A box of nPayload zeros.
inline void Box(CBoxWriter& box, const char (&type)[5], size_t nPayload) {
    const size_t nBox = box.Open(type);
    box.Zeros(nPayload);
    box.Close(nBox);
}

// The movie header of a movie of nDuration units at nTimescale.
inline void Mvhd(CBoxWriter& box, uint32_t nTimescale, uint32_t nDuration) {
    const size_t nBox = box.OpenFull("mvhd", 0, 0);
    box.Zeros(8);
    box.U32(nTimescale);
    box.U32(nDuration);
    box.U32(0x10000); // rate 1.0
    box.U16(0x100);   // volume 1.0
    box.Zeros(70);
    box.U32(2); // next track id
    box.Close(nBox);
}

// ftyp, a movie box with a movie header, and 4 KB of media data: enough for a reader that
// walks the boxes. The stand-in writes it as its output, the tests use it as a source.
inline std::string SmallMp4() {
    std::vector<uint8_t> out;
    CBoxWriter box(out);
    const size_t nFtyp = box.Open("ftyp");
    box.Bytes("isom\0\0\x02\0isommp41", 16);
    box.Close(nFtyp);
    const size_t nMoov = box.Open("moov");
    Mvhd(box, 1000, 0);
    box.Close(nMoov);
    const size_t nMdat = box.Open("mdat");
    out.insert(out.end(), 4096, 0x5A);
    box.Close(nMdat);
    return std::string(out.begin(), out.end());
}

// Sample tables, each box written as given.
inline void Stts(CBoxWriter& box, const std::vector<std::pair<uint32_t, uint32_t>>& runs) {
    const size_t nBox = box.OpenFull("stts", 0, 0);
    box.U32(static_cast<uint32_t>(runs.size()));
    for (const auto& run : runs) {
        box.U32(run.first);  // samples
        box.U32(run.second); // each one's duration
    }
    box.Close(nBox);
}

inline void Stsc(CBoxWriter& box, const std::vector<std::pair<uint32_t, uint32_t>>& runs) {
    const size_t nBox = box.OpenFull("stsc", 0, 0);
    box.U32(static_cast<uint32_t>(runs.size()));
    for (const auto& run : runs) {
        box.U32(run.first);  // first chunk, from 1
        box.U32(run.second); // samples per chunk
        box.U32(1);
    }
    box.Close(nBox);
}

// stsz: one size for all (sizes empty), or each sample's.
inline void Stsz(CBoxWriter& box, uint32_t nFixed, uint32_t nCount,
                 const std::vector<uint32_t>& sizes = {}) {
    const size_t nBox = box.OpenFull("stsz", 0, 0);
    box.U32(nFixed);
    box.U32(nCount);
    for (uint32_t nSize : sizes)
        box.U32(nSize);
    box.Close(nBox);
}

inline void Stco(CBoxWriter& box, const std::vector<uint64_t>& offsets) {
    const size_t nBox = box.OpenFull("stco", 0, 0);
    box.U32(static_cast<uint32_t>(offsets.size()));
    for (uint64_t nOffset : offsets)
        box.U32(static_cast<uint32_t>(nOffset));
    box.Close(nBox);
}

// Writes each (offset, bytes) piece into a new file of nLength bytes; what lies between them is
// never written (a hole, where the file system has them). False when it cannot be written.
inline bool WriteSparse(const std::string& strPath, uint64_t nLength,
                        const std::vector<std::pair<uint64_t, std::vector<uint8_t>>>& pieces) {
    FILE* pFile = std::fopen(strPath.c_str(), "wb");
    if (!pFile)
        return false;
    bool bOk = true;
    uint64_t nEnd = 0;
    for (const auto& piece : pieces) {
        bOk =
            bOk && Seek64(pFile, piece.first, SEEK_SET) == 0 &&
            std::fwrite(piece.second.data(), 1, piece.second.size(), pFile) == piece.second.size();
        nEnd = std::max<uint64_t>(nEnd, piece.first + piece.second.size());
    }
    // The last byte makes the length; a piece may end there already.
    if (nLength > nEnd)
        bOk = bOk && Seek64(pFile, nLength - 1, SEEK_SET) == 0 && std::fputc(0, pFile) == 0;
    return std::fclose(pFile) == 0 && bOk && nEnd <= nLength;
}

} // namespace testmedia
