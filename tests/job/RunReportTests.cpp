#include "job/RebuildReport.h"
#include "job/RebuildResultText.h"
#include "job/ReportWords.h"
#include "job/SourceReport.h"
#include "job/ToolReport.h"
#include "rebuild/RebuildResult.h"

#include <gtest/gtest.h>

namespace {

CMp4Verdict Valid(double dSeconds = 0) {
    return {EMp4Problem::None, dSeconds};
}
CMp4Verdict Invalid(EMp4Problem eProblem) {
    return {eProblem, 0};
}

const CString kOutput = "C:\\v\\clip-NEW.mp4";

CString FormatRunReport(const CString& output, uint32_t exitCode, const CMp4Verdict& file,
                        const CString& toolLines) {
    CRunOutcome outcome;
    outcome.strOutput = output;
    outcome.nExitCode = exitCode;
    outcome.file = file;
    outcome.strToolLines = toolLines;
    outcome.strSourceName = "clip.mp4";
    return ::FormatRunReport(outcome);
}

// The report of result, and the same worded from the text the rebuild tool would print of it
// and the window read back, line by line as the runner delivers them.
std::string ReportThroughText(const CRebuildResult& result, std::string* pThroughText) {
    CRebuildResultReader reader;
    const std::string text = "Rebuilding: |==== | (20/100)\n" + RebuildResultText(result);
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        reader.OnLine(text.substr(at, end - at));
    CRebuildResult read;
    *pThroughText = reader.Get(&read)
                        ? FormatRebuildReport("clip.mp4", "ref.mp4", kOutput, read).str()
                        : "no result read";
    return FormatRebuildReport("clip.mp4", "ref.mp4", kOutput, result).str();
}

#define EXPECT_SAME_THROUGH_TEXT(result)                                                           \
    do {                                                                                           \
        std::string through;                                                                       \
        EXPECT_EQ(ReportThroughText(result, &through), through);                                   \
    } while (0)

} // namespace

TEST(RunReportTest, DoneOnlyForExitZeroAndASoundFile) {
    EXPECT_EQ(FormatRunReport(kOutput, 0, Valid(), ""),
              "Done! Created new file C:\\v\\clip-NEW.mp4");
    // The tool's chatter is not shown on success.
    EXPECT_EQ(FormatRunReport(kOutput, 0, Valid(), "Error: ignored"),
              "Done! Created new file C:\\v\\clip-NEW.mp4");
}

TEST(RunReportTest, NonZeroExitFailsWhateverTheFileLooksLike) {
    EXPECT_EQ(FormatRunReport(kOutput, 3, Valid(), ""),
              "Failed! Could not create new file C:\\v\\clip-NEW.mp4\n"
              "The BOX program ended with exit code 3.");
    EXPECT_EQ(FormatRunReport(kOutput, 0xC0000005u, Invalid(EMp4Problem::NotMp4), ""),
              "Failed! Could not create new file C:\\v\\clip-NEW.mp4\n"
              "The BOX program crashed (exception 0xC0000005).");
    EXPECT_EQ(DescribeExitCode(255), "The BOX program ended with exit code 255.");
}

TEST(RunReportTest, AToolTheSystemCouldNotLoadIsNotACrash) {
    for (uint32_t code : {0xC0000135u, 0xC0000139u, 0xC000007Bu, 0xC0000142u}) {
        const CString text = DescribeExitCode(code);
        CString hex;
        hex.Format("0x%08X", static_cast<unsigned>(code));
        EXPECT_NE(text.str().find("could not be loaded"), std::string::npos) << text;
        EXPECT_NE(text.str().find(hex.str()), std::string::npos) << text;
        EXPECT_NE(text.str().find("Copy the DLLs that come with MP4Box into the tool folder"),
                  std::string::npos)
            << text;
        EXPECT_EQ(text.str().find("crashed"), std::string::npos) << text;
    }
    // A neighbouring code is a crash as before.
    EXPECT_EQ(DescribeExitCode(0xC0000136u), "The BOX program crashed (exception 0xC0000136).");
}

