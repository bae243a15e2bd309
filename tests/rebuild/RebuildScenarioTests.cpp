// The rebuild engine on recordings made with ffmpeg at run time. Ground truth: a whole file,
// cut and stripped of its index as a dying recorder leaves it; its own index then says which
// samples the rebuild must find, byte for byte, and how each frame must decode.
#include "codec/AacFrame.h"
#include "job/RebuildReport.h"
#include "media/Box.h"
#include "rebuild/Rebuild.h"
#include "tests/rebuild/MediaTools.h"

#if defined(CLIPMEND_DECODERS)
#include "decode/FfmpegDecoderFactory.h"
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
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
const std::string kVfr = " -vf \"select='not(between(mod(t\\,5)\\,2\\,3.5)*mod(n\\,3))',"
                         "settb=1/15360,setpts='PTS+0.004*sin(N*1.7)/TB'\" -fps_mode vfr";
const std::string kVfrTimes = " -enc_time_base:v 1/15360";
// A camera that stalls: no picture for 0.43 s after the third second.
const std::string kPause =
    " -vf \"settb=1/15360,setpts='PTS+gte(T\\,3)*0.43/TB'\" -fps_mode vfr" + kVfrTimes;
// Decode times in bursts, as Samsung's slow motion writes them: a reference picture decoded
// 12018 ticks before it is shown, the B-frames after it 9 ticks apart, shown at 30 a second.
const std::string kBursts =
    " -c:v libx264 -preset veryfast -g 60 -bf 3 -x264-params b-pyramid=none:b-adapt=0"
    " -pix_fmt yuv420p -video_track_timescale 90000 -bsf:v \"setts=pts=PTS:dts='if(eq(N\\,0)"
    "\\,PTS-12018\\,max(PREV_OUTDTS+9\\,PTS-12018))'\"";
// A data track of GoPro's kind, timed as a camera writes it (QuickTime: ffmpeg's MP4 writer
// takes no 'gpmd' track).
const std::string kGpmf = " -f data -i ";
const std::string kGpmfMap = " -map 0 -map 1 -map 2" + kH264 + kAac +
                             " -c:d copy -tag:d gpmd -bsf:d setts=ts=N*0.25/TB -f mov ";

const std::string kOldVideo = " -f lavfi -i testsrc2=size=320x240:rate=15";
const std::string kQcif = " -f lavfi -i testsrc2=size=176x144:rate=15";

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
        // As the program runs it: with FFmpeg's decoders where the build has them.
        CRebuildOptions options;
#if defined(CLIPMEND_DECODERS)
        options.pDecoders = &m_decoders;
#endif
        return RebuildRecording(Path(strReference).c_str(), Path(strBroken).c_str(),
                                Path(strOutput).c_str(), pObserver, options);
    }
    // The copy's verdict as the program shows it.
    static std::string Report(const CRebuildResult& result) {
        return FormatRebuildReport("recording.mp4", "reference.mp4", "out.mp4", result).str();
    }
#if defined(CLIPMEND_DECODERS)
    CFfmpegDecoderFactory m_decoders;
