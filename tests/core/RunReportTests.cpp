#include "job/RunReport.h"

#include <gtest/gtest.h>

namespace {

CMp4Verdict Valid() {
    return {true, CString()};
}
CMp4Verdict Invalid(const char* problem) {
    return {false, CString(problem)};
}

const CString kOutput = "C:\\v\\clip-NEW.mp4";

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
