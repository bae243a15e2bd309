// FFmpeg's decoders through the decode library, on recordings that make_media.sh makes with
// ffmpeg when the tests start (CLIPMEND_DECODE_MEDIA names their folder): the configuration as
// the rebuild engine reads it from the sample entry, the samples as the file stores them.
#include "decode/Decoder.h"
#include "media/ByteSource.h"
#include "rebuild/ReferenceMovie.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct CTrackSamples {
    CSampleEntry entry;
    std::vector<std::vector<uint8_t>> samples; // in decoding order
    std::vector<bool> keys;
};

std::string MediaPath(const std::string& strName) {
    const char* pszDir = std::getenv("CLIPMEND_DECODE_MEDIA");
    return std::string(pszDir ? pszDir : ".") + "/" + strName;
}

// The first video or sound track of NAME.mp4, with its packets as NAME.txt lists them.
CTrackSamples ReadTrack(const std::string& strName, uint32_t nHandler) {
    CTrackSamples track;
    CStdioByteSource file;
    CReferenceMovie movie;
    CRebuildResult::EProblem eProblem = CRebuildResult::EProblem::None;
    if (!file.Open(MediaPath(strName + ".mp4").c_str()) ||
        !ReadReferenceMovie(file, &movie, &eProblem)) {
        ADD_FAILURE() << strName << ".mp4 cannot be read (problem " << static_cast<int>(eProblem)
                      << ")";
        return track;
    }
    int nStream = -1;
    for (size_t i = 0; i < movie.tracks.size() && nStream < 0; ++i) {
        if (movie.tracks[i].nHandler == nHandler) {
            nStream = static_cast<int>(i);
            track.entry = movie.tracks[i].entry;
        }
    }
    FILE* pList = std::fopen(MediaPath(strName + ".txt").c_str(), "r");
    if (nStream < 0 || !pList) {
        ADD_FAILURE() << strName << ": no such track, or no packet list";
        return track;
    }
    int nIndex = 0, nKey = 0;
    unsigned long long nPos = 0, nSize = 0;
    while (std::fscanf(pList, "%d %llu %llu %d", &nIndex, &nPos, &nSize, &nKey) == 4) {
        if (nIndex != nStream)
            continue;
        std::vector<uint8_t> bytes(static_cast<size_t>(nSize));
        if (!file.ReadAt(nPos, bytes.data(), bytes.size()))
            ADD_FAILURE() << strName << ": packet at " << nPos << " cannot be read";
        track.samples.push_back(std::move(bytes));
        track.keys.push_back(nKey != 0);
    }
    std::fclose(pList);
    EXPECT_FALSE(track.samples.empty()) << strName;
    return track;
}

EDecodeCodec CodecOf(const CSampleEntry& entry) {
    return entry.eCodec == ECodec::H264   ? EDecodeCodec::H264
           : entry.eCodec == ECodec::Hevc ? EDecodeCodec::Hevc
                                          : EDecodeCodec::Aac;
}

// Decodes samples [nFrom, nTo) with the configuration given; true if no call found a fault.
bool DecodeRange(CDecoder& decoder, const CTrackSamples& track, size_t nFrom, size_t nTo) {
    bool bClean = true;
    for (size_t i = nFrom; i < nTo; ++i)
        bClean = decoder.Decode(track.samples[i].data(), track.samples[i].size(),
                                static_cast<int64_t>(i)) &&
                 bClean;
    return decoder.Finish() && bClean;
}

std::string FaultsText(const CDecoder& decoder) {
    std::string text;
    for (const CDecodeFault& fault : decoder.Faults())
        text += "packet " + std::to_string(fault.nPacket) + ": " + fault.strText + "\n";
    return text;
}

struct CStreamCase {
    const char* pszFile;
    uint32_t nHandler;
    CStreamFormat expected;
};

const CStreamCase kStreams[] = {
    {"h264", FourCC("vide"), {640, 360, 8, 420, "yuv420p", 0, 0}},
    {"hevc", FourCC("vide"), {640, 360, 10, 420, "yuv420p10le", 0, 0}},
    {"h264", FourCC("soun"), {0, 0, 0, 0, "", 44100, 1}},
    {"hevc", FourCC("soun"), {0, 0, 0, 0, "", 48000, 2}},
};

TEST(Decoder, WholeRecordingsDecodeCleanAndSayWhatTheyHold) {
    for (const CStreamCase& test : kStreams) {
        SCOPED_TRACE(std::string(test.pszFile) + " " + FourCCText(test.nHandler));
        const CTrackSamples track = ReadTrack(test.pszFile, test.nHandler);
        ASSERT_FALSE(track.entry.decoderConfig.empty());
        CDecoder decoder;
        ASSERT_TRUE(decoder.Open(CodecOf(track.entry), track.entry.decoderConfig.data(),
                                 track.entry.decoderConfig.size()))
            << decoder.Error();
        EXPECT_TRUE(DecodeRange(decoder, track, 0, track.samples.size()));
        EXPECT_EQ("", FaultsText(decoder));
        EXPECT_EQ(static_cast<int64_t>(track.samples.size()), decoder.Frames());
        const CStreamFormat& format = decoder.Format();
        EXPECT_EQ(test.expected.nWidth, format.nWidth);
        EXPECT_EQ(test.expected.nHeight, format.nHeight);
        EXPECT_EQ(test.expected.nBitDepth, format.nBitDepth);
        EXPECT_EQ(test.expected.nChroma, format.nChroma);
        EXPECT_EQ(test.expected.strPixelFormat, format.strPixelFormat);
        EXPECT_EQ(test.expected.nSampleRate, format.nSampleRate);
        EXPECT_EQ(test.expected.nChannels, format.nChannels);
    }
}