#endif

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
    // A subtitle every second or so, of every length, with gaps between some.
    std::string strMany;
    double dAt = 0.3;
    for (int i = 1; dAt < 30; ++i) {
        const double dLength = 0.3 + 0.9 * ((i * 37) % 10) / 10.0;
        auto stamp = [](double d) {
            const int n = static_cast<int>(d * 1000 + 0.5);
            char text[32];
            std::snprintf(text, sizeof text, "00:00:%02d,%03d", n / 1000, n % 1000);
            return std::string(text);
        };
        strMany += std::to_string(i) + "\n" + stamp(dAt) + " --> " + stamp(dAt + dLength) + "\n" +
                   std::string(size_t(1 + (i * 13) % 40), "abcdef"[i % 6]) + "\n\n";
        dAt += dLength + ((i % 3) == 0 ? 0.4 : 0);
    }
    WriteBytes(Path("many.srt"), std::vector<uint8_t>(strMany.begin(), strMany.end()));
    // Metadata as action cameras write it: KLV items (a device, its name, a sensor's samples)
    // nested under DEVC, one sample each quarter second.
    std::vector<uint8_t> gpmf;
    for (int i = 0; i < 200; ++i) {
        const uint8_t kHead[] = {'D', 'E', 'V', 'C', 0,   1, 0x03, 0xF8, 'D', 'V',
                                 'N', 'M', 'c', 4,   0,   1, 'C',  'a',  'm', '1',
                                 'A', 'C', 'C', 'L', 's', 6, 0,    166};
        gpmf.insert(gpmf.end(), kHead, kHead + sizeof kHead);
        for (int k = 0; k < 996; ++k)
            gpmf.push_back(static_cast<uint8_t>(i * 7 + k));
    }
    WriteBytes(Path("gpmf.bin"), gpmf);
    // Speech as a phone's AMR encoder leaves it (ffmpeg has none): frames of the highest mode,
    // their bits anything.
    for (bool bWide : {false, true}) {
        const std::string strMagic = bWide ? "#!AMR-WB\n" : "#!AMR\n";
        std::vector<uint8_t> amr(strMagic.begin(), strMagic.end());
        const size_t nFrame = bWide ? 61 : 32;
        for (size_t i = 0; i < 400 * nFrame; ++i)
            amr.push_back(i % nFrame == 0 ? (bWide ? 0x44 : 0x3C) : uint8_t(i * 2654435761u >> 24));
        WriteBytes(Path(bWide ? "wide.amr" : "narrow.amr"), amr);
    }
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
        // The same settings at another size: nothing in the recording's data says its size.
        strEncode + " -f lavfi -i testsrc2=size=1280x720:rate=30" + Tone(880) + " -t 4" + kH264 +
            kAac + " " + Quote(Path("h264-720-ref.mp4")),
        strEncode + " -f lavfi -i testsrc2=size=1280x720:rate=30" + Tone(880) + " -t 2" + kHevc +
            kAac + " " + Quote(Path("hevc-720-ref.mp4")),
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
        // A phone's variable frame rate: a third of the pictures for a second and a half in
        // every five, and each picture's time a little off the grid.
        strEncode + kVideo + Tone(440) + " -t 20" + kVfr + kH264 + kVfrTimes + kAac + " " +
            Quote(Path("vfrv.mp4")),
        strEncode + kVideo + Tone(880) + " -t 6" + kVfr + kH264 + kVfrTimes + kAac + " " +
            Quote(Path("vfrv-ref.mp4")),
        strEncode + kVideo + Tone(440) + " -t 8" + kPause + kH264 + kAac + " " +
            Quote(Path("pause.mp4")),
        strEncode + kVideo + Tone(440) + " -t 8" + kPause + kHevc + kAac + " " +
            Quote(Path("hevc-pause.mp4")),
        strEncode + kVideo + " -t 8" + kBursts + " " + Quote(Path("bursts.mp4")),
        strEncode + kVideo + " -t 3" + kBursts + " " + Quote(Path("bursts-ref.mp4")),
        // Offsets below zero, and no delay, as Apple's recorders write them.
        strEncode + kVideo + Tone(440) + " -t 8" + kH264 + kAac +
            " -movflags negative_cts_offsets " + Quote(Path("negative.mp4")),
        strEncode + kVideo + Tone(880) + " -t 3" + kH264 + kAac +
            " -movflags negative_cts_offsets " + Quote(Path("negative-ref.mp4")),
        strEncode + " -f lavfi -i testsrc2=size=640x360:rate=30000/1001" + Tone(440) + " -t 8" +
            kH264 + kAac + " " + Quote(Path("ntsc.mp4")),
        strEncode + " -f lavfi -i testsrc2=size=640x360:rate=30000/1001" + Tone(880) + " -t 4" +
            kH264 + kAac + " " + Quote(Path("ntsc-ref.mp4")),
        strEncode + kVideo + Tone(440) + " -i " + Quote(Path("many.srt")) +
            " -t 20 -map 0 -map 1 -map 2" + kH264 + kAac + " -c:s mov_text " +
            Quote(Path("text.mp4")),
        strEncode + kVideo + Tone(880) + " -i " + Quote(Path("many.srt")) +
            " -t 8 -map 0 -map 1 -map 2" + kH264 + kAac + " -c:s mov_text " +
            Quote(Path("text-ref.mp4")),
        strEncode + kVideo + Tone(440) + kGpmf + Quote(Path("gpmf.bin")) + " -t 20" + kGpmfMap +
            Quote(Path("gpmf.mov")),
        strEncode + kVideo + Tone(880) + kGpmf + Quote(Path("gpmf.bin")) + " -t 6" + kGpmfMap +
            Quote(Path("gpmf-ref.mov")),
        strEncode + kVideo + Tone(440) + Tone(660, 44100) + " -t 20 -map 0 -map 1 -map 2" + kH264 +
            kAac + " " + Quote(Path("rates.mp4")),
        strEncode + kVideo + Tone(300) + Tone(1000, 44100) + " -t 6 -map 0 -map 1 -map 2" + kH264 +
            kAac + " " + Quote(Path("rates-ref.mp4")),
        // A voice memo: sound alone.
        strEncode + Tone(300, 44100) + " -f lavfi -i anoisesrc=a=0.05:seed=3" +
            " -filter_complex amix -t 20 -ar 44100 -c:a aac -b:a 64k " + Quote(Path("memo.m4a")),
        strEncode + Tone(500, 44100) + " -t 5 -c:a aac -b:a 64k " + Quote(Path("memo-ref.m4a")),
        // What older cameras and phones wrote: Motion JPEG with PCM of each layout, H.263 with
        // AMR or PCM.
        strEncode + kOldVideo + Tone(440, 44100) + " -t 6 -c:v mjpeg -c:a pcm_s16le -ac 2 " +
            Quote(Path("mjpeg-sowt.mov")),
        strEncode + kOldVideo + Tone(440, 22050) + " -t 6 -c:v mjpeg -c:a pcm_s16be " +
            Quote(Path("mjpeg-twos.mov")),
        strEncode + kOldVideo + Tone(440, 48000) + " -t 6 -c:v mjpeg -c:a pcm_s24le -ac 2 " +
            Quote(Path("mjpeg-in24.mov")),
        strEncode + kOldVideo + Tone(440, 8000) + " -t 6 -c:v mjpeg -c:a pcm_u8 " +
            Quote(Path("mjpeg-raw.mov")),
        strEncode + kQcif + " -i " + Quote(Path("narrow.amr")) + " -t 6 -c:v h263 -c:a copy " +
            Quote(Path("h263-samr.3gp")),
        strEncode + kQcif + " -i " + Quote(Path("wide.amr")) + " -t 6 -c:v h263 -c:a copy " +
            Quote(Path("h263-sawb.3gp")),
        strEncode + kQcif + Tone(440, 8000) + " -t 6 -c:v h263 -c:a pcm_s16be " +
            Quote(Path("h263-twos.mov")),
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
#if defined(CLIPMEND_DECODERS)
    // Its start and its end decoded whatever the time, places between as the time allows, and
    // nothing damaged in any of it.
    EXPECT_TRUE(result.play.bChecked);
    EXPECT_EQ(result.play.nDamaged, 0u);
    EXPECT_TRUE(result.play.bVideoEnd && result.play.bSoundEnd);
    EXPECT_NE(Report(result).find("\nIt plays from start to end: "), std::string::npos)
        << Report(result);
    EXPECT_EQ(Report(result).find("Damaged"), std::string::npos) << Report(result);