TEST(RunReportTest, StaleOutputAndStartFailuresSayWhy) {
    CRunOutcome stale;
    stale.strOutput = kOutput;
    stale.bUnchanged = true;
    EXPECT_EQ(FormatRunReport(stale), "Failed! Could not create new file C:\\v\\clip-NEW.mp4\n"
                                      "The BOX program ended without writing the new file.");
    EXPECT_EQ(FormatStartFailure("Access is denied."),
              "Cannot start the BOX program\nAccess is denied.");
    EXPECT_EQ(FormatStartFailure(""), "Cannot start the BOX program");
}

TEST(RunReportTest, ExitZeroWithABadFileSaysWhatIsWrongAndWhatTheToolSaid) {
    EXPECT_EQ(FormatRunReport(kOutput, 0, Invalid(EMp4Problem::Empty),
                              "Error: tag not set\nError: disk full"),
              "Failed! Could not create new file C:\\v\\clip-NEW.mp4\n"
              "The new file is empty.\n\n"
              "Error: tag not set\nError: disk full");
}

TEST(RunReportTest, PercentInThePathIsData) {
    EXPECT_EQ(FormatRunReport("C:\\100%s\\a%n-NEW.mp4", 1, Valid(), "50% %s"),
              "Failed! Could not create new file C:\\100%s\\a%n-NEW.mp4\n"
              "The BOX program ended with exit code 1.\n\n50% %s");
}

TEST(RunReportTest, ACopyOfACutFileSaysHowMuchItHolds) {
    CRunOutcome outcome;
    outcome.strOutput = kOutput;
    outcome.strSourceName = "clip.mp4";
    outcome.file = Valid(9.8);
    outcome.dStatedSeconds = 20.0;
    // Shorter than the source says, or the source was cut short: not a plain "Done!".
    for (const ESourceKind eKind : {ESourceKind::Mp4, ESourceKind::Mp4CutShort}) {
        outcome.eSource = eKind;
        EXPECT_STREQ(
            "Saved what was left! Created new file C:\\v\\clip-NEW.mp4\nThe new file "
            "holds 0:10 of the 0:20 the video should have: the rest of clip.mp4 is missing "
            "(it was cut short).",
            ::FormatRunReport(outcome));
    }
    // A fragmented recording that does not state its length.
    outcome.dStatedSeconds = 0;
    outcome.file = Valid(3725.2);
    EXPECT_STREQ("Saved what was left! Created new file C:\\v\\clip-NEW.mp4\nThe new file holds "
                 "1:02:05 of the video: the rest of clip.mp4 is missing (it was cut short).",
                 ::FormatRunReport(outcome));
    // Whole, within the second that audio priming takes.
    outcome.eSource = ESourceKind::Mp4;
    outcome.dStatedSeconds = 20.0;
    outcome.file = Valid(19.3);
    EXPECT_STREQ("Done! Created new file C:\\v\\clip-NEW.mp4", ::FormatRunReport(outcome));
    // A kind the tool converted says what the file was.
    outcome.eSource = ESourceKind::MpegTs;
    EXPECT_STREQ("Done! Created new file C:\\v\\clip-NEW.mp4\nclip.mp4 was an MPEG-TS video; the "
                 "new file is an MP4 file.",
                 ::FormatRunReport(outcome));
    EXPECT_STREQ("0:00", FormatDuration(0.2));
    EXPECT_STREQ("59:59", FormatDuration(3599.4));
}

TEST(RunReportTest, AFileTheToolIsNotRunOnIsNamedForWhatItIs) {
    CSourceInfo info;
    info.eKind = ESourceKind::Mp4;
    EXPECT_STREQ("", DescribeUnrunnableSource("a.mp4", info));
    info.eKind = ESourceKind::Matroska;
    EXPECT_STREQ("a.mp4 is a Matroska video, not an MP4 file. Clipmend fixes MP4 files only.",
                 DescribeUnrunnableSource("a.mp4", info));
    info.eKind = ESourceKind::AppleDouble;
    EXPECT_NE(std::string::npos,
              DescribeUnrunnableSource("._a.mp4", info).str().find("The video itself is a.mp4."));
    info.eKind = ESourceKind::NoIndex;
    info.nMediaBytes = 1000;
    const std::string noIndex = DescribeUnrunnableSource("a.mp4", info).str();
    EXPECT_EQ(0u, noIndex.find("a.mp4 was cut off before its index was written"));
    EXPECT_NE(std::string::npos, noIndex.find("a second, whole recording made by the same device"));
    // Offered once the recording could not be rebuilt by itself: why, then the question.
    const std::string offer =
        RebuildOffer("a.mp4", info, "its pictures do not decode with the settings found in it")
            .str();
    EXPECT_EQ(0u, offer.find(noIndex.substr(0, noIndex.find("\n\n")) +
                             " Clipmend cannot rebuild the index from this file alone: its "
                             "pictures do not decode with the settings found in it.\n\nWhat can "
                             "help: a second, whole recording"))
        << offer;
    EXPECT_NE(std::string::npos, offer.find("Choose it, and Clipmend rebuilds")) << offer;
}

