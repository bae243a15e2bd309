// The engine against files made to hurt it: a reference or a recording crafted so that a count,
// a table or a stretch of data would cost the walk its memory safety, unbounded time or memory,
// and output names that lead elsewhere. Each rebuild must end in bounded time and memory, ask
// often whether it was cancelled, and write only the new file it created.
#include "job/RebuildReport.h"
#include "media/Box.h"
#include "rebuild/Rebuild.h"
#include "tests/rebuild/MediaTools.h"
#include "tests/rebuild/TestMedia.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/allocator_interface.h>
#define CLIPMEND_HEAP_HOOKS 1
#endif
#endif

namespace {

using namespace testmedia;
using Clock = std::chrono::steady_clock;

// The heap in use, from the sanitizer's allocation hooks: a rebuild's peak is measured above
// what was in use when it began.
std::atomic<int64_t> g_nHeap{0};
std::atomic<int64_t> g_nHeapPeak{0};

#if defined(CLIPMEND_HEAP_HOOKS)
void OnMalloc(const volatile void*, size_t nSize) {
    const int64_t nNow = g_nHeap += static_cast<int64_t>(nSize);
    int64_t nPeak = g_nHeapPeak.load();
    while (nNow > nPeak && !g_nHeapPeak.compare_exchange_weak(nPeak, nNow)) {
    }
}
void OnFree(const volatile void* p) {
    g_nHeap -= static_cast<int64_t>(__sanitizer_get_allocated_size(const_cast<const void*>(p)));
}
const int g_nHooks = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
#endif

// Records when the engine asked about cancelling, and cancels when told to.
class CWatch : public CRebuildObserver {
public:
    void OnProgress(int nPercent) override {
        Note();
        progress.push_back(nPercent);
    }
    bool IsCancelled() override {
        Note();
        ++nPolls;
        return pCancel ? (*pCancel)() : false;
    }
    void Note() {
        const Clock::time_point now = Clock::now();
        dLongestQuiet = std::max(dLongestQuiet, std::chrono::duration<double>(now - last).count());
        last = now;
    }

    Clock::time_point last = Clock::now();
    double dLongestQuiet = 0;
    int nPolls = 0;
    std::vector<int> progress;
    std::function<bool()>* pCancel = nullptr;
};

struct CRun {
    CRebuildResult result;
    double dSeconds = 0;
    double dLongestQuiet = 0; // the longest the engine went without asking about a cancel
    int64_t nPeakHeap = 0;    // bytes, above the heap in use before
};

// Generous bounds that only a hang or a blow-up breaks: each case takes well under a second
// and a few megabytes.
const double kMaxSeconds = 20;
const double kMaxQuiet = 2;
const int64_t kMaxHeap = 48 << 20;

class HostileInput : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char szTemplate[] = "/tmp/clipmend-hostile-XXXXXX";
        ASSERT_NE(mkdtemp(szTemplate), nullptr);
        s_strDir = szTemplate;
    }
    static void TearDownTestSuite() {
        if (!s_strDir.empty() && std::getenv("CLIPMEND_REBUILD_KEEP") == nullptr)
            RunCommand("rm -rf " + Quote(s_strDir));
    }
    static std::string Path(const std::string& strName) { return s_strDir + "/" + strName; }

    // Writes a file, then makes it nSize bytes long (the rest a hole, nothing on disk).
    static void Write(const std::string& strName, const std::vector<uint8_t>& bytes,
                      uint64_t nSize = 0) {
        WriteBytes(Path(strName), bytes);
        if (nSize > bytes.size())
            ASSERT_EQ(truncate(Path(strName).c_str(), static_cast<off_t>(nSize)), 0);
    }

    static CRun Rebuild(const std::string& strReference, const std::string& strBroken,
                        const std::string& strOutput, std::function<bool()>* pCancel = nullptr) {
        std::remove(Path(strOutput).c_str());
        CWatch watch;
        watch.pCancel = pCancel;
        CRun run;
        const int64_t nBefore = g_nHeap.load();
        g_nHeapPeak = nBefore;
        const Clock::time_point start = Clock::now();
        watch.last = start;
        run.result = RebuildRecording(Path(strReference).c_str(), Path(strBroken).c_str(),
                                      Path(strOutput).c_str(), &watch);
        watch.Note();
        run.dSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        run.dLongestQuiet = watch.dLongestQuiet;
        run.nPeakHeap = g_nHeapPeak.load() - nBefore;
        return run;
    }

    static void ExpectBounded(const CRun& run) {
        EXPECT_LT(run.dSeconds, kMaxSeconds);
        EXPECT_LT(run.dLongestQuiet, kMaxQuiet) << "cancel went unasked that long";
        EXPECT_LT(run.nPeakHeap, kMaxHeap);
    }

    // The media data of the copy, as the copy's own mdat box holds it.
    static std::vector<uint8_t> MediaOfCopy(const std::string& strCopy) {
        const std::vector<uint8_t> bytes = ReadBytes(Path(strCopy));
        CMemoryByteSource source(bytes.data(), bytes.size());
        CBox mdat;
        if (!FindBox(source, 0, bytes.size(), FourCC("mdat"), &mdat))
            return {};
        return std::vector<uint8_t>(bytes.begin() + static_cast<ptrdiff_t>(mdat.PayloadOffset()),
                                    bytes.begin() + static_cast<ptrdiff_t>(mdat.End()));
    }

    static std::string s_strDir;
};