#endif

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
#if defined(CLIPMEND_DECODERS)
    // Its decoder misses most damage inside a picture: the verdict says so.
    EXPECT_NE(Report(result).find("It plays from start to end: "), std::string::npos)
        << Report(result);
    EXPECT_NE(Report(result).find("Damage inside an HEVC picture can go unseen"), std::string::npos)
        << Report(result);
#endif
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
        uint64_t nLead = 0; // bytes before the first sample, left out and named
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
    // Before the first sample: room for a 64-bit size left unused, a camera's own data.
    const ptrdiff_t nPayload = static_cast<ptrdiff_t>(mdat.PayloadOffset());
    kinds.push_back({"8 zeros before the first sample", base, 8});
    kinds.back().bytes.insert(kinds.back().bytes.begin() + nPayload, 8, 0);
    std::string strCamera = std::string("A:\\DCIM\\100_CAM\\C0001.MOV") + std::string(3, '\0');
    for (uint32_t i = 0; strCamera.size() < 504; ++i)
        strCamera += be(0x78F90854u - 4 * i, 4) + std::string(i % 3 ? 4 : 8, '\0');
    kinds.push_back({"a camera's data before the first sample", base, 504});
    kinds.back().bytes.insert(kinds.back().bytes.begin() + nPayload, strCamera.begin(),
                              strCamera.begin() + 504);

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
        if (kind.nLead != 0) {
            ASSERT_FALSE(result.stretchesLeftOut.empty());
            EXPECT_EQ(result.stretchesLeftOut[0].nOffset, mdat.PayloadOffset());
            EXPECT_EQ(result.stretchesLeftOut[0].nBytes, kind.nLead);
            EXPECT_EQ(result.stretchesLeftOut[0].eReason, kind.nLead == 8
                                                              ? CStretchLeftOut::EReason::Zeros
                                                              : CStretchLeftOut::EReason::Garbage);
        }
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
        // Told by the decoders: the recording's pictures decode at its own size only.
        {"h264-720-ref.mp4",
         "m-h264.mp4",
         {"The recording's video is 640x360: it is not 1280x720 like the reference's."}},
        {"hevc-720-ref.mp4",
         "m-hevc.mp4",
         {"The recording's video is 640x360: it is not 1280x720 like the reference's."}},
        {"h264-ref.mp4",
         "m-large.mp4",
         {"The recording's video is 1280x720: it is not 640x360 like the reference's."}},
        {"mjpeg-raw.mov",
         "m-h264.mp4",
         {"The recording's video is H.264, the reference's is Motion JPEG."}},
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

// A chunk of the recordings made here: one picture at 30 a second, or less.
const double kChunk = 1.0 / 30 + 0.001;

// The whole file's packets of one stream that the copy must have: before the cut, and clear of
// the damaged bytes [nDamage, nDamageEnd).
std::vector<CPacket> WholePackets(const std::vector<CPacket>& whole, int nStream, uint64_t nCut,
                                  uint64_t nDamage = 0, uint64_t nDamageEnd = 0) {
    std::vector<CPacket> packets;
    for (const CPacket& packet : StreamPackets(whole, nStream)) {
        if (packet.nPos + packet.nSize <= nCut &&
            (packet.nPos + packet.nSize <= nDamage || packet.nPos >= nDamageEnd))
            packets.push_back(packet);
    }
    return packets;
}

// The copy's packets against the whole file's, in order and byte for byte; how far the copy's
// times are from the whole file's at most, and at the last packet.
struct CTimeError {
    double dMax = 0;
    double dLast = 0;
    double dMaxOffset = 0; // composition offset (show less decode time)
};
CTimeError CompareTimes(const std::vector<CPacket>& expected, const std::vector<CPacket>& found,
                        size_t nMinSize = 0) {
    CTimeError error;
    EXPECT_EQ(found.size(), expected.size());
    for (size_t i = 0; i < std::min(found.size(), expected.size()); ++i) {
        if (found[i].strHash != expected[i].strHash) {
            ADD_FAILURE() << "packet " << i << " of the copy is not the whole file's";
            break;
        }
        if (found[i].nSize < nMinSize)
            continue;
        error.dLast = found[i].dPts - expected[i].dPts;
        error.dMax = std::max(error.dMax, std::fabs(error.dLast));
        error.dMaxOffset =
            std::max(error.dMaxOffset, std::fabs((found[i].dPts - found[i].dDts) -
                                                 (expected[i].dPts - expected[i].dDts)));
    }
    return error;
}

