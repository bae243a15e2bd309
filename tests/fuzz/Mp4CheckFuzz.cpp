// Fuzzes the box reader, through the output check and the source check. The input is a file's
// first bytes; a flag byte may declare the file longer, the rest reading as zeros, so that
// large and 64-bit sizes are reached as well.
#include "media/Mp4Check.h"
#include "media/SourceCheck.h"
#include "tests/support/MediaMaker.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

class CFuzzSource : public CByteSource {
public:
    CFuzzSource(const uint8_t* pData, size_t nData, uint64_t nSize)
        : m_pData(pData), m_nData(nData), m_nSize(nSize) {}
    uint64_t Size() const override { return m_nSize; }
    bool ReadAt(uint64_t offset, void* buffer, size_t count) override {
        // The reader checks bounds itself; a read outside the file is a bug, not a failure.
        if (offset > m_nSize || count > m_nSize - offset)
            std::abort();
        if (++m_nReads > 2 * kMaxMp4TopLevelBoxes + 2)
            std::abort();
        unsigned char* pOut = static_cast<unsigned char*>(buffer);
        for (size_t i = 0; i < count; ++i)
            pOut[i] = offset + i < m_nData ? m_pData[offset + i] : 0;
        return true;
    }

private:
    const uint8_t* m_pData;
    size_t m_nData;
    uint64_t m_nSize;
    unsigned m_nReads = 0;
};

// A second, plain reading of the same rules: the boxes tile the file, each type printable,
// a file type box and a non-empty movie box, not too many boxes.
bool ReferenceValid(CFuzzSource& source) {
    const uint64_t nEnd = source.Size();
    uint64_t nAt = 0;
    unsigned nBoxes = 0;
    bool bFtyp = false, bMoov = false, bMoovEmpty = false;
    while (nAt != nEnd) {
        unsigned char h[16];
        if (nEnd - nAt < 8 || ++nBoxes > kMaxMp4TopLevelBoxes)
            return false;
        source.ReadAt(nAt, h, 8);
        for (int i = 4; i < 8; ++i) {
            if (h[i] < 0x20 || h[i] > 0x7E)
                return false;
        }
        uint64_t nBox = (uint64_t(h[0]) << 24) | (h[1] << 16) | (h[2] << 8) | h[3];
        uint64_t nHead = 8;
        if (nBox == 1) {
            if (nEnd - nAt < 16)
                return false;
            source.ReadAt(nAt + 8, h + 8, 8);
            nBox = 0;
            for (int i = 8; i < 16; ++i)
                nBox = (nBox << 8) | h[i];
            nHead = 16;
        } else if (nBox == 0) {
            nBox = nEnd - nAt;
        }
        if (std::memcmp(h + 4, "uuid", 4) == 0)
            nHead += 16;
        if (nBox < nHead || nBox > nEnd - nAt)
            return false;
        bFtyp = bFtyp || std::memcmp(h + 4, "ftyp", 4) == 0;
        if (std::memcmp(h + 4, "moov", 4) == 0) {
            bMoov = true;
            bMoovEmpty = nBox == nHead;
        }
        nAt += nBox;
    }
    return bFtyp && bMoov && !bMoovEmpty;
}

} // namespace

// Real files as ffmpeg writes them (plain, faststart, fragmented, QuickTime, several tracks),
// and the same cut short inside the movie box, inside the media data, and before the index.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* pszSeeds = std::getenv("CLIPMEND_MP4CHECK_SEEDS");
    if (!pszSeeds || !mediamaker::FolderEmpty(pszSeeds))
        return 0;
    const std::string strSeeds = pszSeeds;
    const std::string strSource = "-f lavfi -i testsrc2=size=64x48:rate=10 -f lavfi -i "
                                  "sine=sample_rate=8000 -t 2 -c:v libx264 -preset ultrafast "
                                  "-c:a aac -b:a 16k ";
    const std::pair<const char*, std::string> kinds[] = {
        {"plain.mp4", ""},
        {"faststart.mp4", "-movflags +faststart "},
        {"fragmented.mp4", "-movflags +frag_keyframe+empty_moov "},
        {"movie.mov", ""},
        {"timecode.mp4", "-timecode 01:00:00:00 "},
    };
    int nSeed = 0;
    for (const auto& kind : kinds) {
        const std::string strPath = strSeeds + "/" + kind.first;
        const std::vector<uint8_t> whole =
            mediamaker::Ffmpeg(mediamaker::Words(strSource + kind.second), strPath);
        std::remove(strPath.c_str());
        if (whole.empty())
            continue;
        const std::string strSeed = strSeeds + "/seed" + std::to_string(nSeed++);
        mediamaker::WriteBytes(strSeed + "-whole", whole);
        mediamaker::WriteBytes(
            strSeed + "-cut",
            std::vector<uint8_t>(whole.begin(), whole.begin() + whole.size() / 2));
        mediamaker::WriteBytes(strSeed + "-noindex", mediamaker::CutBeforeIndex(whole, 0.7));
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    uint64_t nFileSize = nSize;
    if (nSize >= 9 && pData[0] == 0xFF) {
        // 0xFF, then a 64-bit extra length, then the file's start.
        uint64_t nExtra = 0;
        for (int i = 1; i <= 8; ++i)
            nExtra = (nExtra << 8) | pData[i];
        pData += 9;
        nSize -= 9;
        nFileSize = nSize + (nExtra & ((1ULL << 62) - 1));
    }
    CFuzzSource source(pData, nSize, nFileSize);
    const CMp4Verdict verdict = CheckMp4Boxes(source);
    CFuzzSource reference(pData, nSize, nFileSize);
    if (verdict.IsValid() != ReferenceValid(reference))
        std::abort();
    // The source check on the same bytes: a file the output check takes is a whole movie.
    CFuzzSource again(pData, nSize, nFileSize);
    const CSourceInfo info = CheckSource(again);
    if (verdict.IsValid() && info.eKind != ESourceKind::Mp4)
        std::abort();
    if (info.nSize != nFileSize || info.nMediaBytes > nFileSize ||
        info.movie.tracks.size() > kMaxMovieTracks)
        std::abort();
    return 0;
}