TEST(RunReportTest, ARebuildSaysWhatItRebuiltAndWhatItLeftOut) {
    CRebuildResult result;
    result.eStatus = CRebuildResult::EStatus::Rebuilt;
    result.eProblem = CRebuildResult::EProblem::None;
    CRebuiltTrack video, sound;
    video.eKind = CRebuiltTrack::EKind::Video;
    video.nTimescale = 15360;
    video.nDuration = 15360 * 12;
    sound.eKind = CRebuiltTrack::EKind::Audio;
    sound.nTimescale = 48000;
    sound.nDuration = 48000 * 12 + 1024;
    result.tracks = {video, sound, sound};
    result.dSeconds = 12.3;
    // Damage in the middle, each stretch with its time and size, then the tail.
    CStretchLeftOut zeros, damaged, tail;
    zeros.eReason = CStretchLeftOut::EReason::Zeros;
    zeros.nBytes = 4096;
    zeros.dAt = 4.04;
    zeros.dSeconds = 0.2;
    damaged.eReason = CStretchLeftOut::EReason::DamagedFrame;
    damaged.nBytes = 371;
    damaged.dAt = 65.51;
    damaged.dSeconds = 0.021;
    tail.eReason = CStretchLeftOut::EReason::Zeros;
    tail.nBytes = 1234567;
    tail.dAt = 12.3;
    tail.bToEnd = true;
    result.stretchesLeftOut = {zeros, damaged, tail};
    result.nBytesLeftOut = 4096 + 371 + 1234567;
    CTrackLeftOut subtitles;
    subtitles.nTrackId = 3;
    subtitles.nHandler = 0x74657874; // text
    subtitles.nFormat = 0x74783367;  // tx3g
    subtitles.eReason = CTrackLeftOut::EReason::SamplesNotMarked;
    result.tracksLeftOut = {subtitles};
    EXPECT_STREQ("Done! Created new file C:\\v\\clip-NEW.mp4\nclip.mp4 rebuilt: 0:12 of video, "
                 "0:12 of sound and 0:12 of sound.\n"
                 "Left out: 4 KB at 0:04.0, about 0.2 seconds (zeros).\n"
                 "Left out: 371 bytes at 1:05.5 (a damaged frame).\n"
                 "Left out: the last 1.2 MB of the recording, from 0:12 on (zeros).\n"
                 "Left out: Track 3 (subtitles, 'tx3g'): its samples vary in size and nothing in "
                 "them shows where one ends, so they cannot be found in the media data.",
                 FormatRebuildReport("clip.mp4", "ref.mp4", kOutput, result));
    EXPECT_STREQ("12.3 seconds of the recording were rebuilt; 1.2 MB were left out.",
                 DescribeRebuildResult("clip.mp4", result));
    // Most of the media left out: said first, with the tracks not found at all.
    result.nMediaBytes = 2 * result.nBytesLeftOut - 1;
    subtitles.eReason = CTrackLeftOut::EReason::NoneFound;
    CTrackLeftOut empty = subtitles;
    empty.nTrackId = 4;
    empty.eReason = CTrackLeftOut::EReason::NoSamplesInReference;
    result.tracksLeftOut = {subtitles, empty};
    const std::string strPart =
        "Done! Created new file C:\\v\\clip-NEW.mp4\nOnly part of clip.mp4 could be rebuilt: "
        "0:12 of video, 0:12 of sound and 0:12 of sound; 1.2 MB of the 2.5 MB left out. Not "
        "found: its subtitles (track 3).\nLeft out: 4 KB";
    EXPECT_EQ(strPart, FormatRebuildReport("clip.mp4", "ref.mp4", kOutput, result)
                           .str()
                           .substr(0, strPart.size()));
    EXPECT_SAME_THROUGH_TEXT(result);
    result.stretchesLeftOut.clear();
    result.nBytesLeftOut = 0;
    EXPECT_STREQ("All 12.3 seconds of the recording were rebuilt.",
                 DescribeRebuildResult("clip.mp4", result));

    // Tracks that are neither video nor sound are named, not timed.
    CRebuiltTrack timecode, data;
    timecode.strCodec = "tmcd";
    data.strCodec = "gpmd";
    result.tracks = {video, timecode, sound, data};
    EXPECT_NE(std::string::npos, FormatRebuildReport("clip.mp4", "ref.mp4", kOutput, result)
                                     .str()
                                     .find("clip.mp4 rebuilt: 0:12 of video and 0:12 of sound, "
                                           "with its tmcd and gpmd tracks.\n"));

    // Rebuilt by itself: what it told of its settings, and how sure that is.
    CFoundSettings& found = result.found;
    found.eSource = CFoundSettings::ESource::ParameterSets;
    found.strVideo = "HEVC";
    found.strProfile = "Main 10";
    found.nWidth = 1920;
    found.nHeight = 1080;
    found.dFrameRate = 30000.0 / 1001;
    found.strSound = "AAC-LC";
    found.nSampleRate = 44100;
    found.nChannels = 1;
    found.bRateByTime = true;
    EXPECT_NE(std::string::npos,
              FormatRebuildReport("clip.mp4", "", kOutput, result)
                  .str()
                  .find("\nHEVC Main 10, 1920x1080, 29.97 fps, AAC-LC 44.1 kHz mono (its rate "
                        "told by its timing), taken from the recording itself.\n"));
    EXPECT_SAME_THROUGH_TEXT(result);
    found.eSource = CFoundSettings::ESource::Records;
    found.strCamera = "HERO5 Black";
    found.dFrameRate = 25;
    found.bFrameRateAssumed = true;
    found.nChannels = 6;
    found.bRateByTime = false;
    EXPECT_STREQ("HEVC Main 10, 1920x1080, 25 fps (assumed: it does not say), AAC-LC 44.1 kHz 6 "
                 "channels, taken from the recording itself (the records of its camera, a HERO5 "
                 "Black)",
                 DescribeFoundSettings(found));
    EXPECT_SAME_THROUGH_TEXT(result);
}

