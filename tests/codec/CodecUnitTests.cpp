// The codec syntax on streams built in code, where the recordings ffmpeg makes cannot reach:
// H.264's picture order count of type 1, which no encoder here writes, parameter sets made over
// for sizes and cropping of every kind, configuration records of every layout, and the syntax
// of older devices' codecs where ffmpeg writes none of it (Motion-JPEG A's fields, H.263's
// custom sizes, QuickTime's sound descriptions of version 2).
#include "codec/AmrFrame.h"
#include "codec/AvcSetWriter.h"
#include "codec/AvcSyntax.h"
#include "codec/ConfigRecord.h"
#include "codec/ConfigVariant.h"
#include "codec/GoProRecord.h"
#include "codec/H263Picture.h"
#include "codec/MotionJpeg.h"
#include "codec/PcmLayout.h"
#include "codec/PictureOrder.h"
#include "tests/codec/TestStreams.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Join(std::vector<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const std::vector<uint8_t>& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// I P B B P B B with picture order type 1: reference frames advance by offset_for_ref_frame,
// non-reference ones sit offset_for_non_ref_pic before, delta_pic_order_cnt[0] places the
// second B-frame. The counts follow from the standard's equations by hand. A few pictures keep
// the holes the pictures still to come leave in their counts.
TEST(CodecPictureOrder, TypeOneCountsPutBFramesBeforeTheirReference) {
    CBitWriter sps;
    sps.Bits(8, 66);
    sps.Bits(8, 0);
    sps.Bits(8, 30);
    sps.Ue(0); // seq_parameter_set_id
    sps.Ue(0); // log2_max_frame_num_minus4
    sps.Ue(1); // pic_order_cnt_type
    sps.Bits(1, 0);
    sps.Se(-4); // offset_for_non_ref_pic
    sps.Se(0);  // offset_for_top_to_bottom_field
    sps.Ue(1);  // num_ref_frames_in_pic_order_cnt_cycle
    sps.Se(6);  // offset_for_ref_frame[0]
    sps.Ue(2);
    sps.Bits(1, 0);
    sps.Ue(19);
    sps.Ue(14);
    sps.Bits(4, 0xC); // frame_mbs_only, direct_8x8, no cropping, no VUI
    CVideoSampleParser parser(ECodec::H264, 4, 1 << 20);
    const std::vector<uint8_t> spsNal = MakeNalUnit({0x67}, sps.Finish());
    const std::vector<uint8_t> ppsNal = testmedia::Pps();
    ASSERT_TRUE(parser.AddParameterSet(spsNal.data(), spsNal.size()));
    ASSERT_TRUE(parser.AddParameterSet(ppsNal.data(), ppsNal.size()));

    struct CPicture {
        int nNalType, nRefIdc, nFrameNum, nDelta;
    };
    const CPicture pictures[] = {{5, 3, 0, 0}, {1, 2, 1, 0}, {1, 0, 2, 0}, {1, 0, 2, 2},
                                 {1, 2, 2, 0}, {1, 0, 3, 0}, {1, 0, 3, 2}};
    CPictureOrder order(ECodec::H264);
    for (const CPicture& picture : pictures) {
        CVideoSample sample;
        sample.avc.nNalType = picture.nNalType;
        sample.avc.nRefIdc = picture.nRefIdc;
        sample.avc.nFrameNum = picture.nFrameNum;
        sample.avc.deltaPoc[0] = picture.nDelta;
        order.Add(sample, parser);
    }
    std::vector<int32_t> counts;
    for (size_t i = 0; i < order.Count(); ++i)
        counts.push_back(order.Poc(i));
    EXPECT_EQ(counts, (std::vector<int32_t>{0, 6, 2, 4, 12, 8, 10}));
    uint32_t nShift = 0;
    EXPECT_EQ(order.CompositionOffsets(0, &nShift), (std::vector<uint32_t>{1, 3, 0, 0, 3, 0, 0}));
    EXPECT_EQ(nShift, 1u);

    // A copy cut after three pictures of a B-pyramid, counts 0, 8, 4 (type 0): steps of four
    // alone, the pictures 2 and 6 still to be decoded. The second is shown four pictures on.
    CVideoSampleParser typeZero(ECodec::H264, 4, 1 << 20);
    const std::vector<uint8_t> typeZeroSps = testmedia::Sps();
    ASSERT_TRUE(typeZero.AddParameterSet(typeZeroSps.data(), typeZeroSps.size()));
    ASSERT_TRUE(typeZero.AddParameterSet(ppsNal.data(), ppsNal.size()));
    CPictureOrder pyramid(ECodec::H264);
    for (int nLsb : {0, 8, 4}) {
        CVideoSample sample;
        sample.avc.nNalType = nLsb == 0 ? 5 : 1;
        sample.avc.nRefIdc = 2;
        sample.avc.nPocLsb = nLsb;
        pyramid.Add(sample, typeZero);
    }
    EXPECT_EQ(pyramid.CompositionOffsets(0, &nShift), (std::vector<uint32_t>{0, 3, 0}));
    EXPECT_EQ(nShift, 0u);
}

