// The AAC frame parser against ffmpeg. Each stream is encoded into an MP4 (whose
// AudioSpecificConfig ffprobe reads back) and copied into ADTS, whose headers give every
// frame's length: the parser must find the same lengths in the frames laid back to back, as
// they sit in an mdat. Syntax that ffmpeg's encoder never writes is made bit by bit, and
// ffmpeg's decoder checks that the frames meant to be valid are.
#include "codec/AacFrame.h"
#include "codec/AacTables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

char g_szScratch[] = "/tmp/clipmend-aac-XXXXXX";

// A folder for this run's media, removed when the tests end.
std::string Scratch(const std::string& strName) {
    static const bool bMade = [] {
        if (!mkdtemp(g_szScratch))
            return false;
        std::atexit([] {
            std::error_code error;
            std::filesystem::remove_all(g_szScratch, error);
        });
        return true;
    }();
    EXPECT_TRUE(bMade);
    return std::string(g_szScratch) + "/" + strName;
}

// Runs a shell command: its output (standard error included), or a failure that shows it.
std::string Shell(const std::string& strCommand) {
    std::string strOut;
    FILE* pPipe = popen((strCommand + " 2>&1").c_str(), "r");
    char buffer[4096];
    for (size_t n; pPipe && (n = fread(buffer, 1, sizeof(buffer), pPipe)) > 0;)
        strOut.append(buffer, n);
    if (!pPipe || pclose(pPipe) != 0)
        ADD_FAILURE() << strCommand << " failed:\n" << strOut;
    return strOut;
}

