// What the recordings ffmpeg makes cannot reach: a copy past 4 GB, metadata samples of varying
// size (ffmpeg writes a data track only in packets of one size) and records of the media data
// beside them (GoPro's). Also what the 32-bit
// build must do as well as the 64-bit one: NAL units as large as the reference allows, the copy
// made new.
#include "media/Box.h"
#include "media/BoxWriter.h"
#include "rebuild/CompositionPattern.h"
#include "rebuild/InterleaveModel.h"
#include "rebuild/MediaWalk.h"
#include "rebuild/MovieWriter.h"
#include "rebuild/OutputFile.h"
#include "rebuild/ReferenceMovie.h"
#include "rebuild/SampleShape.h"
#include "rebuild/WalkTrack.h"
#include "tests/rebuild/TestMedia.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

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

// On disk, sparse, with the 64-bit file positions the 32-bit program needs too.
TEST(RebuildIndex, MediaDataPastFourGigabytesGetsSixtyFourBitSize) {
    const std::string strPath = ::testing::TempDir() + "clipmend-mdat.mp4";
    for (uint64_t nPayload :
         {uint64_t(1000), uint64_t(0xFFFFFFF7u), uint64_t(0xFFFFFFF8u), uint64_t(7000000000u)}) {
        SCOPED_TRACE(nPayload);
        std::vector<uint8_t> header(16);
        MediaDataHeader(nPayload, header.data());
        ASSERT_TRUE(testmedia::WriteSparse(strPath, 16 + nPayload, {{0, header}}));
        CStdioByteSource source;
        ASSERT_TRUE(source.Open(strPath.c_str()));
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
    std::remove(strPath.c_str());
}

// A reference's first samples, learnt, then laid over pictures of the same order: each comes
// back with the reference's own decode and show times. Three recorders: Samsung's slow motion
// (its first 28 samples as the phone wrote them: decode times in bursts, shown 3000 ticks
// apart), Apple's (no delay, offsets below zero) and x264 at a variable rate (delay 2).
TEST(RebuildIndex, PicturesAreShownAsTheReferencesRecorderShowsThem) {
    struct CCase {
        std::vector<uint32_t> durations;
        std::vector<int32_t> offsets;
        CCompositionPattern::EKind eKind;
        uint32_t nDelay;
    };
    std::vector<CCase> cases;
    cases.push_back(
        {{9000, 9,     9, 8982, 9, 9,     2982, 12000, 9, 9,     9, 11973, 9, 9,
          9,    11973, 9, 9,    9, 11973, 9,    9,     9, 11973, 9, 9,     9, 11973},
         {9018, 9018, 3009, 6000, 9018, 3009, 6000, 9018, 9018, 3009, 0,    5991, 9018, 3009,
          0,    5991, 9018, 3009, 0,    5991, 9018, 3009, 0,    5991, 9018, 3009, 0,    5991},
         CCompositionPattern::EKind::Bunched,
         0});
    cases.push_back({std::vector<uint32_t>(9, 20),
                     {0, 60, 0, -40, -20, 60, 0, -40, -20},
                     CCompositionPattern::EKind::Delayed,
                     0});
    {
        // I P B B, at times a little off the grid: decoded when the picture two places
        // earlier in display order is shown.
        const int kOrder[] = {0, 3, 1, 2};
        std::vector<int64_t> shownAt, decodedAt;
        for (int i = 0; i < 40; ++i)
            shownAt.push_back(1000 + 512 * i + (i * 37) % 90);
        for (int i = 0; i < 40; ++i)
            decodedAt.push_back(i < 2 ? 1000 - 512 * (2 - i) : shownAt[i - 2]);
        CCase vfr{{}, {}, CCompositionPattern::EKind::Delayed, 2};
        for (int i = 0; i < 40; ++i) {
            const int nRank = i == 0 ? 0 : ((i - 1) / 3) * 3 + kOrder[1 + (i - 1) % 3];
            vfr.offsets.push_back(static_cast<int32_t>(shownAt[nRank] - decodedAt[i]));
            if (i + 1 < 40)
                vfr.durations.push_back(static_cast<uint32_t>(decodedAt[i + 1] - decodedAt[i]));
        }
        vfr.durations.push_back(512);
        cases.push_back(vfr);
    }
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.durations.size());
        const CCompositionPattern pattern = LearnComposition(c.durations, c.offsets, true);
        ASSERT_EQ(pattern.eKind, c.eKind);
        EXPECT_EQ(pattern.nDelay, c.nDelay);
        // The pictures' order, their decode times as the copy's clock.
        std::vector<uint64_t> decoded(1, 0);
        std::vector<int64_t> shown;
        for (size_t i = 0; i < c.durations.size(); ++i) {
            shown.push_back(int64_t(decoded[i]) + c.offsets[i]);
            decoded.push_back(decoded[i] + c.durations[i]);
        }
        std::vector<uint64_t> display(shown.size());
        for (size_t i = 0; i < shown.size(); ++i)
            for (size_t j = 0; j < shown.size(); ++j)
                display[i] += shown[j] < shown[i] ? 1 : 0;
        const bool bBunched = c.eKind == CCompositionPattern::EKind::Bunched;
        auto slot = [&](uint64_t p) {
            if (bBunched)
                return p * pattern.nFrame;
            return p < decoded.size() ? decoded[p]
                                      : decoded.back() + 512 * (p - decoded.size() + 1);
        };
        CPictureTimes laid;
        laid.decoded.assign(decoded.begin(), decoded.end() - 1);
        LayPictures(pattern, display, slot, 2, &laid);
        for (size_t i = 0; i < shown.size(); ++i) {
            EXPECT_EQ(laid.decoded[i], decoded[i]) << i;
            // Pictures shown after the last sample decoded are shown when its pace says.
            if (bBunched || display[i] + pattern.nDelay < shown.size()) {
                EXPECT_EQ(laid.shown[i], shown[i]) << i;
            }
        }
    }
    // Offsets of no pattern: none learnt.
    EXPECT_EQ(LearnComposition({20, 20, 20, 20, 20, 20}, {0, 500, 7, 90, 3, 260}, true).eKind,
              CCompositionPattern::EKind::Unknown);
}