// The reference's SPS made over for each size recorders use: it reads back at that size with
// all else as it was, the cropping in the chroma's units; made over again for its own size it
// is the same bytes; in an avcC, all but the SPS is kept, and a cut avcC is refused.
TEST(CodecPictureSize, TheReferenceParameterSetsTakeEverySizeRecordersUse) {
    const std::vector<uint8_t> original = testmedia::Sps();
    CAvcSps reference;
    ASSERT_TRUE(ParseAvcSps(original.data(), original.size(), &reference));
    ASSERT_EQ(320, reference.nWidth);
    for (const CPictureShape& size : RecorderPictureSizes()) {
        SCOPED_TRACE(std::to_string(size.nWidth) + "x" + std::to_string(size.nHeight));
        std::vector<uint8_t> sps, back;
        ASSERT_TRUE(
            RewriteAvcSps(original.data(), original.size(), size.nWidth, size.nHeight, &sps));
        CAvcSps made;
        ASSERT_TRUE(ParseAvcSps(sps.data(), sps.size(), &made));
        EXPECT_EQ(size.nWidth, made.nWidth);
        EXPECT_EQ(size.nHeight, made.nHeight);
        EXPECT_EQ((size.nWidth + 15) / 16, made.nWidthInMbs);
        EXPECT_EQ(reference.nProfile, made.nProfile);
        EXPECT_EQ(reference.nPocType, made.nPocType);
        EXPECT_EQ(reference.bFrameMbsOnly, made.bFrameMbsOnly);
        ASSERT_TRUE(RewriteAvcSps(sps.data(), sps.size(), 320, 240, &back));
        EXPECT_EQ(original, back);
    }
    std::vector<uint8_t> out;
    EXPECT_FALSE(RewriteAvcSps(original.data(), original.size(), 641, 360, &out))
        << "4:2:0 crops in pairs of samples";
    EXPECT_FALSE(RewriteAvcSps(original.data(), original.size(), 0, 360, &out));

    const std::vector<uint8_t> pps = testmedia::Pps();
    // Joined rather than appended to: GCC's i686 bounds warning misreads the appends.
    const std::vector<uint8_t> config =
        Join({{1, 66, 0xC0, 30, 0xFF, 0xE1, 0, uint8_t(original.size())},
              original,
              {1, 0, uint8_t(pps.size())},
              pps});
    std::vector<uint8_t> variant, sps;
    ASSERT_TRUE(MakeConfigVariant(ECodec::H264, config, {1280, 720, 0}, &variant));
    ASSERT_TRUE(RewriteAvcSps(original.data(), original.size(), 1280, 720, &sps));
    std::vector<uint8_t> expected(config.begin(), config.begin() + 6);
    expected.insert(expected.end(), {0, uint8_t(sps.size())});
    expected.insert(expected.end(), sps.begin(), sps.end());
    expected.insert(expected.end(), config.end() - 3 - std::ptrdiff_t(pps.size()), config.end());
    EXPECT_EQ(expected, variant);
    for (size_t n = 0; n < config.size(); ++n)
        EXPECT_FALSE(MakeConfigVariant(ECodec::H264,
                                       std::vector<uint8_t>(config.begin(), config.begin() + n),
                                       {1280, 720, 0}, &variant))
            << n << " bytes";
}

