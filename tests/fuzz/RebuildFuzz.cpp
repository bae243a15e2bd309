// Fuzzes the walk through a broken recording's media data against a small H.264 and AAC
// reference built here. The input is either the media data itself (first byte 0xFF) or a
// recipe that strings together real samples, garbage, zeros and damaged samples, so that the
// walk meets both. Whatever the data, the walk must stop inside it, hand the sink exactly the
// bytes before its stop, find the same samples with and without a sink, and give tables that
// read back as the index they were written as. Input whose first byte is 0xFE is a sequence
// parameter set made over for another picture size: the result must read back at that size.
// Input whose first byte is 0xFD is an avcC or hvcC payload: what reads must write back as the
// same bytes, and its variant for another size must read with the same arrays. Input whose
// first byte is 0xFC is media data for the video sample parser alone (H.264 or HEVC, padded
// and wrapped units, types no picture begins with): it must find the same samples whether it
// remembers what it scanned or not, each inside the data. Input whose first byte is 0xFB is
// read as GoPro's records and header, then cooked into the media data of a recording whose
// track of records leads the walk (its samples kept, changed, left out or mixed with the
// input's bytes), walked against that recording's reference.
// Input whose first byte is 0xFA goes to the scanners of older devices' codecs (Motion JPEG,
// H.263, AMR, PCM layouts): what they find lies inside what they were given, and more is asked
// for only past it.
#include "codec/AmrFrame.h"
#include "codec/AvcSyntax.h"
#include "codec/H263Picture.h"
#include "codec/MotionJpeg.h"
#include "codec/PcmLayout.h"
#include "codec/ConfigRecord.h"
#include "codec/ConfigVariant.h"
#include "codec/GoProRecord.h"
#include "codec/HevcSyntax.h"
#include "codec/VideoSample.h"
#include "media/Box.h"
#include "media/BoxWriter.h"
#include "rebuild/InterleaveModel.h"
#include "rebuild/RecordingMatch.h"
#include "rebuild/MediaWalk.h"
#include "rebuild/MovieWriter.h"
#include "rebuild/RebuiltIndex.h"
#include "rebuild/ReferenceMovie.h"
#include "tests/rebuild/TestMedia.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace testmedia;

const CReferenceMovie& Reference() {
    static const CReferenceMovie movie = [] {
        const std::vector<uint8_t> file = SmallReference();
        CMemoryByteSource source(file.data(), file.size());
        CReferenceMovie read;
        CRebuildResult::EProblem eProblem = CRebuildResult::EProblem::None;
        if (!ReadReferenceMovie(source, &read, &eProblem))
            std::abort();
        return read;
    }();
    return movie;
}

// A recording with a track of records, from its whole file.
const CReferenceMovie& RecordedReference() {
    static const CReferenceMovie movie = [] {
        std::vector<uint8_t> media;
        const std::vector<uint8_t> file = RecordedMovie(12, &media);
        CMemoryByteSource source(file.data(), file.size());
        CReferenceMovie read;
        CRebuildResult::EProblem eProblem = CRebuildResult::EProblem::None;
        if (!ReadReferenceMovie(source, &read, &eProblem) || read.tracks.size() != 4 ||
            !read.tracks[3].bRecords)
            std::abort();
        return read;
    }();
    return movie;
}

// Its media data from a recipe: each byte takes the next of its samples as it is, changed at
// the place the byte after it names, or not at all, or puts that many of the recipe's bytes.
std::vector<uint8_t> CookRecorded(const uint8_t* pData, size_t nSize) {
    static const CPlacedSamples samples = RecordedSamples(40);
    std::vector<uint8_t> media;
    size_t nNext = 0;
    for (size_t i = 0; i < nSize; ++i) {
        const uint8_t nArg = i + 1 < nSize ? pData[i + 1] : 0;
        std::vector<uint8_t> sample = samples[nNext++ % samples.size()].second;
        switch (pData[i] % 4) {
        case 0:
            break;
        case 1:
            sample[nArg % sample.size()] ^= static_cast<uint8_t>(1 + (nArg >> 4));
            break;
        case 2:
            sample.clear();
            break;
        default: {
            --nNext;
            const size_t nCopy = std::min<size_t>(nArg, nSize - i - 1);
            media.insert(media.end(), pData + i + 1, pData + i + 1 + nCopy);
            i += nCopy;
            continue;
        }
        }
        media.insert(media.end(), sample.begin(), sample.end());
        ++i; // the argument
    }
    return media;
}

