// The rebuild engine on recordings made with ffmpeg at run time. Ground truth: a whole file,
// cut and stripped of its index as a dying recorder leaves it; its own index then says which
// samples the rebuild must find, byte for byte, and how each frame must decode.
#include "job/RunReport.h"
#include "media/Box.h"
#include "rebuild/Rebuild.h"
#include "tests/rebuild/MediaTools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

const std::string kVideo = " -f lavfi -i testsrc2=size=640x360:rate=30";
const std::string kH264 = " -c:v libx264 -preset veryfast -g 60 -bf 2 -pix_fmt yuv420p";
const std::string kHevc = " -c:v libx265 -preset ultrafast -x265-params log-level=error:bframes=2"
                          " -g 60 -tag:v hvc1 -pix_fmt yuv420p";
const std::string kAac = " -c:a aac -b:a 128k";

std::string Tone(int nFrequency, int nRate = 48000) {
    return " -f lavfi -i sine=sample_rate=" + std::to_string(nRate) +
           ":frequency=" + std::to_string(nFrequency);
}

// The engine's verdict as the program words it.
std::string Detail(const CRebuildResult& result) {
    return DescribeRebuildResult("recording.mp4", result).str();
}

// The stretch left out at the end of the data, if any.
const CStretchLeftOut* Tail(const CRebuildResult& result) {
    return !result.stretchesLeftOut.empty() && result.stretchesLeftOut.back().bToEnd
               ? &result.stretchesLeftOut.back()
               : nullptr;
}

class CRecordingObserver : public CRebuildObserver {
public:
    void OnProgress(int nPercent) override { progress.push_back(nPercent); }
    bool IsCancelled() override { return ++nPolls >= nCancelAtPoll && nCancelAtPoll > 0; }

    std::vector<int> progress;
    int nPolls = 0;
    int nCancelAtPoll = 0;
};

struct CCut {
    std::string strPath;
    uint64_t nCut = 0; // bytes of the whole file kept
};

class RebuildScenario : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();

    static std::string Path(const std::string& strName) { return s_strDir + "/" + strName; }

    // The whole file cut after nFraction of its bytes, its index gone and mdat's size 0.
    static CCut Cut(const std::string& strWhole, double dFraction, const std::string& strName);

    CRebuildResult Rebuild(const std::string& strReference, const std::string& strBroken,
                           const std::string& strOutput, CRebuildObserver* pObserver = nullptr) {
        std::remove(Path(strOutput).c_str());
        return RebuildRecording(Path(strReference).c_str(), Path(strBroken).c_str(),
                                Path(strOutput).c_str(), pObserver);
    }

    // Every sample of the whole file that lies before nCut is in the copy, in order, with the
    // same bytes, times and key flags, and nothing else is; returns the end of the last one.
    static uint64_t ExpectSamplesOfWhole(const std::string& strWhole, const std::string& strCopy,
                                         uint64_t nCut, int nStreams, bool bTimes = true);
    // Every frame of the copy decodes as the whole file's frame at that time.
    static void ExpectFramesOfWhole(const std::string& strWhole, const std::string& strCopy);

    static std::string s_strDir;
    static bool s_bMade;
};

std::string RebuildScenario::s_strDir;
bool RebuildScenario::s_bMade = false;

