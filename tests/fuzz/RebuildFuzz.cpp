// Fuzzes the walk through a broken recording's media data against a small H.264 and AAC
// reference built here. The input is either the media data itself (first byte 0xFF) or a
// recipe that strings together real samples, garbage, zeros and damaged samples, so that the
// walk meets both. Whatever the data, the walk must stop inside it, hand the sink exactly the
// bytes before its stop, find the same samples with and without a sink, and give tables that
// read back as the index they were written as.
#include "media/Box.h"
#include "rebuild/BoxWriter.h"
#include "rebuild/InterleaveModel.h"
#include "rebuild/MatchCheck.h"
#include "rebuild/MediaWalk.h"
#include "rebuild/MovieWriter.h"
#include "rebuild/RebuiltIndex.h"
#include "rebuild/ReferenceMovie.h"
#include "tests/rebuild/BitWriter.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Sps() {
    CBitWriter bits;
    bits.Bits(8, 66); // baseline
    bits.Bits(8, 0xC0);
    bits.Bits(8, 30);
    bits.Ue(0); // id
    bits.Ue(0); // log2_max_frame_num_minus4
    bits.Ue(0); // pic_order_cnt_type
    bits.Ue(2); // log2_max_pic_order_cnt_lsb_minus4
    bits.Ue(1); // max_num_ref_frames
    bits.Bits(1, 0);
    bits.Ue(19); // 320 wide
    bits.Ue(14); // 240 high
    bits.Bits(1, 1);
    bits.Bits(1, 1);
    bits.Bits(1, 0);
    bits.Bits(1, 0);
    return MakeNalUnit({0x67}, bits.Finish());
}

std::vector<uint8_t> Pps() {
    CBitWriter bits;
    bits.Ue(0);
    bits.Ue(0);
    bits.Bits(2, 0);
    bits.Ue(0);
    bits.Ue(0);
    bits.Ue(0);
    bits.Bits(3, 0);
    bits.Ue(0);
    bits.Ue(0);
    bits.Ue(0);
    bits.Bits(3, 4);
    return MakeNalUnit({0x68}, bits.Finish());
}

// A slice of a picture: IDR or P, with some slice data after its header.
std::vector<uint8_t> Slice(bool bIdr, uint32_t nFrameNum, uint32_t nPocLsb, size_t nData) {
    CBitWriter bits;
    bits.Ue(0);
    bits.Ue(bIdr ? 7 : 5);
    bits.Ue(0);
    bits.Bits(4, nFrameNum);
    if (bIdr)
        bits.Ue(0);
    bits.Bits(6, nPocLsb);
    if (!bIdr)
        bits.Bits(2, 0); // num_ref_idx_active_override_flag, ref_pic_list_modification_flag_l0
    bits.Bits(bIdr ? 2 : 1, 0); // dec_ref_pic_marking
    for (size_t i = 0; i < nData; ++i)
        bits.Bits(8, 0x5A + (i % 7));
    return MakeNalUnit({static_cast<uint8_t>(bIdr ? 0x65 : 0x41)}, bits.Finish());
}

