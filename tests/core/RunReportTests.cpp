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