// What encoders write around their NAL units: zeros after the stop bit inside the length, an
// SVC prefix unit that holds the rest of its access unit after start codes, HEVC's unspecified
// types after a picture. Each is taken whole; what only looks like them is not.
TEST(CodecVideoSample, PaddedAndWrappedUnitsAreTakenWhole) {
    const std::vector<uint8_t> sps = testmedia::Sps(), pps = testmedia::Pps();
    const std::vector<uint8_t> idr = testmedia::Slice(true, 0, 0, 40), sei = {6, 5, 1, 7, 0x80};
    // A sample before a P picture: its size, or 0 when it is refused.
    auto first = [&](std::vector<std::vector<uint8_t>> units) {
        CVideoSampleParser parser(ECodec::H264, 4, 1 << 20);
        EXPECT_TRUE(parser.AddParameterSet(sps.data(), sps.size()) &&
                    parser.AddParameterSet(pps.data(), pps.size()));
        std::vector<uint8_t> data;
        units.push_back(testmedia::Slice(false, 1, 2, 30));
        testmedia::AppendSample(&data, units);
        CVideoSample sample;
        size_t nNeed = 0;
        const ESampleParse eParse = parser.Parse(data.data(), data.size(), true, &sample, &nNeed);
        return eParse == ESampleParse::Ok && sample.bSync ? sample.nSize : 0;
    };
    const std::vector<uint8_t> pad(31, 0), start = {0, 0, 0, 1}, prefix = {0x6E, 0xC0, 0x80, 0x0F};
    EXPECT_EQ(first({Join({idr, pad})}), 4 + idr.size() + 31);
    EXPECT_EQ(first({Join({sei, pad}), idr}), 8 + sei.size() + 31 + idr.size());
    EXPECT_EQ(first({Join({idr, pad, pad, pad, pad, pad})}), 0u) << "zeros over the slice's end";
    EXPECT_EQ(first({Join({std::vector<uint8_t>(idr.begin(), idr.begin() + 20),
                           {0, 0, 0},
                           std::vector<uint8_t>(idr.begin() + 20, idr.end()),
                           pad})}),
              0u)
        << "a pattern before the padding";

    const std::vector<uint8_t> wrapped = Join({prefix, start, sei, start, idr});
    EXPECT_EQ(first({wrapped}), 4 + wrapped.size());
    EXPECT_EQ(first({Join({wrapped, pad})}), 4 + wrapped.size() + 31);
    EXPECT_EQ(first({prefix}), 0u) << "a prefix unit alone";
    EXPECT_EQ(first({Join({wrapped, start, idr})}), 0u) << "two pictures in one unit";
    EXPECT_EQ(first({Join({prefix, start, sps, start, idr})}), 0u);
    EXPECT_EQ(first({Join({prefix, {0, 0, 2}, idr})}), 0u);

    CVideoSampleParser hevc(ECodec::Hevc, 4, 1 << 20);
    std::vector<uint8_t> rpu;
    testmedia::AppendSample(&rpu, {{0x7C, 0x01, 0x19, 0x08, 0x09, 0x80}});
    CVideoSample sample;
    size_t nNeed = 0;
    EXPECT_EQ(ClassifyNalHeader(ECodec::Hevc, rpu.data() + 4, 6), ENalHeader::Other);
    EXPECT_EQ(hevc.Parse(rpu.data(), rpu.size(), true, &sample, &nNeed), ESampleParse::Invalid)
        << "it follows a picture, never begins one";
}