std::string HostileInput::s_strDir;

std::vector<uint8_t> IdrSample(size_t nData = 200) {
    std::vector<uint8_t> sample;
    AppendSample(&sample, {Slice(true, 0, 0, nData)});
    return sample;
}

// A track of samples nothing in the media data delimits ('tx3g' subtitles), its samples mostly
// of one size, its chunks at the offsets given.
CTrackSpec UnknownTrack(uint32_t nCommon, const std::vector<uint64_t>& offsets) {
    CTrackSpec track;
    track.eEntry = EEntry::Other;
    track.strHandler = "text";
    track.nTimescale = 1000;
    CBoxWriter box(track.tables);
    const uint32_t nCount = static_cast<uint32_t>(offsets.size());
    Stts(box, {{nCount, 1000}});
    Stsc(box, {{1, 1}});
    std::vector<uint32_t> sizes(nCount, nCommon);
    sizes.back() = 5;
    Stsz(box, 0, nCount, sizes);
    Stco(box, offsets);
    return track;
}

// A track whose samples the interleaving predicts it cannot read, its commonest size reaching
// from where the walk stands to the end of the media data: the skip over it must read what it
// keeps, whether the walk probes (no sink) or writes. Here the skip comes first, in the probe.
TEST_F(HostileInput, SkippingUnreadableSamplesStaysInsideTheDataRead) {
    const uint32_t nMedia = 64 << 10;
    CTrackSpec video;
    video.tables = EvenTables(4, 1, 512, 2000, 10000, 20000);
    Write("skip-ref.mp4", MovieFile({video, UnknownTrack(nMedia, {5000, 25000, 45000, 65000})}),
          4 * uint64_t(nMedia) + (1 << 20));
    std::vector<uint8_t> media = IdrSample();
    media.resize(nMedia, 0xEE);
    Write("skip-broken.mp4", BrokenFile(media));
    const CRun run = Rebuild("skip-ref.mp4", "skip-broken.mp4", "skip-out.mp4");
    ExpectBounded(run);
    if (run.result.eStatus == CRebuildResult::EStatus::Rebuilt)
        EXPECT_EQ(MediaOfCopy("skip-out.mp4"), media);
    else
        EXPECT_FALSE(FileExists(Path("skip-out.mp4")));
}

// The same skip where only the pass that writes meets it: a picture lasting 61 s comes first,
// so that the probe stops at its limit before, and the media data is more than one read holds.
// The copy keeps every byte skipped, and nothing else.
TEST_F(HostileInput, SkippedSamplesReachTheCopyAsTheyAre) {
    const uint32_t nMedia = 12 << 20;
    const std::vector<uint8_t> idr = IdrSample();
    const uint32_t nRest = nMedia - static_cast<uint32_t>(idr.size());
    CTrackSpec video;
    video.nTimescale = 1000;
    video.tables = EvenTables(4, 1, 61000, static_cast<uint32_t>(idr.size()), 1000, 50000);
    Write("skip2-ref.mp4", MovieFile({video, UnknownTrack(nRest, {2000, 52000, 102000, 152000})}),
          4 * uint64_t(nMedia));
    std::vector<uint8_t> media = idr;
    media.resize(nMedia, 0xEE);
    Write("skip2-broken.mp4", BrokenFile(media));
    const CRun run = Rebuild("skip2-ref.mp4", "skip2-broken.mp4", "skip2-out.mp4");
    ExpectBounded(run);
    ASSERT_EQ(run.result.eStatus, CRebuildResult::EStatus::Rebuilt)
        << DescribeRebuildResult("broken.mp4", run.result);
    EXPECT_EQ(MediaOfCopy("skip2-out.mp4"), media);
}

