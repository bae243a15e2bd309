// What the recordings ffmpeg makes cannot reach: a copy past 4 GB, and H.264's picture order
// count of type 1, which no encoder here writes.
#include "media/Box.h"
#include "rebuild/BoxWriter.h"
#include "rebuild/MovieWriter.h"
#include "rebuild/PictureOrder.h"
#include "rebuild/ReferenceMovie.h"
#include "tests/rebuild/BitWriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A sound track whose samples this engine does not parse, enough to write and read an index.
CReferenceMovie SmallMovie() {
    CReferenceMovie movie;
    CBoxWriter ftyp(movie.ftyp);
    const size_t nFtyp = ftyp.Open("ftyp");
    ftyp.Bytes("isom\0\0\2\0isom", 12);
    ftyp.Close(nFtyp);
    movie.nTimescale = 1000;
    movie.matrix[1] = 1;
    movie.matrix[17] = 1;
    movie.matrix[32] = 0x40;
    CReferenceTrack track;
    track.nTrackId = 1;
    track.nHandler = FourCC("soun");
    track.nTimescale = 48000;
    CBoxWriter hdlr(track.hdlr);
    const size_t nHdlr = hdlr.OpenFull("hdlr", 0, 0);
    hdlr.U32(0);
    hdlr.Bytes("soun", 4);
    hdlr.Zeros(13);
    hdlr.Close(nHdlr);
    CBoxWriter stsd(track.stsd);
    const size_t nStsd = stsd.OpenFull("stsd", 0, 0);
    stsd.U32(1);
    const size_t nEntry = stsd.Open("twos");
    stsd.Zeros(6);
    stsd.U16(1);
    stsd.Zeros(20);
    stsd.Close(nEntry);
    stsd.Close(nStsd);
    movie.tracks.push_back(track);
    return movie;
}

std::vector<uint64_t> ChunkOffsetsAfterRoundTrip(const std::vector<uint64_t>& offsets,
                                                 bool* pWide) {
    const CReferenceMovie movie = SmallMovie();
    CTrackTables tables;
    tables.pReference = &movie.tracks[0];
    tables.nSampleDuration = 1024;
    for (size_t i = 0; i < offsets.size(); ++i) {
        tables.sizes.Add(static_cast<uint32_t>(100 + i));
        tables.chunks.push_back(CTrackTables::CChunk{offsets[i], 1});
    }
    std::vector<uint8_t> file = movie.ftyp;
    const std::vector<uint8_t> moov = BuildMovieBox(movie, {tables});
    file.insert(file.end(), moov.begin(), moov.end());

    CMemoryByteSource source(file.data(), file.size());
    CBox box, parent;
    *pWide = false;
    parent.nOffset = 0;
    parent.nSize = file.size();
    for (uint32_t nType :
         {FourCC("moov"), FourCC("trak"), FourCC("mdia"), FourCC("minf"), FourCC("stbl")}) {
        EXPECT_TRUE(FindBox(source, parent.PayloadOffset(), parent.End(), nType, &box));
        parent = box;
    }
    *pWide = FindChild(source, parent, FourCC("co64"), &box);
    EXPECT_NE(*pWide, FindChild(source, parent, FourCC("stco"), &box));

    CReferenceMovie reread;
    CRebuildResult::EProblem eProblem = CRebuildResult::EProblem::None;
    EXPECT_TRUE(ReadReferenceMovie(source, &reread, &eProblem));
    std::vector<uint64_t> read;
    if (reread.tracks.size() == 1) {
        EXPECT_EQ(reread.tracks[0].nSamples, offsets.size());
        for (const CReferenceChunk& chunk : reread.tracks[0].chunks)
            read.push_back(chunk.nOffset);
    }
    return read;
}

