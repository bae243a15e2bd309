#include "rebuild/FoundIndex.h"

#include "media/BoxWriter.h"
#include "rebuild/MovieWriter.h"

#include <algorithm>
#include <cstring>

namespace {

const uint32_t kIdentity[9] = {0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000};

void SetIdentity(uint8_t matrix[36]) {
    for (size_t i = 0; i < 9; ++i) {
        for (int b = 0; b < 4; ++b)
            matrix[i * 4 + b] = static_cast<uint8_t>(kIdentity[i] >> (24 - 8 * b));
    }
}

std::vector<uint8_t> HandlerBox(uint32_t nHandler) {
    const char* pszName = nHandler == FourCC("vide")   ? "VideoHandler"
                          : nHandler == FourCC("soun") ? "SoundHandler"
                          : nHandler == FourCC("tmcd") ? "TimeCodeHandler"
                                                       : "DataHandler";
    std::vector<uint8_t> out;
    CBoxWriter box(out);
    const size_t nBox = box.OpenFull("hdlr", 0, 0);
    box.U32(0);
    box.U32(nHandler);
    box.Zeros(12);
    box.Bytes(pszName, std::strlen(pszName) + 1);
    box.Close(nBox);
    return out;
}

// The media header the handler takes, and a data reference to this file.
std::vector<uint8_t> MediaInfoHeaders(uint32_t nHandler) {
    std::vector<uint8_t> out;
    CBoxWriter box(out);
    if (nHandler == FourCC("vide")) {
        const size_t nBox = box.OpenFull("vmhd", 0, 1);
        box.Zeros(8);
        box.Close(nBox);
    } else if (nHandler == FourCC("soun")) {
        const size_t nBox = box.OpenFull("smhd", 0, 0);
        box.Zeros(4);
        box.Close(nBox);
    } else {
        box.Close(box.OpenFull("nmhd", 0, 0));
    }
    const size_t nDinf = box.Open("dinf");
    const size_t nDref = box.OpenFull("dref", 0, 0);
    box.U32(1);
    box.Close(box.OpenFull("url ", 0, 1));
    box.Close(nDref);
    box.Close(nDinf);
    return out;
}

std::vector<uint8_t> SampleDescriptions(const std::vector<uint8_t>& entry) {
    std::vector<uint8_t> out;
    CBoxWriter box(out);
    const size_t nBox = box.OpenFull("stsd", 0, 0);
    box.U32(1);
    box.Bytes(entry);
    box.Close(nBox);
    return out;
}

// MPEG-4 descriptors give their length in 7-bit groups; four always, as most writers do.
void Descriptor(CBoxWriter& box, uint8_t nTag, size_t nLength) {
    box.U8(nTag);
    for (int i = 3; i >= 0; --i)
        box.U8(static_cast<uint8_t>(((nLength >> (7 * i)) & 0x7F) | (i ? 0x80 : 0)));
}

// Sample tables over the found samples: each run of a track's samples that nothing else
// interrupts is one chunk.
CTrackTables Tables(const CFoundTrack& track, const CReferenceTrack& reference,
                    const std::vector<CFoundTrack>& tracks) {
    // Where each sample of any other track begins, to tell where a run is interrupted.
    std::vector<uint64_t> others;
    for (const CFoundTrack& other : tracks) {
        if (&other != &track) {
            for (const CFoundSample& sample : other.samples)
                others.push_back(sample.nOffset);
        }
    }
    std::sort(others.begin(), others.end());
    CTrackTables tables;
    tables.pReference = &reference;
    uint64_t nEnd = 0;
    for (size_t i = 0; i < track.samples.size(); ++i) {
        const CFoundSample& sample = track.samples[i];
        const bool bJoins = i != 0 && sample.nOffset == nEnd &&
                            std::lower_bound(others.begin(), others.end(), nEnd) ==
                                std::lower_bound(others.begin(), others.end(), sample.nOffset + 1);
        if (bJoins)
            ++tables.chunks.back().nSamples;
        else
            tables.chunks.push_back(CTrackTables::CChunk{sample.nOffset, 1});
        nEnd = sample.nOffset + sample.nSize;
        tables.sizes.Add(sample.nSize);
        if (!tables.durations.empty() && tables.durations.back().nDuration == sample.nDuration)
            ++tables.durations.back().nCount;
        else
            tables.durations.push_back(CTrackTables::CDurationRun{1, sample.nDuration});
        if (!sample.bSync)
            tables.bAllSync = false;
        else
            tables.syncSamples.push_back(static_cast<uint32_t>(i));
    }
    if (tables.bAllSync)
        tables.syncSamples.clear();
    return tables;
}

// The recording's bytes with the index made for it after them.
class CIndexedSource final : public CByteSource {
public:
    CIndexedSource(CByteSource& file, const std::vector<uint8_t>& index)
        : m_file(file), m_index(index) {}
    uint64_t Size() const override { return m_file.Size() + m_index.size(); }
    bool ReadAt(uint64_t nOffset, void* pBuffer, size_t nCount) override {
        const uint64_t nFile = m_file.Size();
        uint8_t* pOut = static_cast<uint8_t*>(pBuffer);
        if (nOffset < nFile) {
            const size_t nHere = static_cast<size_t>(std::min<uint64_t>(nCount, nFile - nOffset));
            if (!m_file.ReadAt(nOffset, pOut, nHere))
                return false;
            pOut += nHere;
            nCount -= nHere;
            nOffset += nHere;
        }
        if (nCount == 0)
            return true;
        const uint64_t nAt = nOffset - nFile;
        if (nAt > m_index.size() || nCount > m_index.size() - nAt)
            return false;
        std::memcpy(pOut, m_index.data() + nAt, nCount);
        return true;
    }

private:
    CByteSource& m_file;
    const std::vector<uint8_t>& m_index;
};

// A sample entry's box and its first fields (reserved, the data reference).
size_t OpenEntry(CBoxWriter& box, const char (&format)[5]) {
    const size_t nEntry = box.Open(format);
    box.Zeros(6);
    box.U16(1);
    return nEntry;
}

} // namespace