// The records' syntax: what it reads lies within the bytes, what it asks for is more than it
// had, and a record reads the same from its own bytes alone.
void FuzzRecordSyntax(const uint8_t* pData, size_t nSize) {
    CGoProRecord record;
    CGoProHeader header;
    size_t nNeed = 0;
    for (bool bAtEnd : {false, true}) {
        ESampleParse eResult = ParseGoProRecord(pData, nSize, bAtEnd, &record, &nNeed);
        if ((eResult == ESampleParse::Ok && (record.nLength < 16 || record.nLength > nSize)) ||
            (eResult == ESampleParse::NeedMore && (bAtEnd || nNeed <= nSize)))
            std::abort();
        eResult = ParseGoProHeader(pData, nSize, bAtEnd, &header, &nNeed);
        if ((eResult == ESampleParse::Ok && (header.nLength < 8 || header.nLength > nSize)) ||
            (eResult == ESampleParse::NeedMore && (bAtEnd || nNeed <= nSize)))
            std::abort();
    }
    CGoProRecord alone;
    if (ParseGoProRecord(pData, nSize, true, &record, &nNeed) == ESampleParse::Ok &&
        (ParseGoProRecord(pData, record.nLength, true, &alone, &nNeed) != ESampleParse::Ok ||
         alone.nLength != record.nLength || alone.parameterSets != record.parameterSets))
        std::abort();
}

class CCheckSink : public CByteSink {
public:
    bool Write(const uint8_t* pData, size_t nSize) override {
        m_written.insert(m_written.end(), pData, pData + nSize);
        return true;
    }
    const std::vector<uint8_t>& Written() const { return m_written; }

private:
    std::vector<uint8_t> m_written;
};

// The media data up to where the walk stopped, less the stretches it left out.
std::vector<uint8_t> Kept(const std::vector<uint8_t>& media, const CMediaWalk& walk) {
    std::vector<uint8_t> kept;
    uint64_t nAt = walk.MediaBegin();
    for (const CWalkStretch& stretch : walk.Stretches()) {
        if (stretch.nOmitted < nAt || stretch.nEnd < stretch.nOmitted ||
            stretch.nEnd > walk.StopOffset())
            std::abort();
        kept.insert(kept.end(), media.begin() + static_cast<ptrdiff_t>(nAt),
                    media.begin() + static_cast<ptrdiff_t>(stretch.nOmitted));
        nAt = stretch.nEnd;
    }
    kept.insert(kept.end(), media.begin() + static_cast<ptrdiff_t>(nAt),
                media.begin() + static_cast<ptrdiff_t>(walk.StopOffset()));
    return kept;
}

std::vector<uint32_t> Expand(const CSampleSizes& sizes) {
    std::vector<uint32_t> each;
    for (const CSampleSizes::CRun& run : sizes.Runs())
        each.insert(each.end(), run.nCount, run.nSize);
    return each;
}

struct CWalked {
    std::vector<std::unique_ptr<CWalkTrack>> tracks;
    CInterleaveModel model;
};

void Prepare(const CReferenceMovie& movie, CWalked* pWalked) {
    std::vector<CTrackLeftOut> leftOut;
    pWalked->tracks = MakeWalkTracks(movie, &leftOut);
    // The model depends on the reference alone: built once, copied fresh for each walk.
    static std::map<const CReferenceMovie*, CInterleaveModel> models;
    if (models.find(&movie) == models.end()) {
        CInterleaveModel& built = models[&movie];
        for (const std::unique_ptr<CWalkTrack>& pTrack : pWalked->tracks)
            built.AddTrack(pTrack->SampleSeconds(), movie.tracks[pTrack->ReferenceIndex()].chunks,
                           true);
        built.Build();
    }
    pWalked->model = models[&movie];
}

} // namespace