TEST(RebuildIndex, ChunksPastFourGigabytesGetSixtyFourBitOffsets) {
    bool bWide = true;
    const std::vector<uint64_t> small = {48, 70000, 0xFFFFFFF0u};
    EXPECT_EQ(ChunkOffsetsAfterRoundTrip(small, &bWide), small);
    EXPECT_FALSE(bWide);
    const std::vector<uint64_t> large = {48, 0xFFFFFFF0u, 5000000000u, 6000000000u};
    EXPECT_EQ(ChunkOffsetsAfterRoundTrip(large, &bWide), large);
    EXPECT_TRUE(bWide);
}

// A file of the given size whose first bytes are given, the rest zeros.
class CSparseSource : public CByteSource {
public:
    CSparseSource(const uint8_t* pHead, size_t nHead, uint64_t nSize)
        : m_head(pHead, pHead + nHead), m_nSize(nSize) {}
    uint64_t Size() const override { return m_nSize; }
    bool ReadAt(uint64_t offset, void* buffer, size_t count) override {
        uint8_t* pOut = static_cast<uint8_t*>(buffer);
        for (size_t i = 0; i < count; ++i)
            pOut[i] = offset + i < m_head.size() ? m_head[offset + i] : 0;
        return offset + count <= m_nSize;
    }

private:
    std::vector<uint8_t> m_head;
    uint64_t m_nSize;
};

TEST(RebuildIndex, MediaDataPastFourGigabytesGetsSixtyFourBitSize) {
    for (uint64_t nPayload :
         {uint64_t(1000), uint64_t(0xFFFFFFF7u), uint64_t(0xFFFFFFF8u), uint64_t(7000000000u)}) {
        SCOPED_TRACE(nPayload);
        uint8_t header[16];
        MediaDataHeader(nPayload, header);
        CSparseSource source(header, sizeof header, 16 + nPayload);
        CBoxWalk walk(source, 0, source.Size());
        CBox box;
        ASSERT_TRUE(walk.Next(&box));
        if (box.nType == FourCC("free")) {
            EXPECT_LE(nPayload + 8, 0xFFFFFFFFu);
            ASSERT_TRUE(walk.Next(&box));
        }
        EXPECT_EQ(box.nType, FourCC("mdat"));
        EXPECT_EQ(box.PayloadOffset(), 16u);
        EXPECT_EQ(box.End(), 16 + nPayload);
        EXPECT_FALSE(walk.Next(&box));
        EXPECT_EQ(walk.Status(), EBoxHeader::Ok);
    }
}

// I P B B P B B with picture order type 1: reference frames advance by offset_for_ref_frame,
// non-reference ones sit offset_for_non_ref_pic before, delta_pic_order_cnt[0] places the
// second B-frame. The counts follow from the standard's equations by hand.
TEST(RebuildPictureOrder, TypeOneCountsPutBFramesBeforeTheirReference) {
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
    CBitWriter pps;
    pps.Ue(0);
    pps.Ue(0);
    pps.Bits(2, 0);
    pps.Ue(0);
    pps.Ue(0);
    pps.Ue(0);
    pps.Bits(3, 0);
    pps.Se(0);
    pps.Se(0);
    pps.Se(0);
    pps.Bits(3, 4);
    CVideoSampleParser parser(EVideoCodec::Avc, 4, 1 << 20);
    const std::vector<uint8_t> spsNal = MakeNalUnit({0x67}, sps.Finish());
    const std::vector<uint8_t> ppsNal = MakeNalUnit({0x68}, pps.Finish());
    ASSERT_TRUE(parser.AddParameterSet(spsNal.data(), spsNal.size()));
    ASSERT_TRUE(parser.AddParameterSet(ppsNal.data(), ppsNal.size()));

    struct CPicture {
        int nNalType, nRefIdc, nFrameNum, nDelta;
    };
    const CPicture pictures[] = {{5, 3, 0, 0}, {1, 2, 1, 0}, {1, 0, 2, 0}, {1, 0, 2, 2},
                                 {1, 2, 2, 0}, {1, 0, 3, 0}, {1, 0, 3, 2}};
    CPictureOrder order(EVideoCodec::Avc);
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
}

} // namespace