// A phone's recording of variable frame rate: each picture is timed by the sound written
// around it, within a chunk of its own time, and picture and sound end together. Constant
// rates stay exact: NTSC's, and one a reference of variable rate has only as an average.
TEST_F(RebuildScenario, VariableFrameRatePicturesTakeTheirTimesFromTheSound) {
    ASSERT_TRUE(s_bMade);
    for (double dFraction : {0.35, 0.9}) {
        SCOPED_TRACE(dFraction);
        const CCut cut = Cut("vfrv.mp4", dFraction, "vfrv-cut.mp4");
        const CRebuildResult result = Rebuild("vfrv-ref.mp4", cut.strPath, "vfrv-out.mp4");
        ASSERT_EQ(result.eStatus, CRebuildResult::EStatus::Rebuilt) << Detail(result);
        const std::vector<CPacket> whole = ProbePackets(Path("vfrv.mp4"));
        const std::vector<CPacket> copy = ProbePackets(Path("vfrv-out.mp4"));
        const CTimeError video =
            CompareTimes(WholePackets(whole, 0, cut.nCut), StreamPackets(copy, 0));
        const CTimeError sound =
            CompareTimes(WholePackets(whole, 1, cut.nCut), StreamPackets(copy, 1));
        EXPECT_LE(video.dMax, kChunk);
        EXPECT_LE(video.dMaxOffset, kChunk);
        EXPECT_EQ(sound.dMax, 0);
        EXPECT_LE(std::fabs(video.dLast - sound.dLast), kChunk);
        std::string strErrors;
        RunCommand("ffmpeg -v error -i " + Quote(Path("vfrv-out.mp4")) + " -f null - 2>&1",
                   &strErrors);
        EXPECT_EQ(strErrors, "");
    }
    // A camera that stalls, with B-frames: the pictures after the pause are shown at their
    // times, to a millisecond, H.264 and HEVC alike.
    for (const char* pszName : {"pause", "hevc-pause"}) {
        SCOPED_TRACE(pszName);
        const std::string strName = pszName;
        const CCut cut = Cut(strName + ".mp4", 0.7, strName + "-cut.mp4");
        const CRebuildResult result = Rebuild(strName == "pause" ? "h264-ref.mp4" : "hevc-ref.mp4",
                                              cut.strPath, strName + "-out.mp4");
        ASSERT_EQ(result.eStatus, CRebuildResult::EStatus::Rebuilt) << Detail(result);
        const std::vector<CPacket> whole = ProbePackets(Path(strName + ".mp4"));
        const std::vector<CPacket> copy = ProbePackets(Path(strName + "-out.mp4"));
        const std::vector<CPacket> expected = WholePackets(whole, 0, cut.nCut);
        ASSERT_GT(expected.size(), 0u);
        EXPECT_GT(expected.back().dPts, 4.0) << "the cut is before the pause";
        const CTimeError video = CompareTimes(expected, StreamPackets(copy, 0));
        EXPECT_LE(video.dMax, 0.001);
        EXPECT_LE(video.dMaxOffset, 0.001);
        EXPECT_EQ(CompareTimes(WholePackets(whole, 1, cut.nCut), StreamPackets(copy, 1)).dMax, 0);
    }
    // Offsets below zero, and decode times in bursts: the copy's are the original's, tick for
    // tick.
    const CCut negative = Cut("negative.mp4", 0.6, "negative-cut.mp4");
    CRebuildResult result = Rebuild("negative-ref.mp4", negative.strPath, "negative-out.mp4");
    ASSERT_EQ(result.eStatus, CRebuildResult::EStatus::Rebuilt) << Detail(result);
    ExpectSamplesOfWhole("negative.mp4", "negative-out.mp4", negative.nCut, 2);
    const CCut bursts = Cut("bursts.mp4", 0.6, "bursts-cut.mp4");
    result = Rebuild("bursts-ref.mp4", bursts.strPath, "bursts-out.mp4");
    ASSERT_EQ(result.eStatus, CRebuildResult::EStatus::Rebuilt) << Detail(result);
    ExpectSamplesOfWhole("bursts.mp4", "bursts-out.mp4", bursts.nCut, 1);

    const CCut ntsc = Cut("ntsc.mp4", 0.7, "ntsc-cut.mp4");
    result = Rebuild("ntsc-ref.mp4", ntsc.strPath, "ntsc-out.mp4");
    ASSERT_EQ(result.eStatus, CRebuildResult::EStatus::Rebuilt) << Detail(result);
    ExpectSamplesOfWhole("ntsc.mp4", "ntsc-out.mp4", ntsc.nCut, 2);
    // Every seventh picture dropped: a reference whose pictures last 1/30 s on average only.
    ASSERT_NE(ProbeEntry(Path("vfr-ref.mp4"), "stream=avg_frame_rate").substr(0, 4), "30/1");
    const CCut steady = Cut("h264.mp4", 0.6, "vfr-cut.mp4");
    result = Rebuild("vfr-ref.mp4", steady.strPath, "vfr-out.mp4");
    ASSERT_EQ(result.eStatus, CRebuildResult::EStatus::Rebuilt) << Detail(result);
    ExpectSamplesOfWhole("h264.mp4", "vfr-out.mp4", steady.nCut, 2);
}

// Tracks the engine does not decode: timed text, whose samples mark their own end, is kept
// with each sample where the sound says; metadata of one sample size (GoPro's) is kept too; and
// no sound or picture beside them is lost or moved. A timecode is kept, as the recording's.
TEST_F(RebuildScenario, TracksNotDecodedArePassedWithoutLosingANeighbour) {
    ASSERT_TRUE(s_bMade);
    const std::vector<CPacket> whole = ProbePackets(Path("text.mp4"));
    for (double dFraction : {0.3, 0.6, 0.9}) {
        SCOPED_TRACE(dFraction);
        const CCut cut = Cut("text.mp4", dFraction, "text-cut.mp4");
        const CRebuildResult result = Rebuild("text-ref.mp4", cut.strPath, "text-out.mp4");
        ASSERT_EQ(result.eStatus, CRebuildResult::EStatus::Rebuilt) << Detail(result);
        EXPECT_EQ(result.tracks.size(), 3u);
        EXPECT_TRUE(result.tracksLeftOut.empty());
        const std::vector<CPacket> copy = ProbePackets(Path("text-out.mp4"));
        for (int s = 0; s < 2; ++s) {
            SCOPED_TRACE("stream " + std::to_string(s));
            EXPECT_EQ(CompareTimes(WholePackets(whole, s, cut.nCut), StreamPackets(copy, s)).dMax,
                      0);
        }
        // The texts at their times; an empty sample that ends one is written with the next.
        EXPECT_LE(CompareTimes(WholePackets(whole, 2, cut.nCut), StreamPackets(copy, 2), 3).dMax,
                  kChunk);
    }
    const CCut gpmf = Cut("gpmf.mov", 0.6, "gpmf-cut.mov");
    CRebuildResult result = Rebuild("gpmf-ref.mov", gpmf.strPath, "gpmf-out.mov");
    ASSERT_EQ(result.eStatus, CRebuildResult::EStatus::Rebuilt) << Detail(result);
    ASSERT_EQ(result.tracks.size(), 3u);
    EXPECT_EQ(result.tracks[2].strCodec, "gpmd");
    ExpectSamplesOfWhole("gpmf.mov", "gpmf-out.mov", gpmf.nCut, 3);

    const CCut other = Cut("other.mp4", 0.8, "other-cut.mp4");
    result = Rebuild("other-ref.mp4", other.strPath, "other-out.mp4");
    ASSERT_EQ(result.eStatus, CRebuildResult::EStatus::Rebuilt) << Detail(result);
    ASSERT_EQ(result.tracks.size(), 4u);
    EXPECT_EQ(result.tracks[3].strCodec, "tmcd");
    const std::vector<CPacket> otherWhole = ProbePackets(Path("other.mp4"));
    const std::vector<CPacket> otherCopy = ProbePackets(Path("other-out.mp4"));
    for (int s = 0; s < 3; ++s) {
        SCOPED_TRACE("stream " + std::to_string(s));
        CompareTimes(WholePackets(otherWhole, s, other.nCut), StreamPackets(otherCopy, s));
    }
    // The timecode is the recording's own, not the reference's.
    EXPECT_EQ(ProbeEntry(Path("other-out.mp4"), "stream_tags=timecode").substr(0, 11),
              "01:00:00:00");
}