// Fixed-size samples where each 16-byte step also starts what looks like a picture: a length
// reaching one far end and a slice header. Each try of the video there fails only at that far
// end (a forbidden byte pattern just before it, or zeros where the picture's second slice
// should be); the bytes before it must not be scanned again at every step.
TEST_F(HostileInput, PicturesReachingOneFarEndAreScannedOnce) {
    const uint32_t nRegion = 1 << 20;
    const uint32_t nPer = nRegion / 16;
    // Video chunks of one picture, then a chunk of nPer fixed-size samples, in turns.
    CTrackSpec video, fixed;
    video.tables = EvenTables(4, 1, 512, 300, 1000, 4 * uint64_t(nRegion));
    fixed.eEntry = EEntry::Other;
    fixed.strHandler = "meta";
    fixed.nTimescale = 15360;
    fixed.tables = EvenTables(4, nPer, 1, 16, 2000, 4 * uint64_t(nRegion));
    Write("far-ref.mp4", MovieFile({video, fixed}), 20 * uint64_t(nRegion));

    const std::vector<uint8_t> header = Slice(true, 0, 0, 0);
    for (const bool bZeros : {false, true}) {
        SCOPED_TRACE(bZeros ? "zeros after the far end" : "a forbidden pattern before it");
        std::vector<uint8_t> media;
        // A picture of two slices: zeros after one slice then mean a picture cut short.
        AppendSample(&media, {Slice(true, 0, 0, 100, 0), Slice(true, 0, 0, 100, 150)});
        const size_t nBegin = media.size();
        const size_t nFar = nBegin + nRegion;
        media.resize(nFar, 0x5A);
        // Lengths of 64 KiB and more only: shorter ones would hold forbidden patterns.
        for (size_t nAt = nBegin; nAt + 16 + 65536 < nFar; nAt += 16) {
            const uint32_t nLength = static_cast<uint32_t>(nFar - nAt - 4);
            const uint8_t length[4] = {uint8_t(nLength >> 24), uint8_t(nLength >> 16),
                                       uint8_t(nLength >> 8), uint8_t(nLength)};
            std::copy(length, length + 4, media.begin() + static_cast<ptrdiff_t>(nAt));
            std::copy(header.begin(), header.end(),
                      media.begin() + static_cast<ptrdiff_t>(nAt + 4));
        }
        if (!bZeros) {
            const uint8_t kForbidden[] = {0, 0, 1};
            std::copy(kForbidden, kForbidden + 3, media.begin() + static_cast<ptrdiff_t>(nFar - 8));
        }
        media.resize(nFar + 4096, 0);
        Write("far-broken.mp4", BrokenFile(media));
        const CRun run = Rebuild("far-ref.mp4", "far-broken.mp4", "far-out.mp4");
        ExpectBounded(run);
        ASSERT_EQ(run.result.eStatus, CRebuildResult::EStatus::Rebuilt)
            << DescribeRebuildResult("broken.mp4", run.result);
        ASSERT_EQ(run.result.tracks.size(), 2u);
        EXPECT_EQ(run.result.tracks[0].nSamples, 1u);
        EXPECT_GE(run.result.tracks[1].nSamples, nPer - 1);
    }
}

// A reference of thousands of tracks: every state of the interleaving would hold a value for
// each, and each prediction would look at them all.
TEST_F(HostileInput, ThousandsOfTracksAreRefusedAtOnce) {
    std::vector<CTrackSpec> tracks;
    CTrackSpec video;
    video.tables = EvenTables(3, 1, 512, 300, 1000, 10000);
    tracks.push_back(video);
    for (int t = 1; t < 4000; ++t) {
        CTrackSpec sound;
        sound.eEntry = EEntry::Aac;
        sound.strHandler = "soun";
        sound.nTimescale = 48000;
        sound.tables = EvenTables(3, 2, 1024, 8, 1500 + t, 10000);
        tracks.push_back(sound);
    }
    Write("tracks-ref.mp4", MovieFile(tracks), 64 << 20);
    std::vector<uint8_t> media = IdrSample();
    for (int i = 0; i < 2000; ++i) {
        const std::vector<uint8_t> frame = AacFrame(static_cast<uint8_t>(100 + i % 20));
        media.insert(media.end(), frame.begin(), frame.end());
    }
    Write("tracks-broken.mp4", BrokenFile(media));
    const CRun run = Rebuild("tracks-ref.mp4", "tracks-broken.mp4", "tracks-out.mp4");
    ExpectBounded(run);
    EXPECT_EQ(run.result.eStatus, CRebuildResult::EStatus::ReferenceUnusable)
        << DescribeRebuildResult("broken.mp4", run.result);
    EXPECT_EQ(run.result.eProblem, CRebuildResult::EProblem::ReferenceWithTooManyTracks);
}

