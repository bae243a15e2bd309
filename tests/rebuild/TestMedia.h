// Reference movies and recordings built in code, of the streams TestStreams.h makes, for the
// tests and fuzzers that need exact bytes no encoder writes on demand (hostile ones included).
#pragma once

#include "tests/codec/TestStreams.h"
#include "tests/media/TestBoxes.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testmedia {

enum class EEntry { Avc, Aac, Other };

// stsd with one entry: avc1 with TestStreams.h's parameter sets, mono 48 kHz AAC-LC, or 'tx3g'.
inline void Stsd(CBoxWriter& box, EEntry eEntry) {
    const size_t nStsd = box.OpenFull("stsd", 0, 0);
    box.U32(1);
    if (eEntry == EEntry::Avc) {
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
    } else if (eEntry == EEntry::Aac) {
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
    } else {
        const size_t nEntry = box.Open("tx3g");
        box.Zeros(6);
        box.U16(1);
        box.Zeros(30);
        box.Close(nEntry);
    }
    box.Close(nStsd);
}

// One track of a movie built for a test: what its samples are and its sample tables (stts,
// stsc, stsz or stz2, stco or co64), written by the test as it likes them.
struct CTrackSpec {
    EEntry eEntry = EEntry::Avc;
    std::string strHandler = "vide";
    uint32_t nTimescale = 15360;
    std::vector<uint8_t> tables;
    std::vector<uint8_t> edits; // boxes before mdia (edts), as they are
};

// Tables of evenly spread chunks: nChunks chunks of nPerChunk samples of nSize bytes (0: the
// sizes given), lasting nDelta each, the chunks at nFirst + c * nStride.
inline std::vector<uint8_t> EvenTables(uint32_t nChunks, uint32_t nPerChunk, uint32_t nDelta,
                                       uint32_t nSize, uint64_t nFirst, uint64_t nStride,
                                       const std::vector<uint32_t>& sizes = {}) {
    std::vector<uint8_t> out;
    CBoxWriter box(out);
    Stts(box, {{nChunks * nPerChunk, nDelta}});
    Stsc(box, {{1, nPerChunk}});
    Stsz(box, nSize, nChunks * nPerChunk, sizes);
    std::vector<uint64_t> offsets;
    for (uint32_t c = 0; c < nChunks; ++c)
        offsets.push_back(nFirst + c * nStride);
    Stco(box, offsets);
    return out;
}

// ftyp and moov: a movie of 1000 units a second with the tracks given; then, when nMedia is
// not 0, an mdat of that many zeros (a file must hold the samples its index counts).
inline std::vector<uint8_t> MovieFile(const std::vector<CTrackSpec>& tracks, uint32_t nMedia = 0) {
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
    box.U32(static_cast<uint32_t>(tracks.size() + 1));
    box.Close(nMvhd);
    for (size_t t = 0; t < tracks.size(); ++t) {
        const CTrackSpec& track = tracks[t];
        const bool bVideo = track.eEntry == EEntry::Avc;
        const size_t nTrak = box.Open("trak");
        const size_t nTkhd = box.OpenFull("tkhd", 0, 3);
        box.Zeros(8);
        box.U32(static_cast<uint32_t>(t + 1));
        box.Zeros(20);
        box.U16(track.eEntry == EEntry::Aac ? 0x100 : 0);
        box.Zeros(2);
        box.Bytes(kMatrix, sizeof kMatrix);
        box.U32(bVideo ? 320u << 16 : 0);
        box.U32(bVideo ? 240u << 16 : 0);
        box.Close(nTkhd);
        box.Bytes(track.edits);
        const size_t nMdia = box.Open("mdia");
        const size_t nMdhd = box.OpenFull("mdhd", 0, 0);
        box.Zeros(8);
        box.U32(track.nTimescale);
        box.U32(0);
        box.U16(0x55C4);
        box.U16(0);
        box.Close(nMdhd);
        const size_t nHdlr = box.OpenFull("hdlr", 0, 0);
        box.U32(0);
        box.Bytes(track.strHandler.data(), 4);
        box.Zeros(12);
        box.U8(0);
        box.Close(nHdlr);
        const size_t nMinf = box.Open("minf");
        const size_t nHeader = bVideo ? box.OpenFull("vmhd", 0, 1) : box.OpenFull("smhd", 0, 0);
        box.Zeros(bVideo ? 8 : 4);
        box.Close(nHeader);
        const size_t nStbl = box.Open("stbl");
        Stsd(box, track.eEntry);
        box.Bytes(track.tables);
        box.Close(nStbl);
        box.Close(nMinf);
        box.Close(nMdia);
        box.Close(nTrak);
    }
    box.Close(nMoov);
    if (nMedia != 0)
        Box(box, "mdat", nMedia);
    return out;
}