void RebuildScenario::SetUpTestSuite() {
    char szTemplate[] = "/tmp/clipmend-rebuild-XXXXXX";
    ASSERT_NE(mkdtemp(szTemplate), nullptr);
    s_strDir = szTemplate;
    WriteBytes(Path("subs.srt"), std::vector<uint8_t>([] {
                   const std::string strSrt =
                       "1\n00:00:00,500 --> 00:00:02,000\nHello\n\n"
                       "2\n00:00:03,000 --> 00:00:05,500\nSecond line here\n\n"
                       "3\n00:00:07,000 --> 00:00:09,000\nThird\n\n";
                   return std::vector<uint8_t>(strSrt.begin(), strSrt.end());
               }()));
    const std::string strKilled = "timeout -s KILL 8 ffmpeg -v error -y -re" + kVideo +
                                  " -f lavfi -i sine=sample_rate=48000 -t 60 -c:v libx264 -preset "
                                  "veryfast -g 60 -pix_fmt yuv420p" +
                                  kAac + " -progress " + Quote(Path("killed.progress")) + " " +
                                  Quote(Path("killed.mp4"));
    const std::string strEncode = "ffmpeg -v error -y";
    const std::string strSubs = " -i " + Quote(Path("subs.srt"));
    // The killed recording runs alone: on a busy machine ffmpeg holds packets back to
    // interleave them, and its progress report runs ahead of what reached the file.
    std::atomic<int> failed(0);
    if (RunCommand(strKilled + " 2>&1") != 137) // timeout's status for a process it killed
        ++failed;
    const std::vector<std::string> jobs = {
        strEncode + kVideo + Tone(440) + " -t 20" + kH264 + kAac + " " + Quote(Path("h264.mp4")),
        strEncode + kVideo + Tone(880) + " -t 6" + kH264 + kAac + " " + Quote(Path("h264-ref.mp4")),
        strEncode + kVideo + Tone(440) + " -t 10" + kHevc + kAac + " " + Quote(Path("hevc.mp4")),
        strEncode + kVideo + Tone(880) + " -t 4" + kHevc + kAac + " " + Quote(Path("hevc-ref.mp4")),
        strEncode + kVideo + Tone(440) + Tone(660) + " -t 10 -map 0 -map 1 -map 2" + kH264 + kAac +
            " " + Quote(Path("two.mp4")),
        strEncode + kVideo + Tone(300) + Tone(1000) + " -t 4 -map 0 -map 1 -map 2" + kH264 + kAac +
            " " + Quote(Path("two-ref.mp4")),
        strEncode + kVideo +
            " -f lavfi -i sine=sample_rate=48000 -t 5 -c:v libx264 -preset "
            "veryfast -g 60 -pix_fmt yuv420p" +
            kAac + " " + Quote(Path("killed-ref.mp4")),
        strEncode + kVideo + Tone(440, 44100) + " -t 8" + kH264 + kAac + " " +
            Quote(Path("rate44.mp4")),
        strEncode + kVideo + Tone(440) + " -t 8" + kH264 + kAac + " -ac 2 " +
            Quote(Path("stereo.mp4")),
        strEncode + kVideo + " -t 8" + kH264 + " " + Quote(Path("silent.mp4")),
        strEncode + kVideo + " -t 2 -c:v mpeg4 " + Quote(Path("mpeg4.mp4")),
        // Every seventh picture dropped: a reference of variable frame rate.
        strEncode + kVideo + Tone(880) + " -t 8 -vf select='not(eq(mod(n\\,7)\\,3))'" + kH264 +
            kAac + " -fps_mode vfr " + Quote(Path("vfr-ref.mp4")),
        strEncode + " -f lavfi -i testsrc2=size=640x360:rate=25" + Tone(440) + " -t 8" + kH264 +
            kAac + " " + Quote(Path("fps25.mp4")),
        // Parameter sets in the media data too: the picture size can be told.
        strEncode + " -f lavfi -i testsrc2=size=1280x720:rate=30" + Tone(440) + " -t 4" + kH264 +
            " -x264-params repeat-headers=1" + kAac + " " + Quote(Path("large.mp4")),
        strEncode + kVideo + Tone(440) +
            " -t 10 -c:v libx264 -preset veryfast -g 60 -bf 0 -slices 3 "
            "-pix_fmt yuv420p" +
            kAac + " " + Quote(Path("nob.mp4")),
        strEncode + kVideo + Tone(880) +
            " -t 4 -c:v libx264 -preset veryfast -g 60 -bf 0 -slices 3 "
            "-pix_fmt yuv420p" +
            kAac + " " + Quote(Path("nob-ref.mp4")),
        strEncode + kVideo + Tone(440) + strSubs + " -t 10 -map 0 -map 1 -map 2" + kH264 + kAac +
            " -c:s mov_text -timecode 01:00:00:00 " + Quote(Path("other.mp4")),
        strEncode + kVideo + Tone(880) + strSubs + " -t 8 -map 0 -map 1 -map 2" + kH264 + kAac +
            " -c:s mov_text -timecode 02:00:00:00 " + Quote(Path("other-ref.mp4")),
        strEncode + kVideo + Tone(440) + " -t 10" + kH264 + kAac + " -moov_size 65536 " +
            Quote(Path("reserved.mp4")),
    };
    std::atomic<size_t> next(0);
    auto worker = [&] {
        for (size_t i; (i = next++) < jobs.size();) {
            if (RunCommand(jobs[i] + " 2>&1") != 0)
                ++failed;
        }
    };
    std::thread first(worker), second(worker);
    first.join();
    second.join();
    ASSERT_EQ(failed, 0) << "ffmpeg could not make the test media in " << s_strDir;
    s_bMade = true;
}