// Motion JPEG with PCM of each layout, H.263 with AMR-NB, AMR-WB and PCM, each cut rebuilt from its
// whole copy: every picture and AMR frame before the cut comes back as it was, near its time,
// and the PCM's bytes to the last whole frame; the copy says which tracks no decoder checked. A
// reference without ftyp (old QuickTime) gives the copy QuickTime's.
TEST_F(RebuildScenario, OldCodecsRebuildEachCutFromItsWholeCopy) {
    ASSERT_TRUE(s_bMade);
    struct CCase {
        const char* pszFile;
        const char* pszVideo;
        const char* pszSound;
        uint64_t nFrameBytes; // PCM's, 0 for AMR
    };
    const CCase cases[] = {
        {"mjpeg-sowt.mov", "Motion JPEG", "PCM", 4}, {"mjpeg-twos.mov", "Motion JPEG", "PCM", 2},
        {"mjpeg-in24.mov", "Motion JPEG", "PCM", 6}, {"mjpeg-raw.mov", "Motion JPEG", "PCM", 1},
        {"h263-samr.3gp", "H.263", "AMR-NB", 0},     {"h263-sawb.3gp", "H.263", "AMR-WB", 0},
        {"h263-twos.mov", "H.263", "PCM", 2},
    };
    // The bytes of a stream's packets, up to nCut in the file.
    auto bytesOf = [](const std::string& strFile, const std::vector<CPacket>& packets,
                      uint64_t nCut) {
        const std::vector<uint8_t> file = ReadBytes(strFile);
        std::vector<uint8_t> bytes;
        for (const CPacket& packet : packets) {
            const uint64_t nEnd = std::min(packet.nPos + packet.nSize, nCut);
            if (packet.nPos < nEnd && nEnd <= file.size())
                bytes.insert(bytes.end(), file.begin() + static_cast<ptrdiff_t>(packet.nPos),
                             file.begin() + static_cast<ptrdiff_t>(nEnd));
        }
        return bytes;
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.pszFile);
        const std::string strFile = c.pszFile;
        const std::string strExtension = strFile.substr(strFile.find('.'));
        const CCut cut = Cut(strFile, 0.6, "old-cut" + strExtension);
        const std::string strCopy = "old-out" + strExtension;
        const CRebuildResult result = Rebuild(strFile, cut.strPath, strCopy);
        ASSERT_EQ(result.eStatus, CRebuildResult::EStatus::Rebuilt) << Detail(result);
        ASSERT_EQ(result.tracks.size(), 2u);
        EXPECT_EQ(result.tracks[0].strCodec, c.pszVideo);
        EXPECT_EQ(result.tracks[1].strCodec, c.pszSound);
        const std::vector<CPacket> whole = ProbePackets(Path(strFile));
        const std::vector<CPacket> copy = ProbePackets(Path(strCopy));
        for (int s = 0; s < (c.nFrameBytes != 0 ? 1 : 2); ++s) {
            SCOPED_TRACE("stream " + std::to_string(s));
            const std::vector<CPacket> expected = WholePackets(whole, s, cut.nCut);
            const std::vector<CPacket> found = StreamPackets(copy, s);
            EXPECT_GT(expected.size(), 10u);
            ASSERT_EQ(found.size(), expected.size());
            // Pictures timed by the sound around them, within a picture of their time.
            for (size_t i = 0; i < found.size(); ++i) {
                ASSERT_EQ(found[i].strHash, expected[i].strHash) << "sample " << i;
                ASSERT_EQ(found[i].strFlags, expected[i].strFlags) << "sample " << i;
                ASSERT_NEAR(found[i].dPts, expected[i].dPts, s == 0 ? 1.0 / 15 : 0) << i;
            }
        }
        if (c.nFrameBytes != 0) {
            std::vector<uint8_t> expected =
                bytesOf(Path(strFile), StreamPackets(whole, 1), cut.nCut);
            expected.resize(expected.size() / c.nFrameBytes * c.nFrameBytes);
            EXPECT_GT(expected.size(), 1000u);
            EXPECT_TRUE(bytesOf(Path(strCopy), StreamPackets(copy, 1), UINT64_MAX) == expected);
        }
#if defined(CLIPMEND_DECODERS)
        // The decoders lent check none of it, and the result says so.
        EXPECT_FALSE(result.play.bChecked);
        ASSERT_EQ(result.play.undecoded.size(), 2u);
        EXPECT_TRUE(result.play.undecoded[0].bVideo);
        EXPECT_EQ(result.play.undecoded[0].strCodec, c.pszVideo);
        EXPECT_EQ(result.play.undecoded[1].strCodec, c.pszSound);
#endif
    }

    // Without its ftyp (a free box in its place), as old QuickTime files are.
    std::vector<uint8_t> reference = ReadBytes(Path("mjpeg-raw.mov"));
    ASSERT_EQ(std::string(reference.begin() + 4, reference.begin() + 8), "ftyp");
    std::copy_n("free", 4, reference.begin() + 4);
    WriteBytes(Path("mjpeg-noftyp.mov"), reference);
    const CCut cut = Cut("mjpeg-raw.mov", 0.6, "old-cut.mov");
    const CRebuildResult result = Rebuild("mjpeg-noftyp.mov", cut.strPath, "old-out.mov");
    ASSERT_EQ(result.eStatus, CRebuildResult::EStatus::Rebuilt) << Detail(result);
    EXPECT_EQ(ProbeEntry(Path("old-out.mov"), "format_tags=major_brand"), "qt  ");
    std::string strErrors;
    EXPECT_EQ(RunCommand("ffmpeg -v error -i " + Quote(Path("old-out.mov")) + " -f null - 2>&1",
                         &strErrors),
              0);
    EXPECT_EQ(strErrors, "");
}