void AppendSample(std::vector<uint8_t>* pOut, const std::vector<std::vector<uint8_t>>& nals) {
    for (const std::vector<uint8_t>& nal : nals) {
        const uint32_t n = static_cast<uint32_t>(nal.size());
        const uint8_t length[4] = {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
        pOut->insert(pOut->end(), length, length + 4);
        pOut->insert(pOut->end(), nal.begin(), nal.end());
    }
}

// A silent mono AAC frame: one channel element with no bands, then END.
std::vector<uint8_t> AacFrame(uint8_t nGain) {
    CBitWriter bits;
    bits.Bits(3, 0);     // SCE
    bits.Bits(4, 0);     // element_instance_tag
    bits.Bits(8, nGain); // global_gain
    bits.Bits(1, 0);     // ics_reserved_bit
    bits.Bits(2, 0);     // ONLY_LONG_SEQUENCE
    bits.Bits(1, 0);     // window_shape
    bits.Bits(6, 0);     // max_sfb
    bits.Bits(1, 0);     // predictor_data_present
    bits.Bits(3, 0);     // pulse, tns, gain control
    bits.Bits(3, 7);     // END
    return bits.Pad();
}

void Stsd(CBoxWriter& box, bool bVideo) {
    const size_t nStsd = box.OpenFull("stsd", 0, 0);
    box.U32(1);
    if (bVideo) {
        const size_t nEntry = box.Open("avc1");
        box.Zeros(6);
        box.U16(1);
        box.Zeros(16);
        box.U16(320);
        box.U16(240);
        box.U32(0x480000);
        box.U32(0x480000);
        box.U32(0);
        box.U16(1);
        box.Zeros(32);
        box.U16(0x18);
        box.U16(0xFFFF);
        const size_t nConfig = box.Open("avcC");
        const std::vector<uint8_t> sps = Sps(), pps = Pps();
        box.U8(1);
        box.U8(66);
        box.U8(0xC0);
        box.U8(30);
        box.U8(0xFF);
        box.U8(0xE1);
        box.U16(static_cast<uint16_t>(sps.size()));
        box.Bytes(sps);
        box.U8(1);
        box.U16(static_cast<uint16_t>(pps.size()));
        box.Bytes(pps);
        box.Close(nConfig);
        box.Close(nEntry);
    } else {
        const size_t nEntry = box.Open("mp4a");
        box.Zeros(6);
        box.U16(1);
        box.Zeros(8);
        box.U16(1);
        box.U16(16);
        box.U32(0);
        box.U32(48000u << 16);
        const size_t nEsds = box.OpenFull("esds", 0, 0);
        const uint8_t kEs[] = {3, 25, 0, 1, 0, 4, 17, 0x40, 0x15, 0,    0, 0, 0,   0,
                               0, 0,  0, 0, 0, 0, 5,  2,    0x11, 0x88, 6, 1, 0x02};
        box.Bytes(kEs, sizeof kEs);
        box.Close(nEsds);
        box.Close(nEntry);
    }
    box.Close(nStsd);
}

// The reference: video chunks of one sample and sound chunks of two, taking turns.
std::vector<uint8_t> ReferenceFile() {
    std::vector<uint8_t> out;
    CBoxWriter box(out);
    const size_t nFtyp = box.Open("ftyp");
    box.Bytes("isom\0\0\2\0isomavc1", 16);
    box.Close(nFtyp);
    const size_t nMoov = box.Open("moov");
    const size_t nMvhd = box.OpenFull("mvhd", 0, 0);
    box.Zeros(8);
    box.U32(1000);
    box.U32(2000);
    box.U32(0x10000);
    box.U16(0x100);
    box.Zeros(10);
    const uint8_t kMatrix[36] = {0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,    0, 0, 0, 0, 1,
                                 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0};
    box.Bytes(kMatrix, sizeof kMatrix);
    box.Zeros(24);
    box.U32(3);
    box.Close(nMvhd);
    const uint32_t kChunks = 40;
    for (int nTrack = 0; nTrack < 2; ++nTrack) {
        const bool bVideo = nTrack == 0;
        const size_t nTrak = box.Open("trak");
        const size_t nTkhd = box.OpenFull("tkhd", 0, 3);
        box.Zeros(8);
        box.U32(nTrack + 1);
        box.Zeros(8);
        box.Zeros(8);
        box.Zeros(4);
        box.U16(bVideo ? 0 : 0x100);
        box.Zeros(2);
        box.Bytes(kMatrix, sizeof kMatrix);
        box.U32(bVideo ? 320u << 16 : 0);
        box.U32(bVideo ? 240u << 16 : 0);
        box.Close(nTkhd);
        const size_t nMdia = box.Open("mdia");
        const size_t nMdhd = box.OpenFull("mdhd", 0, 0);
        box.Zeros(8);
        box.U32(bVideo ? 15360 : 48000);
        box.U32(0);
        box.U16(0x55C4);
        box.U16(0);
        box.Close(nMdhd);
        const size_t nHdlr = box.OpenFull("hdlr", 0, 0);
        box.U32(0);
        box.Bytes(bVideo ? "vide" : "soun", 4);
        box.Zeros(12);
        box.U8(0);
        box.Close(nHdlr);
        const size_t nMinf = box.Open("minf");
        const size_t nHeader = bVideo ? box.OpenFull("vmhd", 0, 1) : box.OpenFull("smhd", 0, 0);
        box.Zeros(bVideo ? 8 : 4);
        box.Close(nHeader);
        const size_t nStbl = box.Open("stbl");
        Stsd(box, bVideo);
        const uint32_t nPerChunk = bVideo ? 1 : 2;
        size_t nBox = box.OpenFull("stts", 0, 0);
        box.U32(1);
        box.U32(kChunks * nPerChunk);
        box.U32(bVideo ? 512 : 1024);
        box.Close(nBox);
        nBox = box.OpenFull("stsc", 0, 0);
        box.U32(1);
        box.U32(1);
        box.U32(nPerChunk);
        box.U32(1);
        box.Close(nBox);
        nBox = box.OpenFull("stsz", 0, 0);
        box.U32(bVideo ? 0 : 300);
        box.U32(kChunks * nPerChunk);
        if (bVideo) {
            for (uint32_t i = 0; i < kChunks; ++i)
                box.U32(i == 0 ? 4000 : 1500);
        }
        box.Close(nBox);
        nBox = box.OpenFull("stco", 0, 0);
        box.U32(kChunks);
        for (uint32_t i = 0; i < kChunks; ++i)
            box.U32(48 + 2100 * i + (bVideo ? 0 : 1500));
        box.Close(nBox);
        box.Close(nStbl);
        box.Close(nMinf);
        box.Close(nMdia);
        box.Close(nTrak);
    }
    box.Close(nMoov);
    return out;
}

const CReferenceMovie& Reference() {
    static const CReferenceMovie movie = [] {
        const std::vector<uint8_t> file = ReferenceFile();
        CMemoryByteSource source(file.data(), file.size());
        CReferenceMovie read;
        CRebuildResult::EProblem eProblem = CRebuildResult::EProblem::None;
        if (!ReadReferenceMovie(source, &read, &eProblem))
            std::abort();
        return read;
    }();
    return movie;
}

// Media data from a recipe: each byte picks what comes next.
std::vector<uint8_t> Cook(const uint8_t* pData, size_t nSize) {
    std::vector<uint8_t> media;
    uint32_t nFrame = 0, nPoc = 0;
    for (size_t i = 0; i < nSize; ++i) {
        const uint8_t nArg = i + 1 < nSize ? pData[i + 1] : 0;
        switch (pData[i] % 8) {
        case 0:
            nFrame = nPoc = 0;
            AppendSample(&media, {Slice(true, 0, 0, 40 + nArg)});
            break;
        case 1:
            nFrame = (nFrame + 1) % 16;
            nPoc = (nPoc + 2) % 64;
            AppendSample(&media, {Slice(false, nFrame, nPoc, 20 + nArg)});
            break;
        case 2: {
            const std::vector<uint8_t> frame = AacFrame(static_cast<uint8_t>(90 + nArg % 40));
            media.insert(media.end(), frame.begin(), frame.end());
            break;
        }
        case 3: {
            const size_t nCopy = std::min<size_t>(nArg, nSize - i - 1);
            media.insert(media.end(), pData + i + 1, pData + i + 1 + nCopy);
            i += nCopy;
            continue;
        }
        case 4:
            media.insert(media.end(), size_t(nArg) * 16, 0);
            break;
        case 5: {
            std::vector<uint8_t> sample;
            AppendSample(&sample, {Slice(false, nFrame, nPoc, 30)});
            sample.resize(sample.size() - std::min<size_t>(sample.size() - 1, nArg));
            media.insert(media.end(), sample.begin(), sample.end());
            break;
        }
        case 6: {
            std::vector<uint8_t> frame = AacFrame(100);
            frame[nArg % frame.size()] ^= static_cast<uint8_t>(1 + (nArg >> 3));
            media.insert(media.end(), frame.begin(), frame.end());
            break;
        }
        default:
            nFrame = nPoc = 0;
            AppendSample(&media, {Sps(), Pps(), Slice(true, 0, 0, 50 + nArg)});
            break;
        }
        ++i; // the argument
    }
    return media;
}

class CCheckSink : public CByteSink {
public:
    explicit CCheckSink(const std::vector<uint8_t>& media) : m_media(media) {}
    bool Write(const uint8_t* pData, size_t nSize) override {
        if (nSize > m_media.size() - m_nDone || std::memcmp(pData, &m_media[m_nDone], nSize) != 0)
            std::abort();
        m_nDone += nSize;
        return true;
    }
    size_t Done() const { return m_nDone; }

private:
    const std::vector<uint8_t>& m_media;
    size_t m_nDone = 0;
};

struct CWalked {
    std::vector<std::unique_ptr<CWalkTrack>> tracks;
    CInterleaveModel model;
};

void Prepare(const CReferenceMovie& movie, CWalked* pWalked) {
    std::vector<CTrackLeftOut> leftOut;
    pWalked->tracks = MakeWalkTracks(movie, &leftOut);
    // The model depends on the reference alone: built once, copied fresh for each walk.
    static const CInterleaveModel model = [&] {
        CInterleaveModel built;
        for (const std::unique_ptr<CWalkTrack>& pTrack : pWalked->tracks)
            built.AddTrack(pTrack->SampleSeconds(), movie.tracks[pTrack->ReferenceIndex()].chunks,
                           true);
        built.Build();
        return built;
    }();
    pWalked->model = model;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    const CReferenceMovie& movie = Reference();
    const std::vector<uint8_t> media = nSize > 0 && pData[0] == 0xFF
                                           ? std::vector<uint8_t>(pData + 1, pData + nSize)
                                           : Cook(pData, nSize);
    if (media.empty())
        return 0;
    CMemoryByteSource source(media.data(), media.size());
    CMediaRange range;
    range.nEnd = media.size();

    CWalked probe, full;
    Prepare(movie, &probe);
    Prepare(movie, &full);
    CMediaWalk probeWalk(source, range, probe.tracks, probe.model);
    const EWalkStop eProbe = probeWalk.Run();
    CCheckSink sink(media);
    CMediaWalk walk(source, range, full.tracks, full.model);
    walk.SetSink(&sink);
    const EWalkStop eStop = walk.Run();
    if (eStop == EWalkStop::Cancelled || eStop == EWalkStop::ReadFailed ||
        eStop == EWalkStop::WriteFailed || eStop == EWalkStop::Limit || eStop != eProbe)
        std::abort();
    if (walk.StopOffset() > media.size() || sink.Done() != walk.StopOffset() ||
        probeWalk.StopOffset() != walk.StopOffset())
        std::abort();

    // Chunks follow one another inside the kept data, and hold the samples found.
    uint64_t nAt = 0;
    std::vector<uint64_t> samples(full.tracks.size(), 0);
    std::vector<size_t> nextSample(full.tracks.size(), 0);
    for (const CWalkChunk& chunk : walk.Chunks()) {
        if (chunk.nOffset < nAt || chunk.nTrack >= full.tracks.size() ||
            chunk.nFirstSample != nextSample[chunk.nTrack])
            std::abort();
        const std::vector<uint32_t>& sizes = full.tracks[chunk.nTrack]->Sizes();
        nAt = chunk.nOffset;
        for (uint32_t s = 0; s < chunk.nSamples; ++s)
            nAt += sizes.at(chunk.nFirstSample + s);
        nextSample[chunk.nTrack] += chunk.nSamples;
    }
    if (nAt > walk.StopOffset())
        std::abort();
    for (size_t t = 0; t < full.tracks.size(); ++t) {
        if (nextSample[t] != full.tracks[t]->Found() ||
            full.tracks[t]->Found() != probe.tracks[t]->Found())
            std::abort();
    }

    CProbe check;
    check.pMovie = &movie;
    check.pTracks = &probe.tracks;
    check.pModel = &probe.model;
    check.eStop = eProbe;
    check.nStop = probeWalk.StopOffset();
    check.nDataEnd = range.nEnd;
    FindMismatch(source, check);

    // The index of the copy reads back as written.
    std::vector<CTrackLeftOut> leftOut;
    const std::vector<CTrackTables> tables =
        IndexFromWalk(movie, full.tracks, walk, 0, 48, &leftOut);
    if (tables.empty())
        return 0;
    std::vector<uint8_t> file = movie.ftyp;
    const std::vector<uint8_t> moov = BuildMovieBox(movie, tables);
    file.insert(file.end(), moov.begin(), moov.end());
    CMemoryByteSource written(file.data(), file.size());
    CReferenceMovie reread;
    CRebuildResult::EProblem eProblem = CRebuildResult::EProblem::None;
    if (!ReadReferenceMovie(written, &reread, &eProblem) || reread.tracks.size() != tables.size())
        std::abort();
    for (size_t t = 0; t < tables.size(); ++t) {
        const CReferenceTrack& track = reread.tracks[t];
        if (track.nSamples != tables[t].sizes.size() ||
            track.chunks.size() != tables[t].chunks.size())
            std::abort();
        for (size_t c = 0; c < track.chunks.size(); ++c) {
            if (track.chunks[c].nOffset != tables[t].chunks[c].nOffset)
                std::abort();
        }
    }
    return 0;
}