void RebuildScenario::TearDownTestSuite() {
    if (!s_strDir.empty() && std::getenv("CLIPMEND_REBUILD_KEEP") == nullptr)
        RunCommand("rm -rf " + Quote(s_strDir));
}

CCut RebuildScenario::Cut(const std::string& strWhole, double dFraction,
                          const std::string& strName) {
    std::vector<uint8_t> bytes = ReadBytes(Path(strWhole));
    CMemoryByteSource source(bytes.data(), bytes.size());
    CBox mdat;
    EXPECT_TRUE(FindBox(source, 0, bytes.size(), FourCC("mdat"), &mdat));
    CCut cut;
    cut.nCut = std::min<uint64_t>(static_cast<uint64_t>(bytes.size() * dFraction), mdat.End());
    bytes.resize(static_cast<size_t>(cut.nCut));
    std::fill(bytes.begin() + static_cast<ptrdiff_t>(mdat.nOffset),
              bytes.begin() + static_cast<ptrdiff_t>(mdat.nOffset + 4), 0);
    cut.strPath = strName;
    WriteBytes(Path(strName), bytes);
    return cut;
}

uint64_t RebuildScenario::ExpectSamplesOfWhole(const std::string& strWhole,
                                               const std::string& strCopy, uint64_t nCut,
                                               int nStreams, bool bTimes) {
    const std::vector<CPacket> whole = ProbePackets(Path(strWhole));
    const std::vector<CPacket> copy = ProbePackets(Path(strCopy));
    uint64_t nEnd = 0;
    for (int s = 0; s < nStreams; ++s) {
        SCOPED_TRACE("stream " + std::to_string(s));
        std::vector<CPacket> expected;
        for (const CPacket& packet : StreamPackets(whole, s)) {
            if (packet.nPos + packet.nSize <= nCut) {
                expected.push_back(packet);
                nEnd = std::max(nEnd, packet.nPos + packet.nSize);
            }
        }
        const std::vector<CPacket> found = StreamPackets(copy, s);
        EXPECT_GT(expected.size(), 0u);
        EXPECT_EQ(found.size(), expected.size());
        int nWrong = 0;
        for (size_t i = 0; i < std::min(found.size(), expected.size()) && nWrong < 3; ++i) {
            const CPacket& a = expected[i];
            const CPacket& b = found[i];
            if (a.nSize != b.nSize || a.strHash != b.strHash || a.strFlags != b.strFlags ||
                (bTimes && (a.strPts != b.strPts || a.strDts != b.strDts))) {
                ++nWrong;
                ADD_FAILURE() << "sample " << i << ": expected size " << a.nSize << " pts "
                              << a.strPts << " dts " << a.strDts << " flags " << a.strFlags << " "
                              << a.strHash << ", found size " << b.nSize << " pts " << b.strPts
                              << " dts " << b.strDts << " flags " << b.strFlags << " " << b.strHash;
            }
        }
    }
    EXPECT_EQ(static_cast<int>(ProbeEntry(Path(strCopy), "format=nb_streams").empty()
                                   ? -1
                                   : std::stoi(ProbeEntry(Path(strCopy), "format=nb_streams"))),
              nStreams);
    return nEnd;
}

void RebuildScenario::ExpectFramesOfWhole(const std::string& strWhole, const std::string& strCopy) {
    const std::vector<std::string> whole = DecodedFrames(Path(strWhole));
    const std::vector<std::string> copy = DecodedFrames(Path(strCopy));
    const std::set<std::string> known(whole.begin(), whole.end());
    EXPECT_FALSE(copy.empty());
    size_t nUnknown = 0;
    for (const std::string& strFrame : copy)
        nUnknown += known.count(strFrame) ? 0 : 1;
    EXPECT_EQ(nUnknown, 0u) << "frames of the copy that the whole file does not show at that time";
}