// Sound at 48 and 44.1 kHz, whose frames parse alike: each frame stays in its own track, told
// apart by when it is due, wherever the recording was cut.
TEST_F(RebuildScenario, SoundTracksOfTwoRatesKeepEachFrameInItsTrack) {
    ASSERT_TRUE(s_bMade);
    for (double dFraction : {0.3, 0.45, 0.7, 0.9}) {
        SCOPED_TRACE(dFraction);
        const CCut cut = Cut("rates.mp4", dFraction, "rates-cut.mp4");
        const CRebuildResult result = Rebuild("rates-ref.mp4", cut.strPath, "rates-out.mp4");
        ASSERT_EQ(result.eStatus, CRebuildResult::EStatus::Rebuilt) << Detail(result);
        ExpectSamplesOfWhole("rates.mp4", "rates-out.mp4", cut.nCut, 3);
    }
}

// A bit flipped in the sound frame at or after nAt, such that the frame no longer parses.
bool FlipSoundBit(const std::vector<CPacket>& packets, uint64_t nAt, std::vector<uint8_t>* pBytes,
                  uint64_t* pBegin, uint64_t* pEnd) {
    CAacConfig config;
    config.nObjectType = 2;
    config.nSampleRateIndex = 3; // 48 kHz
    config.nChannelConfig = 1;
    for (const CPacket& packet : StreamPackets(packets, 1)) {
        if (packet.nPos < nAt)
            continue;
        for (uint64_t nBit = 8 * (packet.nSize / 2); nBit < 8 * packet.nSize; ++nBit) {
            std::vector<uint8_t> frame(pBytes->begin() + static_cast<ptrdiff_t>(packet.nPos),
                                       pBytes->begin() +
                                           static_cast<ptrdiff_t>(packet.nPos + packet.nSize));
            frame[nBit / 8] ^= static_cast<uint8_t>(0x80 >> (nBit % 8));
            size_t nLength = 0;
            if (ParseAacFrame(config, frame.data(), frame.size(), &nLength) != EAacFrame::Ok) {
                (*pBytes)[packet.nPos + nBit / 8] = frame[nBit / 8];
                *pBegin = packet.nPos + nBit / 8;
                *pEnd = *pBegin + 1;
                return true;
            }
        }
    }
    return false;
}