// Each record's layout reads as sample entries hold it and writes back byte for byte; what
// either of the engine's two readers of them refused, the one reader refuses.
// Sets written for a stream that carries none read back as written, in each layout the search
// tries: picture order count types, 8x8 transform (High), B pictures, cropping.
TEST(CodecAvcSetWriter, WrittenSetsReadBackAsWritten) {
    for (int nCase = 0; nCase < 4; ++nCase) {
        CAvcSetFields fields;
        fields.nLog2Frame = 4 + nCase * 3;
        fields.nLog2Poc = nCase % 2 ? 6 + nCase : 0;
        fields.bCabac = nCase > 0;
        fields.bTransform8x8 = nCase > 1;
        fields.bBFrames = nCase == 3;
        fields.nWidth = 40 + nCase * 40;
        fields.nHeight = nCase == 3 ? 68 : 30;
        fields.nCropLines = nCase == 3 ? 8 : 0;
        fields.nRefL0 = nCase;
        fields.bWeighted = nCase % 2 == 1;
        fields.nBipred = nCase == 3 ? 2 : 0;
        fields.nQp = 20 + nCase;
        fields.nChromaQp = -nCase;
        CAvcSps sps;
        CAvcPps pps;
        const std::vector<uint8_t> spsNal = WriteAvcSps(fields), ppsNal = WriteAvcPps(fields);
        ASSERT_TRUE(ParseAvcSps(spsNal.data(), spsNal.size(), &sps)) << nCase;
        ASSERT_TRUE(ParseAvcPps(ppsNal.data(), ppsNal.size(), &pps)) << nCase;
        EXPECT_EQ(fields.bTransform8x8 ? 100 : fields.bCabac ? 77 : 66, sps.nProfile);
        EXPECT_EQ(fields.nLog2Frame, sps.nLog2MaxFrameNum);
        EXPECT_EQ(fields.nLog2Poc ? 0 : 2, sps.nPocType);
        if (fields.nLog2Poc) {
            EXPECT_EQ(fields.nLog2Poc, sps.nLog2MaxPocLsb);
        }
        EXPECT_EQ(fields.nWidth * 16, sps.nWidth);
        EXPECT_EQ(fields.nHeight * 16 - fields.nCropLines, sps.nHeight);
        EXPECT_EQ(fields.nRefL0 + 1, pps.nRefIdxL0Default);
        EXPECT_EQ(fields.bWeighted, pps.bWeightedPred);
        EXPECT_EQ(fields.nBipred, pps.nWeightedBipredIdc);
    }
}