// The user's everyday case: an H.264 and AAC recording cut off at 60 %.
TEST_F(RebuildScenario, H264RecordingCutOffRebuildsEverySampleBeforeTheCut) {
    ASSERT_TRUE(s_bMade);
    const CCut cut = Cut("h264.mp4", 0.6, "h264-cut.mp4");
    CRecordingObserver observer;
    const CRebuildResult result = Rebuild("h264-ref.mp4", cut.strPath, "h264-out.mp4", &observer);
    ASSERT_EQ(result.eStatus, CRebuildResult::EStatus::Rebuilt) << Detail(result);
    const uint64_t nEnd = ExpectSamplesOfWhole("h264.mp4", "h264-out.mp4", cut.nCut, 2);
    ExpectFramesOfWhole("h264.mp4", "h264-out.mp4");

    ASSERT_EQ(result.tracks.size(), 2u);
    EXPECT_EQ(result.tracks[0].eKind, CRebuiltTrack::EKind::Video);
    EXPECT_EQ(result.tracks[0].strCodec, "H.264");
    EXPECT_EQ(result.tracks[1].eKind, CRebuiltTrack::EKind::Audio);
    EXPECT_EQ(result.tracks[1].strCodec, "AAC");
    EXPECT_TRUE(result.tracksLeftOut.empty());
    // What is left out is the sample the cut went through, and said so.
    EXPECT_EQ(result.nBytesLeftOut, cut.nCut - nEnd);
    ASSERT_NE(Tail(result), nullptr);
    EXPECT_EQ(result.stretchesLeftOut.size(), 1u);
    EXPECT_EQ(Tail(result)->eReason, CStretchLeftOut::EReason::CutOff);
    EXPECT_EQ(Tail(result)->nBytes, cut.nCut - nEnd);
    const CRebuiltTrack& video = result.tracks[0];
    EXPECT_NEAR(Tail(result)->dAt, double(video.nDuration) / video.nTimescale, 1e-6);
    EXPECT_NEAR(Tail(result)->dAt, 12.0, 0.5);

    ASSERT_FALSE(observer.progress.empty());
    EXPECT_TRUE(std::is_sorted(observer.progress.begin(), observer.progress.end()));
    EXPECT_GE(observer.progress.front(), 0);
    EXPECT_EQ(observer.progress.back(), 100);
}

// HEVC with B-frames: the composition offsets come from the slices' picture order counts.
TEST_F(RebuildScenario, HevcRecordingWithBFramesShowsEachPictureAtItsTime) {
    ASSERT_TRUE(s_bMade);
    const CCut cut = Cut("hevc.mp4", 0.6, "hevc-cut.mp4");
    const CRebuildResult result = Rebuild("hevc-ref.mp4", cut.strPath, "hevc-out.mp4");
    ASSERT_EQ(result.eStatus, CRebuildResult::EStatus::Rebuilt) << Detail(result);
    ExpectSamplesOfWhole("hevc.mp4", "hevc-out.mp4", cut.nCut, 2);
    ExpectFramesOfWhole("hevc.mp4", "hevc-out.mp4");
    ASSERT_EQ(result.tracks.size(), 2u);
    EXPECT_EQ(result.tracks[0].strCodec, "HEVC");
}