// What decoding the copy found: what was decoded when not all of it, damaged frames at their
// times and how many more, and a copy that did not play at all.
TEST(RunReportTest, ARebuildSaysWhetherTheCopyPlays) {
    CRebuildResult result;
    result.eStatus = CRebuildResult::EStatus::Rebuilt;
    result.eProblem = CRebuildResult::EProblem::None;
    CRebuiltTrack video;
    video.eKind = CRebuiltTrack::EKind::Video;
    video.nTimescale = 90000;
    video.nDuration = 90000 * 500;
    result.tracks = {video};
    result.dSeconds = 500;
    CPlayResult& play = result.play;
    play.bChecked = play.bPlays = play.bHevc = true;
    play.bSoundEnd = play.bVideoStart = play.bVideoEnd = true;
    play.nSoundPlaces = 10;
    play.nVideoPlaces = 2;
    const std::string strDone =
        "Done! Created new file C:\\v\\clip-NEW.mp4\nclip.mp4 rebuilt: 8:20 "
        "of video.\n";
    EXPECT_EQ(strDone + "It plays from start to end: its sound at its start, its end and 8 places "
                        "between, and its pictures at its start and its end, decoded without an "
                        "error. (Damage inside an HEVC picture can go unseen by this check.)",
              FormatRebuildReport("clip.mp4", "ref.mp4", kOutput, result).str());
    // Of a copy without sound, only its pictures are said to have decoded.
    play.bSoundWhole = play.bVideoWhole = true;
    play.nSoundPlaces = 0;
    EXPECT_EQ(strDone + "It plays from start to end: every picture of it decoded. (Damage inside "
                        "an HEVC picture can go unseen by this check.)",
              FormatRebuildReport("clip.mp4", "ref.mp4", kOutput, result).str());
    // Tracks no decoder was lent for are named, whether or not others were decoded.
    CPlayResult::CUndecoded pcm;
    pcm.strCodec = "PCM";
    play.undecoded = {pcm};
    EXPECT_EQ(strDone + "It plays from start to end: every picture of it decoded. (Damage inside "
                        "an HEVC picture can go unseen by this check.) Its PCM sound was not "
                        "decoded: Clipmend has no decoder for it.",
              FormatRebuildReport("clip.mp4", "ref.mp4", kOutput, result).str());
    EXPECT_SAME_THROUGH_TEXT(result);
    CPlayResult::CUndecoded mjpeg;
    mjpeg.bVideo = true;
    mjpeg.strCodec = "Motion JPEG";
    play.undecoded = {mjpeg, pcm};
    play.nVideoPlaces = 0;
    EXPECT_EQ(strDone + "Its Motion JPEG video and PCM sound were not decoded: Clipmend has no "
                        "decoder for them.",
              FormatRebuildReport("clip.mp4", "ref.mp4", kOutput, result).str());
    play.undecoded.clear();
    play.bVideoWhole = false;
    play.bSoundWhole = false;
    play.nSoundPlaces = play.nVideoPlaces = 3;
    EXPECT_EQ(strDone + "It plays from start to end: its sound and pictures at its start, its end "
                        "and 1 place between decoded without an error. (Damage inside an HEVC "
                        "picture can go unseen by this check.)",
              FormatRebuildReport("clip.mp4", "ref.mp4", kOutput, result).str());

    play.bHevc = false;
    CDamagedFrame picture;
    picture.bVideo = true;
    picture.dAt = 65.51;
    picture.strDecoder = "error while decoding MB 43 0";
    play.damaged = {picture};
    play.nDamaged = 3;
    EXPECT_EQ(strDone + "It plays, but the decoders found three damaged frames in it.\n"
                        "Damaged: the picture at 1:05.5 (error while decoding MB 43 0).\n"
                        "Damaged: 2 more frames.",
              FormatRebuildReport("clip.mp4", "ref.mp4", kOutput, result).str());
    EXPECT_SAME_THROUGH_TEXT(result);

    result.eStatus = CRebuildResult::EStatus::NotPlayable;
    result.eProblem = CRebuildResult::EProblem::CopyDoesNotPlay;
    EXPECT_EQ("Failed! Could not create new file C:\\v\\clip-NEW.mp4\nThe rebuilt copy does not "
              "play: not one of its frames decoded, so it was removed.",
              FormatRebuildReport("clip.mp4", "ref.mp4", kOutput, result).str());
}