std::vector<uint8_t> Bytes(const std::string& strText) {
    return std::vector<uint8_t>(strText.begin(), strText.end());
}

// A KLV item: key, type, size of one, repeat count, the data padded to 32 bits.
std::vector<uint8_t> Klv(const char* pszKey, char cType, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> item(pszKey, pszKey + 4);
    item.push_back(static_cast<uint8_t>(cType));
    item.push_back(cType == 0 ? 1 : 2);
    const size_t nRepeat = cType == 0 ? data.size() : (data.size() + 1) / 2;
    item.push_back(static_cast<uint8_t>(nRepeat >> 8));
    item.push_back(static_cast<uint8_t>(nRepeat));
    item.insert(item.end(), data.begin(), data.end());
    item.resize(item.size() + (cType == 0 ? 0 : 2 * nRepeat - data.size()));
    while (item.size() % 4)
        item.push_back(0);
    return item;
}

std::vector<uint8_t> Gpmf(size_t nSamples) {
    std::vector<uint8_t> sensor(6 * nSamples, 0x11);
    std::vector<uint8_t> inner = Klv("DVNM", 'c', Bytes("Hero"));
    const std::vector<uint8_t> accl = Klv("ACCL", 's', sensor);
    inner.insert(inner.end(), accl.begin(), accl.end());
    return Klv("DEVC", 0, inner);
}

std::vector<uint8_t> Box(const char* pszType, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> box;
    CBoxWriter writer(box);
    writer.U32(static_cast<uint32_t>(8 + payload.size()));
    writer.Bytes(pszType, 4);
    writer.Bytes(payload);
    return box;
}

std::vector<uint8_t> Text(const std::string& strText, bool bStyle) {
    std::vector<uint8_t> sample(2 + strText.size());
    sample[1] = static_cast<uint8_t>(strText.size());
    std::copy(strText.begin(), strText.end(), sample.begin() + 2);
    if (bStyle) {
        const std::vector<uint8_t> styl = Box("styl", std::vector<uint8_t>(14, 1));
        sample.insert(sample.end(), styl.begin(), styl.end());
    }
    return sample;
}