// A recording made as OBS and ffmpeg leave one when killed: ftyp, free, mdat of size 0, the
// data written in 32 KiB pieces up to the kill.
TEST_F(RebuildScenario, KilledRecordingPlaysToWhereItWasKilled) {
    ASSERT_TRUE(s_bMade);
    const std::vector<uint8_t> bytes = ReadBytes(Path("killed.mp4"));
    CMemoryByteSource source(bytes.data(), bytes.size());
    CBox mdat, moov;
    ASSERT_TRUE(FindBox(source, 0, bytes.size(), FourCC("mdat"), &mdat));
    ASSERT_TRUE(mdat.bToEnd) << "ffmpeg was not killed before it wrote the index";
    ASSERT_FALSE(FindBox(source, 0, bytes.size(), FourCC("moov"), &moov));

    const CRebuildResult result = Rebuild("killed-ref.mp4", "killed.mp4", "killed-out.mp4");
    ASSERT_EQ(result.eStatus, CRebuildResult::EStatus::Rebuilt) << Detail(result);
    std::string strErrors;
    EXPECT_EQ(RunCommand("ffmpeg -v error -i " + Quote(Path("killed-out.mp4")) + " -f null - 2>&1",
                         &strErrors),
              0);
    EXPECT_EQ(strErrors, "");
    // The recording's length by ffmpeg's own progress reports. ffmpeg writes this file in
    // 256 KiB flushes (about 3 s of it), so its last report before the kill can be seconds
    // ahead of what reached the disk; the report that first shows the file at its final size
    // tells how far the recording had come when its last bytes were written. When the last
    // flush came after the last report, the last report is the nearest.
    std::string strProgress;
    RunCommand("grep -E '^(out_time_us|total_size)=' " + Quote(Path("killed.progress")),
               &strProgress);
    double dRecorded = -1, dLast = -1;
    std::istringstream reports(strProgress);
    std::string strLine;
    double dTime = 0;
    while (std::getline(reports, strLine)) {
        const std::string strValue = strLine.substr(strLine.find('=') + 1);
        if (strLine.compare(0, 12, "out_time_us=") == 0) {
            dTime = std::stod(strValue) / 1e6;
            dLast = dTime;
        } else if (dRecorded < 0 && std::stoull(strValue) == bytes.size()) {
            dRecorded = dTime;
        }
    }
    ASSERT_GE(dLast, 0);
    if (dRecorded < 0)
        dRecorded = dLast;
    const double dRebuilt = std::stod(ProbeEntry(Path("killed-out.mp4"), "format=duration"));
    EXPECT_NEAR(dRebuilt, dRecorded, 1.0);
    EXPECT_GT(dRecorded, 4.0);
}

// Two sound tracks of one format: only the interleaving tells them apart.
TEST_F(RebuildScenario, TwoSoundTracksOfOneFormatStayApart) {
    ASSERT_TRUE(s_bMade);
    const CCut cut = Cut("two.mp4", 0.6, "two-cut.mp4");
    const CRebuildResult result = Rebuild("two-ref.mp4", cut.strPath, "two-out.mp4");
    ASSERT_EQ(result.eStatus, CRebuildResult::EStatus::Rebuilt) << Detail(result);
    ASSERT_EQ(result.tracks.size(), 3u);
    ExpectSamplesOfWhole("two.mp4", "two-out.mp4", cut.nCut, 3);
}