std::vector<uint8_t> VideoEntry(const char (&format)[5], const char (&config)[5],
                                const std::vector<uint8_t>& record, int nWidth, int nHeight) {
    std::vector<uint8_t> out;
    CBoxWriter box(out);
    const size_t nEntry = OpenEntry(box, format);
    box.Zeros(16);
    box.U16(static_cast<uint16_t>(nWidth));
    box.U16(static_cast<uint16_t>(nHeight));
    box.U32(0x00480000);
    box.U32(0x00480000);
    box.U32(0);
    box.U16(1);
    box.Zeros(32);
    box.U16(0x18);
    box.U16(0xFFFF);
    const size_t nConfig = box.Open(config);
    box.Bytes(record);
    box.Close(nConfig);
    box.Close(nEntry);
    return out;
}

std::vector<uint8_t> AacEntry(const std::vector<uint8_t>& audioSpecificConfig, int nChannels,
                              uint32_t nSampleRate) {
    std::vector<uint8_t> out;
    CBoxWriter box(out);
    const size_t nEntry = OpenEntry(box, "mp4a");
    box.Zeros(8);
    box.U16(static_cast<uint16_t>(nChannels));
    box.U16(16);
    box.U32(0);
    box.U32(nSampleRate <= 0xFFFF ? nSampleRate << 16 : 0);
    const size_t nEsds = box.OpenFull("esds", 0, 0);
    const size_t nAsc = audioSpecificConfig.size();
    Descriptor(box, 0x03, 3 + 5 + 13 + 5 + nAsc + 5 + 1);
    box.U16(0); // ES_ID
    box.U8(0);
    Descriptor(box, 0x04, 13 + 5 + nAsc);
    box.U8(0x40); // MPEG-4 audio
    box.U8(0x15); // audio stream
    box.U8(0);    // bufferSizeDB, 24 bits
    box.U16(0);
    box.U32(0); // maxBitrate
    box.U32(0); // avgBitrate
    Descriptor(box, 0x05, nAsc);
    box.Bytes(audioSpecificConfig);
    Descriptor(box, 0x06, 1);
    box.U8(0x02);
    box.Close(nEsds);
    box.Close(nEntry);
    return out;
}