std::vector<uint8_t> Join(std::vector<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const std::vector<uint8_t>& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Each kind of sample that marks its own end is learnt from a reference's samples, then found
// in media data whatever its size, ending where its structure ends; what follows it (a video
// sample's length, sound) is not taken for more of it, and what is no sample of it is refused.
TEST(RebuildSampleShape, SamplesThatMarkTheirEndAreFoundWhateverTheirSize) {
    const std::vector<uint8_t> video = {0, 0, 0x12, 0x34, 0x65, 0x88, 0x84, 0x00, 0x21, 0xFF};
    struct CCase {
        const char* pszName;
        CSampleShape::EKind eKind;
        std::vector<std::vector<uint8_t>> reference;
        std::vector<uint8_t> sample;
        std::vector<uint8_t> other; // of another kind: refused
    };
    const CCase cases[] = {
        {"timed text",
         CSampleShape::EKind::TimedText,
         {Text("Hello", false), Text("", false), Text("Second line", true)},
         Text("A longer line than any before, with its style", true),
         Gpmf(3)},
        {"GPMF",
         CSampleShape::EKind::Klv,
         {Gpmf(10), Gpmf(12), Gpmf(7)},
         Gpmf(100),
         Text("Hello", false)},
        {"boxed metadata",
         CSampleShape::EKind::Boxes,
         {Join({Box("\0\0\0\1", Bytes("12.5")), Box("\0\0\0\2", Bytes("north"))}),
          Box("\0\0\0\1", Bytes("13"))},
         Join({Box("\0\0\0\2", Bytes("south-west")), Box("\0\0\0\1", Bytes("14.25"))}),
         Box("\0\0\0\3", Bytes("other"))},
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        CSampleShape shape;
        shape.Learn(c.reference);
        ASSERT_EQ(shape.Kind(), c.eKind);
        const std::vector<uint8_t> data = Join({c.sample, video});
        size_t nSize = 0, nNeed = 0;
        EXPECT_EQ(shape.Parse(data.data(), data.size(), false, 1 << 16, &nSize, &nNeed),
                  ESampleParse::Ok);
        EXPECT_EQ(nSize, c.sample.size());
        // Cut short: more is asked for, or the data's end says it is cut.
        EXPECT_EQ(shape.Parse(data.data(), c.sample.size() - 1, false, 1 << 16, &nSize, &nNeed),
                  ESampleParse::NeedMore);
        EXPECT_GT(nNeed, c.sample.size() - 1);
        EXPECT_EQ(shape.Parse(data.data(), c.sample.size() - 1, true, 1 << 16, &nSize, &nNeed),
                  ESampleParse::Truncated);
        // Longer than samples may be, or not of the kind.
        EXPECT_NE(shape.Parse(data.data(), data.size(), false, c.sample.size() / 2, &nSize, &nNeed),
                  ESampleParse::Ok);
        EXPECT_EQ(shape.Parse(c.other.data(), c.other.size(), true, 1 << 16, &nSize, &nNeed),
                  ESampleParse::Invalid);
    }
    // Samples of no shape (sensor bytes as they are) are not taken for any.
    CSampleShape none;
    none.Learn({std::vector<uint8_t>(40, 0x7F), std::vector<uint8_t>(52, 0x80)});
    EXPECT_EQ(none.Kind(), CSampleShape::EKind::None);
}

// A picture NAL unit may be up to sixteen times the reference's largest sample, whatever that
// is and whatever the build's size_t.
TEST(RebuildWalkTrack, NalUnitsAsLargeAsTheReferenceAllows) {
    CReferenceTrack reference;
    reference.nHandler = FourCC("vide");
    reference.entry.eCodec = ECodec::H264;
    reference.entry.nLengthSize = 4;
    reference.entry.parameterSets = {testmedia::Sps(), testmedia::Pps()};
    reference.nTimescale = 15360;
    reference.nTypicalDuration = 512;
    reference.nSamples = 1;
    reference.nMaxSampleSize = 256u << 20;
    CReferenceChunk chunk;
    chunk.nSamples = 1;
    reference.chunks.push_back(chunk);
    CWalkTrack track(reference, 0);
    ASSERT_EQ(EWalkKind::Video, track.Kind());
    std::vector<uint8_t> nal = testmedia::Slice(true, 0, 0, 0);
    nal.insert(nal.end(), 5u << 20, 0x5A);
    std::vector<uint8_t> sample;
    testmedia::AppendSample(&sample, {nal});
    CTrackTry found;
    track.Try(sample.data(), sample.size(), true, true, &found);
    EXPECT_EQ(ESampleParse::Ok, found.eResult);
    EXPECT_EQ(sample.size(), found.nSize);
}

// What a walk through media finds of each track of the reference (in the reference's order).
std::vector<uint64_t> WalkFinds(const CReferenceMovie& movie, const std::vector<uint8_t>& media,
                                EWalkStop* pStop) {
    std::vector<CTrackLeftOut> leftOut;
    std::vector<std::unique_ptr<CWalkTrack>> tracks = MakeWalkTracks(movie, &leftOut);
    CInterleaveModel model;
    for (const std::unique_ptr<CWalkTrack>& pTrack : tracks)
        model.AddTrack(pTrack->SampleSeconds(), movie.tracks[pTrack->ReferenceIndex()].chunks,
                       true);
    model.Build();
    CMemoryByteSource source(media.data(), media.size());
    CMediaRange range;
    range.nEnd = media.size();
    CMediaWalk walk(source, range, tracks, model);
    *pStop = walk.Run();
    std::vector<uint64_t> found(movie.tracks.size(), 0);
    for (const std::unique_ptr<CWalkTrack>& pTrack : tracks)
        found[pTrack->ReferenceIndex()] = pTrack->Found();
    return found;
}

// Of each track, the samples wholly within the first nBytes.
std::vector<uint64_t> WholeBefore(const testmedia::CPlacedSamples& samples, size_t nBytes) {
    std::vector<uint64_t> whole;
    size_t nEnd = 0;
    for (const auto& sample : samples) {
        whole.resize(std::max(whole.size(), sample.first + 1), 0);
        nEnd += sample.second.size();
        whole[sample.first] += nEnd <= nBytes ? 1 : 0;
    }
    return whole;
}

CReferenceMovie ReadMovie(const std::vector<uint8_t>& file) {
    CMemoryByteSource source(file.data(), file.size());
    CReferenceMovie movie;
    CRebuildResult::EProblem eProblem = CRebuildResult::EProblem::None;
    EXPECT_TRUE(ReadReferenceMovie(source, &movie, &eProblem));
    return movie;
}

// A track of records (GoPro's) is known by its samples and leads the walk: each record's sample
// goes to the track the reference shows after records of its kind (the timecode's kind is no
// camera's number), checked by that track's syntax. Every sample before a cut comes back, the
// record whose sample the cut splits too; a picture overwritten by zeros goes with its record.
TEST(RebuildWalkTrack, RecordsLeadTheWalkToEachSample) {
    std::vector<uint8_t> media;
    const CReferenceMovie movie = ReadMovie(testmedia::RecordedMovie(12, &media));
    ASSERT_EQ(movie.tracks.size(), 4u);
    EXPECT_TRUE(movie.tracks[3].bRecords);
    std::map<int, size_t> kinds;
    for (const CRecordKind& kind : movie.tracks[3].recordKinds)
        kinds[kind.nKind] = kind.nTrack;
    EXPECT_EQ(kinds, (std::map<int, size_t>{{0, 0}, {3, 0}, {4, 1}, {9, 2}}));

    const testmedia::CPlacedSamples samples = testmedia::RecordedSamples(12);
    EWalkStop eStop = EWalkStop::End;
    for (size_t nCut : {media.size(), media.size() - 10, media.size() / 2, size_t(70)}) {
        SCOPED_TRACE(nCut);
        const std::vector<uint8_t> cut(media.begin(), media.begin() + std::ptrdiff_t(nCut));
        EXPECT_EQ(WalkFinds(movie, cut, &eStop), WholeBefore(samples, nCut));
        EXPECT_EQ(eStop, nCut == media.size() ? EWalkStop::End : EWalkStop::CutOff);
    }
    size_t nAt = 0;
    for (size_t i = 0; i < 22; ++i)
        nAt += samples[i].second.size();
    ASSERT_EQ(samples[22].first, 0u);
    std::vector<uint8_t> damaged = media;
    std::fill_n(damaged.begin() + std::ptrdiff_t(nAt), samples[22].second.size(), 0);
    std::vector<uint64_t> expected = WholeBefore(samples, media.size());
    --expected[0];
    --expected[3];
    EXPECT_EQ(WalkFinds(movie, damaged, &eStop), expected);
    EXPECT_EQ(eStop, EWalkStop::End);
}

// Samples of one size after a few others are predicted by their sizes, and samples that all
// begin alike are found by those bytes, each up to the picture after it: all come back, cut or
// whole.
TEST(RebuildWalkTrack, RepeatingAndMarkedSamplesAreFoundBesideThePictures) {
    testmedia::CPlacedSamples samples;
    for (uint32_t i = 0; i < 16; ++i) {
        std::vector<uint8_t> sample = Bytes("MARK:0123456");
        if (i % 2 == 0)
            sample.assign(i == 0 ? 40 : i == 2 ? 24 : 8, uint8_t(0x30 + i));
        else
            sample.insert(sample.end(), 5 + i * 3, uint8_t(0xA0 + i));
        samples.emplace_back(1 + i % 2, sample);
        std::vector<uint8_t> picture;
        testmedia::AppendSample(&picture, {i == 0 ? testmedia::Slice(true, 0, 0, 60)
                                                  : testmedia::Slice(false, i, 2 * i, 40)});
        samples.emplace_back(0, picture);
    }
    testmedia::CTrackSpec video, repeating, marked;
    repeating.eEntry = marked.eEntry = testmedia::EEntry::Other;
    repeating.strHandler = marked.strHandler = "meta";
    std::vector<uint8_t> media;
    const CReferenceMovie movie = ReadMovie(
        testmedia::PlacedMovie({video, repeating, marked}, {512, 1024, 1024}, samples, &media));
    ASSERT_EQ(movie.tracks.size(), 3u);
    EWalkStop eStop = EWalkStop::End;
    for (size_t nCut : {media.size(), media.size() * 2 / 3, media.size() / 3}) {
        SCOPED_TRACE(nCut);
        const std::vector<uint8_t> cut(media.begin(), media.begin() + std::ptrdiff_t(nCut));
        EXPECT_EQ(WalkFinds(movie, cut, &eStop), WholeBefore(samples, nCut));
    }
}

#if defined(_WIN32)
std::string ReadText(const std::string& strPath) {
    std::string text;
    if (FILE* pFile = std::fopen(strPath.c_str(), "rb")) {
        for (int c; (c = std::fgetc(pFile)) != EOF;)
            text += static_cast<char>(c);
        std::fclose(pFile);
    }
    return text;
}

bool WriteText(const std::string& strPath, const std::string& text) {
    return testmedia::WriteSparse(strPath, text.size(),
                                  {{0, std::vector<uint8_t>(text.begin(), text.end())}});
}

// The copy is created new: not over a file, and not kept open to others' renames; a copy
// given up goes through its own handle.
TEST(RebuildOutputFile, TheCopyIsMadeNewAndRemovedThroughItsHandle) {
    const std::string path = ::testing::TempDir() + "clipmend-made.mp4";
    const std::string other = ::testing::TempDir() + "clipmend-other.mp4";
    ASSERT_TRUE(WriteText(path, "there before"));
    COutputFile output;
    EXPECT_FALSE(output.Create(path.c_str()));
    EXPECT_EQ("there before", ReadText(path));
    ASSERT_TRUE(::DeleteFileA(path.c_str()));
    ASSERT_TRUE(output.Create(path.c_str()));
    const uint8_t bytes[] = {1, 2, 3};
    EXPECT_TRUE(output.Write(bytes, sizeof bytes));
    CFileIdentity made, named;
    EXPECT_TRUE(output.Identity(&made));
    EXPECT_TRUE(FileIdentityOf(path.c_str(), &named));
    EXPECT_EQ(made, named);
    ASSERT_TRUE(WriteText(other, "another file"));
    EXPECT_FALSE(::MoveFileExA(other.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
        << "the copy could be replaced while it was written";
    output.Remove();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(path.c_str()));
    EXPECT_EQ("another file", ReadText(other));
    ::DeleteFileA(other.c_str());
}
#endif

} // namespace