TEST(CodecConfigRecord, ReadsEachLayoutAndWritesItBack) {
    const std::vector<uint8_t> sps = testmedia::Sps(), pps = testmedia::Pps();
    // avcC of 2-byte lengths, with the fields of a high profile after its lists.
    const std::vector<uint8_t> avcc = Join({{1, 100, 0, 30, 0xFD, 0xE1, 0, uint8_t(sps.size())},
                                            sps,
                                            {1, 0, uint8_t(pps.size())},
                                            pps,
                                            {0xFD, 0xF8, 0xF8, 0}});
    CConfigRecord record;
    ASSERT_TRUE(ReadConfigRecord(ECodec::H264, avcc.data(), avcc.size(), &record));
    EXPECT_EQ(2, record.LengthSize());
    ASSERT_EQ(2u, record.arrays.size());
    EXPECT_EQ(std::vector<std::vector<uint8_t>>{sps}, record.arrays[0].units);
    EXPECT_EQ(std::vector<std::vector<uint8_t>>{pps}, record.arrays[1].units);
    EXPECT_TRUE(record.HoldsSps(0));
    EXPECT_FALSE(record.HoldsSps(1));
    EXPECT_EQ(4u, record.rest.size());
    std::vector<uint8_t> written;
    ASSERT_TRUE(WriteConfigRecord(record, &written));
    EXPECT_EQ(avcc, written);

    // hvcC of 4-byte lengths: arrays of VPS, SPS (two), PPS and SEI, not parsed here.
    std::vector<uint8_t> hvcc(22, 0);
    hvcc[0] = 1;
    hvcc[21] = 0xF3;
    hvcc.push_back(4);
    for (uint8_t nType : {32, 33, 34, 39}) {
        const uint8_t nCount = nType == 33 ? 2 : 1;
        hvcc.insert(hvcc.end(), {uint8_t(0x80 | nType), 0, nCount});
        for (uint8_t n = 0; n < nCount; ++n)
            hvcc.insert(hvcc.end(), {0, 3, uint8_t(nType << 1), 1, uint8_t(0xA0 + n)});
    }
    ASSERT_TRUE(ReadConfigRecord(ECodec::Hevc, hvcc.data(), hvcc.size(), &record));
    EXPECT_EQ(4, record.LengthSize());
    ASSERT_EQ(4u, record.arrays.size());
    EXPECT_EQ(2u, record.arrays[1].units.size());
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(i == 1, record.HoldsSps(i)) << i;
    ASSERT_TRUE(WriteConfigRecord(record, &written));
    EXPECT_EQ(hvcc, written);
    for (size_t n = 0; n < hvcc.size(); ++n)
        EXPECT_FALSE(ReadConfigRecord(ECodec::Hevc, hvcc.data(), n, &record)) << n << " bytes";

    // 3-byte lengths (the variants took them), another version, an empty NAL unit.
    std::vector<uint8_t> threeBytes = avcc, version = hvcc, empty = avcc;
    threeBytes[4] = 0xFE;
    version[0] = 2;
    empty[7] = 0;
    std::vector<uint8_t> variant;
    EXPECT_FALSE(MakeConfigVariant(ECodec::H264, threeBytes, {1280, 720, 0}, &variant));
    EXPECT_TRUE(MakeConfigVariant(ECodec::H264, avcc, {1280, 720, 0}, &variant));
    EXPECT_FALSE(ReadConfigRecord(ECodec::H264, threeBytes.data(), threeBytes.size(), &record));
    EXPECT_FALSE(ReadConfigRecord(ECodec::Hevc, version.data(), version.size(), &record));
    EXPECT_FALSE(ReadConfigRecord(ECodec::H264, empty.data(), empty.size(), &record));

    // Made from parameter sets found in a stream: 4-byte lengths, the fields from the SPS, a
    // high profile's after the lists; nothing without a PPS.
    std::vector<uint8_t> made;
    ASSERT_TRUE(MakeConfigRecord(ECodec::H264, {pps, sps, pps}, 1, 8, 8, &record));
    ASSERT_TRUE(WriteConfigRecord(record, &made));
    const std::vector<uint8_t> head = {1, sps[1], sps[2], sps[3], 0xFF, 0xE1};
    EXPECT_EQ(head, std::vector<uint8_t>(made.begin(), made.begin() + 6));
    ASSERT_TRUE(ReadConfigRecord(ECodec::H264, made.data(), made.size(), &record));
    EXPECT_EQ(4, record.LengthSize());
    EXPECT_EQ(std::vector<std::vector<uint8_t>>{sps}, record.arrays[0].units);
    EXPECT_EQ(2u, record.arrays[1].units.size());
    EXPECT_EQ(sps[1] == 100 ? 4u : 0u, record.rest.size());
    EXPECT_FALSE(MakeConfigRecord(ECodec::H264, {sps}, 1, 8, 8, &record));
    // HEVC: the general profile, tier and level from the SPS, its sub-layers and nesting.
    const std::vector<uint8_t> ptl = {0x01, 0x60, 0, 0, 0, 0x90, 0, 0, 0, 0, 0, 0x5D};
    const std::vector<uint8_t> hevcSps = Join({{0x42, 0x01, 0x03}, ptl, {0xA0}});
    ASSERT_TRUE(MakeConfigRecord(ECodec::Hevc, {{0x40, 0x01, 0x0C}, hevcSps, {0x44, 0x01, 0xC1}}, 1,
                                 10, 10, &record));
    ASSERT_EQ(22u, record.fields.size());
    EXPECT_EQ(ptl, std::vector<uint8_t>(record.fields.begin() + 1, record.fields.begin() + 13));
    EXPECT_EQ(0xFA, record.fields[17]); // luma bit depth 10
    EXPECT_EQ(0x17, record.fields[21]); // two sub-layers, nested, 4-byte lengths
    EXPECT_EQ(3u, record.arrays.size());
    EXPECT_FALSE(MakeConfigRecord(ECodec::Hevc, {hevcSps}, 1, 8, 8, &record));
}