// The headers recorders leave before the media data; each one must lead to the same copy.
TEST_F(RebuildScenario, EveryMdatHeaderOfACutRecordingLeadsToItsMedia) {
    ASSERT_TRUE(s_bMade);
    const CCut cut = Cut("h264.mp4", 0.6, "kinds-base.mp4");
    const std::vector<uint8_t> base = ReadBytes(Path(cut.strPath));
    CMemoryByteSource source(base.data(), base.size());
    CBox free, mdat;
    ASSERT_TRUE(FindBox(source, 0, base.size(), FourCC("free"), &free));
    ASSERT_TRUE(FindBox(source, 0, base.size(), FourCC("mdat"), &mdat));
    ASSERT_EQ(free.End(), mdat.nOffset);
    ASSERT_EQ(free.nSize, 8u);
    const size_t nFree = static_cast<size_t>(free.nOffset);
    const size_t nMdat = static_cast<size_t>(mdat.nOffset);
    auto put = [](std::vector<uint8_t>& bytes, size_t nAt, const std::string& strBytes) {
        std::copy(strBytes.begin(), strBytes.end(), bytes.begin() + static_cast<ptrdiff_t>(nAt));
    };
    auto be = [](uint64_t nValue, int nBytes) {
        std::string strOut;
        for (int i = nBytes - 1; i >= 0; --i)
            strOut += static_cast<char>((nValue >> (8 * i)) & 0xFF);
        return strOut;
    };
    struct CKind {
        const char* pszName;
        std::vector<uint8_t> bytes;
    };
    std::vector<CKind> kinds;
    kinds.push_back({"size 0", base});
    kinds.push_back({"32-bit size past the end", base});
    put(kinds.back().bytes, nMdat, be(base.size() * 2, 4));
    kinds.push_back({"64-bit size past the end", base});
    put(kinds.back().bytes, nFree, std::string("\0\0\0\1mdat", 8) + be(base.size() * 3, 8));
    kinds.push_back({"Android's ????mdat", base});
    put(kinds.back().bytes, nMdat, "????");
    kinds.push_back({"Android's 64-bit placeholder", base});
    put(kinds.back().bytes, nFree, std::string("\0\0\0\1mdat????????", 16));

    // ffmpeg's -moov_size: the index was to go into zeros reserved after ftyp.
    const CCut reserved = Cut("reserved.mp4", 0.6, "kinds-reserved.mp4");
    std::vector<uint8_t> zeros = ReadBytes(Path(reserved.strPath));
    CMemoryByteSource reservedSource(zeros.data(), zeros.size());
    CBox ftyp, reservedMdat;
    ASSERT_TRUE(FindBox(reservedSource, 0, zeros.size(), FourCC("ftyp"), &ftyp));
    ASSERT_TRUE(FindBox(reservedSource, 0, zeros.size(), FourCC("mdat"), &reservedMdat));
    ASSERT_GE(reservedMdat.nOffset - ftyp.End(), 65536u);
    std::fill(zeros.begin() + static_cast<ptrdiff_t>(ftyp.End()),
              zeros.begin() + static_cast<ptrdiff_t>(ftyp.End() + 65536), 0);
    std::vector<uint8_t> zerosThenMdat = zeros;
    std::fill(zerosThenMdat.begin() + static_cast<ptrdiff_t>(ftyp.End()),
              zerosThenMdat.begin() + static_cast<ptrdiff_t>(reservedMdat.nOffset), 0);

    for (const CKind& kind : kinds) {
        SCOPED_TRACE(kind.pszName);
        WriteBytes(Path("kind.mp4"), kind.bytes);
        const CRebuildResult result = Rebuild("h264-ref.mp4", "kind.mp4", "kind-out.mp4");
        ASSERT_EQ(result.eStatus, CRebuildResult::EStatus::Rebuilt) << Detail(result);
        ExpectSamplesOfWhole("h264.mp4", "kind-out.mp4", cut.nCut, 2);
    }
    for (const std::vector<uint8_t>* pBytes : {&zeros, &zerosThenMdat}) {
        SCOPED_TRACE(pBytes == &zeros ? "zeros reserved for the index, then free and mdat"
                                      : "zeros reserved for the index, then mdat");
        WriteBytes(Path("kind.mp4"), *pBytes);
        const CRebuildResult result = Rebuild("h264-ref.mp4", "kind.mp4", "kind-out.mp4");
        ASSERT_EQ(result.eStatus, CRebuildResult::EStatus::Rebuilt) << Detail(result);
        ExpectSamplesOfWhole("reserved.mp4", "kind-out.mp4", reserved.nCut, 2);
    }
}

// A reference made with other settings is refused before anything is written, with the
// difference named.
TEST_F(RebuildScenario, ReferenceWithOtherSettingsIsRefusedWithTheDifference) {
    ASSERT_TRUE(s_bMade);
    Cut("h264.mp4", 0.6, "m-h264.mp4");
    Cut("hevc.mp4", 0.9, "m-hevc.mp4");
    Cut("rate44.mp4", 0.9, "m-rate44.mp4");
    Cut("stereo.mp4", 0.9, "m-stereo.mp4");
    Cut("silent.mp4", 0.9, "m-silent.mp4");
    Cut("two.mp4", 0.9, "m-two.mp4");
    Cut("large.mp4", 0.9, "m-large.mp4");
    Cut("fps25.mp4", 0.9, "m-fps25.mp4");
    struct CCase {
        const char* pszReference;
        const char* pszRecording;
        std::vector<std::string> words;
    };
    const CCase cases[] = {
        {"hevc-ref.mp4",
         "m-h264.mp4",
         {"The recording's video is H.264, the reference's is HEVC."}},
        {"h264-ref.mp4",
         "m-hevc.mp4",
         {"The recording's video is HEVC, the reference's is H.264."}},
        {"h264-ref.mp4", "m-rate44.mp4", {"44.1 kHz", "48 kHz"}},
        {"rate44.mp4", "m-h264.mp4", {"48 kHz", "44.1 kHz"}},
        {"h264-ref.mp4",
         "m-stereo.mp4",
         {"The recording's sound is stereo, the reference's is mono."}},
        {"stereo.mp4", "m-h264.mp4", {"The recording's sound is mono, the reference's is stereo."}},
        {"h264-ref.mp4", "m-silent.mp4", {"The reference has sound, the recording has none."}},
        {"silent.mp4", "m-h264.mp4", {"The recording has sound, the reference has none."}},
        {"h264-ref.mp4", "m-two.mp4", {"two sound tracks"}},
        {"two-ref.mp4", "m-h264.mp4", {"The reference has two sound tracks"}},
        {"h264-ref.mp4",
         "m-large.mp4",
         {"The recording's video is 1280x720, the reference's is 640x360."}},
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(std::string(c.pszReference) + " for " + c.pszRecording);
        const CRebuildResult result = Rebuild(c.pszReference, c.pszRecording, "m-out.mp4");
        EXPECT_EQ(result.eStatus, CRebuildResult::EStatus::Mismatch) << Detail(result);
        for (const std::string& strWords : c.words)
            EXPECT_NE(Detail(result).find(strWords), std::string::npos) << Detail(result);
        EXPECT_FALSE(FileExists(Path("m-out.mp4")));
        EXPECT_TRUE(result.tracks.empty());
    }
}

