// The AAC frame parser against ffmpeg's AAC encoder. Each stream is encoded into an MP4 (whose
// AudioSpecificConfig ffprobe reads back) and copied into ADTS, whose headers give every
// frame's length: the parser must find the same lengths in the frames laid back to back, as
// they sit in an mdat. Frames that ffmpeg's encoder never writes (pulses, data streams, fill
// payloads, coupling) are made bit by bit, and ffmpeg's decoder checks the valid ones.
#include "rebuild/AacFrame.h"
#include "rebuild/AacTables.h"

#include <gtest/gtest.h>

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

// ---- ffmpeg at run time ----

char g_szScratch[] = "/tmp/clipmend-aac-XXXXXX";

// A folder for this run's media, removed when the tests end.
const std::string& ScratchDir() {
    static const std::string strDir = [] {
        if (!mkdtemp(g_szScratch))
            ADD_FAILURE() << "cannot make " << g_szScratch;
        std::atexit([] {
            std::error_code error;
            std::filesystem::remove_all(g_szScratch, error);
        });
        return std::string(g_szScratch);
    }();
    return strDir;
}

// Runs a shell command; its standard output, or a failure that shows the command.
std::string RunCommand(const std::string& strCommand) {
    std::string strOut;
    FILE* pPipe = popen((strCommand + " 2>&1").c_str(), "r");
    if (!pPipe) {
        ADD_FAILURE() << "cannot run " << strCommand;
        return strOut;
    }
    char buffer[4096];
    size_t nRead;
    while ((nRead = fread(buffer, 1, sizeof(buffer), pPipe)) > 0)
        strOut.append(buffer, nRead);
    if (pclose(pPipe) != 0)
        ADD_FAILURE() << strCommand << " failed:\n" << strOut;
    return strOut;
}