#if defined(CLIPMEND_REAL_RECORDINGS)
// The MAX's SOS track begins with its header, then the first picture's record: what the camera
// was and how it recorded, and the parameter sets its sample entry has too.
TEST(CodecGoProRecord, TheMaxSaysWhatItRecorded) {
    std::ifstream file(CLIPMEND_REAL_RECORDINGS "/gopro-max-heromode.mp4", std::ios::binary);
    std::vector<uint8_t> data(100000);
    file.read(reinterpret_cast<char*>(data.data()), std::streamsize(data.size()));
    ASSERT_TRUE(file.good());
    // The media data's payload: past ftyp and mdat's header.
    const size_t nAt = size_t(data[3]) + 8;
    CGoProHeader header;
    size_t nNeed = 0;
    ASSERT_EQ(ESampleParse::Ok,
              ParseGoProHeader(data.data() + nAt, data.size() - nAt, false, &header, &nNeed));
    EXPECT_EQ("H19.03.01.30.00", header.strFirmware);
    EXPECT_EQ("GoPro Max", header.strModel);
    EXPECT_EQ(90000u, header.nTimescale);
    EXPECT_EQ(848u, header.nWidth);
    EXPECT_EQ(480u, header.nHeight);
    EXPECT_EQ(48000u, header.nSampleRate);
    EXPECT_EQ(2u, header.nChannels);
    const size_t nRecord = nAt + header.nLength;
    CGoProRecord record;
    ASSERT_EQ(ESampleParse::Ok, ParseGoProRecord(data.data() + nRecord, data.size() - nRecord,
                                                 false, &record, &nNeed));
    EXPECT_EQ(EGoProSample::Video, record.Sample());
    EXPECT_EQ(3003u, record.nDuration);
    ASSERT_EQ(2u, record.parameterSets.size());
    EXPECT_EQ(0x27, record.parameterSets[0][0]); // SPS
    EXPECT_EQ((std::vector<uint8_t>{0x28, 0xEE, 0x3C, 0x80}), record.parameterSets[1]);
    // The picture, then the timecode's record.
    const size_t nNext = nRecord + record.nLength + record.nSize;
    ASSERT_EQ(ESampleParse::Ok,
              ParseGoProRecord(data.data() + nNext, data.size() - nNext, false, &record, &nNeed));
    EXPECT_EQ(EGoProSample::Timecode, record.Sample());
    EXPECT_EQ(4u, record.nSize);
}
#endif
constexpr uint32_t FourCCOf(const char (&text)[5]) {
    return (uint32_t(uint8_t(text[0])) << 24) | (uint32_t(uint8_t(text[1])) << 16) |
           (uint32_t(uint8_t(text[2])) << 8) | uint32_t(uint8_t(text[3]));
}

// A JPEG image as a camera writes one: markers, stuffed 0xFF bytes and restart markers in its
// scan, fill bytes before its EOI.
std::vector<uint8_t> JpegImage(int nWidth, int nHeight, uint32_t nNextField = 0) {
    std::vector<uint8_t> image = {0xFF, 0xD8};
    if (nNextField != 0) {
        // Motion-JPEG A: reserved, 'mjpg', field size, padded size, where the next field is.
        const uint8_t app1[] = {0xFF, 0xE1, 0, 42, 0, 0, 0, 0, 'm', 'j', 'p', 'g'};
        image.insert(image.end(), app1, app1 + sizeof app1);
        for (uint32_t nValue : {0u, 0u, nNextField, 0u, 0u, 0u, 0u, 0u})
            for (int i = 3; i >= 0; --i)
                image.push_back(uint8_t(nValue >> (8 * i)));
    }
    const uint8_t head[] = {0xFF,
                            0xDB,
                            0,
                            4,
                            0,
                            1, // DQT
                            0xFF,
                            0xC0,
                            0,
                            11,
                            8,
                            uint8_t(nHeight >> 8),
                            uint8_t(nHeight),
                            uint8_t(nWidth >> 8),
                            uint8_t(nWidth),
                            1,
                            1,
                            0x11,
                            0, // SOF0
                            0xFF,
                            0xDA,
                            0,
                            8,
                            1,
                            1,
                            0,
                            0,
                            63,
                            0, // SOS
                            0x12,
                            0xFF,
                            0x00,
                            0x34,
                            0xFF,
                            0xD0,
                            0x56,
                            0xFF,
                            0xFF,
                            0xD9};
    image.insert(image.end(), head, head + sizeof head);
    return image;
}

