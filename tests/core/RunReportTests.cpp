#include "job/RunReport.h"
#include "rebuild/Rebuild.h"

#include <gtest/gtest.h>

namespace {

CMp4Verdict Valid(double dSeconds = 0) {
    return {true, CString(), dSeconds};
}
CMp4Verdict Invalid(const char* problem) {
    return {false, CString(problem), 0};
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
    EXPECT_EQ(FormatRunReport(kOutput, 0xC0000005u, Invalid("x"), ""),
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
    CMp4Verdict stale;
    stale.strProblem = kToolWroteNothing;
    EXPECT_EQ(FormatRunReport(kOutput, 0, stale, ""),
              "Failed! Could not create new file C:\\v\\clip-NEW.mp4\n"
              "The BOX program ended without writing the new file.");
    EXPECT_EQ(FormatStartFailure("Access is denied."),
              "Cannot start the BOX program\nAccess is denied.");
    EXPECT_EQ(FormatStartFailure(""), "Cannot start the BOX program");
}

TEST(RunReportTest, ExitZeroWithABadFileSaysWhatIsWrongAndWhatTheToolSaid) {
    EXPECT_EQ(FormatRunReport(kOutput, 0, Invalid("The new file is empty."),
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
    EXPECT_NE(std::string::npos, noIndex.find("no program can rebuild"));
    EXPECT_NE(std::string::npos, noIndex.find("a second, whole recording made by the same device"));
}

TEST(RunReportTest, ARebuildSaysWhatItRebuiltAndWhatItLeftOut) {
    CRebuildResult result;
    result.eStatus = CRebuildResult::EStatus::Rebuilt;
    CRebuiltTrack video, sound;
    video.eKind = CRebuiltTrack::EKind::Video;
    video.nTimescale = 15360;
    video.nDuration = 15360 * 12;
    sound.eKind = CRebuiltTrack::EKind::Audio;
    sound.nTimescale = 48000;
    sound.nDuration = 48000 * 12 + 1024;
    result.tracks = {video, sound, sound};
    result.nBytesLeftOut = 1234567;
    result.dStoppedAt = 12.3;
    result.strLeftOutReason = "zeros";
    result.tracksLeftOut = {"the timecode track, whose samples vary in size"};
    EXPECT_STREQ("Done! Created new file C:\\v\\clip-NEW.mp4\nclip.mp4 rebuilt: 0:12 of video, "
                 "0:12 of sound and 0:12 of sound.\nLeft out: the last 1.2 MB of the recording, "
                 "from 0:12 on (zeros).\nLeft out: the timecode track, whose samples vary in size.",
                 FormatRebuildReport("clip.mp4", "ref.mp4", kOutput, result));
    result.eStatus = CRebuildResult::EStatus::Mismatch;
    result.strDetail = "The recording's video is H.264, the reference's is HEVC.";
    EXPECT_STREQ("Cannot rebuild clip.mp4 from ref.mp4.\nThe recording's video is H.264, the "
                 "reference's is HEVC.\nNothing was written.",
                 FormatRebuildReport("clip.mp4", "ref.mp4", kOutput, result));
}