TEST(RunReportTest, ARefusedRebuildNamesTheDifferenceOrWhatIsMissing) {
    CRebuildResult result;
    result.eStatus = CRebuildResult::EStatus::Mismatch;
    result.eProblem = CRebuildResult::EProblem::None;
    result.mismatch.eKind = CMismatch::EKind::VideoCodec;
    result.mismatch.strRecording = "H.264";
    result.mismatch.strReference = "HEVC";
    EXPECT_STREQ("Cannot rebuild clip.mp4 from ref.mp4.\nThe recording's video is H.264, the "
                 "reference's is HEVC.\nNothing was written.",
                 FormatRebuildReport("clip.mp4", "ref.mp4", kOutput, result));
    struct CCase {
        CMismatch mismatch;
        const char* pszText;
    };
    CMismatch rate, approximate, layout, size, fps, tracks;
    rate.eKind = approximate.eKind = CMismatch::EKind::SoundRate;
    rate.nRecording = approximate.nRecording = 44100;
    rate.nReference = approximate.nReference = 48000;
    approximate.bApproximate = true;
    layout.eKind = CMismatch::EKind::SoundLayout;
    layout.nRecording = 2;
    layout.nReference = 1;
    size.eKind = CMismatch::EKind::PictureSize;
    size.nRecording = 1280;
    size.nRecordingHeight = 720;
    size.nReference = 640;
    size.nReferenceHeight = 360;
    fps.eKind = CMismatch::EKind::FrameRate;
    fps.dRecording = 25;
    fps.dReference = 29.97;
    tracks.eKind = CMismatch::EKind::ReferenceSoundRecordingNone;
    tracks.nReference = 2;
    const CCase cases[] = {
        {rate, "The recording's sound is at 44.1 kHz, the reference's at 48 kHz."},
        {approximate, "The recording's sound is at about 44.1 kHz, the reference's at 48 kHz."},
        {layout, "The recording's sound is stereo, the reference's is mono."},
        {size, "The recording's video is 1280x720: it is not 640x360 like the reference's."},
        {fps, "The recording's video runs at about 25 frames a second, the reference's at 29.97."},
        {tracks, "The reference has two sound tracks, the recording has none."},
    };
    for (const CCase& c : cases) {
        result.mismatch = c.mismatch;
        EXPECT_STREQ(c.pszText, DescribeRebuildResult("clip.mp4", result));
        EXPECT_SAME_THROUGH_TEXT(result);
    }

    // A recording cut inside its first frame, or holding only a timecode.
    result.eStatus = CRebuildResult::EStatus::NoMediaData;
    result.eProblem = CRebuildResult::EProblem::NoWholeFrame;
    EXPECT_STREQ("Cannot rebuild clip.mp4 from ref.mp4.\nclip.mp4 holds no whole frame of video or "
                 "sound: the recording stopped before its first frame was written.\nNothing was "
                 "written.",
                 FormatRebuildReport("clip.mp4", "ref.mp4", kOutput, result));
    result.eStatus = CRebuildResult::EStatus::ReferenceUnusable;
    result.eProblem = CRebuildResult::EProblem::ReferenceWithoutUsableTrack;
    result.referenceCodecs = {"'mp4v'", "'twos'"};
    EXPECT_STREQ("The reference has no video or sound that Clipmend can find in a recording (it "
                 "has 'mp4v', 'twos').",
                 DescribeRebuildResult("clip.mp4", result));
    EXPECT_SAME_THROUGH_TEXT(result);
    result.eStatus = CRebuildResult::EStatus::Cancelled;
    result.eProblem = CRebuildResult::EProblem::Cancelled;
    EXPECT_STREQ(
        "Failed! Could not create new file C:\\v\\clip-NEW.mp4\nThe rebuild was cancelled.",
        FormatRebuildReport("clip.mp4", "ref.mp4", kOutput, result));
    // Without a reference, a recording that does not hold enough.
    result.eStatus = CRebuildResult::EStatus::NeedsReference;
    result.eProblem = CRebuildResult::EProblem::None;
    result.found.eMissing = CFoundSettings::EMissing::DoesNotDecode;
    EXPECT_STREQ("Cannot rebuild clip.mp4.\nclip.mp4 cannot be rebuilt by itself: its pictures do "
                 "not decode with the settings found in it.\nNothing was written.",
                 FormatRebuildReport("clip.mp4", "", kOutput, result));
    EXPECT_SAME_THROUGH_TEXT(result);
}