TEST(CodecMotionJpeg, ImagesEndAtTheirEoiAndFieldsWhereTheFirstSays) {
    const std::vector<uint8_t> image = JpegImage(640, 480);
    CJpegImage found;
    size_t nNeed = 0;
    ASSERT_EQ(ESampleParse::Ok,
              ScanJpegImage(image.data(), image.size(), true, 1 << 20, &found, &nNeed));
    EXPECT_EQ(image.size(), found.nSize);
    EXPECT_EQ(640, found.nWidth);
    EXPECT_EQ(480, found.nHeight);
    // Cut short: more is asked for, or at the data's end it is cut off; too long for the limit.
    EXPECT_EQ(ESampleParse::NeedMore,
              ScanJpegImage(image.data(), image.size() - 1, false, 1 << 20, &found, &nNeed));
    EXPECT_GE(nNeed, image.size());
    EXPECT_EQ(ESampleParse::Truncated,
              ScanJpegImage(image.data(), image.size() - 1, true, 1 << 20, &found, &nNeed));
    EXPECT_EQ(ESampleParse::Invalid,
              ScanJpegImage(image.data(), image.size(), true, image.size() - 1, &found, &nNeed));
    std::vector<uint8_t> noFrame = image;
    noFrame[9] = 0xC4; // the frame header a Huffman table: a scan without a frame
    EXPECT_EQ(ESampleParse::Invalid,
              ScanJpegImage(noFrame.data(), noFrame.size(), true, 1 << 20, &found, &nNeed));

    // Two fields of Motion-JPEG A, the first padded to where it says the second begins; then
    // padding after the second that a sample's count of images leaves alone.
    std::vector<uint8_t> sample = JpegImage(720, 243, 200);
    sample.resize(200, 0);
    const std::vector<uint8_t> second = JpegImage(720, 243, 0);
    sample.insert(sample.end(), second.begin(), second.end());
    const size_t nEnd = sample.size();
    sample.resize(nEnd + 30, 0xFF);
    CJpegSample fields;
    EXPECT_EQ(2, CountJpegImages(sample.data(), sample.size(), &fields));
    EXPECT_EQ(nEnd, fields.nEnd);
    EXPECT_EQ(243, fields.nHeight);
    EXPECT_EQ(ESampleParse::Invalid,
              ScanJpegSample(sample.data(), sample.size(), true, 1 << 20, 2, 50, &fields, &nNeed));
    EXPECT_EQ(1, CountJpegImages(image.data(), image.size(), &fields));
}

TEST(CodecH263, PictureHeadersGiveTheSizeAndTheNextStartCodeTheEnd) {
    // A QCIF intra picture, then a PLUSPTYPE inter picture of a custom size.
    CBitWriter picture;
    picture.Bits(22, 0x20);
    picture.Bits(8, 7);       // TR
    picture.Bits(8, 0x82);    // PTYPE: 1, 0, no split, camera or freeze, then QCIF's 0b010...
    picture.Bits(5, 0x00);    // ...intra, no options
    picture.Bits(5, 12);      // PQUANT
    picture.Bits(1, 0);       // CPM
    picture.Bits(1, 0);       // PEI
    picture.Bits(16, 0xBEEF); // picture data
    std::vector<uint8_t> stream = picture.Bytes();
    const size_t nFirst = stream.size();
    CBitWriter plus;
    plus.Bits(22, 0x20);
    plus.Bits(8, 9);
    plus.Bits(8, 0x87); // PTYPE with source format 7: PLUSPTYPE follows
    plus.Bits(3, 1);    // UFEP
    plus.Bits(3, 6);    // custom source format
    plus.Bits(11, 0);
    plus.Bits(4, 8);
    plus.Bits(3, 1); // a P picture
    plus.Bits(3, 0);
    plus.Bits(3, 1);
    plus.Bits(1, 0); // CPM
    plus.Bits(4, 2); // CPFMT: aspect ratio, width 400, a 1, height 240
    plus.Bits(9, 99);
    plus.Bits(1, 1);
    plus.Bits(9, 60);
    plus.Bits(16, 0x1234);
    const std::vector<uint8_t> second = plus.Bytes();
    stream.insert(stream.end(), second.begin(), second.end());

    CH263Picture found;
    size_t nSize = 0, nNeed = 0;
    ASSERT_EQ(ESampleParse::Ok,
              ScanH263Picture(stream.data(), stream.size(), true, 1 << 20, &found, &nSize, &nNeed));
    EXPECT_EQ(nFirst, nSize);
    EXPECT_EQ(176, found.nWidth);
    EXPECT_EQ(144, found.nHeight);
    EXPECT_TRUE(found.bIntra);
    EXPECT_EQ(7, found.nTemporalReference);
    // The last picture goes on past what there is: cut off where the data ends.
    EXPECT_EQ(ESampleParse::Truncated, ScanH263Picture(stream.data() + nFirst, second.size(), true,
                                                       1 << 20, &found, &nSize, &nNeed));
    EXPECT_EQ(second.size(), nSize);
    EXPECT_EQ(400, found.nWidth);
    EXPECT_EQ(240, found.nHeight);
    EXPECT_FALSE(found.bIntra);
    EXPECT_EQ(ESampleParse::NeedMore, ScanH263Picture(stream.data() + nFirst, second.size(), false,
                                                      1 << 20, &found, &nSize, &nNeed));
    stream[2] = 0x84; // a GOB's start code, not a picture's
    EXPECT_FALSE(ParseH263Header(stream.data(), stream.size(), &found));
}