Bytes ReadFile(const std::string& strPath) {
    std::ifstream file(strPath, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& strPath, const Bytes& bytes) {
    std::ofstream file(strPath, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// The extradata of ffprobe's -show_data: "00000000: 1190 56e5 ...  ..V." lines.
Bytes ExtradataOf(const std::string& strProbe) {
    Bytes bytes;
    std::istringstream lines(strProbe.substr(strProbe.find("extradata=") + 10));
    std::string strLine;
    std::getline(lines, strLine);
    while (std::getline(lines, strLine) && strLine.size() > 10 && strLine[8] == ':') {
        const std::string strHex = strLine.substr(10, 40);
        for (size_t i = 0; i + 1 < strHex.size(); ++i) {
            if (strHex[i] == ' ' || strHex[i + 1] == ' ')
                continue;
            bytes.push_back(uint8_t(std::stoi(strHex.substr(i, 2), nullptr, 16)));
            ++i;
        }
    }
    return bytes;
}

struct CEncoded {
    CAacConfig config;
    Bytes asc;
    Bytes raw;                 // the frames back to back, as in an mdat
    std::vector<size_t> sizes; // of each frame, from its ADTS header
    int nAdtsProfile = -1, nAdtsRate = -1, nAdtsChannels = -1;
};

// nSeconds of a lavfi source through ffmpeg's AAC encoder with the given options; cached, as
// several tests use the same streams.
const CEncoded& Encode(const std::string& strSource, const std::string& strOptions) {
    static std::map<std::string, CEncoded> cache;
    const std::string strKey = strSource + "|" + strOptions;
    auto it = cache.find(strKey);
    if (it != cache.end())
        return it->second;
    CEncoded& encoded = cache[strKey];
    const std::string strMp4 = ScratchDir() + "/" + std::to_string(cache.size()) + ".m4a";
    const std::string strAdts = strMp4 + ".aac";
    RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i '" + strSource + "' -c:a aac " +
               strOptions + " '" + strMp4 + "'");
    RunCommand("ffmpeg -nostdin -v error -y -i '" + strMp4 + "' -c:a copy -f adts '" + strAdts +
               "'");
    encoded.asc = ExtradataOf(RunCommand(
        "ffprobe -v error -select_streams a:0 -show_streams -show_data '" + strMp4 + "'"));
    EXPECT_TRUE(ParseAudioSpecificConfig(encoded.asc.data(), encoded.asc.size(), &encoded.config));

    const Bytes adts = ReadFile(strAdts);
    for (size_t nAt = 0; nAt < adts.size();) {
        const uint8_t* h = adts.data() + nAt;
        if (adts.size() - nAt < 9 || h[0] != 0xFF || (h[1] & 0xF6) != 0xF0) {
            ADD_FAILURE() << "no ADTS header at " << nAt;
            break;
        }
        const size_t nHeader = (h[1] & 1) ? 7 : 9;
        const size_t nFrame = size_t((h[3] & 3) << 11 | h[4] << 3 | h[5] >> 5);
        EXPECT_EQ(0, h[6] & 3) << "one raw data block per ADTS frame";
        if (nFrame <= nHeader || nFrame > adts.size() - nAt) {
            ADD_FAILURE() << "ADTS frame of " << nFrame << " bytes at " << nAt;
            break;
        }
        encoded.nAdtsProfile = h[2] >> 6;
        encoded.nAdtsRate = (h[2] >> 2) & 15;
        encoded.nAdtsChannels = (h[2] & 1) << 2 | h[3] >> 6;
        encoded.raw.insert(encoded.raw.end(), h + nHeader, h + nFrame);
        encoded.sizes.push_back(nFrame - nHeader);
        nAt += nFrame;
    }
    EXPECT_GT(encoded.sizes.size(), 10u) << strKey;
    return encoded;
}

// Walks the frames as the rebuild engine does: each parsed where the previous one ended, each
// continuing the one before. The number of frames found exactly, and the tools seen.
size_t WalkFrames(const CEncoded& encoded, uint32_t* pTools) {
    CAacFrameInfo previous, info;
    size_t nAt = 0;
    *pTools = 0;
    for (size_t i = 0; i < encoded.sizes.size(); ++i) {
        size_t nLength = 0;
        const EAacFrame result =
            ParseAacFrame(encoded.config, encoded.raw.data() + nAt, encoded.raw.size() - nAt,
                          &nLength, &info, i ? &previous : nullptr);
        if (result != EAacFrame::Ok || nLength != encoded.sizes[i]) {
            ADD_FAILURE() << "frame " << i << " at " << nAt << ": result " << int(result)
                          << ", length " << nLength << " instead of " << encoded.sizes[i];
            return i;
        }
        *pTools |= info.nTools;
        previous = info;
        nAt += nLength;
    }
    return encoded.sizes.size();
}

// ---- Streams of ffmpeg's encoder ----

struct CStreamCase {
    const char* pszName;
    const char* pszSource;
    const char* pszOptions;
    int nChannelConfig;    // what the MP4's AudioSpecificConfig must say
    uint32_t nToolsNeeded; // what the stream is there to exercise
};

const char kPink[] = "anoisesrc=d=3:c=pink:a=0.5";
const char kWhite[] = "anoisesrc=d=3:c=white:a=0.9";
const char kTone[] = "sine=f=440:d=3";
const char kClicks[] = "aevalsrc=random(0)*lt(mod(t\\,0.37)\\,0.01):d=3";
const char kToneAndNoise[] = "aevalsrc=sin(660*2*PI*t)*0.5|random(1)*0.3-0.15:d=3";
const char kSixChannels[] = "aevalsrc=sin(440*2*PI*t)*lt(mod(t\\,0.5)\\,0.05)|sin(660*2*PI*t)|"
                            "random(0)*0.5|sin(50*2*PI*t)|sin(300*2*PI*t)*gt(mod(t\\,0.3)\\,0.2)|"
                            "sin(900*2*PI*t):d=3";

const uint32_t kShortWindows = kAacToolShortWindow | kAacToolStartStop;

const CStreamCase kStreamCases[] = {
    {"MonoTone", kTone, "-ac 1 -b:a 64k", 1, kAacToolEscape},
    {"MonoClicks", kClicks, "-ac 1 -b:a 96k", 1, kShortWindows},
    {"MonoSilence", "anullsrc=d=3", "-ac 1 -b:a 64k", 1, 0},
    {"MonoNoiseSubstitution", kWhite, "-ac 1 -aac_pns 1 -b:a 24k", 1, kAacToolNoise},
    {"MonoLowest", kTone, "-ac 1 -ar 8000 -b:a 8k", 1, 0},
    {"StereoMidSide", kPink, "-ac 2 -aac_ms 1 -b:a 128k", 2,
     kAacToolCommonWindow | kAacToolMidSide},
    {"StereoApart", kToneAndNoise, "-aac_ms 0 -b:a 160k", 2, 0},
    {"StereoIntensity", kPink, "-ac 2 -aac_is 1 -aac_ms 0 -b:a 48k", 2, kAacToolIntensity},
    {"StereoTns", kPink, "-ac 2 -ar 96000 -aac_tns 1 -b:a 128k", 2, kAacToolTns},
    {"StereoHigh", kWhite, "-ac 2 -b:a 512k", 2, kAacToolEscape},
    {"StereoFastCoder", kPink, "-ac 2 -aac_coder fast -b:a 160k", 2, 0},
    {"StereoAnmrCoder", kPink, "-ac 2 -aac_coder anmr -strict -2 -b:a 96k", 2, 0},
    {"StereoTwoloopClicks", kClicks, "-ac 2 -aac_coder twoloop -b:a 128k", 2, kShortWindows},
    {"Rate7350", kPink, "-ac 1 -ar 7350 -b:a 16k", 1, 0},
    {"Rate8000", kPink, "-ac 2 -ar 8000 -b:a 24k", 2, 0},
    {"Rate11025", kPink, "-ac 2 -ar 11025 -b:a 32k", 2, 0},
    {"Rate12000", kPink, "-ac 2 -ar 12000 -b:a 32k", 2, 0},
    {"Rate16000", kPink, "-ac 2 -ar 16000 -b:a 48k", 2, 0},
    {"Rate22050", kClicks, "-ac 2 -ar 22050 -b:a 64k", 2, kShortWindows},
    {"Rate24000", kPink, "-ac 2 -ar 24000 -b:a 64k", 2, 0},
    {"Rate32000", kPink, "-ac 2 -ar 32000 -b:a 96k", 2, 0},
    {"Rate48000", kClicks, "-ac 2 -ar 48000 -b:a 128k", 2, kShortWindows},
    {"Rate64000", kPink, "-ac 2 -ar 64000 -b:a 128k", 2, 0},
    {"Rate88200", kPink, "-ac 2 -ar 88200 -b:a 160k", 2, 0},
    {"Rate96000", kClicks, "-ac 1 -ar 96000 -b:a 96k", 1, kShortWindows},
    {"Surround3", kPink, "-ac 3 -b:a 192k", 0, kAacToolProgramConfig}, // 2.1: a PCE
    {"Surround4", kPink, "-ac 4 -b:a 256k", 4, 0},
    {"Surround5", kPink, "-ac 5 -b:a 256k", 5, 0},
    {"Surround51", kWhite, "-ac 6 -b:a 384k", 6, 0},
    {"Surround51Transients", kSixChannels, "-b:a 256k", 6, kShortWindows},
    {"Surround71", kPink, "-ac 8 -b:a 448k", 7, 0},
    {"StereoProgramConfig", kPink, "-ac 2 -aac_pce 1 -b:a 128k", 0, kAacToolProgramConfig},
    {"Surround51ProgramConfig", kPink, "-ac 6 -aac_pce 1 -b:a 256k", 0, kAacToolProgramConfig},
};

void PrintTo(const CStreamCase& test, std::ostream* pOut) {
    *pOut << test.pszName;
}

const CStreamCase* FindCase(const std::string& strName) {
    for (const CStreamCase& test : kStreamCases) {
        if (strName == test.pszName)
            return &test;
    }
    ADD_FAILURE() << "no stream case " << strName;
    return &kStreamCases[0];
}

size_t g_nFramesMatched = 0;

class AacEncodedStream : public ::testing::TestWithParam<CStreamCase> {};

TEST_P(AacEncodedStream, EveryFrameFoundWithItsAdtsLength) {
    const CStreamCase& test = GetParam();
    const CEncoded& encoded = Encode(test.pszSource, test.pszOptions);
    // The MP4's configuration and ffmpeg's ADTS headers tell the same track.
    EXPECT_EQ(2, encoded.config.nObjectType);
    EXPECT_EQ(test.nChannelConfig, encoded.config.nChannelConfig);
    EXPECT_EQ(encoded.nAdtsProfile + 1, encoded.config.nObjectType);
    EXPECT_EQ(encoded.nAdtsRate, encoded.config.nSampleRateIndex);
    EXPECT_EQ(encoded.nAdtsChannels, encoded.config.nChannelConfig);

    uint32_t nTools = 0;
    const size_t nFound = WalkFrames(encoded, &nTools);
    EXPECT_EQ(encoded.sizes.size(), nFound);
    EXPECT_EQ(test.nToolsNeeded, nTools & test.nToolsNeeded) << "tools seen " << std::hex << nTools;
    g_nFramesMatched += nFound;
    std::printf("  %-26s %4zu frames, %7zu bytes, tools %04x (%zu matched so far)\n", test.pszName,
                nFound, encoded.raw.size(), unsigned(nTools), g_nFramesMatched);
}

INSTANTIATE_TEST_SUITE_P(Ffmpeg, AacEncodedStream, ::testing::ValuesIn(kStreamCases),
                         [](const ::testing::TestParamInfo<CStreamCase>& info) {
                             return std::string(info.param.pszName);
                         });

// A frame cut anywhere can only ask for more bytes: the parse never claims a shorter frame.
TEST(AacFrameTruncation, EveryCutFrameIsTruncated) {
    for (const char* pszName : {"MonoClicks", "StereoMidSide", "StereoIntensity",
                                "Surround51Transients", "StereoProgramConfig"}) {
        const CStreamCase* pCase = FindCase(pszName);
        const CEncoded& encoded = Encode(pCase->pszSource, pCase->pszOptions);
        size_t nAt = 0;
        for (size_t i = 0; i < encoded.sizes.size() && i < 20; ++i) {
            for (size_t nCut = 0; nCut < encoded.sizes[i]; ++nCut) {
                size_t nLength = 0;
                ASSERT_EQ(EAacFrame::Truncated,
                          ParseAacFrame(encoded.config, encoded.raw.data() + nAt, nCut, &nLength))
                    << pCase->pszName << " frame " << i << " cut to " << nCut;
            }
            nAt += encoded.sizes[i];
        }
    }
}

// ---- Strictness ----

// Parses the frames from the start with another configuration: it must refuse one of the
// first three, and never run on into a frame's neighbour.
void ExpectRefusedEarly(const CEncoded& encoded, const CAacConfig& config, const char* pszWhat) {
    size_t nAt = 0;
    for (size_t i = 0; i < 3; ++i) {
        size_t nLength = 0;
        const EAacFrame result =
            ParseAacFrame(config, encoded.raw.data() + nAt, encoded.raw.size() - nAt, &nLength);
        if (result == EAacFrame::Invalid)
            return;
        EXPECT_EQ(EAacFrame::Ok, result) << pszWhat;
        nAt += nLength;
    }
    ADD_FAILURE() << pszWhat << ": three frames accepted";
}

TEST(AacFrameStrictness, AnotherConfigurationRefusesTheStream) {
    const CEncoded& mono = Encode(kTone, "-ac 1 -b:a 64k");
    const CEncoded& stereo = Encode(kPink, "-ac 2 -aac_ms 1 -b:a 128k");
    const CEncoded& surround = Encode(kWhite, "-ac 6 -b:a 384k");
    const CEncoded& pce = Encode(kPink, "-ac 2 -aac_pce 1 -b:a 128k");
    CAacConfig config = stereo.config;
    config.nChannelConfig = 1;
    ExpectRefusedEarly(stereo, config, "stereo read as mono");
    config.nChannelConfig = 6;
    ExpectRefusedEarly(stereo, config, "stereo read as 5.1");
    config = mono.config;
    config.nChannelConfig = 2;
    ExpectRefusedEarly(mono, config, "mono read as stereo");
    config = surround.config;
    for (int nChannels : {2, 5, 7}) {
        config.nChannelConfig = nChannels;
        ExpectRefusedEarly(surround, config, "5.1 read as another layout");
    }
    // The PCE in the first frame says stereo, which a mono reading cannot accept.
    config = pce.config;
    config.nChannelConfig = 1;
    ExpectRefusedEarly(pce, config, "a stereo PCE read as mono");
    // 44.1 kHz laid out as another rate (48 and 32 kHz share its bands up to band 48, which
    // a stream rarely reaches: they cannot be told apart).
    for (int nRate : {0, 2, 6, 8, 11}) {
        config = stereo.config;
        config.nSampleRateIndex = nRate;
        ExpectRefusedEarly(stereo, config,
                           ("44.1 kHz read as rate index " + std::to_string(nRate)).c_str());
        config = mono.config;
        config.nSampleRateIndex = nRate;
        ExpectRefusedEarly(mono, config,
                           ("mono 44.1 kHz read as rate index " + std::to_string(nRate)).c_str());
    }
}

CAacConfig LcConfig(int nChannelConfig, int nRateIndex = 4) {
    CAacConfig config;
    config.nObjectType = 2;
    config.nSampleRateIndex = nRateIndex;
    config.nChannelConfig = nChannelConfig;
    return config;
}

TEST(AacFrameStrictness, RandomBytesAreRarelyAFrame) {
    // 20000 starts, 16 bytes apart, each with at least 2 KB after it.
    std::mt19937 random(20240611);
    Bytes bytes(20000 * 16 + 2048);
    for (uint8_t& b : bytes)
        b = uint8_t(random());
    for (int nChannels : {1, 2, 6}) {
        const CAacConfig config = LcConfig(nChannels);
        int nAccepted = 0, nTruncated = 0;
        for (size_t nAt = 0; nAt + 2048 <= bytes.size(); nAt += 16) {
            size_t nLength = 0;
            const EAacFrame result =
                ParseAacFrame(config, bytes.data() + nAt, bytes.size() - nAt, &nLength);
            nAccepted += result == EAacFrame::Ok;
            nTruncated += result == EAacFrame::Truncated;
        }
        // Measured: about 1 in 10000 for mono, 1 in 200000 for stereo, none for 5.1.
        EXPECT_LE(nAccepted, nChannels == 1 ? 10 : 1) << nChannels << " channels";
        EXPECT_EQ(0, nTruncated) << "random bytes never make the start of a 2 KB frame";
    }
}

// H.264 samples as an MP4 holds them: each NAL unit after a 4-byte length, often 00 00 xx xx.
TEST(AacFrameStrictness, VideoSamplesAreNotFrames) {
    const std::string strVideo = ScratchDir() + "/video.h264";
    RunCommand(
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=d=4:s=320x240:r=25 -c:v libx264 -g 25 "
        "-f h264 '" +
        strVideo + "'");
    const Bytes annexB = ReadFile(strVideo);
    std::vector<size_t> starts;
    for (size_t i = 0; i + 3 < annexB.size(); ++i) {
        if (annexB[i] == 0 && annexB[i + 1] == 0 && annexB[i + 2] == 1) {
            starts.push_back(i + 3);
            i += 2;
        }
    }
    Bytes mdat;
    std::vector<size_t> samples;
    for (size_t k = 0; k < starts.size(); ++k) {
        size_t nEnd = k + 1 < starts.size() ? starts[k + 1] - 3 : annexB.size();
        while (nEnd > starts[k] && annexB[nEnd - 1] == 0)
            --nEnd;
        const size_t nLength = nEnd - starts[k];
        samples.push_back(mdat.size());
        for (int s = 24; s >= 0; s -= 8)
            mdat.push_back(uint8_t(nLength >> s));
        mdat.insert(mdat.end(), annexB.begin() + std::ptrdiff_t(starts[k]),
                    annexB.begin() + std::ptrdiff_t(nEnd));
    }
    ASSERT_GT(samples.size(), 100u);
    for (int nChannels : {1, 2, 6}) {
        for (int nRate : {3, 4, 11}) {
            const CAacConfig config = LcConfig(nChannels, nRate);
            for (size_t nAt : samples) {
                size_t nLength = 0;
                EXPECT_EQ(EAacFrame::Invalid,
                          ParseAacFrame(config, mdat.data() + nAt, mdat.size() - nAt, &nLength))
                    << "video sample at " << nAt << " with " << nChannels << " channels";
            }
        }
    }
}

// ---- Frames made bit by bit ----

class CBitWriter {
public:
    CBitWriter& Put(uint32_t nValue, int nBits) {
        for (int i = nBits - 1; i >= 0; --i) {
            if (m_nBits % 8 == 0)
                m_bytes.push_back(0);
            if ((nValue >> i) & 1)
                m_bytes.back() = uint8_t(m_bytes.back() | (0x80 >> (m_nBits % 8)));
            ++m_nBits;
        }
        return *this;
    }
    CBitWriter& Align() {
        while (m_nBits % 8 != 0)
            Put(0, 1);
        return *this;
    }
    CBitWriter& Sf(int nDelta) {
        return Put(kAacScalefactorCodes[nDelta + 60], kAacScalefactorBits[nDelta + 60]);
    }
    CBitWriter& Spectral(int nCb, int nIndex) {
        const CAacSpectralBook& book = kAacSpectralBooks[nCb - 1];
        return Put(book.pCodes[nIndex], book.pBits[nIndex]);
    }
    const Bytes& Data() const { return m_bytes; }

private:
    Bytes m_bytes;
    size_t m_nBits = 0;
};

// One channel stream at 48 kHz, one section over its bands, all lines zero.
struct CIcs {
    int nWindow = 0; // window_sequence
    int nBands = 4;  // max_sfb: 4 lines a band at the bottom, long and short alike
    int nCb = 1;
    int nGlobalGain = 100;
    int nFirstDelta = 0; // of the first scalefactor (or position) from its start value
    bool bReserved = false, bPredictor = false, bGainControl = false, bPulse = false;
    int nTnsOrder = 0;
    bool bEmptySection = false;
    bool bEscape = false; // codebook 11: one escaped value, nEscapeOnes ones in its prefix
    int nEscapeOnes = 0;
};

void PutIcsInfo(CBitWriter& w, const CIcs& ics) {
    w.Put(ics.bReserved, 1).Put(uint32_t(ics.nWindow), 2).Put(0, 1);
    if (ics.nWindow == 2)
        w.Put(uint32_t(ics.nBands), 4).Put(0x7F, 7); // one group of eight windows
    else
        w.Put(uint32_t(ics.nBands), 6).Put(ics.bPredictor, 1);
}

void PutIcs(CBitWriter& w, const CIcs& ics, bool bCommonWindow = false) {
    const bool bShort = ics.nWindow == 2;
    w.Put(uint32_t(ics.nGlobalGain), 8);
    if (!bCommonWindow)
        PutIcsInfo(w, ics);
    const int nLengthBits = bShort ? 3 : 5;
    if (ics.bEmptySection)
        w.Put(1, 4).Put(0, nLengthBits);
    if (ics.nBands > 0)
        w.Put(uint32_t(ics.nCb), 4).Put(uint32_t(ics.nBands), nLengthBits);
    for (int b = 0; b < ics.nBands; ++b) {
        if (ics.nCb == 13 && b == 0)
            w.Put(uint32_t(256 + ics.nFirstDelta), 9);
        else
            w.Sf(b == 0 ? ics.nFirstDelta : 0);
    }
    w.Put(ics.bPulse, 1);
    if (ics.bPulse)
        w.Put(1, 2).Put(0, 6).Put(3, 5).Put(2, 4).Put(7, 5).Put(1, 4); // two pulses
    w.Put(ics.nTnsOrder > 0, 1);
    if (ics.nTnsOrder > 0) {
        for (int nWindow = 0; nWindow < (bShort ? 8 : 1); ++nWindow) {
            w.Put(1, bShort ? 1 : 2).Put(0, 1).Put(3, bShort ? 4 : 6);
            w.Put(uint32_t(ics.nTnsOrder), bShort ? 3 : 5).Put(0, 1).Put(0, 1);
            for (int i = 0; i < ics.nTnsOrder; ++i)
                w.Put(0, 3);
        }
    }
    w.Put(ics.bGainControl, 1);
    if (ics.nCb >= 1 && ics.nCb <= 11) {
        const CAacSpectralBook& book = kAacSpectralBooks[ics.nCb - 1];
        const int nZero = book.bSigned ? book.nCount / 2 : 0;
        const int nCodewords = ics.nBands * 4 * (bShort ? 8 : 1) / book.nDim;
        for (int i = 0; i < nCodewords; ++i) {
            if (ics.bEscape && i == 0) {
                w.Spectral(11, 16 * 17); // (16, 0): y escapes, its sign bit, its escape
                w.Put(0, 1).Put((1u << ics.nEscapeOnes) - 1, ics.nEscapeOnes).Put(0, 1);
                w.Put(5, ics.nEscapeOnes + 4);
            } else {
                w.Spectral(ics.nCb, nZero);
            }
        }
    }
}

Bytes MonoFrame(const CIcs& ics, void (*pExtra)(CBitWriter&) = nullptr) {
    CBitWriter w;
    w.Put(0, 3).Put(0, 4); // SCE 0
    PutIcs(w, ics);
    if (pExtra)
        pExtra(w);
    w.Put(7, 3).Align(); // END
    return w.Data();
}

EAacFrame Parse(const CAacConfig& config, const Bytes& frame, size_t* pLength = nullptr) {
    size_t nLength = 0;
    const EAacFrame result = ParseAacFrame(config, frame.data(), frame.size(), &nLength);
    if (pLength)
        *pLength = nLength;
    return result;
}

// ffmpeg's decoder reads a frame without a complaint: it is real AAC.
void ExpectFfmpegDecodes(const CAacConfig& config, const Bytes& frame, const char* pszWhat) {
    Bytes adts;
    for (int i = 0; i < 4; ++i) {
        const size_t nSize = frame.size() + 7;
        CBitWriter h;
        h.Put(0xFFF, 12).Put(0, 1).Put(0, 2).Put(1, 1).Put(uint32_t(config.nObjectType - 1), 2);
        h.Put(uint32_t(config.nSampleRateIndex), 4).Put(0, 1);
        h.Put(uint32_t(config.nChannelConfig), 3).Put(0, 4).Put(uint32_t(nSize), 13);
        h.Put(0x7FF, 11).Put(0, 2);
        adts.insert(adts.end(), h.Data().begin(), h.Data().end());
        adts.insert(adts.end(), frame.begin(), frame.end());
    }
    const std::string strPath = ScratchDir() + "/made.aac";
    WriteFile(strPath, adts);
    EXPECT_EQ("", RunCommand("ffmpeg -nostdin -v error -i '" + strPath + "' -f null -")) << pszWhat;
}

const CAacConfig kMono48 = LcConfig(1, 3);
const CAacConfig kStereo48 = LcConfig(2, 3);

TEST(AacMadeFrames, SyntaxFfmpegNeverWritesIsParsed) {
    struct CMade {
        const char* pszWhat;
        Bytes frame;
    };
    CIcs plain, pulse, shortTns, noise, escape, silent;
    pulse.bPulse = true;
    shortTns.nWindow = 2;
    shortTns.nTnsOrder = 7;
    noise.nCb = 13;
    escape.nCb = 11;
    escape.bEscape = true;
    escape.nEscapeOnes = 8; // the longest escape: values up to 8191
    silent.nBands = 0;
    const CMade made[] = {
        {"long window, codebook 1", MonoFrame(plain)},
        {"pulses", MonoFrame(pulse)},
        {"short windows with TNS of order 7", MonoFrame(shortTns)},
        {"a noise band", MonoFrame(noise)},
        {"an escape of 8 ones", MonoFrame(escape)},
        {"no bands", MonoFrame(silent)},
        {"an aligned data stream",
         MonoFrame(silent,
                   [](CBitWriter& w) {
                       w.Put(4, 3).Put(0, 4).Put(1, 1).Put(3, 8).Align().Put(0xABCDEF, 24);
                   })},
        {"an unaligned data stream of 300 bytes",
         MonoFrame(silent,
                   [](CBitWriter& w) {
                       w.Put(4, 3).Put(5, 4).Put(0, 1).Put(255, 8).Put(45, 8);
                       for (int i = 0; i < 300; ++i)
                           w.Put(uint32_t(i), 8);
                   })},
        {"fill bits",
         MonoFrame(silent,
                   [](CBitWriter& w) { w.Put(6, 3).Put(3, 4).Put(0, 4).Put(0x123456, 20); })},
        {"fill data", MonoFrame(silent,
                                [](CBitWriter& w) {
                                    w.Put(6, 3).Put(3, 4).Put(1, 4).Put(0, 4).Put(0xA5A5, 16);
                                })},
        {"a long fill", MonoFrame(silent,
                                  [](CBitWriter& w) {
                                      w.Put(6, 3).Put(15, 4).Put(40, 8).Put(0, 4);
                                      w.Put(0, 4);
                                      for (int i = 0; i < 53; ++i)
                                          w.Put(0x5A, 8);
                                  })},
        {"dynamic range, then ancillary data",
         MonoFrame(silent,
                   [](CBitWriter& w) {
                       // DRC: pce tag, two bands, reference level: 1 + 1 + 1 + 2 + 1 + 2 bytes
                       w.Put(6, 3).Put(13, 4).Put(11, 4).Put(1, 1).Put(0x30, 8).Put(0, 1);
                       w.Put(1, 1).Put(1, 4).Put(0, 4).Put(0x40, 8).Put(0xFF, 8);
                       w.Put(1, 1).Put(0x28, 8).Put(0x81, 8).Put(0x02, 8);
                       // ANC data: version 0, 3 bytes: 1 + 1 + 3 bytes
                       w.Put(2, 4).Put(0, 4).Put(3, 8).Put(0xC0FFEE, 24);
                   })},
    };
    for (const CMade& m : made) {
        size_t nLength = 0;
        EXPECT_EQ(EAacFrame::Ok, Parse(kMono48, m.frame, &nLength)) << m.pszWhat;
        EXPECT_EQ(m.frame.size(), nLength) << m.pszWhat;
        ExpectFfmpegDecodes(kMono48, m.frame, m.pszWhat);
    }
}

TEST(AacMadeFrames, RuleBreakingFramesAreInvalid) {
    struct CBroken {
        const char* pszWhat;
        CIcs ics;
    };
    std::vector<CBroken> broken(12);
    broken[0] = {"reserved bit", {}};
    broken[0].ics.bReserved = true;
    broken[1] = {"prediction in LC", {}};
    broken[1].ics.bPredictor = true;
    broken[2] = {"gain control in LC", {}};
    broken[2].ics.bGainControl = true;
    broken[3] = {"max_sfb above num_swb", {}};
    broken[3].ics.nBands = 50;
    broken[4] = {"reserved codebook 12", {}};
    broken[4].ics.nCb = 12;
    broken[5] = {"intensity in a single channel", {}};
    broken[5].ics.nCb = 15;
    broken[6] = {"TNS order 13 in a long window", {}};
    broken[6].ics.nTnsOrder = 13;
    broken[7] = {"pulses in short windows", {}};
    broken[7].ics.nWindow = 2;
    broken[7].ics.bPulse = true;
    broken[8] = {"a section of no bands", {}};
    broken[8].ics.bEmptySection = true;
    broken[9] = {"a scalefactor below 0", {}};
    broken[9].ics.nGlobalGain = 2;
    broken[9].ics.nFirstDelta = -3;
    broken[10] = {"an escape of 9 ones", {}};
    broken[10].ics.nCb = 11;
    broken[10].ics.bEscape = true;
    broken[10].ics.nEscapeOnes = 9;
    broken[11] = {"max_sfb above num_swb of short windows", {}};
    broken[11].ics.nWindow = 2;
    broken[11].ics.nBands = 15;
    for (const CBroken& b : broken)
        EXPECT_EQ(EAacFrame::Invalid, Parse(kMono48, MonoFrame(b.ics))) << b.pszWhat;

    CIcs silent;
    silent.nBands = 0;
    const std::pair<const char*, void (*)(CBitWriter&)> extras[] = {
        {"fill data byte other than A5",
         [](CBitWriter& w) { w.Put(6, 3).Put(2, 4).Put(1, 4).Put(0, 4).Put(0xA4, 8); }},
        {"reserved extension type",
         [](CBitWriter& w) { w.Put(6, 3).Put(1, 4).Put(5, 4).Put(0, 4); }},
        {"ancillary data past its fill",
         [](CBitWriter& w) { w.Put(6, 3).Put(2, 4).Put(2, 4).Put(0, 4).Put(9, 8).Put(0, 8); }},
        {"SBR data with no channel element before it",
         [](CBitWriter& w) {
             w.Put(4, 3).Put(0, 4).Put(0, 1).Put(0, 8).Put(6, 3).Put(1, 4).Put(13, 4).Put(0, 4);
         }},
        {"a second single channel",
         [](CBitWriter& w) { w.Put(0, 3).Put(1, 4).Put(0, 8).Put(0, 12).Put(0, 3); }},
        {"a program config element after a channel",
         [](CBitWriter& w) {
             w.Put(5, 3).Put(0, 4).Put(1, 2).Put(3, 4).Put(1, 4).Put(0, 22).Put(0, 5).Align().Put(
                 0, 8);
         }},
    };
    for (const auto& extra : extras)
        EXPECT_EQ(EAacFrame::Invalid, Parse(kMono48, MonoFrame(silent, extra.second)))
            << extra.first;

    EXPECT_EQ(EAacFrame::Truncated,
              Parse(kMono48,
                    MonoFrame(silent,
                              [](CBitWriter& w) { w.Put(4, 3).Put(0, 4).Put(0, 1).Put(200, 8); })))
        << "a data stream whose count runs past the data";

    // The same frames with their syntax kept: accepted (so what broke them was the rule).
    EXPECT_EQ(EAacFrame::Ok, Parse(kMono48, MonoFrame(silent, [](CBitWriter& w) {
                                       w.Put(6, 3).Put(2, 4).Put(1, 4).Put(0, 4).Put(0xA5, 8);
                                   })));
    CAacConfig sbr = kMono48;
    sbr.nObjectType = 5;
    EXPECT_EQ(EAacFrame::Ok, Parse(sbr, MonoFrame(silent, [](CBitWriter& w) {
                                       w.Put(6, 3).Put(1, 4).Put(13, 4).Put(0, 4);
                                   })));
    EXPECT_EQ(EAacFrame::Invalid, Parse(sbr, MonoFrame(silent))) << "explicit SBR without its data";
}

// A channel pair: common window, M/S and intensity in its second channel.
TEST(AacMadeFrames, ChannelPairRules) {
    auto makePair = [](int nMsMask, int nSecondCb, bool bCommon) {
        CBitWriter w;
        CIcs first, second;
        second.nCb = nSecondCb;
        w.Put(1, 3).Put(0, 4).Put(bCommon, 1);
        if (bCommon) {
            PutIcsInfo(w, first);
            w.Put(uint32_t(nMsMask), 2);
            if (nMsMask == 1)
                w.Put(0x5, 4);
        }
        PutIcs(w, first, bCommon);
        PutIcs(w, second, bCommon);
        w.Put(7, 3).Align();
        return w.Data();
    };
    for (int nMask : {0, 1, 2}) {
        const Bytes frame = makePair(nMask, 15, true);
        size_t nLength = 0;
        EXPECT_EQ(EAacFrame::Ok, Parse(kStereo48, frame, &nLength)) << "ms_mask_present " << nMask;
        EXPECT_EQ(frame.size(), nLength);
        ExpectFfmpegDecodes(kStereo48, frame, "intensity in the second channel");
    }
    EXPECT_EQ(EAacFrame::Ok, Parse(kStereo48, makePair(0, 14, false)));
    EXPECT_EQ(EAacFrame::Invalid, Parse(kStereo48, makePair(3, 1, true))) << "ms_mask_present 3";
    // Intensity in the first channel: the pair built the other way round.
    CBitWriter w;
    CIcs first, second;
    first.nCb = 15;
    w.Put(1, 3).Put(0, 4).Put(0, 1);
    PutIcs(w, first);
    PutIcs(w, second);
    w.Put(7, 3).Align();
    EXPECT_EQ(EAacFrame::Invalid, Parse(kStereo48, w.Data()));
}

// 5.1 is SCE, CPE, CPE, LFE in that order, with tags unique per type; an LFE has long windows.
TEST(AacMadeFrames, ChannelConfigurationOrderAndTags) {
    auto surround = [](const char* pszElements, int nLfeWindow) {
        CBitWriter w;
        CIcs ics;
        ics.nBands = 0;
        int anNextTag[4] = {};
        for (const char* p = pszElements; *p; ++p) {
            const int nType = *p == 'S' ? 0 : *p == 'C' ? 1 : *p == 's' ? 0 : 3;
            // a lower-case 's' repeats the previous SCE's tag
            const int nTag = *p == 's' ? anNextTag[0] - 1 : anNextTag[nType]++;
            w.Put(uint32_t(nType), 3).Put(uint32_t(nTag), 4);
            if (nType == 1) {
                w.Put(0, 1);
                PutIcs(w, ics);
                PutIcs(w, ics);
            } else {
                CIcs one = ics;
                one.nWindow = nType == 3 ? nLfeWindow : 0;
                PutIcs(w, one);
            }
        }
        w.Put(7, 3).Align();
        return w.Data();
    };
    const CAacConfig config6 = LcConfig(6, 3);
    EXPECT_EQ(EAacFrame::Ok, Parse(config6, surround("SCCL", 0)));
    EXPECT_EQ(EAacFrame::Invalid, Parse(config6, surround("SCLC", 0))) << "LFE before a CPE";
    EXPECT_EQ(EAacFrame::Invalid, Parse(config6, surround("SCC", 0))) << "no LFE";
    EXPECT_EQ(EAacFrame::Invalid, Parse(config6, surround("SCCLL", 0))) << "two LFEs";
    EXPECT_EQ(EAacFrame::Invalid, Parse(config6, surround("SCCL", 2))) << "short LFE windows";
    EXPECT_EQ(EAacFrame::Ok, Parse(LcConfig(4, 3), surround("SCS", 0)));
    EXPECT_EQ(EAacFrame::Invalid, Parse(LcConfig(4, 3), surround("SCs", 0))) << "SCE tag twice";
    ExpectFfmpegDecodes(config6, surround("SCCL", 0), "5.1 made frame");
}

// Channel configuration 0: the program config element of the AudioSpecificConfig fixes the
// elements and tags, coupling channels included.
TEST(AacMadeFrames, ProgramConfigLayout) {
    // AAC LC, 48 kHz, channel configuration 0; PCE: one front CPE tag 1, one LFE tag 2,
    // one independently switched coupling channel tag 3.
    CBitWriter asc;
    asc.Put(2, 5).Put(3, 4).Put(0, 4).Put(0, 3);
    asc.Put(0, 4).Put(1, 2).Put(3, 4).Put(1, 4).Put(0, 4).Put(0, 4).Put(1, 2).Put(0, 3).Put(1, 4);
    asc.Put(0, 3).Put(1, 1).Put(1, 4).Put(2, 4).Put(1, 1).Put(3, 4).Align().Put(0, 8);
    CAacConfig config;
    ASSERT_TRUE(ParseAudioSpecificConfig(asc.Data().data(), asc.Data().size(), &config));
    ASSERT_EQ(3, config.program.nElements);

    auto frame = [](int nCpeTag, bool bCce, bool bIndependent, int nBigStreams = 0) {
        CBitWriter w;
        CIcs ics;
        ics.nBands = 2;
        w.Put(1, 3).Put(uint32_t(nCpeTag), 4).Put(0, 1);
        PutIcs(w, ics);
        PutIcs(w, ics);
        w.Put(3, 3).Put(2, 4);
        PutIcs(w, ics);
        if (bCce) {
            // coupled into the CPE's two channels with their own gains: two gain lists
            w.Put(2, 3).Put(3, 4).Put(bIndependent, 1).Put(0, 3).Put(1, 1).Put(1, 4).Put(3, 2);
            w.Put(0, 4);
            PutIcs(w, ics);
            if (bIndependent)
                w.Sf(2);
            else
                w.Put(0, 1).Sf(1).Sf(0);
        }
        for (int i = 0; i < nBigStreams; ++i) {
            w.Put(4, 3).Put(0, 4).Put(1, 1).Put(255, 8).Put(225, 8).Align(); // 480 bytes
            for (int k = 0; k < 480; ++k)
                w.Put(0, 8);
        }
        w.Put(7, 3).Align();
        return w.Data();
    };
    size_t nLength = 0;
    const Bytes coupled = frame(1, true, true);
    EXPECT_EQ(EAacFrame::Ok, Parse(config, coupled, &nLength));
    EXPECT_EQ(coupled.size(), nLength);
    EXPECT_EQ(EAacFrame::Ok, Parse(config, frame(1, false, true))) << "a coupling channel may rest";
    EXPECT_EQ(EAacFrame::Invalid, Parse(config, frame(0, false, true)))
        << "a CPE tag not in the program";
    EXPECT_EQ(EAacFrame::Invalid, Parse(config, frame(1, true, false))) << "CCE switched otherwise";
    EXPECT_EQ(EAacFrame::Invalid, Parse(kStereo48, frame(1, false, true))) << "stereo has no LFE";

    // The buffer holds 6144 bits per channel: 3 here (the CPE and the coupling channel).
    Bytes huge = frame(1, false, true, 5);
    EXPECT_EQ(EAacFrame::Invalid, Parse(config, huge)) << huge.size() << " bytes";
    huge.resize(3 * 768 - 1);
    EXPECT_EQ(EAacFrame::Truncated, Parse(config, huge)) << "under the limit, more may come";
    const Bytes large = frame(1, false, true, 4);
    EXPECT_EQ(EAacFrame::Ok, Parse(config, large)) << large.size() << " bytes";
}

// A program config element may open a frame; it must describe the track the frame belongs to.
TEST(AacMadeFrames, InBandProgramConfigMustMatch) {
    auto frame = [](int nProfile, int nRate, bool bPair) {
        CBitWriter w;
        w.Put(5, 3).Put(0, 4).Put(uint32_t(nProfile), 2).Put(uint32_t(nRate), 4);
        w.Put(1, 4).Put(0, 4).Put(0, 4).Put(0, 2).Put(0, 3).Put(0, 4).Put(0, 3); // one front
        w.Put(bPair, 1).Put(0, 4).Align().Put(2, 8).Put(0x4142, 16);             // comment
        CIcs ics;
        w.Put(1, 3).Put(0, 4).Put(0, 1);
        PutIcs(w, ics);
        PutIcs(w, ics);
        w.Put(7, 3).Align();
        return w.Data();
    };
    size_t nLength = 0;
    const Bytes good = frame(1, 3, true);
    EXPECT_EQ(EAacFrame::Ok, Parse(kStereo48, good, &nLength));
    EXPECT_EQ(good.size(), nLength);
    EXPECT_EQ(EAacFrame::Invalid, Parse(kStereo48, frame(1, 4, true))) << "another rate";
    EXPECT_EQ(EAacFrame::Invalid, Parse(kStereo48, frame(0, 3, true))) << "AAC Main";
    EXPECT_EQ(EAacFrame::Invalid, Parse(kStereo48, frame(1, 3, false))) << "a single channel";
}

// With the frame before it, a frame must continue its window shapes and channel elements.
TEST(AacMadeFrames, WindowSequencesFollowEachOther) {
    const char* apszNames[] = {"long", "start", "short", "stop"};
    for (int nPrevious = 0; nPrevious < 4; ++nPrevious) {
        for (int nNext = 0; nNext < 4; ++nNext) {
            CIcs a, b;
            a.nWindow = nPrevious;
            b.nWindow = nNext;
            CAacFrameInfo previous, info;
            size_t nLength = 0;
            const Bytes first = MonoFrame(a), second = MonoFrame(b);
            ASSERT_EQ(EAacFrame::Ok,
                      ParseAacFrame(kMono48, first.data(), first.size(), &nLength, &previous));
            const bool bAllowed = (nPrevious == 1 || nPrevious == 2) == (nNext == 2 || nNext == 3);
            EXPECT_EQ(
                bAllowed ? EAacFrame::Ok : EAacFrame::Invalid,
                ParseAacFrame(kMono48, second.data(), second.size(), &nLength, &info, &previous))
                << apszNames[nPrevious] << " then " << apszNames[nNext];
        }
    }
}

TEST(AacAudioSpecificConfig, ReadsWhatItSupportsAndRefusesTheRest) {
    auto parse = [](std::initializer_list<uint8_t> bytes, CAacConfig* pConfig) {
        const Bytes data(bytes);
        return ParseAudioSpecificConfig(data.data(), data.size(), pConfig);
    };
    CAacConfig config;
    ASSERT_TRUE(parse({0x12, 0x10}, &config)); // LC, 44.1 kHz, stereo
    EXPECT_EQ(2, config.nObjectType);
    EXPECT_EQ(4, config.nSampleRateIndex);
    EXPECT_EQ(2, config.nChannelConfig);
    // HE-AAC v1 signalled explicitly: SBR, 24 kHz core, stereo, 48 kHz out, LC core.
    ASSERT_TRUE(parse({0x2B, 0x11, 0x88, 0x00}, &config));
    EXPECT_EQ(5, config.nObjectType);
    EXPECT_EQ(6, config.nSampleRateIndex);
    // An explicit 44100 Hz is read with the 44.1 kHz tables.
    ASSERT_TRUE(parse({0x17, 0x80, 0x56, 0x22, 0x08, 0x00}, &config));
    EXPECT_EQ(4, config.nSampleRateIndex);
    EXPECT_EQ(1, config.nChannelConfig);
    EXPECT_FALSE(parse({0x12, 0x14}, &config)) << "960-sample frames";
    EXPECT_FALSE(parse({0x0A, 0x10}, &config)) << "AAC Main";
    EXPECT_FALSE(parse({0x17, 0x10}, &config)) << "rate index 14 is reserved";
    EXPECT_FALSE(parse({0x12, 0x40}, &config)) << "channel configuration 8";
    EXPECT_FALSE(parse({0x12}, &config)) << "cut short";
}

} // namespace
