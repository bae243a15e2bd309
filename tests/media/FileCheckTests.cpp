// The box reader through the two checks that say what a file is: the output check (a sound MP4
// file?) and the source check (what the chosen file is). In memory, and on disk past 4 GB.
#include "media/Mp4Check.h"
#include "media/SourceCheck.h"
#include "tests/media/TestBoxes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#if defined(_WIN32)
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace {

using namespace testmedia;
using Bytes = std::vector<uint8_t>;

// A file in memory that fails the test on any read outside it and counts what was read.
class CMemorySource : public CByteSource {
public:
    explicit CMemorySource(Bytes bytes) : m_bytes(std::move(bytes)) {}
    uint64_t Size() const override { return m_bytes.size(); }
    bool ReadAt(uint64_t offset, void* buffer, size_t count) override {
        ++m_nReads;
        if (offset > m_bytes.size() || count > m_bytes.size() - offset) {
            ADD_FAILURE() << "read of " << count << " bytes at " << offset << " past the end "
                          << m_bytes.size();
            return false;
        }
        std::memcpy(buffer, m_bytes.data() + static_cast<size_t>(offset), count);
        return true;
    }
    Bytes m_bytes;
    unsigned m_nReads = 0;
};

// Appends a box of nPayload zeros, a bare header, a 64-bit value.
void AddBox(Bytes& out, const char (&type)[5], size_t nPayload) {
    CBoxWriter box(out);
    Box(box, type, nPayload);
}
void AddHeader(Bytes& out, uint32_t nSizeField, const char* pszType) {
    CBoxWriter box(out);
    Header(box, nSizeField, pszType);
}
void AddU64(Bytes& out, uint64_t nValue) {
    CBoxWriter(out).U64(nValue);
}

// Many 8-byte "free" boxes.
void AddEmptyBoxes(Bytes& out, size_t nCount) {
    out.reserve(out.size() + 8 * nCount);
    for (size_t i = 0; i < nCount; ++i)
        AddBox(out, "free", 0);
}

Bytes ValidMovie() {
    Bytes file;
    AddBox(file, "ftyp", 16);
    AddBox(file, "moov", 100);
    AddBox(file, "mdat", 1000);
    return file;
}

CMp4Verdict Check(Bytes bytes) {
    CMemorySource source(std::move(bytes));
    return CheckMp4Boxes(source);
}

void ExpectValid(const CMp4Verdict& verdict) {
    EXPECT_TRUE(verdict.IsValid()) << static_cast<int>(verdict.eProblem);
}

void ExpectProblem(const CMp4Verdict& verdict, EMp4Problem eProblem) {
    EXPECT_EQ(static_cast<int>(eProblem), static_cast<int>(verdict.eProblem));
}

TEST(Mp4Check, AcceptsWellFormedLayouts) {
    ExpectValid(Check(ValidMovie()));

    // The movie box after the media, as a tool writes it when it cannot seek back.
    Bytes moovLast;
    AddBox(moovLast, "ftyp", 16);
    AddBox(moovLast, "free", 0);
    AddBox(moovLast, "mdat", 5000);
    AddBox(moovLast, "moov", 40);
    ExpectValid(Check(moovLast));

    // 64-bit largesize on the media box.
    Bytes large;
    AddBox(large, "ftyp", 16);
    AddBox(large, "moov", 20);
    AddHeader(large, 1, "mdat");
    AddU64(large, 16 + 300);
    large.insert(large.end(), 300, 0);
    ExpectValid(Check(large));

    // Size 0: the last box runs to the end of the file.
    Bytes toEnd;
    AddBox(toEnd, "ftyp", 16);
    AddBox(toEnd, "moov", 20);
    AddHeader(toEnd, 0, "mdat");
    toEnd.insert(toEnd.end(), 77, 0);
    ExpectValid(Check(toEnd));

    // A uuid box whose size covers its extended type.
    Bytes withUuid = ValidMovie();
    AddBox(withUuid, "uuid", 16);
    ExpectValid(Check(withUuid));
}

TEST(Mp4Check, EmptyAndTinyFiles) {
    ExpectProblem(Check({}), EMp4Problem::Empty);
    ExpectProblem(Check({0, 0, 0}), EMp4Problem::NotMp4);
    const std::string text = "hello world\n";
    ExpectProblem(Check(Bytes(text.begin(), text.end())), EMp4Problem::NotMp4);
    // A header with a type that is no box type.
    Bytes binary;
    AddHeader(binary, 8, "\x01\x02\x03\x04");
    ExpectProblem(Check(binary), EMp4Problem::NotMp4);
}

TEST(Mp4Check, TruncatedFiles) {
    const Bytes full = ValidMovie();
    // Cut anywhere after the file type box: a box or a box header runs past the end.
    const size_t nAfterMoov = 24 + 108; // ftyp and moov alone make a whole (empty) movie
    for (size_t nCut = 25; nCut < full.size(); ++nCut) {
        if (nCut == nAfterMoov)
            continue;
        SCOPED_TRACE(nCut);
        ExpectProblem(Check(Bytes(full.begin(), full.begin() + nCut)), EMp4Problem::CutShort);
    }
    // Cut inside the file type box: nothing holds together from the start.
    ExpectProblem(Check(Bytes(full.begin(), full.begin() + 20)), EMp4Problem::NotMp4);

    // A largesize header cut after its first 8 bytes.
    Bytes largeCut;
    AddBox(largeCut, "ftyp", 16);
    AddBox(largeCut, "moov", 20);
    AddHeader(largeCut, 1, "mdat");
    largeCut.push_back(0);
    ExpectProblem(Check(largeCut), EMp4Problem::CutShort);
}

TEST(Mp4Check, SizesThatDoNotFit) {
    Bytes overrun;
    AddBox(overrun, "ftyp", 16);
    AddBox(overrun, "moov", 20);
    AddHeader(overrun, 0xFFFFFFFF, "mdat");
    ExpectProblem(Check(overrun), EMp4Problem::CutShort);

    // largesize values that would wrap a 64-bit offset.
    for (uint64_t nLarge : {~0ULL, ~0ULL - 7, 1ULL << 63}) {
        Bytes file;
        AddBox(file, "ftyp", 16);
        AddBox(file, "moov", 20);
        AddHeader(file, 1, "mdat");
        AddU64(file, nLarge);
        ExpectProblem(Check(file), EMp4Problem::CutShort);
    }

    for (uint32_t nSize : {2u, 7u}) {
        Bytes file = ValidMovie();
        AddHeader(file, nSize, "free");
        ExpectProblem(Check(file), EMp4Problem::BadSize);
    }
    // A largesize smaller than its own header.
    for (uint64_t nLarge : {0ULL, 8ULL, 15ULL}) {
        Bytes file = ValidMovie();
        AddHeader(file, 1, "free");
        AddU64(file, nLarge);
        file.insert(file.end(), 16, 0);
        ExpectProblem(Check(file), EMp4Problem::BadSize);
    }
    // A uuid box too small for its extended type, also with size 0.
    Bytes uuid = ValidMovie();
    AddBox(uuid, "uuid", 8);
    ExpectProblem(Check(uuid), EMp4Problem::BadSize);
    Bytes uuidToEnd = ValidMovie();
    AddHeader(uuidToEnd, 0, "uuid");
    ExpectProblem(Check(uuidToEnd), EMp4Problem::BadSize);

    // A size one too large: the walk lands inside the next box and finds no header there.
    Bytes misaligned;
    AddBox(misaligned, "ftyp", 16);
    AddHeader(misaligned, 8 + 20 + 1, "moov");
    misaligned.insert(misaligned.end(), 20, 0);
    AddBox(misaligned, "mdat", 100);
    ExpectProblem(Check(misaligned), EMp4Problem::BadHeader);
}

TEST(Mp4Check, MissingBoxes) {
    Bytes onlyMdat;
    AddBox(onlyMdat, "mdat", 4096);
    ExpectProblem(Check(onlyMdat), EMp4Problem::NoMoov);

    Bytes noMoov;
    AddBox(noMoov, "ftyp", 16);
    AddBox(noMoov, "mdat", 100);
    ExpectProblem(Check(noMoov), EMp4Problem::NoMoov);

    Bytes emptyMoov;
    AddBox(emptyMoov, "ftyp", 16);
    AddBox(emptyMoov, "moov", 0);
    AddBox(emptyMoov, "mdat", 100);
    ExpectProblem(Check(emptyMoov), EMp4Problem::EmptyMoov);

    Bytes noFtyp;
    AddBox(noFtyp, "moov", 20);
    AddBox(noFtyp, "mdat", 100);
    ExpectProblem(Check(noFtyp), EMp4Problem::NoFtyp);
}

TEST(Mp4Check, WorkIsBounded) {
    // A million empty boxes: rejected after the limit, without reading them all.
    Bytes many;
    AddBox(many, "ftyp", 16);
    AddBox(many, "moov", 20);
    AddEmptyBoxes(many, 1000000);
    CMemorySource source(std::move(many));
    ExpectProblem(CheckMp4Boxes(source), EMp4Problem::TooManyBoxes);
    EXPECT_LE(source.m_nReads, kMaxMp4TopLevelBoxes + 8); // and a few in the movie box

    // Exactly at the limit is still fine.
    Bytes atLimit;
    AddBox(atLimit, "ftyp", 16);
    AddBox(atLimit, "moov", 20);
    AddEmptyBoxes(atLimit, kMaxMp4TopLevelBoxes - 2);
    ExpectValid(Check(std::move(atLimit)));
}

// Files on disk, through the stdio source, in the system's temporary folder.
class Mp4CheckFile : public ::testing::Test {
protected:
    void TearDown() override {
        for (const std::string& strFile : m_files)
            std::remove(strFile.c_str());
    }
    std::string Path(const char* pszName) {
        m_files.push_back(::testing::TempDir() + "clipmend-" + std::to_string(getpid()) + "-" +
                          pszName);
        return m_files.back();
    }

    std::vector<std::string> m_files;
};

TEST_F(Mp4CheckFile, MissingEmptyAndValidFiles) {
    ExpectProblem(CheckMp4File(Path("absent.mp4").c_str()), EMp4Problem::Missing);

    const std::string strEmpty = Path("empty.mp4");
    ASSERT_TRUE(WriteSparse(strEmpty, 0, {}));
    ExpectProblem(CheckMp4File(strEmpty.c_str()), EMp4Problem::Empty);

    const std::string strValid = Path("valid.mp4");
    const Bytes movie = ValidMovie();
    ASSERT_TRUE(WriteSparse(strValid, movie.size(), {{0, movie}}));
    ExpectValid(CheckMp4File(strValid.c_str()));

    const std::string strCut = Path("cut.mp4");
    ASSERT_TRUE(WriteSparse(strCut, movie.size() - 1, {{0, {movie.begin(), movie.end() - 1}}}));
    ExpectProblem(CheckMp4File(strCut.c_str()), EMp4Problem::CutShort);
}

// Counts the bytes read through the real file source.
class CCountingSource : public CByteSource {
public:
    explicit CCountingSource(CByteSource& inner) : m_inner(inner) {}
    uint64_t Size() const override { return m_inner.Size(); }
    bool ReadAt(uint64_t offset, void* buffer, size_t count) override {
        m_nBytes += count;
        return m_inner.ReadAt(offset, buffer, count);
    }
    CByteSource& m_inner;
    uint64_t m_nBytes = 0;
};

// Sparse files of gigabytes: the 32-bit program needs 64-bit file positions as much as the
// 64-bit one.
TEST_F(Mp4CheckFile, LargeSparseFilesAreCheckedFromTheirHeaders) {
    const uint64_t nMdat = 2ULL << 30; // 2 GiB of media, never written
    Bytes head;
    AddBox(head, "ftyp", 16);
    AddHeader(head, static_cast<uint32_t>(nMdat), "mdat");
    Bytes moov;
    AddBox(moov, "moov", 200);
    const uint64_t nMoovAt = head.size() - 8 + nMdat;
    const uint64_t nLength = nMoovAt + moov.size();

    const std::string strPath = Path("large.mp4");
    ASSERT_TRUE(WriteSparse(strPath, nLength, {{0, head}, {nMoovAt, moov}}));

    ExpectValid(CheckMp4File(strPath.c_str()));

    // Headers only: a handful of small reads, whatever the media's size.
    CStdioByteSource file;
    ASSERT_TRUE(file.Open(strPath.c_str()));
    EXPECT_EQ(nLength, file.Size());
    CCountingSource counting(file);
    ExpectValid(CheckMp4Boxes(counting));
    EXPECT_LE(counting.m_nBytes, 64u);
    file.Close();

    // Beyond 4 GiB with largesize, one more box after it, and cut one byte short.
    const uint64_t nHuge = 5ULL << 30;
    Bytes hugeHead;
    AddBox(hugeHead, "ftyp", 16);
    AddBox(hugeHead, "moov", 200);
    AddHeader(hugeHead, 1, "mdat");
    AddU64(hugeHead, nHuge);
    Bytes tail;
    AddBox(tail, "free", 32);
    const uint64_t nTailAt = hugeHead.size() - 16 + nHuge;
    const std::string strHuge = Path("huge.mp4");
    ASSERT_TRUE(WriteSparse(strHuge, nTailAt + tail.size(), {{0, hugeHead}, {nTailAt, tail}}));
    ExpectValid(CheckMp4File(strHuge.c_str()));
    EXPECT_EQ(ESourceKind::Mp4, CheckSourceFile(strHuge.c_str()).eKind);
    ASSERT_TRUE(WriteSparse(strHuge, nTailAt + tail.size() - 1,
                            {{0, hugeHead}, {nTailAt, Bytes(tail.begin(), tail.end() - 1)}}));
    ExpectProblem(CheckMp4File(strHuge.c_str()), EMp4Problem::CutShort);
    EXPECT_EQ(ESourceKind::Mp4CutShort, CheckSourceFile(strHuge.c_str()).eKind);
}

TEST_F(Mp4CheckFile, ManyTinyBoxesOnDisk) {
    // The block cache keeps this to a few hundred reads from the file.
    Bytes file;
    AddBox(file, "ftyp", 16);
    AddBox(file, "moov", 20);
    AddEmptyBoxes(file, 2000000);
    const std::string strPath = Path("tiny-boxes.mp4");
    ASSERT_TRUE(WriteSparse(strPath, file.size(), {{0, file}}));
    ExpectProblem(CheckMp4File(strPath.c_str()), EMp4Problem::TooManyBoxes);
}

TEST_F(Mp4CheckFile, ReadsOutsideTheFileFail) {
    CStdioByteSource unopened;
    unsigned char buffer[8];
    EXPECT_FALSE(unopened.ReadAt(0, buffer, 1));

    const std::string strPath = Path("digits.bin");
    const std::string digits = "0123456789";
    ASSERT_TRUE(WriteSparse(strPath, 10, {{0, Bytes(digits.begin(), digits.end())}}));
    CStdioByteSource source;
    ASSERT_TRUE(source.Open(strPath.c_str()));
    EXPECT_EQ(10u, source.Size());
    EXPECT_TRUE(source.ReadAt(6, buffer, 4));
    EXPECT_EQ(0, std::memcmp(buffer, "6789", 4));
    EXPECT_TRUE(source.ReadAt(2, buffer, 3)); // before the cached block
    EXPECT_EQ(0, std::memcmp(buffer, "234", 3));
    EXPECT_FALSE(source.ReadAt(7, buffer, 4));
    EXPECT_FALSE(source.ReadAt(~0ULL, buffer, 2));
    EXPECT_TRUE(source.ReadAt(10, buffer, 0));
}

// The source check: what the chosen file is.

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes Join(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Container(const char (&type)[5], const std::vector<Bytes>& children) {
    Bytes out;
    CBoxWriter box(out);
    const size_t nBox = box.Open(type);
    box.Bytes(Join(children));
    box.Close(nBox);
    return out;
}

// A track of nSamples samples of nDelta each (nRuns times over), at nTimescale.
Bytes Track(const char* pszHandler, uint32_t nTimescale, uint32_t nSamples, uint32_t nDelta,
            size_t nRuns = 1) {
    Bytes out;
    CBoxWriter box(out);
    const size_t nTrak = box.Open("trak");
    const size_t nMdia = box.Open("mdia");
    size_t nBox = box.OpenFull("mdhd", 0, 0);
    box.Zeros(8);
    box.U32(nTimescale);
    box.Zeros(8);
    box.Close(nBox);
    nBox = box.OpenFull("hdlr", 0, 0);
    box.U32(0);
    box.Bytes(pszHandler, 4);
    box.Zeros(12);
    box.Close(nBox);
    const size_t nMinf = box.Open("minf");
    const size_t nStbl = box.Open("stbl");
    Stts(box, std::vector<std::pair<uint32_t, uint32_t>>(nRuns, {nSamples, nDelta}));
    for (size_t nOpen : {nStbl, nMinf, nMdia, nTrak})
        box.Close(nOpen);
    return out;
}

// A movie box stating nSeconds at timescale 1000, with the tracks given.
Bytes Moov(uint32_t nSeconds, const std::vector<Bytes>& tracks, bool bFragmented = false) {
    Bytes mvhd;
    CBoxWriter box(mvhd);
    Mvhd(box, 1000, nSeconds * 1000);
    Bytes children = Join({mvhd, Join(tracks)});
    if (bFragmented)
        children = Join({children, Container("mvex", {})});
    return Container("moov", {children});
}

Bytes Ftyp() {
    Bytes box;
    AddBox(box, "ftyp", 16);
    return box;
}

CSourceInfo Source(Bytes bytes) {
    CMemorySource source(std::move(bytes));
    return CheckSource(source);
}

TEST(SourceCheck, TellsKindsThatAreNoMp4) {
    EXPECT_EQ(ESourceKind::Empty, Source({}).eKind);
    EXPECT_EQ(ESourceKind::Zeros, Source(Bytes(100000, 0)).eKind);
    EXPECT_EQ(ESourceKind::Matroska,
              Source(Text("\x1A\x45\xDF\xA3\x9F\x42\x86\x81\x01\x42\x82\x88matroska")).eKind);
    EXPECT_EQ(ESourceKind::WebM, Source(Text("\x1A\x45\xDF\xA3\x9F\x42\x82\x84webm")).eKind);
    EXPECT_EQ(ESourceKind::Avi, Source(Text(std::string("RIFF\x10\0\0\0AVI LIST", 16))).eKind);
    EXPECT_EQ(ESourceKind::AppleDouble,
              Source(Text(std::string("\0\5\x16\7\0\2\0\0Mac OS X", 16))).eKind);
    for (const size_t nStride : {size_t(188), size_t(192)}) {
        // 20 packets, each with its sync byte 188 bytes before its end.
        const std::string packet =
            std::string(nStride - 188, '\xFF') + '\x47' + std::string(187, '\xFF');
        std::string stream;
        for (int n = 0; n < 20; ++n)
            stream += packet;
        const Bytes ts = Text(stream);
        EXPECT_EQ(ESourceKind::MpegTs, Source(ts).eKind) << nStride;
    }
    // A text's first word reads as a huge box that runs past the end: still no MP4.
    EXPECT_EQ(ESourceKind::Unknown, Source(Text("This is not a video, just text.\n")).eKind);
    // Zeros only at the start are not a file of zeros.
    Bytes late(100000, 0);
    late.back() = 1;
    EXPECT_EQ(ESourceKind::Unknown, Source(late).eKind);
}

TEST(SourceCheck, AWholeMovieIsRunAndSaysItsLengthAndTracks) {
    const auto movie =
        Join({Ftyp(), Moov(20, {Track("vide", 15360, 600, 512), Track("soun", 48000, 938, 1024)}),
              Text(std::string("\0\0\0\x10mdat12345678", 16))});
    CSourceInfo info = Source(movie);
    EXPECT_EQ(ESourceKind::Mp4, info.eKind);
    EXPECT_TRUE(IsRunnable(info.eKind));
    ASSERT_EQ(2u, info.movie.tracks.size());
    EXPECT_DOUBLE_EQ(20.0, info.movie.StatedSeconds());
    EXPECT_EQ(FourCC("soun"), info.movie.tracks[1].nHandler);
    EXPECT_EQ(938u, info.movie.tracks[1].nSamples);
    EXPECT_NEAR(20.01, info.movie.SampleSeconds(), 0.005);

    // A sample table whose sums do not fit stops at the top rather than wrapping to a short,
    // plausible length.
    info = Source(Join({Ftyp(), Moov(20, {Track("vide", 1, UINT32_MAX, UINT32_MAX, 3)})}));
    ASSERT_EQ(1u, info.movie.tracks.size());
    EXPECT_EQ(UINT32_MAX, info.movie.tracks[0].nSamples);
    EXPECT_DOUBLE_EQ(static_cast<double>(UINT64_MAX), info.movie.SampleSeconds());

    // Whatever a whole movie box holds (here: nothing), the tool decides.
    Bytes bare = Ftyp();
    AddBox(bare, "moov", 0);
    EXPECT_EQ(ESourceKind::Mp4, Source(bare).eKind);

    // Media data or fragments that run past the end: cut short after a whole movie box.
    auto cut = Join({Ftyp(), Moov(20, {Track("vide", 15360, 600, 512)})});
    AddHeader(cut, 5000, "mdat");
    cut.resize(cut.size() + 100);
    EXPECT_EQ(ESourceKind::Mp4CutShort, Source(cut).eKind);
    auto fragments = Join({Ftyp(), Moov(0, {Track("vide", 15360, 0, 0)}, true)});
    for (int i = 0; i < 3; ++i) {
        AddBox(fragments, "moof", 40);
        AddBox(fragments, "mdat", 400);
    }
    EXPECT_EQ(ESourceKind::Mp4, Source(fragments).eKind);
    fragments.resize(fragments.size() - 10);
    info = Source(fragments);
    EXPECT_EQ(ESourceKind::Mp4CutShort, info.eKind);
    EXPECT_TRUE(info.movie.bFragmented);
}

// Recordings cut off before their index, with each header a writer leaves behind; where their
// media data lies is found for a rebuild.
TEST(SourceCheck, NoIndexWithEveryMediaHeader) {
    const Bytes media(5000, 0x42);
    Bytes sizeZero;
    AddBox(sizeZero, "free", 0);
    AddHeader(sizeZero, 0, "mdat");
    Bytes pastEnd;
    AddHeader(pastEnd, 900000, "mdat");
    Bytes largePastEnd;
    AddHeader(largePastEnd, 1, "mdat");
    AddU64(largePastEnd, 1ULL << 40);
    const Bytes garbage = Text("????mdat");
    const Bytes android = Text(std::string("\0\0\0\1mdat????????", 16));
    Bytes reserved(65536, 0); // -moov_size: room no box header claims
    AddHeader(reserved, 0, "mdat");
    for (const auto& header : {sizeZero, pastEnd, largePastEnd, garbage, android, reserved}) {
        const Bytes file = Join({Ftyp(), header, media});
        const CSourceInfo info = Source(file);
        EXPECT_EQ(ESourceKind::NoIndex, info.eKind);
        EXPECT_FALSE(IsRunnable(info.eKind));
        EXPECT_GE(info.nMediaBytes, media.size());
        EXPECT_LE(info.nMediaBytes, media.size() + header.size());
        EXPECT_TRUE(info.bMediaData);
        EXPECT_EQ(file.size() - media.size(), info.mediaData.nBegin);
        EXPECT_EQ(file.size(), info.mediaData.nEnd);
    }

    // Cut inside the movie box: no media a player could find.
    auto inMoov = Join({Ftyp(), Moov(20, {Track("vide", 15360, 600, 512)})});
    inMoov.resize(inMoov.size() - 20);
    const CSourceInfo info = Source(inMoov);
    EXPECT_EQ(ESourceKind::NoIndex, info.eKind);
    EXPECT_EQ(0u, info.nMediaBytes);
    EXPECT_FALSE(info.bMediaData);
}

// On disk, sparse: a fragmented movie whose media data reaches past 5 GiB with a 64-bit size.
TEST_F(Mp4CheckFile, SourceBoxesPastFourGigabytes) {
    const auto head = Join({Ftyp(), Moov(3600, {Track("vide", 1000, 3600, 1000)}, true)});
    const uint64_t nMdat = (5ULL << 30) - head.size();
    Bytes mdat;
    AddHeader(mdat, 1, "mdat");
    AddU64(mdat, nMdat);
    Bytes moof;
    AddBox(moof, "moof", 100);
    const uint64_t nMoofAt = head.size() + nMdat;
    const std::string strPath = Path("fragmented-5g.mp4");
    ASSERT_TRUE(WriteSparse(strPath, nMoofAt + moof.size(),
                            {{0, head}, {head.size(), mdat}, {nMoofAt, moof}}));
    EXPECT_EQ(ESourceKind::Mp4, CheckSourceFile(strPath.c_str()).eKind);
    // The box after 5 GiB runs past the end.
    moof.pop_back();
    ASSERT_TRUE(WriteSparse(strPath, nMoofAt + moof.size(),
                            {{0, head}, {head.size(), mdat}, {nMoofAt, moof}}));
    EXPECT_EQ(ESourceKind::Mp4CutShort, CheckSourceFile(strPath.c_str()).eKind);
}

TEST(SourceCheck, AHugeFragmentedFileIsWalkedOnlyToABound) {
    auto file = Join({Ftyp(), Moov(0, {}, true)});
    AddEmptyBoxes(file, 3 * kMaxSourceBoxes);
    CMemorySource source(std::move(file));
    const CSourceInfo info = CheckSource(source);
    EXPECT_EQ(ESourceKind::Mp4, info.eKind);
    EXPECT_TRUE(info.bWalkBounded);
    EXPECT_LE(source.m_nReads, kMaxSourceBoxes + 50);
}

// The movie box is read on the window's thread: however many tracks it claims, and however
// many boxes they hold, reading it is bounded, and so is what it keeps.
TEST(SourceCheck, AMovieOfCountlessTracksIsReadOnlyToABound) {
    // Two million empty tracks (16 MB) after two real ones.
    Bytes empties;
    for (size_t i = 0; i < 2000000; ++i)
        AddHeader(empties, 8, "trak");
    Bytes movie = Join({Ftyp(), Moov(20, {Track("vide", 15360, 600, 512),
                                          Track("soun", 48000, 938, 1024), empties})});
    CMemorySource many(std::move(movie));
    const CSourceInfo info = CheckSource(many);
    EXPECT_EQ(ESourceKind::Mp4, info.eKind);
    EXPECT_LE(info.movie.tracks.size(), 1024u);
    EXPECT_LE(many.m_nReads, 150000u);
    EXPECT_NEAR(20.01, info.movie.SampleSeconds(), 0.005);
    CMemorySource again(many.m_bytes);
    EXPECT_TRUE(CheckMp4Boxes(again).IsValid());
    EXPECT_LE(again.m_nReads, 150000u);

    // Tracks whose media hides behind half a million other boxes each.
    Bytes hidden;
    AddEmptyBoxes(hidden, 500000);
    std::vector<Bytes> tracks;
    for (int i = 0; i < 4; ++i)
        tracks.push_back(Container("trak", {hidden, Container("mdia", {})}));
    CMemorySource deep(Join({Ftyp(), Moov(20, tracks)}));
    EXPECT_EQ(ESourceKind::Mp4, CheckSource(deep).eKind);
    EXPECT_LE(deep.m_nReads, 150000u);
}

} // namespace
