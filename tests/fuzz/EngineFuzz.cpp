// Fuzzes the whole rebuild, as a user runs it: a reference and a broken recording, both made
// from the input, given by path to RebuildRecording (reference parser, sample entries, H.264,
// HEVC and AAC, Motion JPEG, H.263, AMR and PCM, the media's start, tracks of fixed size and of
// none, the probe, the index, the movie box writer, the copy's file). The input is either
//   0, a 32-bit length n, n bytes of reference, then the broken recording (seeds: recordings
//      ffmpeg makes when the fuzzer starts, whole and cut before their index), or
//   1, then a recipe: a reference built from it (tracks of H.264, AAC, fixed-size and
//      unreadable samples, with tables of each kind the standard has, and some that break
//      it) and media data cooked from the rest.
// Whatever it is: the rebuild ends; a copy exists only when it says so; a copy passes the
// output check, reads back as the tracks it reports, and holds the recording's media data
// from its first byte on, exactly. Inputs of odd length are rebuilt with stand-in decoders
// lent (the checks before and after writing, and the configurations made over for other
// picture sizes, all read the hostile bytes); they say a sample is damaged when it holds
// "BAD!", and what they show follows from the configuration alone. Inputs whose length has its
// second bit set rebuild the recording alone, without the reference (the records and parameter
// sets it holds, the sound found by its syntax, and with decoders lent, the search for
// parameter sets a stream lacks).
#include "media/Box.h"
#include "media/MediaStart.h"
#include "media/Mp4Check.h"
#include "rebuild/Rebuild.h"
#include "rebuild/ReferenceMovie.h"
#include "rebuild/SampleDecoder.h"
#include "tests/rebuild/TestMedia.h"
#include "tests/support/MediaMaker.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using namespace testmedia;

std::string g_strDir;
const size_t kMaxCookedMedia = 16 << 10;

uint64_t Hash(const uint8_t* pData, size_t nSize, uint64_t nHash = 14695981039346656037u) {
    for (size_t i = 0; i < nSize; ++i)
        nHash = (nHash ^ pData[i]) * 1099511628211u;
    return nHash;
}

class CStandInDecoder final : public CSampleDecoder {
public:
    CStandInDecoder(uint64_t nConfig, bool bVideo) : m_nConfig(nConfig), m_bVideo(bVideo) {}
    bool Decode(const uint8_t* pData, size_t nSize, int64_t nLabel) override {
        ++m_nFrames;
        static const uint8_t kBad[] = {'B', 'A', 'D', '!'};
        if (nSize == 0 || std::search(pData, pData + nSize, kBad, kBad + 4) != pData + nSize) {
            if (m_faults.size() < 8)
                m_faults.push_back(CSampleFault{nLabel, "damaged"});
            ++m_nFaults;
            return false;
        }
        return true;
    }
    bool Finish() override { return true; }
    void Reset() override {}
    std::vector<CSampleFault> Faults() const override { return m_faults; }
    int64_t FaultCount() const override { return m_nFaults; }
    int64_t Frames() const override { return m_nFrames; }
    CDecodedFormat Format() const override {
        CDecodedFormat format;
        if (m_nFrames == 0)
            return format;
        if (m_bVideo) {
            format.nWidth = 16 * int(1 + m_nConfig % 8);
            format.nHeight = 16 * int(1 + (m_nConfig >> 8) % 8);
            format.nBitDepth = 8;
            format.nChroma = 420;
        } else {
            format.nSampleRate = 48000;
            format.nChannels = 2;
        }
        return format;
    }
    uint64_t PictureHash() const override { return m_nConfig * uint64_t(m_nFrames + 1); }

private:
    uint64_t m_nConfig;
    bool m_bVideo;
    int64_t m_nFrames = 0, m_nFaults = 0;
    std::vector<CSampleFault> m_faults;
};

class CStandInChecker final : public CDecoderFactory {
public:
    std::unique_ptr<CSampleDecoder> Open(ECodec eCodec, const uint8_t* pConfig, size_t nConfigSize,
                                         EDecoderUse, std::string* pError) override {
        if (nConfigSize < 2) {
            *pError = "no configuration";
            return nullptr;
        }
        return std::unique_ptr<CSampleDecoder>(
            new CStandInDecoder(Hash(pConfig, nConfigSize), eCodec != ECodec::Aac));
    }
};