// Chunk runs that overlap (first chunks going back) with no samples in them: each run would
// walk over all the chunks again.
TEST_F(HostileInput, ChunkRunsThatOverlapAreRefused) {
    const uint32_t nChunks = 1 << 17;
    CTrackSpec video;
    CBoxWriter box(video.tables);
    Stts(box, {{nChunks, 512}});
    std::vector<std::pair<uint32_t, uint32_t>> runs;
    for (int i = 0; i < 40000; ++i)
        runs.emplace_back(i % 2 ? nChunks : 1, 0);
    runs.emplace_back(nChunks, 1);
    Stsc(box, runs);
    Stsz(box, 300, nChunks);
    Stco(box, std::vector<uint64_t>(nChunks, 4096));
    Write("stsc-ref.mp4", MovieFile({video}), 64 << 20);
    Write("stsc-broken.mp4", BrokenFile(IdrSample()));
    const CRun run = Rebuild("stsc-ref.mp4", "stsc-broken.mp4", "stsc-out.mp4");
    ExpectBounded(run);
    EXPECT_EQ(run.result.eStatus, CRebuildResult::EStatus::ReferenceUnusable)
        << DescribeRebuildResult("broken.mp4", run.result);
}

// Counts that cost the file nothing: a fixed sample size needs no table, so a track may claim
// four billion one-byte samples; a recording of zeros (a hole on disk) would then be taken as
// millions of them.
TEST_F(HostileInput, SampleCountsTheFileCannotHoldAreRefused) {
    CTrackSpec video, fixed;
    video.tables = EvenTables(3, 1, 512, 300, 1000, 10000);
    fixed.eEntry = EEntry::Other;
    fixed.strHandler = "meta";
    CBoxWriter box(fixed.tables);
    Stts(box, {{0xFFFFFFFFu, 1}});
    Stsc(box, {{1, 0x55555555u}});
    Stsz(box, 1, 0xFFFFFFFFu);
    Stco(box, {2000, 12000, 22000});
    Write("count-ref.mp4", MovieFile({video, fixed}), 1 << 20);
    Write("count-broken.mp4", BrokenFile(IdrSample()), 16 << 20);
    const CRun run = Rebuild("count-ref.mp4", "count-broken.mp4", "count-out.mp4");
    ExpectBounded(run);
    for (const CRebuiltTrack& track : run.result.tracks)
        EXPECT_LT(track.nSamples, 1000u) << track.strCodec;
}

// Tables as large as their boxes allow: 4-bit sample sizes (two a byte) and durations that
// all differ. What they cost must stay near what they take in the file.
TEST_F(HostileInput, LargeTablesCostNoMoreThanTheirBytes) {
    const uint32_t nSizes = 16 << 20;    // in 8 MB of stz2
    const uint32_t nDurations = 1 << 19; // 4 MB of stts
    CTrackSpec video, subtitles;
    video.tables = EvenTables(3, 1, 512, 300, 1000, 10000);
    subtitles.eEntry = EEntry::Other;
    subtitles.strHandler = "text";
    CBoxWriter box(subtitles.tables);
    size_t nBox = box.OpenFull("stts", 0, 0);
    box.U32(nDurations);
    for (uint32_t i = 0; i < nDurations; ++i) {
        box.U32(i + 1 == nDurations ? nSizes - nDurations + 1 : 1);
        box.U32(1000 + i);
    }
    box.Close(nBox);
    Stsc(box, {{1, nSizes / 4}});
    nBox = box.OpenFull("stz2", 0, 0);
    box.U32(4); // 4-bit sizes
    box.U32(nSizes);
    for (uint32_t i = 0; i < nSizes / 2; ++i)
        box.U8(static_cast<uint8_t>(0x10 * (1 + i % 15) + 1 + (i / 15) % 15));
    box.Close(nBox);
    Stco(box, {2000, 32000000, 64000000, 96000000});
    Write("tables-ref.mp4", MovieFile({video, subtitles}), 256 << 20);
    Write("tables-broken.mp4", BrokenFile(IdrSample()));
    const CRun run = Rebuild("tables-ref.mp4", "tables-broken.mp4", "tables-out.mp4");
    EXPECT_LT(run.dSeconds, kMaxSeconds);
    EXPECT_LT(run.dLongestQuiet, kMaxQuiet);
    // The boxes themselves are 12 MB.
    EXPECT_LT(run.nPeakHeap, 32 << 20);
    EXPECT_EQ(run.result.eStatus, CRebuildResult::EStatus::Rebuilt)
        << DescribeRebuildResult("broken.mp4", run.result);
}