// A recording whose parameter sets were lost, decoded with those of one made at another size
// by the same encoder: the headers match, the pictures do not decode.
TEST(Decoder, AnotherSizesConfigurationIsAFaultFromTheFirstPicture) {
    for (const char* pszCodec : {"h264", "hevc"}) {
        SCOPED_TRACE(pszCodec);
        const CTrackSamples track = ReadTrack(pszCodec, FourCC("vide"));
        const CTrackSamples other = ReadTrack(std::string(pszCodec) + "-720p", FourCC("vide"));
        CDecoder decoder;
        ASSERT_TRUE(decoder.Open(CodecOf(other.entry), other.entry.decoderConfig.data(),
                                 other.entry.decoderConfig.size()));
        EXPECT_FALSE(DecodeRange(decoder, track, 0, 30));
        ASSERT_FALSE(decoder.Faults().empty());
        EXPECT_EQ(0, decoder.Faults()[0].nPacket) << FaultsText(decoder);
        EXPECT_FALSE(decoder.Faults()[0].strText.empty());
    }
}

// The largest sample of the first half zeroed from its middle on, as a write that never ended
// leaves it: the fault names that sample and nothing before it, and decoding again from the next
// key frame is clean. (FFmpeg's HEVC decoder misses much damage that keeps the slice's syntax
// whole: random bytes mostly, and often a zeroed end; this one it finds.)
TEST(Decoder, DamageIsNamedByItsSampleAndTheNextKeyFrameDecodesClean) {
    for (const CStreamCase& test : kStreams) {
        SCOPED_TRACE(std::string(test.pszFile) + " " + FourCCText(test.nHandler));
        CTrackSamples track = ReadTrack(test.pszFile, test.nHandler);
        size_t nDamaged = 1;
        for (size_t i = 1; i < track.samples.size() / 2; ++i) {
            const bool bCandidate = !track.keys[i] || test.nHandler == FourCC("soun");
            if (bCandidate && track.samples[i].size() > track.samples[nDamaged].size())
                nDamaged = i;
        }
        std::vector<uint8_t>& sample = track.samples[nDamaged];
        std::fill(sample.begin() + sample.size() / 2, sample.end(), 0);
        size_t nNextKey = nDamaged + 1;
        while (nNextKey < track.keys.size() && !track.keys[nNextKey])
            ++nNextKey;
        ASSERT_LT(nNextKey + 1, track.samples.size());

        CDecoder decoder;
        ASSERT_TRUE(decoder.Open(CodecOf(track.entry), track.entry.decoderConfig.data(),
                                 track.entry.decoderConfig.size()));
        EXPECT_FALSE(DecodeRange(decoder, track, 0, nNextKey));
        ASSERT_FALSE(decoder.Faults().empty());
        EXPECT_EQ(static_cast<int64_t>(nDamaged), decoder.Faults()[0].nPacket)
            << FaultsText(decoder);
        const int64_t nFaults = decoder.FaultCount();
        decoder.Reset();
        EXPECT_TRUE(DecodeRange(decoder, track, nNextKey, track.samples.size()));
        EXPECT_EQ(nFaults, decoder.FaultCount()) << FaultsText(decoder);
    }
}

// A picture over the size limit is refused, and a cancelled decoder takes no more packets.
TEST(Decoder, KeepsToItsLimitsAndStopsWhenCancelled) {
    const CTrackSamples track = ReadTrack("h264", FourCC("vide"));
    std::atomic<bool> cancel{false};
    CDecodeLimits limits;
    limits.nMaxPixels = 640 * 360 - 1;
    limits.pCancel = &cancel;
    CDecoder decoder;
    ASSERT_TRUE(decoder.Open(EDecodeCodec::H264, track.entry.decoderConfig.data(),
                             track.entry.decoderConfig.size(), limits));
    EXPECT_FALSE(decoder.Decode(track.samples[0].data(), track.samples[0].size(), 0));
    EXPECT_EQ(1, decoder.FaultCount()) << FaultsText(decoder);
    cancel = true;
    EXPECT_FALSE(decoder.Decode(track.samples[1].data(), track.samples[1].size(), 1));
    EXPECT_FALSE(decoder.Finish());
    EXPECT_TRUE(decoder.Cancelled());
    EXPECT_EQ(1, decoder.FaultCount());
}

} // namespace