// Bytes of the recipe one after another, zeros once it is used up.
class CRecipe {
public:
    CRecipe(const uint8_t* pData, size_t nSize) : m_pData(pData), m_nSize(nSize) {}
    uint8_t Next() { return m_nAt < m_nSize ? m_pData[m_nAt++] : 0; }
    const uint8_t* Rest() const { return m_pData + m_nAt; }
    size_t RestSize() const { return m_nSize - m_nAt; }

private:
    const uint8_t* m_pData;
    size_t m_nSize;
    size_t m_nAt = 0;
};

// A track's tables from the recipe. Most are as the standard has them; a variant byte may
// make them compact (stz2), wide (co64), add edits or composition offsets, or break them
// (first chunks that go back, empty chunks, counts the boxes cannot hold).
CTrackSpec TrackFrom(CRecipe& recipe, size_t nTrack, size_t nTracks, uint32_t* pMedia) {
    const uint8_t nKind = recipe.Next();
    const uint8_t nVariant = recipe.Next();
    const uint8_t nSize = recipe.Next();
    const uint32_t nPer = 1 + (nKind >> 2) % 4;
    const uint32_t nChunks = 3 + recipe.Next() % 30;
    CTrackSpec track;
    uint32_t nFixed = 0;
    switch (nKind % 4) {
    case 0:
        break;
    case 1:
        track.eEntry = EEntry::Aac;
        track.strHandler = "soun";
        track.nTimescale = 48000;
        nFixed = 300;
        break;
    case 2:
        track.eEntry = EEntry::Other;
        track.strHandler = "tmcd";
        track.nTimescale = 1000;
        nFixed = 1 + nSize % 64;
        break;
    default:
        track.eEntry = EEntry::Other;
        track.strHandler = "text";
        track.nTimescale = 1000;
        break;
    }
    const uint32_t nCount = nChunks * nPer;
    std::vector<uint32_t> sizes;
    if (nFixed == 0 || (nVariant & 1)) {
        for (uint32_t i = 0; i < nCount; ++i)
            sizes.push_back(nFixed != 0
                                ? nFixed
                                : 2 + (nSize + 7 * i) % (track.eEntry == EEntry::Avc ? 2000 : 15));
    }
    const uint32_t nDelta = track.eEntry == EEntry::Avc   ? 512
                            : track.eEntry == EEntry::Aac ? 1024
                                                          : 1000;
    CBoxWriter box(track.tables);
    Stts(box, (nVariant & 2) ? std::vector<std::pair<uint32_t, uint32_t>>{{nCount / 2, nDelta},
                                                                          {nCount - nCount / 2,
                                                                           nDelta + nSize}}
                             : std::vector<std::pair<uint32_t, uint32_t>>{{nCount, nDelta}});
    if (nVariant & 4) {
        // Runs that break the rules: going back, holding nothing.
        Stsc(box, {{1, nPer}, {1 + nSize % nChunks, nSize % 3}, {1, nPer}});
    } else {
        Stsc(box, {{1, nPer}});
    }
    uint32_t nTotal = 0;
    for (uint32_t n : sizes)
        nTotal += n;
    if (sizes.empty())
        nTotal = nFixed * nCount;
    if ((nVariant & 8) && !sizes.empty()) {
        // 4, 8 or 16-bit sizes.
        const int nBits = 4 << (nSize % 3);
        const size_t nBox = box.OpenFull("stz2", 0, 0);
        box.U32(static_cast<uint32_t>(nBits));
        box.U32(nCount);
        for (uint32_t i = 0; i < nCount; ++i) {
            const uint32_t n = sizes[i] & ((1u << nBits) - 1);
            if (nBits == 16)
                box.U16(static_cast<uint16_t>(n));
            else if (nBits == 8)
                box.U8(static_cast<uint8_t>(n));
            else if (i % 2 == 0)
                box.U8(static_cast<uint8_t>(n << 4 | (i + 1 < nCount ? sizes[i + 1] & 15 : 0)));
        }
        box.Close(nBox);
    } else {
        Stsz(box, sizes.empty() ? nFixed : 0, (nVariant & 16) ? 0xFFFFFFF0u + nSize % 16 : nCount,
             sizes);
    }
    // Each track's chunks in turn: chunk c of track t after chunk c of the tracks before it.
    std::vector<uint64_t> offsets;
    const uint64_t nStride = 64 + uint64_t(nTotal / nChunks + 1) * nTracks;
    for (uint32_t c = 0; c < nChunks; ++c)
        offsets.push_back(48 + c * nStride * 2 + nTrack * (nStride * 2 / nTracks));
    if (nVariant & 32) {
        const size_t nBox = box.OpenFull("co64", 0, 0);
        box.U32(static_cast<uint32_t>(offsets.size()));
        for (uint64_t nOffset : offsets)
            box.U64(nOffset + (uint64_t(nSize) << 32));
        box.Close(nBox);
    } else {
        Stco(box, offsets);
    }
    if (nVariant & 64) {
        const size_t nBox = box.OpenFull("ctts", 0, 0);
        box.U32(1);
        box.U32(nCount);
        box.U32(nDelta);
        box.Close(nBox);
    }
    if (nVariant & 128) {
        CBoxWriter edits(track.edits);
        const size_t nEdts = edits.Open("edts");
        const size_t nElst = edits.OpenFull("elst", nSize & 1, 0);
        const uint32_t nEntries = 1 + nSize % 3;
        edits.U32(nSize > 250 ? 0xFFFFFFFFu : nEntries);
        for (uint32_t i = 0; i < nEntries; ++i) {
            const bool bEmpty = i + 1 < nEntries;
            if (nSize & 1) {
                edits.U64(1000);
                edits.U64(bEmpty ? ~uint64_t(0) : nDelta * (nSize % 4));
            } else {
                edits.U32(1000);
                edits.U32(bEmpty ? 0xFFFFFFFFu : nDelta * (nSize % 4));
            }
            edits.U32(0x10000);
        }
        edits.Close(nElst);
        edits.Close(nEdts);
    }
    *pMedia = std::max(*pMedia, static_cast<uint32_t>(offsets.back() + nStride));
    return track;
}