// A small H.264 and AAC reference: video chunks of one picture and sound chunks of two frames
// taking turns, as SmallRecording lays out its samples.
inline std::vector<uint8_t> SmallReference() {
    CTrackSpec video, sound;
    std::vector<uint32_t> sizes(40, 1500);
    sizes[0] = 4000;
    video.tables = EvenTables(40, 1, 512, 0, 48, 2100, sizes);
    sound.eEntry = EEntry::Aac;
    sound.strHandler = "soun";
    sound.nTimescale = 48000;
    sound.tables = EvenTables(40, 2, 1024, 300, 48 + 1500, 2100);
    return MovieFile({video, sound}, 100000);
}

// The media data of a little recording made the same way: 40 pictures, 80 sound frames.
inline std::vector<uint8_t> SmallRecording() {
    std::vector<uint8_t> media;
    for (uint32_t i = 0; i < 40; ++i) {
        AppendSample(&media,
                     {i == 0 ? Slice(true, 0, 0, 60) : Slice(false, i % 16, 2 * i % 64, 40)});
        for (uint32_t f = 0; f < 2; ++f) {
            const std::vector<uint8_t> frame = AacFrame(static_cast<uint8_t>(90 + (i + f) % 30));
            media.insert(media.end(), frame.begin(), frame.end());
        }
    }
    return media;
}

// Samples laid out in the order given, each its own chunk: (track, bytes).
using CPlacedSamples = std::vector<std::pair<size_t, std::vector<uint8_t>>>;

// A whole movie of those samples: ftyp, moov (the tracks given, each sample of a track lasting
// its delta), then mdat. *pMedia gets the media data.
inline std::vector<uint8_t> PlacedMovie(std::vector<CTrackSpec> tracks,
                                        const std::vector<uint32_t>& deltas,
                                        const CPlacedSamples& samples,
                                        std::vector<uint8_t>* pMedia) {
    std::vector<uint8_t>& media = *pMedia;
    media.clear();
    std::vector<std::vector<uint32_t>> sizes(tracks.size());
    std::vector<std::vector<uint64_t>> offsets(tracks.size());
    for (const auto& sample : samples) {
        sizes[sample.first].push_back(static_cast<uint32_t>(sample.second.size()));
        offsets[sample.first].push_back(media.size());
        media.insert(media.end(), sample.second.begin(), sample.second.end());
    }
    auto build = [&](uint64_t nBase) {
        for (size_t t = 0; t < tracks.size(); ++t) {
            tracks[t].tables.clear();
            CBoxWriter box(tracks[t].tables);
            const uint32_t nCount = static_cast<uint32_t>(sizes[t].size());
            Stts(box, {{nCount, deltas[t]}});
            Stsc(box, {{1, 1}});
            Stsz(box, 0, nCount, sizes[t]);
            std::vector<uint64_t> at;
            for (uint64_t nOffset : offsets[t])
                at.push_back(nBase + nOffset);
            Stco(box, at);
        }
        return MovieFile(tracks);
    };
    std::vector<uint8_t> file = build(build(0).size() + 8);
    CBoxWriter box(file);
    Header(box, static_cast<uint32_t>(8 + media.size()), "mdat");
    file.insert(file.end(), media.begin(), media.end());
    return file;
}