// Damage at a third of the recording (a bad sector's zeros, random bytes, one flipped bit): the
// walk finds the next sample it can confirm and goes on. Everything after the damage is kept at
// its time, the damaged frames are left out, and the stretch is named with its time and size.
TEST_F(RebuildScenario, DamageInTheMiddleIsPassedAndNamed) {
    ASSERT_TRUE(s_bMade);
    const CCut cut = Cut("h264.mp4", 0.9, "damage-base.mp4");
    const std::vector<uint8_t> base = ReadBytes(Path(cut.strPath));
    const std::vector<CPacket> whole = ProbePackets(Path("h264.mp4"));
    uint64_t nLargest = 0;
    for (const CPacket& packet : whole)
        nLargest = std::max(nLargest, packet.nSize);
    const uint64_t nThird = base.size() / 3;
    for (const char* pszKind : {"zeros", "random bytes", "a flipped bit"}) {
        SCOPED_TRACE(pszKind);
        std::vector<uint8_t> bytes = base;
        uint64_t nBegin = nThird, nEnd = nThird + 4096;
        const std::string strKind = pszKind;
        if (strKind == "zeros") {
            std::fill(bytes.begin() + static_cast<ptrdiff_t>(nBegin),
                      bytes.begin() + static_cast<ptrdiff_t>(nEnd), 0);
        } else if (strKind == "random bytes") {
            uint32_t nSeed = 12345;
            for (uint64_t i = nBegin; i < nEnd; ++i) {
                nSeed = nSeed * 1103515245 + 12345;
                bytes[i] = static_cast<uint8_t>(nSeed >> 16);
            }
        } else {
            ASSERT_TRUE(FlipSoundBit(whole, nThird, &bytes, &nBegin, &nEnd));
        }
        WriteBytes(Path("damaged.mp4"), bytes);
        const CRebuildResult result = Rebuild("h264-ref.mp4", "damaged.mp4", "damaged-out.mp4");
        ASSERT_EQ(result.eStatus, CRebuildResult::EStatus::Rebuilt) << Detail(result);
        const std::vector<CPacket> copy = ProbePackets(Path("damaged-out.mp4"));
        double dFirstDamaged = -1;
        for (int s = 0; s < 2; ++s) {
            SCOPED_TRACE("stream " + std::to_string(s));
            EXPECT_EQ(
                CompareTimes(WholePackets(whole, s, cut.nCut, nBegin, nEnd), StreamPackets(copy, s))
                    .dMax,
                0);
            for (const CPacket& packet : StreamPackets(whole, s)) {
                if (packet.nPos < nEnd && packet.nPos + packet.nSize > nBegin &&
                    (dFirstDamaged < 0 || packet.dPts < dFirstDamaged))
                    dFirstDamaged = packet.dPts;
            }
        }
        ASSERT_EQ(result.stretchesLeftOut.size(), 2u);
        const CStretchLeftOut& stretch = result.stretchesLeftOut[0];
        EXPECT_FALSE(stretch.bToEnd);
        EXPECT_LE(stretch.nOffset, nBegin);
        EXPECT_GE(stretch.nOffset + stretch.nBytes, nEnd);
        EXPECT_LE(stretch.nBytes, nEnd - nBegin + 2 * nLargest);
        EXPECT_NEAR(stretch.dAt, dFirstDamaged, 4 * kChunk);
        EXPECT_GT(stretch.dSeconds, 0);
        EXPECT_LT(stretch.dSeconds, 0.5);
        EXPECT_EQ(stretch.eReason, CStretchLeftOut::EReason::DamagedFrame);
        const std::string strReport =
            FormatRebuildReport("damaged.mp4", "h264-ref.mp4", "out.mp4", result).str();
        EXPECT_NE(strReport.find("\nLeft out: "), std::string::npos) << strReport;
        EXPECT_NE(strReport.find(" (a damaged frame)."), std::string::npos) << strReport;
    }

#if defined(CLIPMEND_DECODERS)
    // Bytes changed inside a picture's slice data, a third of the way in: the walk has no reason
    // to leave it out, the decoders find it, and the verdict names its time.
    const std::vector<CPacket> pictures = StreamPackets(whole, 0);
    const CPacket* pDamaged = nullptr;
    for (const CPacket& packet : pictures) {
        if (packet.nPos >= nThird && packet.strFlags.find('K') == std::string::npos &&
            packet.nSize >= 1000 && packet.nPos + packet.nSize < cut.nCut) {
            pDamaged = &packet;
            break;
        }
    }
    ASSERT_NE(pDamaged, nullptr);
    std::vector<uint8_t> changed = base;
    for (uint64_t i = 0; i < 16; ++i)
        changed[static_cast<size_t>(pDamaged->nPos + pDamaged->nSize / 2 + i)] ^= 0x5A;
    WriteBytes(Path("damaged.mp4"), changed);
    const CRebuildResult damaged = Rebuild("h264-ref.mp4", "damaged.mp4", "damaged-out.mp4");
    ASSERT_EQ(damaged.eStatus, CRebuildResult::EStatus::Rebuilt) << Detail(damaged);
    EXPECT_TRUE(FileExists(Path("damaged-out.mp4")));
    EXPECT_GE(damaged.play.nDamaged, 1u);
    ASSERT_FALSE(damaged.play.damaged.empty());
    EXPECT_TRUE(damaged.play.damaged[0].bVideo);
    EXPECT_NEAR(damaged.play.damaged[0].dAt, pDamaged->dPts, 2 * kChunk);
    const std::string strDamaged = Report(damaged);
    EXPECT_NE(strDamaged.find("\nIt plays, but the decoders found "), std::string::npos)
        << strDamaged;
    char szAt[32];
    std::snprintf(szAt, sizeof szAt, "0:%04.1f",
                  std::floor(damaged.play.damaged[0].dAt * 10 + 0.5) / 10);
    EXPECT_NE(strDamaged.find(std::string("\nDamaged: the picture at ") + szAt + " ("),
              std::string::npos)
        << strDamaged;
#endif

    // A tenth of the data zeros (H.264 without B-frames, three slices a picture): the stretch
    // is zeros, and what follows plays at its time.
    const CCut nob = Cut("nob.mp4", 0.9, "zeros.mp4");
    std::vector<uint8_t> bytes = ReadBytes(Path(nob.strPath));
    const size_t nZeros = bytes.size() * 4 / 10, nZerosEnd = bytes.size() / 2;
    std::fill(bytes.begin() + static_cast<ptrdiff_t>(nZeros),
              bytes.begin() + static_cast<ptrdiff_t>(nZerosEnd), 0);
    WriteBytes(Path(nob.strPath), bytes);
    const CRebuildResult result = Rebuild("nob-ref.mp4", nob.strPath, "zeros-out.mp4");
    ASSERT_EQ(result.eStatus, CRebuildResult::EStatus::Rebuilt) << Detail(result);
    const std::vector<CPacket> nobWhole = ProbePackets(Path("nob.mp4"));
    const std::vector<CPacket> nobCopy = ProbePackets(Path("zeros-out.mp4"));
    ASSERT_FALSE(result.stretchesLeftOut.empty());
    // How long so many bytes lasted is told by the bytes: within a sixth of it, and picture
    // and sound together.
    const double dLong = result.stretchesLeftOut[0].dSeconds;
    EXPECT_GT(dLong, 0.5);
    const CTimeError video = CompareTimes(WholePackets(nobWhole, 0, nob.nCut, nZeros, nZerosEnd),
                                          StreamPackets(nobCopy, 0));
    const CTimeError sound = CompareTimes(WholePackets(nobWhole, 1, nob.nCut, nZeros, nZerosEnd),
                                          StreamPackets(nobCopy, 1));
    EXPECT_LE(video.dMax, dLong / 6);
    EXPECT_LE(std::fabs(video.dLast - sound.dLast), kChunk);
    EXPECT_EQ(result.stretchesLeftOut[0].eReason, CStretchLeftOut::EReason::Zeros);
    EXPECT_GE(result.stretchesLeftOut[0].nBytes, nZerosEnd - nZeros);
    // Without B-frames the copy needs no composition offsets.
    std::string strCtts;
    RunCommand("grep -c ctts " + Quote(Path("zeros-out.mp4")), &strCtts);
    EXPECT_EQ(strCtts, "0\n");

    // A voice memo with 35 flipped bytes, the first in its third frame: nearly all of it.
    std::vector<uint8_t> memo = ReadBytes(Path("memo.m4a"));
    const std::vector<CPacket> memoWhole = ProbePackets(Path("memo.m4a"));
    for (size_t i = 2; i < 2 + 35 * 17 && i < memoWhole.size(); i += 17)
        memo[memoWhole[i].nPos + memoWhole[i].nSize / 2] ^= 0x5A;
    WriteBytes(Path("memo-flipped.m4a"), memo);
    const CCut memoCut = Cut("memo-flipped.m4a", 0.95, "memo-cut.m4a");
    const CRebuildResult memoResult = Rebuild("memo-ref.m4a", memoCut.strPath, "memo-out.m4a");
    ASSERT_EQ(memoResult.eStatus, CRebuildResult::EStatus::Rebuilt) << Detail(memoResult);
    const std::vector<CPacket> memoExpected = WholePackets(memoWhole, 0, memoCut.nCut);
    const std::vector<CPacket> memoCopy = ProbePackets(Path("memo-out.m4a"));
    std::multiset<std::string> known;
    for (const CPacket& packet : memoExpected)
        known.insert(packet.strHash);
    size_t nFound = 0;
    for (const CPacket& packet : memoCopy)
        nFound += known.count(packet.strHash) ? 1 : 0;
    EXPECT_GE(nFound, memoExpected.size() * 9 / 10);
    ASSERT_FALSE(memoCopy.empty());
    EXPECT_NEAR(memoCopy.back().dPts, memoExpected.back().dPts, 4 * 1024.0 / 44100);
}

