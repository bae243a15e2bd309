#include "job/Mp4Check.h"
#include "job/SourceCheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// A file in memory that fails the test on any read outside it and counts what was read.
class CMemorySource : public CByteSource {
public:
    explicit CMemorySource(std::vector<unsigned char> bytes) : m_bytes(std::move(bytes)) {}
    uint64_t Size() const override { return m_bytes.size(); }
    bool ReadAt(uint64_t offset, void* buffer, size_t count) override {
        ++m_nReads;
        if (offset > m_bytes.size() || count > m_bytes.size() - offset) {
            ADD_FAILURE() << "read of " << count << " bytes at " << offset << " past the end "
                          << m_bytes.size();
            return false;
        }
        std::memcpy(buffer, m_bytes.data() + offset, count);
        return true;
    }
    std::vector<unsigned char> m_bytes;
    unsigned m_nReads = 0;
};

void PutBE(std::vector<unsigned char>& out, uint64_t value, int nBytes) {
    for (int i = nBytes - 1; i >= 0; --i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// A box with a 32-bit size (or the given raw size field) and nPayload bytes of body.
void AddBox(std::vector<unsigned char>& out, const char* pszType, size_t nPayload) {
    PutBE(out, 8 + nPayload, 4);
    out.insert(out.end(), pszType, pszType + 4);
    out.insert(out.end(), nPayload, 0xAB);
}

// Many 8-byte "free" boxes, quickly.
void AddEmptyBoxes(std::vector<unsigned char>& out, size_t nCount) {
    static const unsigned char kBox[8] = {0, 0, 0, 8, 'f', 'r', 'e', 'e'};
    const size_t nStart = out.size();
    out.resize(nStart + 8 * nCount);
    for (size_t i = 0; i < nCount; ++i)
        std::memcpy(out.data() + nStart + 8 * i, kBox, 8);
}

void AddRawHeader(std::vector<unsigned char>& out, uint32_t nSizeField, const char* pszType) {
    PutBE(out, nSizeField, 4);
    out.insert(out.end(), pszType, pszType + 4);
}

std::vector<unsigned char> ValidMovie() {
    std::vector<unsigned char> file;
    AddBox(file, "ftyp", 16);
    AddBox(file, "moov", 100);
    AddBox(file, "mdat", 1000);
    return file;
}

CMp4Verdict Check(std::vector<unsigned char> bytes) {
    CMemorySource source(std::move(bytes));
    return CheckMp4Boxes(source);
}

void ExpectValid(const CMp4Verdict& verdict) {
    EXPECT_TRUE(verdict.bValid) << verdict.strProblem;
    EXPECT_TRUE(verdict.strProblem.IsEmpty());
}

void ExpectProblem(const CMp4Verdict& verdict, const char* pszProblem) {
    EXPECT_FALSE(verdict.bValid);
    EXPECT_STREQ(pszProblem, verdict.strProblem);
}

const char kCutShort[] = "The new file is cut short: a box runs past its end.";
const char kNotMp4[] = "The new file is not an MP4 file.";

TEST(Mp4Check, AcceptsWellFormedLayouts) {
    ExpectValid(Check(ValidMovie()));

    // The movie box after the media, as a tool writes it when it cannot seek back.
    std::vector<unsigned char> moovLast;
    AddBox(moovLast, "ftyp", 16);
    AddBox(moovLast, "free", 0);
    AddBox(moovLast, "mdat", 5000);
    AddBox(moovLast, "moov", 40);
    ExpectValid(Check(moovLast));

    // 64-bit largesize on the media box.
    std::vector<unsigned char> large;
    AddBox(large, "ftyp", 16);
    AddBox(large, "moov", 20);
    AddRawHeader(large, 1, "mdat");
    PutBE(large, 16 + 300, 8);
    large.insert(large.end(), 300, 0);
    ExpectValid(Check(large));

    // Size 0: the last box runs to the end of the file.
    std::vector<unsigned char> toEnd;
    AddBox(toEnd, "ftyp", 16);
    AddBox(toEnd, "moov", 20);
    AddRawHeader(toEnd, 0, "mdat");
    toEnd.insert(toEnd.end(), 77, 0);
    ExpectValid(Check(toEnd));

    // A uuid box whose size covers its extended type.
    std::vector<unsigned char> withUuid = ValidMovie();
    AddBox(withUuid, "uuid", 16);
    ExpectValid(Check(withUuid));
}

TEST(Mp4Check, EmptyAndTinyFiles) {
    ExpectProblem(Check({}), "The new file is empty.");
    ExpectProblem(Check({0, 0, 0}), kNotMp4);
    ExpectProblem(Check(std::vector<unsigned char>{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l',
                                                   'd', '\n'}),
                  kNotMp4);
    // A header with a type that is no box type.
    std::vector<unsigned char> binary;
    AddRawHeader(binary, 8, "\x01\x02\x03\x04");
    ExpectProblem(Check(binary), kNotMp4);
}

TEST(Mp4Check, TruncatedFiles) {
    const std::vector<unsigned char> full = ValidMovie();
    // Cut anywhere after the file type box: a box or a box header runs past the end.
    const size_t nAfterMoov = 24 + 108; // ftyp and moov alone make a whole (empty) movie
    for (size_t nCut = 25; nCut < full.size(); ++nCut) {
        if (nCut == nAfterMoov)
            continue;
        SCOPED_TRACE(nCut);
        ExpectProblem(Check(std::vector<unsigned char>(full.begin(), full.begin() + nCut)),
                      kCutShort);
    }
    // Cut inside the file type box: nothing holds together from the start.
    ExpectProblem(Check(std::vector<unsigned char>(full.begin(), full.begin() + 20)), kNotMp4);

    // A largesize header cut after its first 8 bytes.
    std::vector<unsigned char> largeCut;
    AddBox(largeCut, "ftyp", 16);
    AddBox(largeCut, "moov", 20);
    AddRawHeader(largeCut, 1, "mdat");
    largeCut.push_back(0);
    ExpectProblem(Check(largeCut), kCutShort);
}

TEST(Mp4Check, SizesThatDoNotFit) {
    std::vector<unsigned char> overrun;
    AddBox(overrun, "ftyp", 16);
    AddBox(overrun, "moov", 20);
    AddRawHeader(overrun, 0xFFFFFFFF, "mdat");
    ExpectProblem(Check(overrun), kCutShort);

    // largesize values that would wrap a 64-bit offset.
    for (uint64_t nLarge : {~0ULL, ~0ULL - 7, 1ULL << 63}) {
        std::vector<unsigned char> file;
        AddBox(file, "ftyp", 16);
        AddBox(file, "moov", 20);
        AddRawHeader(file, 1, "mdat");
        PutBE(file, nLarge, 8);
        ExpectProblem(Check(file), kCutShort);
    }

    const char kBadSize[] = "The new file is damaged: a box has an impossible size.";
    for (uint32_t nSize : {2u, 7u}) {
        std::vector<unsigned char> file = ValidMovie();
        AddRawHeader(file, nSize, "free");
        ExpectProblem(Check(file), kBadSize);
    }
    // A largesize smaller than its own header.
    for (uint64_t nLarge : {0ULL, 8ULL, 15ULL}) {
        std::vector<unsigned char> file = ValidMovie();
        AddRawHeader(file, 1, "free");
        PutBE(file, nLarge, 8);
        file.insert(file.end(), 16, 0);
        ExpectProblem(Check(file), kBadSize);
    }
    // A uuid box too small for its extended type, also with size 0.
    std::vector<unsigned char> uuid = ValidMovie();
    AddBox(uuid, "uuid", 8);
    ExpectProblem(Check(uuid), kBadSize);
    std::vector<unsigned char> uuidToEnd = ValidMovie();
    AddRawHeader(uuidToEnd, 0, "uuid");
    ExpectProblem(Check(uuidToEnd), kBadSize);

    // A size one too large: the walk lands inside the next box and finds no header there.
    std::vector<unsigned char> misaligned;
    AddBox(misaligned, "ftyp", 16);
    AddRawHeader(misaligned, 8 + 20 + 1, "moov");
    misaligned.insert(misaligned.end(), 20, 0);
    AddBox(misaligned, "mdat", 100);
    ExpectProblem(Check(misaligned), "The new file is damaged: a box header is not valid.");
}

TEST(Mp4Check, MissingBoxes) {
    std::vector<unsigned char> onlyMdat;
    AddBox(onlyMdat, "mdat", 4096);
    ExpectProblem(Check(onlyMdat), "The new file has no movie header (moov).");

    std::vector<unsigned char> noMoov;
    AddBox(noMoov, "ftyp", 16);
    AddBox(noMoov, "mdat", 100);
    ExpectProblem(Check(noMoov), "The new file has no movie header (moov).");

    std::vector<unsigned char> emptyMoov;
    AddBox(emptyMoov, "ftyp", 16);
    AddBox(emptyMoov, "moov", 0);
    AddBox(emptyMoov, "mdat", 100);
    ExpectProblem(Check(emptyMoov), "The new file has an empty movie header (moov).");

    std::vector<unsigned char> noFtyp;
    AddBox(noFtyp, "moov", 20);
    AddBox(noFtyp, "mdat", 100);
    ExpectProblem(Check(noFtyp),
                  "The new file is not an MP4 file: it has no file type box (ftyp).");
}

TEST(Mp4Check, WorkIsBounded) {
    // A million empty boxes: rejected after the limit, without reading them all.
    std::vector<unsigned char> many;
    AddBox(many, "ftyp", 16);
    AddBox(many, "moov", 20);
    AddEmptyBoxes(many, 1000000);
    CMemorySource source(std::move(many));
    ExpectProblem(CheckMp4Boxes(source), "The new file has too many boxes to check.");
    EXPECT_LE(source.m_nReads, kMaxMp4TopLevelBoxes + 8); // and a few in the movie box

    // Exactly at the limit is still fine.
    std::vector<unsigned char> atLimit;
    AddBox(atLimit, "ftyp", 16);
    AddBox(atLimit, "moov", 20);
    AddEmptyBoxes(atLimit, kMaxMp4TopLevelBoxes - 2);
    ExpectValid(Check(std::move(atLimit)));
}

// Files on disk, through the stdio source.
class Mp4CheckFile : public ::testing::Test {
protected:
    void SetUp() override {
        const char* pszTmp = std::getenv("TMPDIR");
        std::string strTemplate =
            std::string(pszTmp && *pszTmp ? pszTmp : "/tmp") + "/mp4check.XXXXXX";
        std::vector<char> name(strTemplate.begin(), strTemplate.end());
        name.push_back('\0');
        ASSERT_NE(nullptr, mkdtemp(name.data()));
        m_strDir = name.data();
    }
    void TearDown() override {
        for (const std::string& strFile : m_files)
            unlink(strFile.c_str());
        rmdir(m_strDir.c_str());
    }
    std::string Path(const char* pszName) {
        m_files.push_back(m_strDir + "/" + pszName);
        return m_files.back();
    }
    // Writes each (offset, bytes) piece and sets the file's length; the gaps stay sparse.
    void WriteSparse(const std::string& strPath, uint64_t nLength,
                     const std::vector<std::pair<uint64_t, std::vector<unsigned char>>>& pieces) {
        const int fd = open(strPath.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(0, ftruncate(fd, static_cast<off_t>(nLength)));
        for (const auto& piece : pieces) {
            ASSERT_EQ(static_cast<ssize_t>(piece.second.size()),
                      pwrite(fd, piece.second.data(), piece.second.size(),
                             static_cast<off_t>(piece.first)));
        }
        close(fd);
    }

    std::string m_strDir;
    std::vector<std::string> m_files;
};

TEST_F(Mp4CheckFile, MissingEmptyAndValidFiles) {
    ExpectProblem(CheckMp4File(Path("absent.mp4").c_str()), "The new file does not exist.");

    const std::string strEmpty = Path("empty.mp4");
    WriteSparse(strEmpty, 0, {});
    ExpectProblem(CheckMp4File(strEmpty.c_str()), "The new file is empty.");

    const std::string strValid = Path("valid.mp4");
    const std::vector<unsigned char> movie = ValidMovie();
    WriteSparse(strValid, movie.size(), {{0, movie}});
    ExpectValid(CheckMp4File(strValid.c_str()));

    const std::string strCut = Path("cut.mp4");
    WriteSparse(strCut, movie.size() - 1, {{0, {movie.begin(), movie.end() - 1}}});
    ExpectProblem(CheckMp4File(strCut.c_str()), kCutShort);
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

TEST_F(Mp4CheckFile, LargeSparseFilesAreCheckedFromTheirHeaders) {
    const uint64_t nMdat = 2ULL << 30; // 2 GiB of media, never written
    std::vector<unsigned char> head;
    AddBox(head, "ftyp", 16);
    AddRawHeader(head, static_cast<uint32_t>(nMdat), "mdat");
    std::vector<unsigned char> moov;
    AddBox(moov, "moov", 200);
    const uint64_t nMoovAt = head.size() - 8 + nMdat;
    const uint64_t nLength = nMoovAt + moov.size();

    const std::string strPath = Path("large.mp4");
    WriteSparse(strPath, nLength, {{0, head}, {nMoovAt, moov}});

    ExpectValid(CheckMp4File(strPath.c_str()));

    // Headers only: a handful of small reads, whatever the media's size.
    CStdioByteSource file;
    ASSERT_TRUE(file.Open(strPath.c_str()));
    EXPECT_EQ(nLength, file.Size());
    CCountingSource counting(file);
    ExpectValid(CheckMp4Boxes(counting));
    EXPECT_LE(counting.m_nBytes, 64u);

    // Beyond 4 GiB with largesize, and cut one byte short.
    const uint64_t nHuge = 5ULL << 30;
    std::vector<unsigned char> hugeHead;
    AddBox(hugeHead, "ftyp", 16);
    AddBox(hugeHead, "moov", 200);
    AddRawHeader(hugeHead, 1, "mdat");
    PutBE(hugeHead, nHuge, 8);
    const uint64_t nHugeLength = hugeHead.size() - 16 + nHuge;
    const std::string strHuge = Path("huge.mp4");
    WriteSparse(strHuge, nHugeLength, {{0, hugeHead}});
    ExpectValid(CheckMp4File(strHuge.c_str()));
    WriteSparse(strHuge, nHugeLength - 1, {{0, hugeHead}});
    ExpectProblem(CheckMp4File(strHuge.c_str()), kCutShort);
}

TEST_F(Mp4CheckFile, ManyTinyBoxesOnDisk) {
    // The block cache keeps this to a few hundred reads from the file.
    std::vector<unsigned char> file;
    AddBox(file, "ftyp", 16);
    AddBox(file, "moov", 20);
    AddEmptyBoxes(file, 2000000);
    const std::string strPath = Path("tiny-boxes.mp4");
    WriteSparse(strPath, file.size(), {{0, file}});
    ExpectProblem(CheckMp4File(strPath.c_str()), "The new file has too many boxes to check.");
}

TEST(Mp4CheckSource, ReadsOutsideTheFileFail) {
    CStdioByteSource unopened;
    unsigned char buffer[8];
    EXPECT_FALSE(unopened.ReadAt(0, buffer, 1));

    char szTemplate[] = "/tmp/mp4source.XXXXXX";
    const int fd = mkstemp(szTemplate);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(10, write(fd, "0123456789", 10));
    close(fd);
    CStdioByteSource source;
    ASSERT_TRUE(source.Open(szTemplate));
    EXPECT_EQ(10u, source.Size());
    EXPECT_TRUE(source.ReadAt(6, buffer, 4));
    EXPECT_EQ(0, std::memcmp(buffer, "6789", 4));
    EXPECT_TRUE(source.ReadAt(2, buffer, 3)); // before the cached block
    EXPECT_EQ(0, std::memcmp(buffer, "234", 3));
    EXPECT_FALSE(source.ReadAt(7, buffer, 4));
    EXPECT_FALSE(source.ReadAt(~0ULL, buffer, 2));
    EXPECT_TRUE(source.ReadAt(10, buffer, 0));
    unlink(szTemplate);
}

// The source check: what the chosen file is.

std::vector<unsigned char> Bytes(const std::string& text) {
    return std::vector<unsigned char>(text.begin(), text.end());
}

// A full box's payload: version, flags, then the fields.
std::vector<unsigned char> FullBox(const char* pszType, std::vector<unsigned char> fields) {
    std::vector<unsigned char> box;
    PutBE(box, 8 + 4 + fields.size(), 4);
    box.insert(box.end(), pszType, pszType + 4);
    PutBE(box, 0, 4);
    box.insert(box.end(), fields.begin(), fields.end());
    return box;
}

std::vector<unsigned char> Container(const char* pszType,
                                     const std::vector<std::vector<unsigned char>>& children) {
    std::vector<unsigned char> box(8);
    box.insert(box.begin() + 4, pszType, pszType + 4);
    box.resize(8);
    for (const auto& child : children)
        box.insert(box.end(), child.begin(), child.end());
    for (int i = 0; i < 4; ++i)
        box[i] = static_cast<unsigned char>(box.size() >> (24 - 8 * i));
    return box;
}

// A track of nSamples samples of nDelta each, at nTimescale.
std::vector<unsigned char> Track(const char* pszHandler, uint32_t nTimescale, uint32_t nSamples,
                                 uint32_t nDelta) {
    std::vector<unsigned char> mdhd(20, 0), hdlr(20, 0), stts;
    for (int i = 0; i < 4; ++i)
        mdhd[8 + i] = static_cast<unsigned char>(nTimescale >> (24 - 8 * i));
    std::copy(pszHandler, pszHandler + 4, hdlr.begin() + 4);
    PutBE(stts, 1, 4);
    PutBE(stts, nSamples, 4);
    PutBE(stts, nDelta, 4);
    return Container(
        "trak",
        {Container("mdia", {FullBox("mdhd", mdhd), FullBox("hdlr", hdlr),
                            Container("minf", {Container("stbl", {FullBox("stts", stts)})})})});
}

// A movie box stating nSeconds at timescale 1000, with the tracks given.
std::vector<unsigned char> Moov(uint32_t nSeconds,
                                const std::vector<std::vector<unsigned char>>& tracks,
                                bool bFragmented = false) {
    std::vector<unsigned char> mvhd(96, 0);
    PutBE(mvhd, 0, 0);
    mvhd[8] = 0x00, mvhd[9] = 0x00, mvhd[10] = 0x03, mvhd[11] = 0xE8;
    const uint32_t nDuration = nSeconds * 1000;
    for (int i = 0; i < 4; ++i)
        mvhd[12 + i] = static_cast<unsigned char>(nDuration >> (24 - 8 * i));
    std::vector<std::vector<unsigned char>> children{FullBox("mvhd", mvhd)};
    children.insert(children.end(), tracks.begin(), tracks.end());
    if (bFragmented)
        children.push_back(Container("mvex", {}));
    return Container("moov", children);
}

std::vector<unsigned char> Join(const std::vector<std::vector<unsigned char>>& parts) {
    std::vector<unsigned char> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::vector<unsigned char> Ftyp() {
    std::vector<unsigned char> box;
    AddBox(box, "ftyp", 16);
    return box;
}

CSourceInfo Source(std::vector<unsigned char> bytes) {
    CMemorySource source(std::move(bytes));
    return CheckSource(source);
}

TEST(SourceCheck, TellsKindsThatAreNoMp4) {
    EXPECT_EQ(ESourceKind::Empty, Source({}).eKind);
    EXPECT_EQ(ESourceKind::Zeros, Source(std::vector<unsigned char>(100000, 0)).eKind);
    EXPECT_EQ(ESourceKind::Matroska,
              Source(Bytes("\x1A\x45\xDF\xA3\x9F\x42\x86\x81\x01\x42\x82\x88matroska")).eKind);
    EXPECT_EQ(ESourceKind::WebM, Source(Bytes("\x1A\x45\xDF\xA3\x9F\x42\x82\x84webm")).eKind);
    EXPECT_EQ(ESourceKind::Avi, Source(Bytes(std::string("RIFF\x10\0\0\0AVI LIST", 16))).eKind);
    EXPECT_EQ(ESourceKind::AppleDouble,
              Source(Bytes(std::string("\0\5\x16\7\0\2\0\0Mac OS X", 16))).eKind);
    for (const size_t nStride : {size_t(188), size_t(192)}) {
        std::vector<unsigned char> ts(nStride * 20, 0xFF);
        for (size_t i = nStride - 188; i < ts.size(); i += nStride)
            ts[i] = 0x47;
        EXPECT_EQ(ESourceKind::MpegTs, Source(ts).eKind) << nStride;
    }
    // A text's first word reads as a huge box that runs past the end: still no MP4.
    EXPECT_EQ(ESourceKind::Unknown, Source(Bytes("This is not a video, just text.\n")).eKind);
    // Zeros only at the start are not a file of zeros.
    std::vector<unsigned char> late(100000, 0);
    late.back() = 1;
    EXPECT_EQ(ESourceKind::Unknown, Source(late).eKind);
}

TEST(SourceCheck, AWholeMovieIsRunAndSaysItsLengthAndTracks) {
    const auto movie =
        Join({Ftyp(), Moov(20, {Track("vide", 15360, 600, 512), Track("soun", 48000, 938, 1024)}),
              Bytes(std::string("\0\0\0\x10mdat12345678", 16))});
    CSourceInfo info = Source(movie);
    EXPECT_EQ(ESourceKind::Mp4, info.eKind);
    EXPECT_TRUE(IsRunnable(info.eKind));
    ASSERT_EQ(2u, info.movie.tracks.size());
    EXPECT_DOUBLE_EQ(20.0, info.movie.StatedSeconds());
    EXPECT_EQ(FourCC("soun"), info.movie.tracks[1].nHandler);
    EXPECT_EQ(938u, info.movie.tracks[1].nSamples);
    EXPECT_NEAR(20.01, info.movie.SampleSeconds(), 0.005);

    // Whatever a whole movie box holds (here: nothing), the tool decides.
    std::vector<unsigned char> bare = Ftyp();
    AddBox(bare, "moov", 0);
    EXPECT_EQ(ESourceKind::Mp4, Source(bare).eKind);

    // Media data or fragments that run past the end: cut short after a whole movie box.
    auto cut = Join({Ftyp(), Moov(20, {Track("vide", 15360, 600, 512)})});
    AddRawHeader(cut, 5000, "mdat");
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

// Recordings cut off before their index, with each header a writer leaves behind.
TEST(SourceCheck, NoIndexWithEveryMediaHeader) {
    const std::vector<unsigned char> media(5000, 0x42);
    auto withMdat = [&](std::vector<unsigned char> header) {
        auto file = Join({Ftyp(), header});
        file.insert(file.end(), media.begin(), media.end());
        return Source(file);
    };
    std::vector<unsigned char> sizeZero;
    AddBox(sizeZero, "free", 0);
    AddRawHeader(sizeZero, 0, "mdat");
    std::vector<unsigned char> pastEnd;
    AddRawHeader(pastEnd, 900000, "mdat");
    std::vector<unsigned char> largePastEnd;
    AddRawHeader(largePastEnd, 1, "mdat");
    PutBE(largePastEnd, 1ULL << 40, 8);
    const std::vector<unsigned char> garbage = Bytes("????mdat");
    const std::vector<unsigned char> android = Bytes(std::string("\0\0\0\1mdat????????", 16));
    std::vector<unsigned char> reserved(65536, 0); // -moov_size: room no box header claims
    AddRawHeader(reserved, 0, "mdat");
    for (const auto& header : {sizeZero, pastEnd, largePastEnd, garbage, android, reserved}) {
        const CSourceInfo info = withMdat(header);
        EXPECT_EQ(ESourceKind::NoIndex, info.eKind);
        EXPECT_FALSE(IsRunnable(info.eKind));
        EXPECT_GE(info.nMediaBytes, media.size());
        EXPECT_LE(info.nMediaBytes, media.size() + header.size());
    }

    // Cut inside the movie box: no media a player could find.
    auto inMoov = Join({Ftyp(), Moov(20, {Track("vide", 15360, 600, 512)})});
    inMoov.resize(inMoov.size() - 20);
    const CSourceInfo info = Source(inMoov);
    EXPECT_EQ(ESourceKind::NoIndex, info.eKind);
    EXPECT_EQ(0u, info.nMediaBytes);
}

// A reader over a fake file of 6 GiB: boxes past 4 GiB with 64-bit sizes.
class CSparseSource : public CByteSource {
public:
    explicit CSparseSource(uint64_t nSize) : m_nSize(nSize) {}
    void Put(uint64_t nOffset, const std::vector<unsigned char>& bytes) {
        m_pieces.emplace_back(nOffset, bytes);
    }
    uint64_t Size() const override { return m_nSize; }
    bool ReadAt(uint64_t offset, void* buffer, size_t count) override {
        if (offset > m_nSize || count > m_nSize - offset)
            return false;
        auto* pOut = static_cast<unsigned char*>(buffer);
        std::fill(pOut, pOut + count, 0);
        for (const auto& piece : m_pieces) {
            for (size_t i = 0; i < piece.second.size(); ++i) {
                if (piece.first + i >= offset && piece.first + i < offset + count)
                    pOut[piece.first + i - offset] = piece.second[i];
            }
        }
        return true;
    }

private:
    uint64_t m_nSize;
    std::vector<std::pair<uint64_t, std::vector<unsigned char>>> m_pieces;
};

TEST(SourceCheck, BoxesPastFourGigabytes) {
    const auto head = Join({Ftyp(), Moov(3600, {Track("vide", 1000, 3600, 1000)}, true)});
    const uint64_t nMdat = (5ULL << 30) - head.size();
    std::vector<unsigned char> mdat;
    AddRawHeader(mdat, 1, "mdat");
    PutBE(mdat, nMdat, 8);
    std::vector<unsigned char> moof;
    AddBox(moof, "moof", 100);
    CSparseSource whole(head.size() + nMdat + moof.size());
    whole.Put(0, head);
    whole.Put(head.size(), mdat);
    whole.Put(head.size() + nMdat, moof);
    EXPECT_EQ(ESourceKind::Mp4, CheckSource(whole).eKind);
    // The box after 5 GiB runs past the end.
    CSparseSource cut(head.size() + nMdat + moof.size() - 1);
    cut.Put(0, head);
    cut.Put(head.size(), mdat);
    cut.Put(head.size() + nMdat, moof);
    EXPECT_EQ(ESourceKind::Mp4CutShort, CheckSource(cut).eKind);
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
    std::vector<unsigned char> empties;
    for (size_t i = 0; i < 2000000; ++i)
        AddRawHeader(empties, 8, "trak");
    std::vector<unsigned char> movie = Join(
        {Ftyp(),
         Moov(20, {Track("vide", 15360, 600, 512), Track("soun", 48000, 938, 1024), empties})});
    CMemorySource many(std::move(movie));
    const CSourceInfo info = CheckSource(many);
    EXPECT_EQ(ESourceKind::Mp4, info.eKind);
    EXPECT_LE(info.movie.tracks.size(), 1024u);
    EXPECT_LE(many.m_nReads, 150000u);
    EXPECT_NEAR(20.01, info.movie.SampleSeconds(), 0.005);
    CMemorySource again(many.m_bytes);
    EXPECT_TRUE(CheckMp4Boxes(again).bValid);
    EXPECT_LE(again.m_nReads, 150000u);

    // Tracks whose media hides behind half a million other boxes each.
    std::vector<unsigned char> hidden;
    AddEmptyBoxes(hidden, 500000);
    std::vector<std::vector<unsigned char>> tracks;
    for (int i = 0; i < 4; ++i)
        tracks.push_back(Container("trak", {hidden, Container("mdia", {})}));
    CMemorySource deep(Join({Ftyp(), Moov(20, tracks)}));
    EXPECT_EQ(ESourceKind::Mp4, CheckSource(deep).eKind);
    EXPECT_LE(deep.m_nReads, 150000u);
}

} // namespace