// A record of the kind GoPro's cameras write before each sample: 'GP', kind, flag, then the
// sample's size, its duration and the frame interval.
inline std::vector<uint8_t> SampleRecord(uint8_t nKind, uint8_t nFlag, uint32_t nSize,
                                         uint32_t nDuration, uint32_t nInterval = 0) {
    std::vector<uint8_t> record = {'G', 'P', nKind, nFlag};
    for (uint32_t n : {nSize, nDuration, nInterval}) {
        for (int nShift = 24; nShift >= 0; nShift -= 8)
            record.push_back(static_cast<uint8_t>(n >> nShift));
    }
    return record;
}

// A recording with such records (tracks: 0 video, 1 sound, 2 timecode, 3 records): a 'GPRO'
// header, the first picture's record with the parameter sets in its slots, a timecode record
// of kind 9 (no camera's number: the reference tells its track), then pictures of two sound
// frames each, every sample after its record.
inline CPlacedSamples RecordedSamples(uint32_t nPictures) {
    CPlacedSamples samples;
    std::vector<uint8_t> header = {'G', 'P', 'R', 'O', 64, 0, 0, 0};
    header.resize(64);
    samples.emplace_back(3, header);
    auto announce = [&](size_t nTrack, std::vector<uint8_t> record,
                        const std::vector<uint8_t>& sample) {
        samples.emplace_back(3, std::move(record));
        samples.emplace_back(nTrack, sample);
    };
    std::vector<uint8_t> picture;
    AppendSample(&picture, {Slice(true, 0, 0, 60)});
    std::vector<uint8_t> first = SampleRecord(3, 1, uint32_t(picture.size()), 512, 512);
    for (const std::vector<uint8_t>& set : {Sps(), Pps()}) {
        std::vector<uint8_t> slot = {0, 0, 0, static_cast<uint8_t>(set.size())};
        slot.insert(slot.end(), set.begin(), set.end());
        slot.resize(68);
        first.insert(first.end(), slot.begin(), slot.end());
    }
    announce(0, first, picture);
    announce(2, SampleRecord(9, 0, 4, 512), {0, 0, 0, 42});
    for (uint32_t i = 1; i < nPictures; ++i) {
        for (uint32_t f = 0; f < 2; ++f) {
            const std::vector<uint8_t> frame = AacFrame(static_cast<uint8_t>(90 + (i + f) % 30));
            announce(1, SampleRecord(4, 0, uint32_t(frame.size()), 1024), frame);
        }
        picture.clear();
        AppendSample(&picture, {Slice(false, i % 16, 2 * i % 64, 40 + i % 5)});
        announce(0, SampleRecord(0, 3, uint32_t(picture.size()), 512, 512), picture);
    }
    return samples;
}

inline std::vector<uint8_t> RecordedMovie(uint32_t nPictures, std::vector<uint8_t>* pMedia) {
    CTrackSpec video, sound, timecode, records;
    sound.eEntry = EEntry::Aac;
    sound.strHandler = "soun";
    sound.nTimescale = 48000;
    timecode.eEntry = records.eEntry = EEntry::Other;
    timecode.strHandler = "tmcd";
    records.strHandler = "meta";
    return PlacedMovie({video, sound, timecode, records}, {512, 1024, 512, 0},
                       RecordedSamples(nPictures), pMedia);
}

// A recording cut off before its index: ftyp, mdat of size 0, the media data.
inline std::vector<uint8_t> BrokenFile(const std::vector<uint8_t>& media) {
    std::vector<uint8_t> out;
    CBoxWriter box(out);
    const size_t nFtyp = box.Open("ftyp");
    box.Bytes("isom\0\0\2\0isomavc1", 16);
    box.Close(nFtyp);
    Header(box, 0, "mdat");
    out.insert(out.end(), media.begin(), media.end());
    return out;
}

// Media data from a recipe, for fuzzers: each byte picks what comes next (pictures, sound
// frames, its own bytes, zeros, damaged samples), the one after it how.
inline std::vector<uint8_t> CookMedia(const uint8_t* pData, size_t nSize) {
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

} // namespace testmedia