// Zeros over the middle of the data (H.264 without B-frames, so with picture order type 2,
// and three slices a picture).
TEST_F(RebuildScenario, ZerosInTheMiddleEndTheCopyWithEverythingBeforeThem) {
    ASSERT_TRUE(s_bMade);
    const CCut cut = Cut("nob.mp4", 0.9, "zeros.mp4");
    std::vector<uint8_t> bytes = ReadBytes(Path(cut.strPath));
    const size_t nZeros = bytes.size() * 4 / 10, nZerosEnd = bytes.size() / 2;
    std::fill(bytes.begin() + static_cast<ptrdiff_t>(nZeros),
              bytes.begin() + static_cast<ptrdiff_t>(nZerosEnd), 0);
    WriteBytes(Path(cut.strPath), bytes);

    const CRebuildResult result = Rebuild("nob-ref.mp4", cut.strPath, "zeros-out.mp4");
    ASSERT_EQ(result.eStatus, CRebuildResult::EStatus::Rebuilt) << Detail(result);
    const uint64_t nEnd = ExpectSamplesOfWhole("nob.mp4", "zeros-out.mp4", nZeros, 2);
    ExpectFramesOfWhole("nob.mp4", "zeros-out.mp4");
    ASSERT_NE(Tail(result), nullptr);
    EXPECT_EQ(Tail(result)->eReason, CStretchLeftOut::EReason::Zeros);
    EXPECT_EQ(result.nBytesLeftOut, bytes.size() - nEnd);
    EXPECT_NEAR(Tail(result)->dAt, double(result.tracks[0].nDuration) / result.tracks[0].nTimescale,
                1e-6);
    // Without B-frames the copy needs no composition offsets.
    std::string strCtts;
    RunCommand("grep -c ctts " + Quote(Path("zeros-out.mp4")), &strCtts);
    EXPECT_EQ(strCtts, "0\n");
}

// A timecode (one sample of a fixed size) is kept; subtitles (samples of any size) are named
// as left out, and stepped over where the interleaving puts them.
TEST_F(RebuildScenario, OtherTracksKeptWhenFixedInSizeAndNamedWhenNot) {
    ASSERT_TRUE(s_bMade);
    const CCut cut = Cut("other.mp4", 0.8, "other-cut.mp4");
    const CRebuildResult result = Rebuild("other-ref.mp4", cut.strPath, "other-out.mp4");
    ASSERT_EQ(result.eStatus, CRebuildResult::EStatus::Rebuilt) << Detail(result);
    ASSERT_EQ(result.tracks.size(), 3u);
    EXPECT_EQ(result.tracks[2].strCodec, "tmcd");
    ASSERT_EQ(result.tracksLeftOut.size(), 1u);
    EXPECT_EQ(result.tracksLeftOut[0].nHandler, FourCC("sbtl"));
    const std::vector<CPacket> whole = ProbePackets(Path("other.mp4"));
    const std::vector<CPacket> copy = ProbePackets(Path("other-out.mp4"));
    for (int s = 0; s < 2; ++s) {
        SCOPED_TRACE("stream " + std::to_string(s));
        std::vector<std::string> expected, found;
        for (const CPacket& packet : StreamPackets(whole, s)) {
            if (packet.nPos + packet.nSize <= cut.nCut)
                expected.push_back(packet.strPts + " " + packet.strHash);
        }
        for (const CPacket& packet : StreamPackets(copy, s))
            found.push_back(packet.strPts + " " + packet.strHash);
        EXPECT_EQ(found, expected);
    }
    // The timecode is the recording's own, not the reference's.
    EXPECT_EQ(ProbeEntry(Path("other-out.mp4"), "stream_tags=timecode").substr(0, 11),
              "01:00:00:00");
}