// 0xFE, a shape byte (codec, size, bit depth), then an SPS's payload after its NAL header.
void FuzzSpsRewrite(const uint8_t* pData, size_t nSize) {
    if (nSize < 2)
        return;
    const std::vector<CPictureShape>& sizes = RecorderPictureSizes();
    const CPictureShape& size = sizes[(pData[1] >> 1) % sizes.size()];
    const bool bHevc = pData[1] & 1;
    std::vector<uint8_t> nal =
        bHevc ? std::vector<uint8_t>{0x42, 0x01} : std::vector<uint8_t>{0x67};
    nal.insert(nal.end(), pData + 2, pData + nSize);
    std::vector<uint8_t> out;
    if (bHevc) {
        const int nDepth = pData[1] & 0x80 ? 10 : 0;
        CHevcSps sps;
        if (RewriteHevcSps(nal.data(), nal.size(), size.nWidth, size.nHeight, nDepth, &out) &&
            (!ParseHevcSps(out.data(), out.size(), &sps) || sps.nWidth != size.nWidth ||
             sps.nHeight != size.nHeight || (nDepth && sps.nBitDepthLuma != nDepth)))
            std::abort();
        return;
    }
    CAvcSps sps;
    if (RewriteAvcSps(nal.data(), nal.size(), size.nWidth, size.nHeight, &out) &&
        (!ParseAvcSps(out.data(), out.size(), &sps) || sps.nWidth != size.nWidth ||
         sps.nHeight != size.nHeight))
        std::abort();
    // And inside an avcC, one SPS and no PPS.
    std::vector<uint8_t> config = {
        1, 0x64, 0, 0x1F, 0xFF, 0xE1, uint8_t(nal.size() >> 8), uint8_t(nal.size())};
    config.insert(config.end(), nal.begin(), nal.end());
    config.push_back(0);
    std::vector<uint8_t> variant;
    if (MakeConfigVariant(ECodec::H264, config, size, &variant) && variant.size() < 9)
        std::abort();
}

// 0xFD, a byte choosing the codec and a shape, then the record's payload.
void FuzzConfigRecord(const uint8_t* pData, size_t nSize) {
    if (nSize < 2)
        return;
    const ECodec eCodec = pData[1] & 1 ? ECodec::Hevc : ECodec::H264;
    const std::vector<uint8_t> payload(pData + 2, pData + nSize);
    CConfigRecord record;
    if (!ReadConfigRecord(eCodec, payload.data(), payload.size(), &record))
        return;
    std::vector<uint8_t> written;
    if (!WriteConfigRecord(record, &written) || written != payload)
        std::abort();
    const std::vector<CPictureShape>& sizes = RecorderPictureSizes();
    CPictureShape shape = sizes[(pData[1] >> 1) % sizes.size()];
    shape.nBitDepth = eCodec == ECodec::Hevc && (pData[1] & 0x80) ? 10 : 0;
    std::vector<uint8_t> variant;
    CConfigRecord reread;
    if (MakeConfigVariant(eCodec, payload, shape, &variant) &&
        (!ReadConfigRecord(eCodec, variant.data(), variant.size(), &reread) ||
         reread.arrays.size() != record.arrays.size() || reread.rest != record.rest))
        std::abort();
}

// 0xFC, a byte choosing the codec and the lengths' size, then the media data.
void FuzzVideoSamples(const uint8_t* pData, size_t nSize) {
    if (nSize < 2)
        return;
    const ECodec eCodec = pData[1] & 1 ? ECodec::Hevc : ECodec::H264;
    const int nLengthSize = pData[1] & 2 ? 2 : 4;
    CVideoSampleParser remembering(eCodec, nLengthSize, 1 << 16),
        plain(eCodec, nLengthSize, 1 << 16);
    for (const std::vector<uint8_t>& nal : {Sps(), Pps()}) {
        if (eCodec == ECodec::H264 && (!remembering.AddParameterSet(nal.data(), nal.size()) ||
                                       !plain.AddParameterSet(nal.data(), nal.size())))
            std::abort();
    }
    // Each place a walk would try (a few thousand at most), a sample found stepped over.
    const size_t nMedia = nSize - 2;
    for (size_t nAt = 0; nAt < nMedia && nAt < 4096; ++nAt) {
        CVideoSample a, b;
        size_t nNeed = 0;
        const ESampleParse eA =
            remembering.Parse(pData + 2 + nAt, nMedia - nAt, true, &a, &nNeed, nAt);
        if (eA != plain.Parse(pData + 2 + nAt, nMedia - nAt, true, &b, &nNeed) ||
            eA == ESampleParse::NeedMore ||
            (eA == ESampleParse::Ok &&
             (a.nSize != b.nSize || a.bSync != b.bSync || a.nSize == 0 || a.nSize > nMedia - nAt)))
            std::abort();
        if (eA == ESampleParse::Ok) {
            remembering.Accept();
            plain.Accept();
            nAt += a.nSize - 1;
        }
    }
}