std::vector<uint8_t> TimecodeEntry(uint32_t nTimescale, uint32_t nFrameDuration) {
    std::vector<uint8_t> out;
    CBoxWriter box(out);
    const size_t nEntry = OpenEntry(box, "tmcd");
    box.U32(0);
    box.U32(0); // flags
    box.U32(nTimescale);
    box.U32(nFrameDuration);
    const uint32_t nFrames =
        nFrameDuration ? (nTimescale + nFrameDuration / 2) / nFrameDuration : 0;
    box.U8(static_cast<uint8_t>(std::min<uint32_t>(nFrames, 255)));
    box.U8(0);
    box.Close(nEntry);
    return out;
}

std::vector<uint8_t> PlainEntry(const char (&format)[5], size_t nExtraZeros) {
    std::vector<uint8_t> out;
    CBoxWriter box(out);
    const size_t nEntry = OpenEntry(box, format);
    box.Zeros(nExtraZeros);
    box.Close(nEntry);
    return out;
}

bool ReadFoundIndex(CByteSource& recording, const std::vector<CFoundTrack>& tracks,
                    const char (&brand)[5], CReferenceMovie* pMovie,
                    CRebuildResult::EProblem* pProblem, CCancelPoll* pCancel) {
    CReferenceMovie skeleton;
    skeleton.nTimescale = 1000;
    SetIdentity(skeleton.matrix);
    skeleton.tracks.resize(tracks.size());
    for (size_t t = 0; t < tracks.size(); ++t) {
        const CFoundTrack& found = tracks[t];
        CReferenceTrack& track = skeleton.tracks[t];
        track.nTrackId = static_cast<uint32_t>(t + 1);
        track.nTrackFlags = 3; // enabled, in the movie
        SetIdentity(track.matrix);
        if (found.nHandler == FourCC("vide")) {
            track.nWidth = uint32_t(found.nWidth) << 16;
            track.nHeight = uint32_t(found.nHeight) << 16;
        }
        if (found.nHandler == FourCC("soun")) {
            track.nVolume = 0x100;
            track.nAlternateGroup = 1;
        }
        track.nHandler = found.nHandler;
        track.nTimescale = found.nTimescale;
        track.nLanguage = 0x55C4; // 'und'
        track.hdlr = HandlerBox(found.nHandler);
        track.mediaInfoHeaders = MediaInfoHeaders(found.nHandler);
        track.stsd = SampleDescriptions(found.entry);
    }
    std::vector<CTrackTables> tables;
    for (size_t t = 0; t < tracks.size(); ++t) {
        if (!tracks[t].samples.empty())
            tables.push_back(Tables(tracks[t], skeleton.tracks[t], tracks));
    }
    const std::vector<uint8_t> index = BuildMovieBox(skeleton, tables);
    std::vector<uint8_t> ftyp;
    CBoxWriter box(ftyp);
    const size_t nFtyp = box.Open("ftyp");
    box.Bytes("isom", 4);
    box.U32(0x200);
    box.Bytes("isomiso2", 8);
    box.Bytes(brand, 4);
    box.Bytes("mp41", 4);
    box.Close(nFtyp);
    CIndexedSource source(recording, index);
    CBox moov;
    moov.nType = FourCC("moov");
    moov.nOffset = recording.Size();
    moov.nSize = index.size();
    moov.nHeaderSize = 8;
    return ReadReferenceIndex(source, moov, std::move(ftyp), pMovie, pProblem, pCancel);
}