// Recordings that stopped at once: cut inside the first frame, or holding nothing but a
// timecode. Nothing to play: no copy, and the verdict says so.
TEST_F(RebuildScenario, AShortRecordingHoldsNoWholeFrame) {
    ASSERT_TRUE(s_bMade);
    const std::vector<CPacket> h264 = ProbePackets(Path("h264.mp4"));
    ASSERT_FALSE(h264.empty());
    const CCut first =
        Cut("h264.mp4",
            double(h264[0].nPos + h264[0].nSize / 2) / double(ReadBytes(Path("h264.mp4")).size()),
            "first-cut.mp4");
    CRebuildResult result = Rebuild("h264-ref.mp4", first.strPath, "first-out.mp4");
    EXPECT_EQ(result.eStatus, CRebuildResult::EStatus::NoMediaData);
    EXPECT_EQ(result.eProblem, CRebuildResult::EProblem::NoWholeFrame);
    EXPECT_NE(Detail(result).find("holds no whole frame"), std::string::npos) << Detail(result);
    EXPECT_FALSE(FileExists(Path("first-out.mp4")));

    const std::vector<CPacket> other = ProbePackets(Path("other.mp4"));
    ASSERT_FALSE(other.empty());
    ASSERT_EQ(other[0].nStream, 3) << "the timecode is not the first sample";
    std::vector<uint8_t> bytes = ReadBytes(Path("other.mp4"));
    CMemoryByteSource source(bytes.data(), bytes.size());
    CBox mdat;
    ASSERT_TRUE(FindBox(source, 0, bytes.size(), FourCC("mdat"), &mdat));
    bytes.resize(static_cast<size_t>(other[0].nPos + other[0].nSize + 3));
    std::fill(bytes.begin() + static_cast<ptrdiff_t>(mdat.nOffset),
              bytes.begin() + static_cast<ptrdiff_t>(mdat.nOffset + 4), 0);
    WriteBytes(Path("timecode-only.mp4"), bytes);
    result = Rebuild("other-ref.mp4", "timecode-only.mp4", "timecode-out.mp4");
    EXPECT_EQ(result.eStatus, CRebuildResult::EStatus::NoMediaData) << Detail(result);
    EXPECT_EQ(result.eProblem, CRebuildResult::EProblem::NoWholeFrame);
    EXPECT_FALSE(FileExists(Path("timecode-out.mp4")));
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

#if defined(CLIPMEND_DECODERS)
    // A reference whose first picture does not decode: refused before anything is written.
    const std::vector<CPacket> referencePackets = ProbePackets(Path("h264-ref.mp4"));
    ASSERT_FALSE(referencePackets.empty());
    std::vector<uint8_t> badReference = ReadBytes(Path("h264-ref.mp4"));
    const CPacket first = StreamPackets(referencePackets, 0).at(0);
    for (uint64_t i = 0; i < 64; ++i)
        badReference[static_cast<size_t>(first.nPos + first.nSize / 2 + i)] ^= 0xA5;
    WriteBytes(Path("bad-ref.mp4"), badReference);
    result = Rebuild("bad-ref.mp4", cut.strPath, "refuse-out.mp4");
    EXPECT_EQ(result.eStatus, CRebuildResult::EStatus::ReferenceUnusable) << Detail(result);
    EXPECT_EQ(result.eProblem, CRebuildResult::EProblem::ReferenceDoesNotPlay);
    EXPECT_EQ(Detail(result).find("The reference does not play: its video does not decode ("), 0u)
        << Detail(result);
    EXPECT_FALSE(FileExists(Path("refuse-out.mp4")));
#endif

    result = Rebuild("h264-ref.mp4", "no-such-file.mp4", "refuse-out.mp4");
    EXPECT_EQ(result.eStatus, CRebuildResult::EStatus::ReadFailed);
    EXPECT_FALSE(FileExists(Path("refuse-out.mp4")));
}

} // namespace