class RebuildWrites : public HostileInput {
protected:
    void SetUp() override {
        Write("w-ref.mp4", SmallReference());
        m_broken = BrokenFile(SmallRecording());
        Write("w-broken.mp4", m_broken);
    }
    std::vector<uint8_t> m_broken;
};

TEST_F(RebuildWrites, TheCopyIsNeverWrittenThroughALink) {
    // The recording itself is fine: a copy is made where nothing is in the way.
    const CRun run = Rebuild("w-ref.mp4", "w-broken.mp4", "w-out.mp4");
    ASSERT_EQ(run.result.eStatus, CRebuildResult::EStatus::Rebuilt)
        << DescribeRebuildResult("broken.mp4", run.result);

    // A link at the copy's name, to a file the user did not choose, or to no file yet.
    const std::vector<uint8_t> victim = {'k', 'e', 'e', 'p'};
    Write("victim.txt", victim);
    for (const char* pszTarget : {"victim.txt", "nothing-yet.txt"}) {
        SCOPED_TRACE(pszTarget);
        std::remove(Path("w-link.mp4").c_str());
        ASSERT_EQ(symlink(Path(pszTarget).c_str(), Path("w-link.mp4").c_str()), 0);
        CWatch watch;
        const CRebuildResult result =
            RebuildRecording(Path("w-ref.mp4").c_str(), Path("w-broken.mp4").c_str(),
                             Path("w-link.mp4").c_str(), &watch);
        EXPECT_EQ(result.eStatus, CRebuildResult::EStatus::WriteFailed);
        EXPECT_EQ(ReadBytes(Path("victim.txt")), victim);
        EXPECT_FALSE(FileExists(Path("nothing-yet.txt")));
        struct stat link;
        EXPECT_EQ(lstat(Path("w-link.mp4").c_str(), &link), 0);
        EXPECT_TRUE(S_ISLNK(link.st_mode));
    }
}

// Another name of the recording (a path that spells it otherwise, a hard link) is the
// recording: it is never written over.
TEST_F(RebuildWrites, AnotherNameOfTheRecordingIsNotWrittenOver) {
    std::remove(Path("w-alias.mp4").c_str());
    ASSERT_EQ(link(Path("w-broken.mp4").c_str(), Path("w-alias.mp4").c_str()), 0);
    for (const std::string& strAlias : {s_strDir + "/./w-broken.mp4", Path("w-alias.mp4")}) {
        SCOPED_TRACE(strAlias);
        CWatch watch;
        const CRebuildResult result = RebuildRecording(
            Path("w-ref.mp4").c_str(), Path("w-broken.mp4").c_str(), strAlias.c_str(), &watch);
        EXPECT_EQ(result.eStatus, CRebuildResult::EStatus::WriteFailed);
        EXPECT_EQ(result.eProblem, CRebuildResult::EProblem::OverARecording);
        EXPECT_EQ(ReadBytes(Path("w-broken.mp4")), m_broken);
    }
}

// A copy given up is removed only if what has its name is still the file the rebuild made.
TEST_F(RebuildWrites, AFailedCopyIsRemovedOnlyWhileItIsStillTheOneMade) {
    const std::vector<uint8_t> other = {'o', 't', 'h', 'e', 'r'};
    int nPolls = 0;
    std::function<bool()> swapAndCancel = [&] {
        // Late in the rebuild, once the copy was begun: another file takes its name.
        if (++nPolls == 1 || !FileExists(Path("w-swapped.mp4")))
            return false;
        Write("w-other.tmp", other);
        EXPECT_EQ(rename(Path("w-other.tmp").c_str(), Path("w-swapped.mp4").c_str()), 0);
        return true;
    };
    const CRun run = Rebuild("w-ref.mp4", "w-broken.mp4", "w-swapped.mp4", &swapAndCancel);
    EXPECT_EQ(run.result.eStatus, CRebuildResult::EStatus::Cancelled);
    EXPECT_EQ(ReadBytes(Path("w-swapped.mp4")), other);
}

} // namespace