void Split(const uint8_t* pData, size_t nSize, std::vector<uint8_t>* pReference,
           std::vector<uint8_t>* pBroken) {
    if (nSize < 1)
        return;
    if (pData[0] == 0) {
        if (nSize < 5)
            return;
        const size_t nReference =
            std::min<size_t>((size_t(pData[1]) << 24) | (size_t(pData[2]) << 16) |
                                 (size_t(pData[3]) << 8) | pData[4],
                             nSize - 5);
        pReference->assign(pData + 5, pData + 5 + nReference);
        pBroken->assign(pData + 5 + nReference, pData + nSize);
        return;
    }
    CRecipe recipe(pData + 1, nSize - 1);
    const size_t nTracks = 1 + recipe.Next() % 4;
    std::vector<CTrackSpec> tracks;
    uint32_t nMedia = 0;
    for (size_t t = 0; t < nTracks; ++t)
        tracks.push_back(TrackFrom(recipe, t, nTracks, &nMedia));
    *pReference = MovieFile(tracks, nMedia);
    // Bounded: a track of one-byte samples makes each byte a sample, and a sample costs the
    // instrumented walk a hundred times what it costs the program.
    std::vector<uint8_t> media = CookMedia(recipe.Rest(), recipe.RestSize());
    media.resize(std::min<size_t>(media.size(), kMaxCookedMedia));
    *pBroken = BrokenFile(media);
}