Bytes ReadFile(const std::string& strPath) {
    std::ifstream file(strPath, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// ffprobe -show_data prints extradata as "00000000: 1190 56e5 ...  ..V." lines.
Bytes ExtradataOf(const std::string& strProbe) {
    Bytes bytes;
    std::istringstream lines(strProbe.substr(strProbe.find("extradata=") + 10));
    std::string strLine, strHex;
    std::getline(lines, strLine);
    while (std::getline(lines, strLine) && strLine.size() > 10 && strLine[8] == ':') {
        std::istringstream groups(strLine.substr(10, 40));
        while (groups >> strHex) {
            for (size_t i = 0; i + 1 < strHex.size(); i += 2)
                bytes.push_back(uint8_t(std::stoi(strHex.substr(i, 2), nullptr, 16)));
        }
    }
    return bytes;
}

struct CEncoded {
    CAacConfig config;
    Bytes raw;                 // the frames back to back, as in an mdat
    std::vector<size_t> sizes; // of each frame, from its ADTS header
    int nAdtsHeader = 0;       // profile, rate index and channels of the ADTS headers
};

// 3 seconds of a lavfi source through ffmpeg's AAC encoder; cached for the tests that share it.
const CEncoded& Encode(const std::string& strSource, const std::string& strOptions) {
    static std::map<std::string, CEncoded> cache;
    const std::string strKey = strSource + " " + strOptions;
    if (cache.count(strKey))
        return cache[strKey];
    CEncoded& encoded = cache[strKey];
    const std::string strMp4 = Scratch(std::to_string(cache.size()) + ".m4a");
    Shell("ffmpeg -nostdin -v error -f lavfi -i '" + strSource + ":d=3' -c:a aac " + strOptions +
          " " + strMp4 + " && ffmpeg -nostdin -v error -i " + strMp4 + " -c copy " + strMp4 +
          ".aac");
    const Bytes asc = ExtradataOf(Shell("ffprobe -v error -show_streams -show_data " + strMp4));
    EXPECT_TRUE(ParseAudioSpecificConfig(asc.data(), asc.size(), &encoded.config)) << strKey;
    const Bytes adts = ReadFile(strMp4 + ".aac");
    for (size_t nAt = 0; nAt + 9 <= adts.size();) {
        const uint8_t* h = adts.data() + nAt;
        const size_t nHeader = (h[1] & 1) ? 7 : 9;
        const size_t nFrame = size_t((h[3] & 3) << 11 | h[4] << 3 | h[5] >> 5);
        if (h[0] != 0xFF || (h[1] & 0xF6) != 0xF0 || (h[6] & 3) != 0 || nFrame <= nHeader ||
            nFrame > adts.size() - nAt) {
            ADD_FAILURE() << "not one raw block in an ADTS frame at " << nAt;
            break;
        }
        encoded.nAdtsHeader = (h[2] & 0xFC) << 1 | (h[2] & 1) << 2 | h[3] >> 6;
        encoded.raw.insert(encoded.raw.end(), h + nHeader, h + nFrame);
        encoded.sizes.push_back(nFrame - nHeader);
        nAt += nFrame;
    }
    EXPECT_GT(encoded.sizes.size(), 20u) << strKey;
    return encoded;
}

// ---- Streams of ffmpeg's encoder ----

struct CStreamCase {
    const char* pszName;
    const char* pszSource;
    const char* pszOptions;
    int nChannelConfig;    // what the MP4's AudioSpecificConfig must say
    uint32_t nToolsNeeded; // what the stream is there to exercise
};

void PrintTo(const CStreamCase& test, std::ostream* pOut) {
    *pOut << test.pszName;
}

// Seeded: the same noise every run, so that each stream always holds the tools it is there for.
const char kPink[] = "anoisesrc=c=pink:a=0.5:seed=1";
const char kWhite[] = "anoisesrc=c=white:a=0.9:seed=1";
const char kTone[] = "sine=f=440";
const char kClicks[] = "aevalsrc=random(0)*lt(mod(t\\,0.37)\\,0.01)";
const char kSix[] = "aevalsrc=sin(440*2*PI*t)*lt(mod(t\\,0.5)\\,0.05)|sin(660*2*PI*t)|"
                    "random(0)*0.5|sin(50*2*PI*t)|sin(300*2*PI*t)*gt(mod(t\\,0.3)\\,0.2)|0";
const uint32_t kShort = kAacToolShortWindow | kAacToolStartStop;

const CStreamCase kStreamCases[] = {
    {"MonoTone", kTone, "-ac 1 -b:a 64k", 1, kAacToolEscape},
    {"MonoClicks", kClicks, "-ac 1 -b:a 96k", 1, kShort},
    {"MonoSilence", "anullsrc=r=44100", "-ac 1 -b:a 64k", 1, 0},
    {"MonoNoiseSubstitution", kWhite, "-ac 1 -aac_pns 1 -b:a 24k", 1, kAacToolNoise},
    {"MonoLowest", kTone, "-ac 1 -ar 8000 -b:a 8k", 1, 0},
    {"StereoMidSide", kPink, "-ac 2 -aac_ms 1 -b:a 128k", 2,
     kAacToolCommonWindow | kAacToolMidSide},
    {"StereoApart", "aevalsrc=sin(660*2*PI*t)*0.5|random(1)*0.3", "-aac_ms 0 -b:a 160k", 2, 0},
    {"StereoIntensity", kPink, "-ac 2 -aac_is 1 -aac_ms 0 -b:a 48k", 2, kAacToolIntensity},
    {"StereoTns", kPink, "-ac 2 -ar 96000 -aac_tns 1 -b:a 128k", 2, kAacToolTns},
    {"StereoHigh", kWhite, "-ac 2 -b:a 512k", 2, kAacToolEscape},
    {"StereoFastCoder", kPink, "-ac 2 -aac_coder fast -b:a 160k", 2, 0},
    {"StereoAnmrCoder", kPink, "-ac 2 -aac_coder anmr -strict -2 -b:a 96k", 2, 0},
    {"StereoTwoloopClicks", kClicks, "-ac 2 -aac_coder twoloop -b:a 128k", 2, kShort},
    {"Rate7350", kPink, "-ac 1 -ar 7350 -b:a 16k", 1, 0},
    {"Rate8000", kPink, "-ac 2 -ar 8000 -b:a 24k", 2, 0},
    {"Rate11025", kPink, "-ac 2 -ar 11025 -b:a 32k", 2, 0},
    {"Rate12000", kPink, "-ac 2 -ar 12000 -b:a 32k", 2, 0},
    {"Rate16000", kPink, "-ac 2 -ar 16000 -b:a 48k", 2, 0},
    {"Rate22050", kClicks, "-ac 2 -ar 22050 -b:a 64k", 2, kShort},
    {"Rate24000", kPink, "-ac 2 -ar 24000 -b:a 64k", 2, 0},
    {"Rate32000", kPink, "-ac 2 -ar 32000 -b:a 96k", 2, 0},
    {"Rate48000", kClicks, "-ac 2 -ar 48000 -b:a 128k", 2, kShort},
    {"Rate64000", kPink, "-ac 2 -ar 64000 -b:a 128k", 2, 0},
    {"Rate88200", kPink, "-ac 2 -ar 88200 -b:a 160k", 2, 0},
    {"Rate96000", kClicks, "-ac 1 -ar 96000 -b:a 96k", 1, kShort},
    {"Surround3", kPink, "-ac 3 -b:a 192k", 0, kAacToolProgramConfig}, // 2.1 needs a PCE
    {"Surround4", kPink, "-ac 4 -b:a 256k", 4, 0},
    {"Surround5", kPink, "-ac 5 -b:a 256k", 5, 0},
    {"Surround51", kWhite, "-ac 6 -b:a 384k", 6, 0},
    {"Surround51Transients", kSix, "-b:a 256k", 6, kShort},
    {"Surround71", kPink, "-ac 8 -b:a 448k", 7, 0},
    {"StereoProgramConfig", kPink, "-ac 2 -aac_pce 1 -b:a 128k", 0, kAacToolProgramConfig},
    {"Surround51ProgramConfig", kPink, "-ac 6 -aac_pce 1 -b:a 256k", 0, kAacToolProgramConfig},
};

// Parses from the first frame with another configuration: one of the first three frames must
// be refused, and none may run on into its neighbour.
bool RefusedEarly(const CEncoded& encoded, const CAacConfig& config) {
    size_t nAt = 0, nLength = 0;
    for (int i = 0; i < 3; ++i) {
        const EAacFrame result =
            ParseAacFrame(config, encoded.raw.data() + nAt, encoded.raw.size() - nAt, &nLength);
        if (result != EAacFrame::Ok)
            return result == EAacFrame::Invalid;
        nAt += nLength;
    }
    return false;
}

size_t g_nFramesMatched = 0;

class AacEncodedStream : public ::testing::TestWithParam<CStreamCase> {};

// Frame by frame as the rebuild engine walks them, each continuing the one before; every cut
// of a frame asks for more bytes; another layout or rate is refused at once.
TEST_P(AacEncodedStream, FramesFoundWithTheirAdtsLengths) {
    const CStreamCase& test = GetParam();
    const CEncoded& encoded = Encode(test.pszSource, test.pszOptions);
    const CAacConfig& config = encoded.config;
    EXPECT_EQ(2, config.nObjectType);
    EXPECT_EQ(test.nChannelConfig, config.nChannelConfig);
    EXPECT_EQ((config.nObjectType - 1) * 128 + config.nSampleRateIndex * 8 + config.nChannelConfig,
              encoded.nAdtsHeader)
        << "the MP4's configuration and ffmpeg's ADTS headers differ";

    CAacFrameInfo previous, info;
    uint32_t nTools = 0;
    size_t nAt = 0, nLength = 0, nFound = 0;
    for (; nFound < encoded.sizes.size(); ++nFound) {
        const uint8_t* pFrame = encoded.raw.data() + nAt;
        const EAacFrame result = ParseAacFrame(config, pFrame, encoded.raw.size() - nAt, &nLength,
                                               &info, nFound ? &previous : nullptr);
        if (result != EAacFrame::Ok || nLength != encoded.sizes[nFound])
            break;
        for (size_t nCut = 0; nFound < 8 && nCut < nLength; ++nCut)
            ASSERT_EQ(EAacFrame::Truncated, ParseAacFrame(config, pFrame, nCut, &nLength))
                << "frame " << nFound << " cut to " << nCut;
        nTools |= info.nTools;
        previous = info;
        nAt += encoded.sizes[nFound];
    }
    EXPECT_EQ(encoded.sizes.size(), nFound) << "frame " << nFound << " at byte " << nAt;
    EXPECT_EQ(test.nToolsNeeded, nTools & test.nToolsNeeded) << "tools " << std::hex << nTools;

    CAacConfig other = config;
    other.nChannelConfig = config.nChannelConfig == 1 ? 2 : 1;
    EXPECT_TRUE(RefusedEarly(encoded, other))
        << "read as channel configuration " << other.nChannelConfig;
    // Another band layout (48, 44.1 and 32 kHz share theirs up to band 48: no telling them
    // apart). Silence has no bands to lay out.
    other = config;
    other.nSampleRateIndex = config.nSampleRateIndex >= 8 ? 3 : 11;
    if (nTools != kAacToolFill)
        EXPECT_TRUE(RefusedEarly(encoded, other))
            << "read as rate index " << other.nSampleRateIndex;

    g_nFramesMatched += nFound;
    std::printf("  %-24s %4zu frames %7zu bytes, tools %04x (%zu frames so far)\n", test.pszName,
                nFound, encoded.raw.size(), unsigned(nTools), g_nFramesMatched);
}

INSTANTIATE_TEST_SUITE_P(Ffmpeg, AacEncodedStream, ::testing::ValuesIn(kStreamCases),
                         [](const ::testing::TestParamInfo<CStreamCase>& info) {
                             return std::string(info.param.pszName);
                         });

CAacConfig LcConfig(int nChannelConfig, int nRateIndex = 3, int nObjectType = 2) {
    CAacConfig config;
    config.nObjectType = nObjectType;
    config.nSampleRateIndex = nRateIndex;
    config.nChannelConfig = nChannelConfig;
    return config;
}

// Random bytes, and the H.264 samples of an MP4 (NAL units after 4-byte lengths, often
// 00 00 xx xx), in the place of a frame.
TEST(AacFrameStrictness, OtherDataIsRefused) {
    std::mt19937 random(20240611);
    Bytes noise(20000 * 16 + 2048);
    for (uint8_t& b : noise)
        b = uint8_t(random());
    const std::string strVideo = Scratch("video.mp4");
    std::istringstream packets(
        Shell("ffmpeg -nostdin -v error -f lavfi -i testsrc2=d=4:s=320x240:r=25 -c:v libx264 " +
              strVideo + " && ffprobe -v error -show_entries packet=pos -of csv=p=0 " + strVideo));
    const Bytes mdat = ReadFile(strVideo);
    std::vector<size_t> samples;
    for (size_t nPos; packets >> nPos;)
        samples.push_back(nPos);
    ASSERT_GT(samples.size(), 90u);
    int nVideoAccepted = 0;
    for (int nChannels : {1, 2, 6}) {
        int nAccepted = 0, nTruncated = 0;
        size_t nLength = 0;
        for (size_t nAt = 0; nAt + 2048 <= noise.size(); nAt += 16) {
            const EAacFrame result = ParseAacFrame(LcConfig(nChannels, 4), noise.data() + nAt,
                                                   noise.size() - nAt, &nLength);
            nAccepted += result == EAacFrame::Ok;
            nTruncated += result == EAacFrame::Truncated;
        }
        // Measured: about 1 start in 10000 for mono, 1 in 200000 for stereo, none for 5.1.
        EXPECT_LE(nAccepted, nChannels == 1 ? 10 : 1) << nChannels << " channels";
        EXPECT_EQ(0, nTruncated) << "no random start reaches 2 KB";
        for (int nRate : {3, 4, 11}) {
            for (size_t nAt : samples) {
                const EAacFrame result = ParseAacFrame(
                    LcConfig(nChannels, nRate), mdat.data() + nAt, mdat.size() - nAt, &nLength);
                EXPECT_NE(EAacFrame::Truncated, result) << "video sample at " << nAt;
                nVideoAccepted += result == EAacFrame::Ok;
            }
        }
    }
    // A sample can be a valid frame by chance (00 00 04 1d 01 9f... is a 22-byte mono frame
    // with pulses and TNS): a single frame decides little, a run of them does.
    EXPECT_LE(nVideoAccepted, int(samples.size() * 9 / 100)) << "of " << samples.size() * 9;
    std::printf("  video samples taken for frames: %d of %zu\n", nVideoAccepted,
                samples.size() * 9);
}

// ---- Frames made bit by bit ----

class CBitWriter {
public:
    CBitWriter& Put(uint32_t nValue, int nBits) {
        for (int i = nBits - 1; i >= 0; --i, ++m_nBits) {
            if (m_nBits % 8 == 0)
                m_bytes.push_back(0);
            m_bytes.back() = uint8_t(m_bytes.back() | ((nValue >> i) & 1) << (7 - m_nBits % 8));
        }
        return *this;
    }
    CBitWriter& Align() { return Put(0, int(-m_nBits & 7)); }
    CBitWriter& Sf(int nDelta) {
        return Put(kAacScalefactorCodes[nDelta + 60], kAacScalefactorBits[nDelta + 60]);
    }
    CBitWriter& Bytes(int nCount, uint32_t nValue = 0) {
        for (int i = 0; i < nCount; ++i)
            Put(nValue, 8);
        return *this;
    }
    const std::vector<uint8_t>& Data() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
    size_t m_nBits = 0;
};

// One channel stream at 48 kHz: one section over its bands (4 lines each, long or short), all
// lines zero, scalefactors equal to the global gain.
struct CIcs {
    int nWindow = 0, nBands = 4, nCb = 1, nGlobalGain = 100, nFirstDelta = 0, nTnsOrder = 0;
    bool bReserved = false, bPredictor = false, bGainControl = false, bPulse = false;
    bool bEmptySection = false;
    int nEscapeOnes = -1; // codebook 11: the first value escapes with this many ones
};

void PutIcsInfo(CBitWriter& w, const CIcs& ics) {
    w.Put(ics.bReserved, 1).Put(uint32_t(ics.nWindow), 2).Put(0, 1);
    if (ics.nWindow == 2)
        w.Put(uint32_t(ics.nBands), 4).Put(0x7F, 7); // one group of eight windows
    else
        w.Put(uint32_t(ics.nBands), 6).Put(ics.bPredictor, 1);
}

CBitWriter& PutIcs(CBitWriter& w, const CIcs& ics, bool bCommonWindow = false) {
    const bool bShort = ics.nWindow == 2;
    w.Put(uint32_t(ics.nGlobalGain), 8);
    if (!bCommonWindow)
        PutIcsInfo(w, ics);
    if (ics.bEmptySection)
        w.Put(1, 4).Put(0, bShort ? 3 : 5);
    if (ics.nBands > 0)
        w.Put(uint32_t(ics.nCb), 4).Put(uint32_t(ics.nBands), bShort ? 3 : 5);
    for (int b = 0; b < ics.nBands; ++b) {
        if (ics.nCb == 13 && b == 0)
            w.Put(uint32_t(256 + ics.nFirstDelta), 9); // the first noise energy
        else
            w.Sf(b == 0 ? ics.nFirstDelta : 0);
    }
    w.Put(ics.bPulse, 1);
    if (ics.bPulse)
        w.Put(1, 2).Put(0, 6).Put(3, 5).Put(2, 4).Put(7, 5).Put(1, 4); // two pulses
    w.Put(ics.nTnsOrder > 0, 1);
    for (int n = 0; ics.nTnsOrder > 0 && n < (bShort ? 8 : 1); ++n) {
        w.Put(1, bShort ? 1 : 2).Put(0, 1).Put(3, bShort ? 4 : 6);
        w.Put(uint32_t(ics.nTnsOrder), bShort ? 3 : 5).Put(0, 2);
        for (int i = 0; i < ics.nTnsOrder; ++i)
            w.Put(0, 3);
    }
    w.Put(ics.bGainControl, 1);
    if (ics.nCb < 1 || ics.nCb > 11)
        return w;
    const CAacSpectralBook& book = kAacSpectralBooks[ics.nCb - 1];
    const int nZero = book.bSigned ? book.nCount / 2 : 0;
    for (int i = 0; i < ics.nBands * 4 * (bShort ? 8 : 1) / book.nDim; ++i) {
        if (i == 0 && ics.nEscapeOnes >= 0) { // (16, 0): a codeword, y's sign, y's escape
            w.Put(book.pCodes[16 * 17], book.pBits[16 * 17]).Put(0, 1);
            w.Put((1u << ics.nEscapeOnes) - 1, ics.nEscapeOnes).Put(0, 1);
            w.Put(5, ics.nEscapeOnes + 4);
        } else {
            w.Put(book.pCodes[nZero], book.pBits[nZero]);
        }
    }
    return w;
}

using CIcsEdit = void (*)(CIcs&);
using CExtra = void (*)(CBitWriter&);

// SCE 0 with one stream, then whatever else, then END.
Bytes Mono(CIcsEdit pEdit, CExtra pExtra = nullptr) {
    CIcs ics;
    pEdit(ics);
    CBitWriter w;
    PutIcs(w.Put(0, 7), ics);
    if (pExtra)
        pExtra(w);
    return w.Put(7, 3).Align().Data();
}

// CPE 0: common window (with this ms_mask_present) or not; the first codebook of each channel.
Bytes Pair(bool bCommon, int nMsMask, int nFirstCb, int nSecondCb) {
    CIcs first, second;
    first.nCb = nFirstCb;
    second.nCb = nSecondCb;
    CBitWriter w;
    w.Put(1, 3).Put(0, 4).Put(bCommon, 1);
    if (bCommon) {
        PutIcsInfo(w, first);
        w.Put(uint32_t(nMsMask), 2).Put(nMsMask == 1 ? 5 : 0, nMsMask == 1 ? 4 : 0);
    }
    PutIcs(w, first, bCommon);
    PutIcs(w, second, bCommon);
    return w.Put(7, 3).Align().Data();
}

// Silent channel elements by letters: S, C, L (long windows), l (an LFE of short windows),
// s (an SCE with the last SCE's tag); P first puts a PCE of one front element (p: of another
// rate, m: of AAC Main, q: naming an SCE).
Bytes Elements(const char* pszElements) {
    CBitWriter w;
    CIcs ics;
    ics.nBands = 0;
    int anTag[4] = {};
    for (const char* p = pszElements; *p; ++p) {
        const char c = *p;
        if (c == 'P' || c == 'p' || c == 'm' || c == 'q') {
            w.Put(5, 3).Put(0, 4).Put(c == 'm' ? 0 : 1, 2).Put(c == 'p' ? 4 : 3, 4);
            w.Put(1, 4).Put(0, 20).Put(c != 'q', 1).Put(0, 4).Align().Put(2, 8).Put(0x4142, 16);
            continue;
        }
        const int nType = c == 'C' ? 1 : (c == 'L' || c == 'l') ? 3 : 0;
        w.Put(uint32_t(nType), 3).Put(uint32_t(c == 's' ? anTag[0] - 1 : anTag[nType]++), 4);
        CIcs one = ics;
        one.nWindow = c == 'l' ? 2 : 0;
        if (nType == 1)
            PutIcs(w.Put(0, 1), one); // no common window
        PutIcs(w, one);
    }
    return w.Put(7, 3).Align().Data();
}

// ffmpeg's decoder reads the frame without a complaint: it is real AAC.
void ExpectFfmpegDecodes(const CAacConfig& config, const Bytes& frame, const char* pszWhat) {
    CBitWriter adts;
    for (int i = 0; i < 3; ++i) {
        adts.Put(0xFFF1, 16).Put(uint32_t(config.nObjectType - 1), 2);
        adts.Put(uint32_t(config.nSampleRateIndex), 4).Put(0, 1);
        adts.Put(uint32_t(config.nChannelConfig), 3).Put(0, 4);
        adts.Put(uint32_t(frame.size() + 7), 13).Put(0x7FF, 11).Put(0, 2);
        for (uint8_t b : frame)
            adts.Put(b, 8);
    }
    const std::string strPath = Scratch("made.aac");
    std::ofstream(strPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(adts.Data().data()),
               std::streamsize(adts.Data().size()));
    EXPECT_EQ("", Shell("ffmpeg -nostdin -v error -i " + strPath + " -f null -")) << pszWhat;
}

struct CMadeCase {
    const char* pszWhat;
    CAacConfig config;
    Bytes frame;
    EAacFrame expected;
};

void PrintTo(const CMadeCase& test, std::ostream* pOut) {
    *pOut << test.pszWhat;
}

const EAacFrame kOk = EAacFrame::Ok;
const EAacFrame kInvalid = EAacFrame::Invalid;

std::vector<CMadeCase> MadeCases() {
    const CAacConfig mono = LcConfig(1), stereo = LcConfig(2), surround = LcConfig(6);
    const CIcsEdit silent = [](CIcs& i) { i.nBands = 0; };
    return {
        {"long window, codebook 1", mono, Mono([](CIcs&) {}), kOk},
        {"pulses", mono, Mono([](CIcs& i) { i.bPulse = true; }), kOk},
        {"short windows, TNS of order 7", mono,
         Mono([](CIcs& i) { i.nWindow = 2, i.nTnsOrder = 7; }), kOk},
        {"a noise band", mono, Mono([](CIcs& i) { i.nCb = 13; }), kOk},
        {"an escape of 8 ones (4101)", mono, Mono([](CIcs& i) { i.nCb = 11, i.nEscapeOnes = 8; }),
         kOk},
        {"an aligned data stream", mono,
         Mono(silent, [](CBitWriter& w) { w.Put(0x81, 8).Put(3, 8).Align().Bytes(3, 0xAB); }), kOk},
        {"an unaligned data stream of 300 bytes", mono,
         Mono(silent, [](CBitWriter& w) { w.Put(0x8A, 8).Put(255, 8).Put(45, 8).Bytes(300, 7); }),
         kOk},
        {"fill bits", mono,
         Mono(silent, [](CBitWriter& w) { w.Put(6, 3).Put(3, 4).Put(0x023456, 24); }), kOk},
        {"fill data", mono,
         Mono(silent, [](CBitWriter& w) { w.Put(6, 3).Put(3, 4).Put(0x10, 8).Bytes(2, 0xA5); }),
         kOk},
        {"a long fill", mono,
         Mono(silent,
              [](CBitWriter& w) { w.Put(6, 3).Put(15, 4).Put(40, 8).Put(0, 8).Bytes(53, 0x5A); }),
         kOk},
        {"dynamic range (8 bytes), then ancillary data (5)", mono,
         Mono(silent,
              [](CBitWriter& w) {
                  w.Put(6, 3).Put(13, 4).Put(11, 4).Put(1, 1).Put(0x30, 8).Put(0, 1);
                  w.Put(1, 1).Put(1, 4).Put(0, 4).Put(0x40FF, 16).Put(1, 1).Put(0x288102, 24);
                  w.Put(0x20, 8).Put(3, 8).Put(0xC0FFEE, 24);
              }),
         kOk},
        {"intensity in a common window", stereo, Pair(true, 1, 1, 15), kOk},
        {"intensity with M/S everywhere", stereo, Pair(true, 2, 1, 14), kOk},
        {"intensity in separate windows", stereo, Pair(false, 0, 1, 15), kOk},
        {"5.1", surround, Elements("SCCL"), kOk},
        {"4 channels", LcConfig(4), Elements("SCS"), kOk},
        {"a PCE first", stereo, Elements("PC"), kOk},
        {"explicit SBR and its data", LcConfig(1, 3, 5),
         Mono(silent, [](CBitWriter& w) { w.Put(6, 3).Put(1, 4).Put(13, 4).Put(0, 4); }), kOk},

        {"reserved bit", mono, Mono([](CIcs& i) { i.bReserved = true; }), kInvalid},
        {"prediction in LC", mono, Mono([](CIcs& i) { i.bPredictor = true; }), kInvalid},
        {"gain control in LC", mono, Mono([](CIcs& i) { i.bGainControl = true; }), kInvalid},
        {"max_sfb above num_swb", mono, Mono([](CIcs& i) { i.nBands = 50; }), kInvalid},
        {"max_sfb above num_swb, short", mono, Mono([](CIcs& i) { i.nWindow = 2, i.nBands = 15; }),
         kInvalid},
        {"reserved codebook 12", mono, Mono([](CIcs& i) { i.nCb = 12; }), kInvalid},
        {"intensity in a single channel", mono, Mono([](CIcs& i) { i.nCb = 15; }), kInvalid},
        {"TNS order 13, long", mono, Mono([](CIcs& i) { i.nTnsOrder = 13; }), kInvalid},
        {"pulses in short windows", mono, Mono([](CIcs& i) { i.nWindow = 2, i.bPulse = true; }),
         kInvalid},
        {"a section of no bands", mono, Mono([](CIcs& i) { i.bEmptySection = true; }), kInvalid},
        {"a scalefactor below 0", mono,
         Mono([](CIcs& i) { i.nGlobalGain = 2, i.nFirstDelta = -3; }), kInvalid},
        {"an escape of 9 ones", mono, Mono([](CIcs& i) { i.nCb = 11, i.nEscapeOnes = 9; }),
         kInvalid},
        {"fill data byte A4", mono,
         Mono(silent, [](CBitWriter& w) { w.Put(6, 3).Put(2, 4).Put(0x10, 8).Put(0xA4, 8); }),
         kInvalid},
        {"reserved extension type", mono,
         Mono(silent, [](CBitWriter& w) { w.Put(6, 3).Put(1, 4).Put(0x50, 8); }), kInvalid},
        {"ancillary data longer than its fill", mono,
         Mono(silent, [](CBitWriter& w) { w.Put(6, 3).Put(2, 4).Put(0x20, 8).Put(9, 8); }),
         kInvalid},
        {"SBR data after a data stream", mono,
         Mono(silent,
              [](CBitWriter& w) { w.Put(0x80, 8).Put(0, 8).Put(6, 3).Put(1, 4).Put(0xD0, 8); }),
         kInvalid},
        {"explicit SBR without its data", LcConfig(1, 3, 5), Mono(silent), kInvalid},
        {"a second SCE in mono", mono, Elements("SS"), kInvalid},
        {"a PCE after a channel", stereo, Elements("CP"), kInvalid},
        {"M/S mask 3", stereo, Pair(true, 3, 1, 1), kInvalid},
        {"intensity in a pair's first channel", stereo, Pair(false, 0, 15, 1), kInvalid},
        {"5.1: LFE before a CPE", surround, Elements("SCLC"), kInvalid},
        {"5.1: no LFE", surround, Elements("SCC"), kInvalid},
        {"5.1: two LFEs", surround, Elements("SCCLL"), kInvalid},
        {"5.1: short LFE windows", surround, Elements("SCCl"), kInvalid},
        {"an SCE tag twice", LcConfig(4), Elements("SCs"), kInvalid},
        {"a PCE of another rate", stereo, Elements("pC"), kInvalid},
        {"a PCE of AAC Main", stereo, Elements("mC"), kInvalid},
        {"a PCE of one SCE", stereo, Elements("qC"), kInvalid},
        {"a data stream past the data", mono,
         Mono(silent, [](CBitWriter& w) { w.Put(0x80, 8).Put(200, 8); }), EAacFrame::Truncated},
    };
}

class AacMadeFrame : public ::testing::TestWithParam<CMadeCase> {};

TEST_P(AacMadeFrame, ParsesAsItShould) {
    const CMadeCase& test = GetParam();
    size_t nLength = 0;
    EXPECT_EQ(test.expected,
              ParseAacFrame(test.config, test.frame.data(), test.frame.size(), &nLength));
    if (test.expected == EAacFrame::Ok) {
        EXPECT_EQ(test.frame.size(), nLength);
        ExpectFfmpegDecodes(test.config, test.frame, test.pszWhat);
    }
}

INSTANTIATE_TEST_SUITE_P(Syntax, AacMadeFrame, ::testing::ValuesIn(MadeCases()),
                         [](const ::testing::TestParamInfo<CMadeCase>& info) {
                             std::string strName = std::to_string(info.index) + "_";
                             for (const char* p = info.param.pszWhat; *p; ++p)
                                 strName += isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return strName;
                         });

// Channel configuration 0: the program of the AudioSpecificConfig names the elements and their
// tags, coupling channels included, and sets the largest frame (6144 bits a channel).
TEST(AacMadeFrames, ProgramConfigLayout) {
    // LC, 48 kHz, configuration 0; PCE: front CPE tag 1, LFE tag 2, switched CCE tag 3.
    CBitWriter asc;
    asc.Put(2, 5).Put(3, 4).Put(0, 7).Put(0, 4).Put(1, 2).Put(3, 4).Put(1, 4).Put(0, 8);
    asc.Put(1, 2).Put(0, 3).Put(1, 4).Put(0, 3).Put(0x11, 5).Put(2, 4).Put(0x13, 5).Align().Put(0,
                                                                                                8);
    CAacConfig config;
    ASSERT_TRUE(ParseAudioSpecificConfig(asc.Data().data(), asc.Data().size(), &config));
    auto frame = [](int nCpeTag, int nCce, int nDataStreams) { // nCce: 0 none, 1 switched, 2 not
        CBitWriter w;
        CIcs ics;
        ics.nBands = 2;
        PutIcs(PutIcs(w.Put(1, 3).Put(uint32_t(nCpeTag), 4).Put(0, 1), ics), ics);
        PutIcs(w.Put(3, 3).Put(2, 4), ics);
        if (nCce) { // coupled into both channels of CPE 1, with gains of their own
            PutIcs(w.Put(2, 3).Put(3, 4).Put(nCce == 1, 1).Put(0, 3).Put(0x47, 7).Put(0, 4), ics);
            if (nCce == 1)
                w.Sf(2);
            else
                w.Put(0, 1).Sf(1).Sf(0);
        }
        for (int i = 0; i < nDataStreams; ++i)
            w.Put(0x81, 8).Put(255, 8).Put(225, 8).Align().Bytes(480); // 480 bytes each
        return w.Put(7, 3).Align().Data();
    };
    size_t nLength = 0;
    const Bytes coupled = frame(1, 1, 0), large = frame(1, 0, 4);
    EXPECT_EQ(EAacFrame::Ok, ParseAacFrame(config, coupled.data(), coupled.size(), &nLength));
    EXPECT_EQ(coupled.size(), nLength);
    EXPECT_EQ(EAacFrame::Ok, ParseAacFrame(config, large.data(), large.size(), &nLength))
        << "under the 3 channels' 2304 bytes";
    Bytes huge = frame(1, 0, 5);
    EXPECT_EQ(EAacFrame::Invalid, ParseAacFrame(config, huge.data(), huge.size(), &nLength));
    huge.resize(3 * 768 - 1);
    EXPECT_EQ(EAacFrame::Truncated, ParseAacFrame(config, huge.data(), huge.size(), &nLength));
    for (const Bytes& wrong : {frame(0, 0, 0), frame(1, 2, 0)}) // a CPE tag not in the program;
        EXPECT_EQ(EAacFrame::Invalid,                           // a CCE switched otherwise
                  ParseAacFrame(config, wrong.data(), wrong.size(), &nLength));
}

// With the frame before it, a frame continues its window sequences: after a long start or
// short windows come short windows or a long stop, else long windows or a long start.
TEST(AacMadeFrames, WindowSequencesFollowEachOther) {
    static int s_nWindow;
    for (int nPrevious = 0; nPrevious < 4; ++nPrevious) {
        for (int nNext = 0; nNext < 4; ++nNext) {
            CAacFrameInfo previous, info;
            size_t nLength = 0;
            s_nWindow = nPrevious;
            const Bytes first = Mono([](CIcs& i) { i.nWindow = s_nWindow; });
            s_nWindow = nNext;
            const Bytes second = Mono([](CIcs& i) { i.nWindow = s_nWindow; });
            ASSERT_EQ(EAacFrame::Ok,
                      ParseAacFrame(LcConfig(1), first.data(), first.size(), &nLength, &previous));
            const bool bAllowed = (nPrevious == 1 || nPrevious == 2) == (nNext == 2 || nNext == 3);
            EXPECT_EQ(bAllowed ? EAacFrame::Ok : EAacFrame::Invalid,
                      ParseAacFrame(LcConfig(1), second.data(), second.size(), &nLength, &info,
                                    &previous))
                << nPrevious << " then " << nNext;
        }
    }
}

TEST(AacAudioSpecificConfig, ReadsWhatItSupportsAndRefusesTheRest) {
    auto parse = [](Bytes bytes, CAacConfig* pConfig) {
        return ParseAudioSpecificConfig(bytes.data(), bytes.size(), pConfig);
    };
    CAacConfig config;
    ASSERT_TRUE(parse({0x12, 0x10}, &config)); // LC, 44.1 kHz, stereo
    EXPECT_EQ(2 << 8 | 4 << 4 | 2,
              config.nObjectType << 8 | config.nSampleRateIndex << 4 | config.nChannelConfig);
    ASSERT_TRUE(parse({0x2B, 0x11, 0x88, 0x00}, &config)); // SBR: 24 kHz stereo LC core, 48 out
    EXPECT_EQ(5 << 8 | 6 << 4 | 2,
              config.nObjectType << 8 | config.nSampleRateIndex << 4 | config.nChannelConfig);
    ASSERT_TRUE(parse({0x17, 0x80, 0x56, 0x22, 0x08}, &config)); // an explicit 44100 Hz, mono
    EXPECT_EQ(2 << 8 | 4 << 4 | 1,
              config.nObjectType << 8 | config.nSampleRateIndex << 4 | config.nChannelConfig);
    EXPECT_FALSE(parse({0x12, 0x14}, &config)) << "960-sample frames";
    EXPECT_FALSE(parse({0x0A, 0x10}, &config)) << "AAC Main";
    EXPECT_FALSE(parse({0x17, 0x10}, &config)) << "reserved rate index 14";
    EXPECT_FALSE(parse({0x12, 0x40}, &config)) << "channel configuration 8";
    EXPECT_FALSE(parse({0x12}, &config)) << "cut short";
}

// What the standard makes of its tables holds for ours. Each codebook is a complete prefix code
// (every bit string starts with exactly one codeword) with one codeword per value it is defined
// to code; each sampling rate's scalefactor bands cover the frame from its first line to its
// last (1024 long, 128 short) in whole groups of four lines, never narrower than the last.
TEST(AacTables, AreWhatTheStandardMakesThem) {
    // Codewords as spans of [0, 2^32): sorted, each must start where the one before ended.
    const auto checkCode = [](const char* pszName, size_t nCount, auto code, const uint8_t* pBits) {
        std::vector<std::pair<uint64_t, uint64_t>> spans;
        for (size_t i = 0; i < nCount; ++i) {
            ASSERT_TRUE(pBits[i] >= 1 && pBits[i] <= 32) << pszName << " " << i;
            ASSERT_LT(code(i), uint64_t(1) << pBits[i]) << pszName << " " << i;
            const uint64_t nStart = uint64_t(code(i)) << (32 - pBits[i]);
            spans.emplace_back(nStart, nStart + (uint64_t(1) << (32 - pBits[i])));
        }
        std::sort(spans.begin(), spans.end());
        uint64_t nEnd = 0;
        for (const auto& span : spans) {
            EXPECT_EQ(span.first, nEnd)
                << pszName << (span.first < nEnd ? ": a prefix" : ": a gap");
            nEnd = span.second;
        }
        EXPECT_EQ(nEnd, uint64_t(1) << 32) << pszName;
    };
    // Differences -60 to 60; no difference is the one-bit codeword.
    checkCode(
        "scalefactors", 121, [](size_t i) { return kAacScalefactorCodes[i]; }, kAacScalefactorBits);
    EXPECT_EQ(kAacScalefactorBits[60], 1);
    for (int nBook = 1; nBook <= 11; ++nBook) {
        const CAacSpectralBook& book = kAacSpectralBooks[nBook - 1];
        const std::string strName = "codebook " + std::to_string(nBook);
        // Every tuple of values from -lav (or 0, sign bits apart) to lav, the escape included.
        size_t nTuples = 1;
        for (int i = 0; i < book.nDim; ++i)
            nTuples *= book.bSigned ? 2 * book.nLav + 1 : book.nLav + 1;
        EXPECT_EQ(book.nCount, nTuples) << strName;
        EXPECT_EQ(book.nDim, nBook <= 4 ? 4 : 2) << strName;
        checkCode(
            strName.c_str(), book.nCount, [&](size_t i) { return book.pCodes[i]; }, book.pBits);
    }

    const auto checkBands = [](const char* pszName, int nIndex, const uint16_t* pOffsets,
                               int nBands, int nLines) {
        EXPECT_EQ(pOffsets[0], 0) << pszName << " " << nIndex;
        for (int i = 1; i <= nBands; ++i) {
            const int nWidth = pOffsets[i] - pOffsets[i - 1];
            EXPECT_TRUE(nWidth > 0 && nWidth % 4 == 0) << pszName << " " << nIndex << ":" << i;
            if (i > 1)
                EXPECT_GE(nWidth, pOffsets[i - 1] - pOffsets[i - 2]) << pszName << " " << nIndex;
        }
        EXPECT_EQ(pOffsets[nBands], nLines) << pszName << " " << nIndex;
    };
    for (int nIndex = 0; nIndex < 13; ++nIndex) {
        checkBands("long", nIndex, kAacSwbOffsetLong[nIndex], kAacNumSwbLong[nIndex], 1024);
        checkBands("short", nIndex, kAacSwbOffsetShort[nIndex], kAacNumSwbShort[nIndex], 128);
    }
}

} // namespace