// The result is another program's output: a line cut short, a number out of its range or not a
// number, a list longer than any result has, an unknown record, or no end, and there is none.
TEST(RunReportTest, ARebuildResultThatDoesNotHoldTogetherIsNoResult) {
    CRebuildResult result;
    result.eStatus = CRebuildResult::EStatus::Rebuilt;
    result.tracks.resize(1);
    result.mismatch.strRecording = "100% H.264\n";
    const std::string text = RebuildResultText(result);
    const auto read = [](const std::string& lines, bool bCutLast = false) {
        CRebuildResultReader reader;
        for (size_t at = 0, end; (end = lines.find('\n', at)) != std::string::npos; at = end + 1)
            reader.OnLine(lines.substr(at, end - at), bCutLast && end + 1 == lines.size());
        CRebuildResult got;
        return reader.Get(&got) ? got.mismatch.strRecording : std::string("none");
    };
    EXPECT_EQ("100% H.264\n", read(text));
    const std::string body = text.substr(0, text.rfind("end\n"));
    EXPECT_EQ("none", read(body));
    EXPECT_EQ("none", read(text, true));
    for (const char* line :
         {"status 0 0 0 nan", "status 0 0 0 -1", "status 0 99 0 0", "track 0 1 1 1 1",
          "track 0 1 1 1 1 H.264 extra", "codec %zz", "damaged 1 1e10 x", "play 1",
          "status 0 0 18446744073709551616 0", "nothing 1"})
        EXPECT_EQ("none", read(body + line + "\nend\n")) << line;
    std::string many = body;
    for (size_t i = 0; i <= kMaxDamagedNamed; ++i)
        many += "damaged 1 1.5 x\n";
    EXPECT_EQ("none", read(many + "end\n"));
}