// The copy's media data, as its own mdat box holds it; false when there is none.
bool MediaOfCopy(const std::vector<uint8_t>& copy, std::vector<uint8_t>* pMedia) {
    CMemoryByteSource source(copy.data(), copy.size());
    CBox mdat;
    if (!FindBox(source, 0, copy.size(), FourCC("mdat"), &mdat))
        return false;
    pMedia->assign(copy.begin() + std::ptrdiff_t(mdat.PayloadOffset()),
                   copy.begin() + std::ptrdiff_t(mdat.End()));
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* pszSeeds = std::getenv("CLIPMEND_ENGINE_SEEDS");
    if (pszSeeds && mediamaker::FolderEmpty(pszSeeds)) {
        using mediamaker::Ffmpeg;
        using mediamaker::Words;
        const std::string strSeeds = pszSeeds;
        const std::string strVideo = "-f lavfi -i testsrc2=size=64x48:rate=10 ";
        const std::string strSound = "-f lavfi -i sine=sample_rate=8000:frequency=";
        const std::string strAac = " -c:a aac -b:a 16k ";
        // Speech for the H.263 seed, as a phone's AMR encoder leaves it (ffmpeg has none).
        const std::string strSpeech = strSeeds + "/speech.amr";
        std::vector<uint8_t> speech = {'#', '!', 'A', 'M', 'R', '\n'};
        for (int i = 0; i < 150 * 32; ++i)
            speech.push_back(i % 32 == 0 ? 0x3C : uint8_t(i * 2654435761u >> 24));
        mediamaker::WriteBytes(strSpeech, speech);
        struct CKind {
            const char* pszName;
            std::string strArguments;
            const char* pszExtension = ".mp4";
        };
        const CKind kinds[] = {
            {"h264",
             strVideo + strSound + "440 -c:v libx264 -preset ultrafast -g 10 -bf 2" + strAac},
            // Composition offsets below zero, as Apple's recorders write them.
            {"negative", strVideo + strSound +
                             "440 -c:v libx264 -preset ultrafast -g 10 -bf 2 -movflags "
                             "negative_cts_offsets" +
                             strAac},
            {"hevc", strVideo + strSound +
                         "440 -c:v libx265 -preset ultrafast -x265-params "
                         "log-level=error:bframes=2 -g 10 -tag:v hvc1" +
                         strAac},
            {"two", strVideo + strSound + "440 " + strSound +
                        "660 -map 0 -map 1 -map 2 -c:v libx264 -preset ultrafast -g 10" + strAac +
                        " -timecode 01:00:00:00"},
            {"headers", strVideo + strSound +
                            "440 -c:v libx264 -preset ultrafast -g 10 -bf 0 -slices 2 "
                            "-x264-params repeat-headers=1" +
                            strAac},
            // Older devices': Motion JPEG with PCM, H.263 with AMR.
            {"mjpeg", strVideo + strSound + "440 -c:v mjpeg -c:a pcm_u8", ".mov"},
            {"h263",
             "-f lavfi -i testsrc2=size=128x96:rate=10 -i " + strSpeech + " -c:v h263 -c:a copy",
             ".3gp"},
        };
        int nSeed = 0;
        std::vector<uint8_t> plain; // H.264 whose samples carry no parameter sets
        for (const CKind& kind : kinds) {
            const std::string strBase = strSeeds + "/" + kind.pszName;
            const std::string strReference = strBase + "-ref" + kind.pszExtension;
            const std::string strWhole = strBase + "-whole" + kind.pszExtension;
            const std::vector<uint8_t> reference =
                Ffmpeg(Words(kind.strArguments + " -t 2"), strReference);
            const std::vector<uint8_t> whole = Ffmpeg(Words(kind.strArguments + " -t 3"), strWhole);
            std::remove(strReference.c_str());
            std::remove(strWhole.c_str());
            if (reference.empty() || whole.empty())
                continue;
            if (std::string(kind.pszName) == "h264")
                plain = mediamaker::CutBeforeIndex(whole, 0.5);
            for (double dFraction : {0.5, 1.0}) {
                std::vector<uint8_t> seed = {
                    0, uint8_t(reference.size() >> 24), uint8_t(reference.size() >> 16),
                    uint8_t(reference.size() >> 8), uint8_t(reference.size())};
                seed.insert(seed.end(), reference.begin(), reference.end());
                const std::vector<uint8_t> cut = mediamaker::CutBeforeIndex(whole, dFraction);
                seed.insert(seed.end(), cut.begin(), cut.end());
                mediamaker::WriteBytes(strSeeds + "/seed" + std::to_string(nSeed++), seed);
            }
        }
        std::remove(strSpeech.c_str());
        // GoPro's records: the first 300 KB of its recording cut before its index, rebuilt
        // alone (an input of even length, no decoders, its second bit set).
        const std::vector<uint8_t> gopro = mediamaker::ReadBytes(CLIPMEND_REAL_GOPRO);
        if (!gopro.empty()) {
            std::vector<uint8_t> seed = {0, 0, 0, 0, 0};
            const std::vector<uint8_t> cut = mediamaker::CutBeforeIndex(gopro, 0.08);
            seed.insert(seed.end(), cut.begin(), cut.end());
            while (seed.size() % 4 != 2)
                seed.push_back(0);
            mediamaker::WriteBytes(strSeeds + "/gopro", seed);
        }
        // That stream alone, with the decoders lent (odd length, second bit set): the search.
        if (!plain.empty()) {
            std::vector<uint8_t> seed = {0, 0, 0, 0, 0};
            seed.insert(seed.end(), plain.begin(), plain.end());
            while (seed.size() % 4 != 3)
                seed.push_back(0);
            mediamaker::WriteBytes(strSeeds + "/search", seed);
        }
        // Recipes: each kind of track with each kind of table.
        for (uint8_t nVariant : {0, 1, 8, 9, 2, 32, 64, 128, 4, 16}) {
            std::vector<uint8_t> seed = {
                1,        3, 0, nVariant, 40, 8, 5, nVariant, 2, 8, uint8_t(2 + 4 * (nVariant % 4)),
                nVariant, 7, 5};
            for (int i = 0; i < 40; ++i) {
                const uint8_t kSteps[] = {0, 60, 2, 1, 2, 3, 1, 9, 2, 5};
                seed.push_back(kSteps[(2 * i) % 10]);
                seed.push_back(kSteps[(2 * i + 1) % 10]);
            }
            mediamaker::WriteBytes(strSeeds + "/recipe" + std::to_string(nVariant), seed);
        }
    }
    char szTemplate[] = "/tmp/clipmend-fuzz-engine-XXXXXX";
    if (!mkdtemp(szTemplate))
        std::abort();
    g_strDir = szTemplate;
    std::atexit([] {
        for (const char* pszName : {"/reference.mp4", "/broken.mp4", "/copy.mp4"})
            unlink((g_strDir + pszName).c_str());
        rmdir(g_strDir.c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    std::vector<uint8_t> reference, broken;
    Split(pData, nSize, &reference, &broken);
    const std::string strReference = g_strDir + "/reference.mp4";
    const std::string strBroken = g_strDir + "/broken.mp4";
    const std::string strCopy = g_strDir + "/copy.mp4";
    mediamaker::WriteBytes(strReference, reference);
    mediamaker::WriteBytes(strBroken, broken);
    unlink(strCopy.c_str());

    CStandInChecker decoders;
    CRebuildOptions options;
    if (nSize % 2 == 1)
        options.pDecoders = &decoders;
    const bool bAlone = (nSize >> 1) % 2 == 1;
    // Alone with the decoders, a stream without parameter sets has them searched for.
    options.bSearch = bAlone;
    const CRebuildResult result =
        RebuildRecording(bAlone ? nullptr : strReference.c_str(), strBroken.c_str(),
                         strCopy.c_str(), nullptr, options);
    const bool bCopy = access(strCopy.c_str(), F_OK) == 0;
    if (bCopy != (result.eStatus == CRebuildResult::EStatus::Rebuilt))
        std::abort();
    // The check's account adds up: every damaged frame named is counted, a few at most named.
    const CPlayResult& play = result.play;
    if ((play.bChecked && !options.pDecoders) || play.damaged.size() > play.nDamaged ||
        play.damaged.size() > kMaxDamagedNamed)
        std::abort();
    if (!bCopy)
        return 0;

    // The copy is a whole MP4 file whose index reads back as the tracks reported.
    if (!CheckMp4File(strCopy.c_str()).IsValid())
        std::abort();
    const std::vector<uint8_t> copy = mediamaker::ReadBytes(strCopy);
    CMemoryByteSource copySource(copy.data(), copy.size());
    CReferenceMovie reread;
    CRebuildResult::EProblem eProblem = CRebuildResult::EProblem::None;
    if (!ReadReferenceMovie(copySource, &reread, &eProblem) ||
        reread.tracks.size() != result.tracks.size())
        std::abort();
    // Its media data is the recording's from the first byte on, as much as was kept: all but
    // the stretches left out, each named once, in order.
    CMemoryByteSource brokenSource(broken.data(), broken.size());
    CMediaRange range;
    std::vector<uint8_t> media, kept;
    if (!FindMediaData(brokenSource, &range) || !MediaOfCopy(copy, &media))
        std::abort();
    uint64_t nAt = range.nBegin;
    for (const CStretchLeftOut& stretch : result.stretchesLeftOut) {
        if (stretch.nOffset < nAt || stretch.nBytes > range.nEnd - stretch.nOffset)
            std::abort();
        kept.insert(kept.end(), broken.begin() + std::ptrdiff_t(nAt),
                    broken.begin() + std::ptrdiff_t(stretch.nOffset));
        nAt = stretch.nOffset + stretch.nBytes;
    }
    kept.insert(kept.end(), broken.begin() + std::ptrdiff_t(nAt),
                broken.begin() + std::ptrdiff_t(range.nEnd));
    if (media != kept || media.size() + result.nBytesLeftOut != range.nEnd - range.nBegin)
        std::abort();
    for (size_t t = 0; t < result.tracks.size(); ++t) {
        if (result.tracks[t].nSamples > media.size() ||
            reread.tracks[t].nSamples != result.tracks[t].nSamples)
            std::abort();
    }
    return 0;
}