// A reference of variable frame rate (a phone's) gives only an average picture duration; the
// recording's pictures are timed by its sound instead of being refused or drifting from it.
TEST_F(RebuildScenario, VariableFrameRateReferenceTimesPicturesBySound) {
    ASSERT_TRUE(s_bMade);
    ASSERT_NE(ProbeEntry(Path("vfr-ref.mp4"), "stream=avg_frame_rate").substr(0, 4), "30/1");
    const CCut cut = Cut("h264.mp4", 0.6, "vfr-cut.mp4");
    const CRebuildResult result = Rebuild("vfr-ref.mp4", cut.strPath, "vfr-out.mp4");
    ASSERT_EQ(result.eStatus, CRebuildResult::EStatus::Rebuilt) << Detail(result);
    ExpectSamplesOfWhole("h264.mp4", "vfr-out.mp4", cut.nCut, 2, false);
    ASSERT_EQ(result.tracks.size(), 2u);
    const double dVideo = double(result.tracks[0].nDuration) / result.tracks[0].nTimescale;
    const double dSound = double(result.tracks[1].nDuration) / result.tracks[1].nTimescale;
    EXPECT_NEAR(dVideo, dSound, 0.1);
    std::string strErrors;
    EXPECT_EQ(RunCommand("ffmpeg -v error -i " + Quote(Path("vfr-out.mp4")) + " -f null - 2>&1",
                         &strErrors),
              0);
    EXPECT_EQ(strErrors, "");
}

TEST_F(RebuildScenario, CancelledRebuildLeavesNoCopy) {
    ASSERT_TRUE(s_bMade);
    const CCut cut = Cut("h264.mp4", 0.6, "cancel-cut.mp4");
    CRecordingObserver observer;
    observer.nCancelAtPoll = 2; // the first poll of the pass that writes
    const CRebuildResult result = Rebuild("h264-ref.mp4", cut.strPath, "cancel-out.mp4", &observer);
    EXPECT_EQ(result.eStatus, CRebuildResult::EStatus::Cancelled);
    EXPECT_FALSE(FileExists(Path("cancel-out.mp4")));
    EXPECT_TRUE(std::is_sorted(observer.progress.begin(), observer.progress.end()));
}

TEST_F(RebuildScenario, BrokenReferenceAndEmptyRecordingAreRefused) {
    ASSERT_TRUE(s_bMade);
    const CCut cut = Cut("h264.mp4", 0.6, "refuse-cut.mp4");
    CRebuildResult result = Rebuild(cut.strPath, "h264.mp4", "refuse-out.mp4");
    EXPECT_EQ(result.eStatus, CRebuildResult::EStatus::ReferenceUnusable);
    EXPECT_EQ(result.eProblem, CRebuildResult::EProblem::ReferenceWithoutIndex);
    EXPECT_FALSE(FileExists(Path("refuse-out.mp4")));

    std::vector<uint8_t> ftypOnly = ReadBytes(Path(cut.strPath));
    ftypOnly.resize(32);
    WriteBytes(Path("ftyp-only.mp4"), ftypOnly);
    result = Rebuild("h264-ref.mp4", "ftyp-only.mp4", "refuse-out.mp4");
    EXPECT_EQ(result.eStatus, CRebuildResult::EStatus::NoMediaData) << Detail(result);
    EXPECT_FALSE(FileExists(Path("refuse-out.mp4")));

    // A reference whose only track this engine cannot read.
    result = Rebuild("mpeg4.mp4", cut.strPath, "refuse-out.mp4");
    EXPECT_EQ(result.eStatus, CRebuildResult::EStatus::ReferenceUnusable);
    EXPECT_EQ(result.referenceCodecs, std::vector<std::string>{"'mp4v'"});
    EXPECT_FALSE(FileExists(Path("refuse-out.mp4")));

    result = Rebuild("h264-ref.mp4", "no-such-file.mp4", "refuse-out.mp4");
    EXPECT_EQ(result.eStatus, CRebuildResult::EStatus::ReadFailed);
    EXPECT_FALSE(FileExists(Path("refuse-out.mp4")));
}

} // namespace
