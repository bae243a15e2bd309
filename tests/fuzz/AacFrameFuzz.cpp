// Fuzzes the AAC frame parser. The input's first byte chooses the configuration: 0, then a
// byte that picks a channel configuration, rate and object type; or n (1 to 63), then an
// AudioSpecificConfig of n bytes. Frames follow. What must hold for any bytes:
//   - an Ok frame is as long as it says, and its bytes alone give the same frame;
//   - every shorter prefix of it, and of a Truncated input, is Truncated;
//   - an Invalid input stays Invalid whatever follows it.
// When CLIPMEND_AAC_SEEDS names an empty folder, seeds are made there first from ffmpeg's
// AAC encoder (no media is kept with the sources).
#include "codec/AacFrame.h"
#include "tests/support/MediaMaker.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// A few seconds of several layouts through ffmpeg into ADTS; each seed is a configuration
// byte and a few frames with their headers taken off.
void MakeSeeds(const std::string& strFolder) {
    const char* apszOptions[] = {
        "-ac 1 -b:a 64k",  "-ac 2 -b:a 128k",         "-ac 2 -aac_is 1 -aac_ms 0 -b:a 48k",
        "-ac 6 -b:a 256k", "-ac 1 -ar 8000 -b:a 16k", "-ac 2 -ar 96000 -b:a 128k"};
    int nSeed = 0;
    for (const char* pszOptions : apszOptions) {
        const std::string strAdts = strFolder + "/adts.tmp";
        std::vector<std::string> arguments = {
            "-f",   "lavfi", "-i", "aevalsrc=sin(440*2*PI*t)+random(0)*lt(mod(t\\,0.4)\\,0.02):d=2",
            "-c:a", "aac"};
        for (const std::string& strWord : mediamaker::Words(pszOptions))
            arguments.push_back(strWord);
        arguments.insert(arguments.end(), {"-f", "adts"});
        const std::vector<uint8_t> adts = mediamaker::Ffmpeg(arguments, strAdts);
        std::remove(strAdts.c_str());
        if (adts.empty())
            return;
        std::vector<uint8_t> seed;
        for (size_t nAt = 0, nFrame = 0; nAt + 7 <= adts.size(); ++nFrame) {
            const uint8_t* h = adts.data() + nAt;
            const size_t nSize = size_t((h[3] & 3) << 11 | h[4] << 3 | h[5] >> 5);
            const size_t nHeader = (h[1] & 1) ? 7 : 9;
            if (nSize <= nHeader || nSize > adts.size() - nAt)
                break;
            if (seed.empty()) {
                const int nChannels = (h[2] & 1) << 2 | h[3] >> 6;
                const int nRate = (h[2] >> 2) & 15;
                seed = {0, uint8_t((nChannels - 1) | nRate << 3)};
            }
            seed.insert(seed.end(), h + nHeader, h + nSize);
            nAt += nSize;
            if (nFrame % 4 == 3) {
                mediamaker::WriteBytes(strFolder + "/seed" + std::to_string(nSeed++), seed);
                seed.clear();
            }
        }
    }
}

// The implicit configuration a selector byte picks: channels 1..7 from its low bits, the rate
// index from the middle ones, explicit SBR from the top bit.
CAacConfig ConfigOf(uint8_t nSelector) {
    CAacConfig config;
    config.nObjectType = (nSelector & 0x80) ? 5 : 2;
    config.nChannelConfig = 1 + (nSelector & 7) % 7;
    config.nSampleRateIndex = ((nSelector >> 3) & 15) % 13;
    return config;
}

EAacFrame Parse(const CAacConfig& config, const std::vector<uint8_t>& bytes, size_t nSize,
                size_t* pLength) {
    // A copy of just these bytes, so that a read past them is caught by AddressSanitizer.
    std::vector<uint8_t> exact(bytes.begin(), bytes.begin() + std::ptrdiff_t(nSize));
    return ParseAacFrame(config, exact.data(), exact.size(), pLength);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* pszSeeds = std::getenv("CLIPMEND_AAC_SEEDS");
    if (pszSeeds && mediamaker::FolderEmpty(pszSeeds))
        MakeSeeds(pszSeeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    if (nSize < 2)
        return 0;
    CAacConfig config;
    size_t nHead;
    if (pData[0] == 0) {
        config = ConfigOf(pData[1]);
        nHead = 2;
    } else {
        nHead = 1 + size_t(pData[0] & 63);
        if (nHead > nSize || !ParseAudioSpecificConfig(pData + 1, nHead - 1, &config))
            return 0;
    }
    const std::vector<uint8_t> bytes(pData + nHead, pData + nSize);

    size_t nLength = 0;
    const EAacFrame result = Parse(config, bytes, bytes.size(), &nLength);
    if (result == EAacFrame::Ok) {
        if (nLength == 0 || nLength > bytes.size())
            std::abort();
        size_t nAgain = 0;
        if (Parse(config, bytes, nLength, &nAgain) != EAacFrame::Ok || nAgain != nLength)
            std::abort();
        for (size_t nCut : {size_t(0), nLength / 2, nLength - 1}) {
            if (Parse(config, bytes, nCut, &nAgain) != EAacFrame::Truncated)
                std::abort();
        }
        // The frames after it, each continuing the one before.
        CAacFrameInfo previous, info;
        size_t nAt = 0;
        bool bFirst = true;
        while (nAt < bytes.size() &&
               ParseAacFrame(config, bytes.data() + nAt, bytes.size() - nAt, &nLength, &info,
                             bFirst ? nullptr : &previous) == EAacFrame::Ok) {
            if (nLength == 0 || nLength > bytes.size() - nAt)
                std::abort();
            nAt += nLength;
            previous = info;
            bFirst = false;
        }
    } else if (result == EAacFrame::Truncated) {
        size_t nAgain = 0;
        if (Parse(config, bytes, bytes.size() / 2, &nAgain) != EAacFrame::Truncated)
            std::abort();
    } else {
        std::vector<uint8_t> longer = bytes;
        longer.resize(bytes.size() + 64, 0xFF);
        size_t nAgain = 0;
        if (ParseAacFrame(config, longer.data(), longer.size(), &nAgain) != EAacFrame::Invalid)
            std::abort();
    }
    return 0;
}
