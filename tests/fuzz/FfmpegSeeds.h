// Seeds for the fuzzers made with ffmpeg when they start, into a folder of the build tree that
// is still empty: real recordings, whole and cut off before their index as a dying recorder
// leaves them. No media is kept with the sources.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <dirent.h>

namespace fuzzseeds {

inline bool FolderEmpty(const char* pszFolder) {
    DIR* pDir = opendir(pszFolder);
    if (!pDir)
        return false;
    bool bEmpty = true;
    while (const dirent* pEntry = readdir(pDir))
        bEmpty = bEmpty && pEntry->d_name[0] == '.';
    closedir(pDir);
    return bEmpty;
}

inline std::vector<uint8_t> ReadFile(const std::string& strPath) {
    std::vector<uint8_t> bytes;
    if (FILE* pFile = std::fopen(strPath.c_str(), "rb")) {
        uint8_t buffer[65536];
        size_t nRead;
        while ((nRead = std::fread(buffer, 1, sizeof buffer, pFile)) > 0)
            bytes.insert(bytes.end(), buffer, buffer + nRead);
        std::fclose(pFile);
    }
    return bytes;
}

inline void WriteFile(const std::string& strPath, const std::vector<uint8_t>& bytes) {
    if (FILE* pFile = std::fopen(strPath.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), pFile);
        std::fclose(pFile);
    }
}

// Runs ffmpeg quietly with the arguments given, writing strOutput; its bytes, or none.
inline std::vector<uint8_t> Ffmpeg(const std::string& strArguments, const std::string& strOutput) {
    const std::string strCommand =
        "ffmpeg -nostdin -v error -y " + strArguments + " '" + strOutput + "' </dev/null";
    if (std::system(strCommand.c_str()) != 0)
        return {};
    return ReadFile(strOutput);
}

// The top-level boxes' offsets and sizes (a size of 0 running to the end).
struct CTopBox {
    std::string strType;
    size_t nOffset;
    size_t nSize;
};
inline std::vector<CTopBox> TopBoxes(const std::vector<uint8_t>& bytes) {
    std::vector<CTopBox> boxes;
    for (size_t nAt = 0; nAt + 8 <= bytes.size();) {
        uint64_t nSize = (uint64_t(bytes[nAt]) << 24) | (bytes[nAt + 1] << 16) |
                         (bytes[nAt + 2] << 8) | bytes[nAt + 3];
        if (nSize == 1 && nAt + 16 <= bytes.size()) {
            nSize = 0;
            for (int i = 8; i < 16; ++i)
                nSize = (nSize << 8) | bytes[nAt + i];
        } else if (nSize == 0) {
            nSize = bytes.size() - nAt;
        }
        if (nSize < 8 || nSize > bytes.size() - nAt)
            break;
        boxes.push_back(CTopBox{std::string(bytes.begin() + std::ptrdiff_t(nAt) + 4,
                                            bytes.begin() + std::ptrdiff_t(nAt) + 8),
                                nAt, static_cast<size_t>(nSize)});
        nAt += static_cast<size_t>(nSize);
    }
    return boxes;
}

// A recording cut off before its index: what precedes mdat, mdat with size 0 and dFraction
// of its payload; nothing of moov.
inline std::vector<uint8_t> CutBeforeIndex(const std::vector<uint8_t>& whole, double dFraction) {
    for (const CTopBox& box : TopBoxes(whole)) {
        if (box.strType != "mdat")
            continue;
        std::vector<uint8_t> cut;
        for (const CTopBox& before : TopBoxes(whole)) {
            if (before.nOffset < box.nOffset && before.strType != "moov")
                cut.insert(cut.end(), whole.begin() + std::ptrdiff_t(before.nOffset),
                           whole.begin() + std::ptrdiff_t(before.nOffset + before.nSize));
        }
        const uint8_t kHeader[8] = {0, 0, 0, 0, 'm', 'd', 'a', 't'};
        cut.insert(cut.end(), kHeader, kHeader + 8);
        const size_t nKeep = static_cast<size_t>(double(box.nSize - 8) * dFraction);
        cut.insert(cut.end(), whole.begin() + std::ptrdiff_t(box.nOffset + 8),
                   whole.begin() + std::ptrdiff_t(box.nOffset + 8 + nKeep));
        return cut;
    }
    return {};
}

} // namespace fuzzseeds