// 0xFA, a byte choosing the scanner and how it is called, then its bytes (in a buffer of their
// own size, so that a read past them is caught).
void FuzzOldCodecs(const uint8_t* pData, size_t nSize) {
    if (nSize < 2)
        return;
    const uint8_t nChoice = pData[1];
    const std::vector<uint8_t> bytes(pData + 2, pData + nSize);
    const uint8_t* p = bytes.data();
    const size_t n = bytes.size();
    const bool bAtEnd = nChoice & 4;
    const size_t nMax = (nChoice & 8) ? n / 2 + 1 : n + 4096;
    // More is asked for past what there is and within the limit, never at the data's end.
    auto checkNeed = [&](ESampleParse eResult, size_t nNeed) {
        if (eResult == ESampleParse::NeedMore &&
            (bAtEnd || nNeed <= std::min(n, nMax) || nNeed > nMax))
            std::abort();
    };
    size_t nNeed = 0;
    switch (nChoice % 4) {
    case 0: {
        CJpegImage image;
        ESampleParse eResult = ScanJpegImage(p, n, bAtEnd, nMax, &image, &nNeed);
        checkNeed(eResult, nNeed);
        if (eResult == ESampleParse::Ok && (image.nSize > std::min(n, nMax) || image.nWidth == 0))
            std::abort();
        CJpegSample sample;
        eResult = ScanJpegSample(p, n, bAtEnd, nMax, 1 + (nChoice >> 4) % 2, nChoice * 16u, &sample,
                                 &nNeed);
        checkNeed(eResult, nNeed);
        if (eResult == ESampleParse::Ok && sample.nEnd > std::min(n, nMax))
            std::abort();
        const int nImages = CountJpegImages(p, n, &sample);
        if (nImages < 0 || nImages > kMaxJpegImages || (nImages > 0 && sample.nEnd > n))
            std::abort();
        break;
    }
    case 1: {
        CH263Picture picture;
        size_t nPicture = 0;
        const ESampleParse eResult =
            ScanH263Picture(p, n, bAtEnd, nMax, &picture, &nPicture, &nNeed);
        checkNeed(eResult, nNeed);
        // Ok: up to the next start code, which is there.
        if (eResult == ESampleParse::Ok &&
            (nPicture < 3 || nPicture > n || FindH263StartCode(p, n, 3) != nPicture))
            std::abort();
        if (eResult == ESampleParse::Truncated && nPicture != 0 && nPicture != std::min(n, nMax))
            std::abort();
        break;
    }
    case 2: {
        const bool bWide = nChoice & 16;
        const int nFrames = CountAmrFrames(bWide, p, n);
        bool bCut = false;
        if (nFrames > 0 && AmrFramesSize(bWide, p, n, nFrames, &bCut) != n)
            std::abort();
        const size_t nSome = AmrFramesSize(bWide, p, n, 1 + nChoice % 7, &bCut);
        if (nSome > n || (nSome != 0 && bCut))
            std::abort();
        break;
    }
    default: {
        static const char* const kFormats[] = {"raw ", "twos", "sowt", "in24",
                                               "lpcm", "fl64", "ulaw", "mp4a"};
        const char* pszFormat = kFormats[(nChoice >> 4) % 8];
        const uint32_t nFormat = ReadBE32(reinterpret_cast<const uint8_t*>(pszFormat));
        CPcmLayout layout;
        if (ReadPcmLayout(nFormat, p, n, &layout) &&
            (layout.nChannels <= 0 || layout.nBits <= 0 ||
             layout.nFrameBytes < uint32_t(layout.nChannels) * ((uint32_t(layout.nBits) + 7) / 8)))
            std::abort();
        break;
    }
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    if (nSize > 0 && pData[0] == 0xFC) {
        FuzzVideoSamples(pData, nSize);
        return 0;
    }
    if (nSize > 0 && pData[0] == 0xFA) {
        FuzzOldCodecs(pData, nSize);
        return 0;
    }
    if (nSize > 0 && pData[0] == 0xFE) {
        FuzzSpsRewrite(pData, std::min<size_t>(nSize, 0xFFFF));
        return 0;
    }
    if (nSize > 0 && pData[0] == 0xFD) {
        FuzzConfigRecord(pData, nSize);
        return 0;
    }
    const bool bRecorded = nSize > 0 && pData[0] == 0xFB;
    if (bRecorded)
        FuzzRecordSyntax(pData + 1, nSize - 1);
    const CReferenceMovie& movie = bRecorded ? RecordedReference() : Reference();
    const std::vector<uint8_t> media = bRecorded ? CookRecorded(pData + 1, nSize - 1)
                                       : nSize > 0 && pData[0] == 0xFF
                                           ? std::vector<uint8_t>(pData + 1, pData + nSize)
                                           : CookMedia(pData, nSize);
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
    CCheckSink sink;
    CMediaWalk walk(source, range, full.tracks, full.model);
    walk.SetSink(&sink);
    const EWalkStop eStop = walk.Run();
    if (eStop == EWalkStop::Cancelled || eStop == EWalkStop::ReadFailed ||
        eStop == EWalkStop::WriteFailed || eStop == EWalkStop::Limit || eStop != eProbe)
        std::abort();
    if (walk.StopOffset() > media.size() || probeWalk.StopOffset() != walk.StopOffset() ||
        sink.Written() != Kept(media, walk))
        std::abort();

    // Chunks follow one another inside the kept data, and hold the samples found.
    uint64_t nAt = 0;
    std::vector<uint64_t> samples(full.tracks.size(), 0);
    std::vector<size_t> nextSample(full.tracks.size(), 0);
    for (const CWalkChunk& chunk : walk.Chunks()) {
        if (chunk.nOffset < nAt || chunk.nTrack >= full.tracks.size() ||
            chunk.nFirstSample != nextSample[chunk.nTrack])
            std::abort();
        const std::vector<uint32_t> sizes = Expand(full.tracks[chunk.nTrack]->Sizes());
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
        IndexFromWalk(movie, full.tracks, walk, walk.MediaBegin(), 48, &leftOut);
    if (tables.empty())
        return 0;
    // As the copy is laid out: ftyp, free, mdat's header, the media data from byte 48 on, then
    // the index.
    std::vector<uint8_t> file = movie.ftyp;
    const uint8_t kFree[8] = {0, 0, 0, 8, 'f', 'r', 'e', 'e'};
    uint8_t header[16];
    MediaDataHeader(media.size(), header);
    file.insert(file.end(), kFree, kFree + sizeof kFree);
    file.insert(file.end(), header, header + sizeof header);
    if (file.size() != 48)
        std::abort();
    file.insert(file.end(), media.begin(), media.end());
    const std::vector<uint8_t> moov = BuildMovieBox(movie, tables);
    file.insert(file.end(), moov.begin(), moov.end());
    CMemoryByteSource written(file.data(), file.size());
    CReferenceMovie reread;
    CRebuildResult::EProblem eProblem = CRebuildResult::EProblem::None;
    if (!ReadReferenceMovie(written, &reread, &eProblem) || reread.tracks.size() != tables.size())
        std::abort();
    for (size_t t = 0; t < tables.size(); ++t) {
        const CReferenceTrack& track = reread.tracks[t];
        if (track.nSamples != tables[t].sizes.Count() ||
            track.chunks.size() != tables[t].chunks.size())
            std::abort();
        for (size_t c = 0; c < track.chunks.size(); ++c) {
            if (track.chunks[c].nOffset != tables[t].chunks[c].nOffset)
                std::abort();
        }
    }
    return 0;
}