TEST(CodecAmr, FrameTypesGiveTheSize) {
    EXPECT_EQ(32u, AmrFrameSize(false, 0x3C)); // 12.2 kbit/s
    EXPECT_EQ(1u, AmrFrameSize(false, 0x7C));  // NO_DATA
    EXPECT_EQ(61u, AmrFrameSize(true, 0x44));  // 23.85 kbit/s
    EXPECT_EQ(0u, AmrFrameSize(false, 0x38));  // the quality bit clear
    EXPECT_EQ(0u, AmrFrameSize(false, 0x4C));  // a reserved type
    std::vector<uint8_t> frames(32 + 1 + 13, 0);
    frames[0] = 0x3C;
    frames[32] = 0x7C;
    frames[33] = 0x04;
    EXPECT_EQ(3, CountAmrFrames(false, frames.data(), frames.size()));
    EXPECT_EQ(0, CountAmrFrames(false, frames.data(), frames.size() - 1));
    bool bCut = false;
    EXPECT_EQ(0u, AmrFramesSize(false, frames.data(), 40, 3, &bCut));
    EXPECT_TRUE(bCut);
}

TEST(CodecPcm, SoundDescriptionsGiveTheBytesOfAFrame) {
    auto description = [](int nVersion, int nChannels, int nBits) {
        std::vector<uint8_t> entry(64, 0);
        entry[9] = uint8_t(nVersion);
        entry[17] = uint8_t(nChannels);
        entry[19] = uint8_t(nBits);
        entry[24] = 0xAC; // 44100 Hz, 16.16
        entry[25] = 0x44;
        return entry;
    };
    CPcmLayout layout;
    std::vector<uint8_t> entry = description(0, 2, 16);
    ASSERT_TRUE(ReadPcmLayout(FourCCOf("twos"), entry.data(), 28, &layout));
    EXPECT_EQ(4u, layout.nFrameBytes);
    EXPECT_EQ(44100u, layout.nSampleRate);
    // in24 is 24 bits whatever the sample size says; version 1's bytes a frame must agree.
    entry = description(1, 2, 16);
    entry[39] = 6;
    ASSERT_TRUE(ReadPcmLayout(FourCCOf("in24"), entry.data(), 44, &layout));
    EXPECT_EQ(6u, layout.nFrameBytes);
    entry[39] = 4;
    EXPECT_FALSE(ReadPcmLayout(FourCCOf("in24"), entry.data(), 44, &layout));
    // Version 2 (an iPhone's lpcm): the rate a float64, then channels, bits, flags, bytes and
    // frames a packet.
    entry = description(2, 0, 0);
    const uint8_t rate[] = {0x40, 0xE5, 0x88, 0x80, 0, 0, 0, 0}; // 44100.0
    std::copy(rate, rate + 8, entry.begin() + 32);
    entry[43] = 1;
    entry[44] = 0x7F;
    entry[51] = 16;
    entry[55] = 0x0C; // signed, packed
    entry[59] = 2;
    entry[63] = 1;
    ASSERT_TRUE(ReadPcmLayout(FourCCOf("lpcm"), entry.data(), entry.size(), &layout));
    EXPECT_EQ(2u, layout.nFrameBytes);
    EXPECT_EQ(44100u, layout.nSampleRate);
    entry[55] |= 0x20; // channels one after another
    EXPECT_FALSE(ReadPcmLayout(FourCCOf("lpcm"), entry.data(), entry.size(), &layout));
    EXPECT_FALSE(ReadPcmLayout(FourCCOf("mp4a"), entry.data(), entry.size(), &layout));
}

} // namespace
