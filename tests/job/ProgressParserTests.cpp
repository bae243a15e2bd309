#include "job/ToolOutput.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Line(const std::string& strPhase, int nPercent) {
    const size_t nBar = static_cast<size_t>(nPercent) / 5;
    return strPhase + ": |" + std::string(nBar, '=') + std::string(20 - nBar, ' ') + "| (" +
           (nPercent < 10 ? "0" : "") + std::to_string(nPercent) + "/100)\r";
}

const std::string kBlank = std::string(60, ' ') + "\r";

// What the run shows, as one comparable value: "" before any progress.
std::string Shown(const CToolOutput& output) {
    const CProgressParser& progress = output.Progress();
    return progress.IsActive() ? std::to_string(progress.GetPercent()) + " " + progress.GetPhase()
                               : "";
}

std::string ShownAfter(const std::string& strOutput, int nPhases = 2) {
    CToolOutput output;
    output.Reset(nPhases);
    output.Append(EOutputStream::StdErr, strOutput.data(), strOutput.size());
    return Shown(output);
}

// A run of three phases: each from 0, a blank line after the first and none after the second,
// split into three records at every pair of places: what shows after each record is what
// shows after the same bytes one by one, Append says whether it changed, and the one
// percentage for the whole run only ever rises.
TEST(ProgressParser, FollowsPhasesHoweverTheRecordsSplitTheLines) {
    const std::string strOutput = "Opening\r\n" + Line("Importing ISO File", 7) +
                                  Line("Importing ISO File", 7) + Line("Importing ISO File", 100) +
                                  kBlank + Line("ISO File Writing", 0) +
                                  Line("ISO File Writing", 45) + Line("Cleaning", 3);
    std::vector<std::string> reference(1, ""), distinct;
    {
        CToolOutput output;
        output.Reset(3);
        for (char ch : strOutput) {
            output.Append(EOutputStream::StdErr, &ch, 1);
            reference.push_back(Shown(output));
            if (reference.back() != reference[reference.size() - 2])
                distinct.push_back(reference.back());
        }
    }
    ASSERT_EQ(
        (std::vector<std::string>{"2 Importing ISO File", "33 Importing ISO File",
                                  "33 ISO File Writing", "48 ISO File Writing", "67 Cleaning"}),
        distinct);

    for (size_t i = 0; i <= strOutput.size(); ++i) {
        for (size_t j = i; j <= strOutput.size(); ++j) {
            CToolOutput output;
            output.Reset(3);
            const size_t cuts[] = {0, i, j, strOutput.size()};
            for (int k = 0; k < 3; ++k) {
                const std::string before = Shown(output);
                const bool bChanged = output.Append(
                    EOutputStream::StdErr, strOutput.data() + cuts[k], cuts[k + 1] - cuts[k]);
                ASSERT_EQ(reference[cuts[k + 1]], Shown(output)) << "cut at " << i << ", " << j;
                ASSERT_EQ(before != Shown(output), bChanged) << "cut at " << i << ", " << j;
            }
        }
    }
}

TEST(ProgressParser, IgnoresWhatOnlyLooksLikeProgress) {
    const std::string strGood = Line("Importing", 30);
    EXPECT_EQ("30 Importing", ShownAfter(strGood, 1));
    EXPECT_EQ("15 Importing", ShownAfter(strGood));
    // A line ending in '\n' is progress as well; one without its end is not yet.
    EXPECT_EQ("15 Importing", ShownAfter(strGood.substr(0, strGood.size() - 1) + "\n"));
    EXPECT_EQ("", ShownAfter(strGood.substr(0, strGood.size() - 1)));
    // The phase may hold anything, even what the line's own pieces look like.
    EXPECT_EQ("15 a: |b| (1/100) c", ShownAfter(Line("a: |b| (1/100) c", 30)));
    // Colours and tabs are no part of it.
    EXPECT_EQ("15 Importing ISO File",
              ShownAfter("\x1b[33mImporting\tISO File: |====                | (30/100)\x1b[0m\r"));

    const char* const kJunk[] = {
        "Importing: |====                | (101/100)\r",
        "Importing: |====                | (1000/100)\r",
        "Importing: |====                | (/100)\r",
        "Importing: |====                | (30/200)\r",
        "Importing: |===#                | (30/100)\r",
        "Importing: |====               | (30/100)\r",
        "Importing: |====                 | (30/100)\r",
        "Importing |====                | (30/100)\r",
        ": |====                | (30/100)\r",
        "   : |====                | (30/100)\r",
        "| (30/100)\r",
        "(30/100)\r",
        "Error: something failed\r",
    };
    for (const char* pszJunk : kJunk) {
        EXPECT_EQ("", ShownAfter(pszJunk)) << pszJunk;
        // Nor does junk end a phase in progress.
        EXPECT_EQ("15 Importing", ShownAfter(strGood + pszJunk)) << pszJunk;
    }
    // A line too long to be progress, however it ends; the next one counts again.
    const std::string strLong = std::string(CLineAssembler::kMaxLine, 'x') + strGood;
    EXPECT_EQ("", ShownAfter(strLong));
    EXPECT_EQ("5 Next", ShownAfter(strLong + Line("Next", 10)));
    // Empty lines ("\r\n") change nothing; a blank line ends the phase.
    EXPECT_EQ("15 Importing", ShownAfter(strGood + "\r\n\n"));
    EXPECT_EQ("50 Importing", ShownAfter(strGood + " \r"));
    // More phases than expected: the percentage goes on from where it stood, never falls.
    EXPECT_EQ("60 Importing", ShownAfter(strGood + " \r" + Line("Importing", 20), 1));
    EXPECT_EQ("100 Importing",
              ShownAfter(Line("Importing", 100) + " \r" + Line("Importing", 20), 1));
}

TEST(ProgressParser, CaptionPrefixIsShortenedBeforeASpace) {
    EXPECT_STREQ("25% Importing ISO File - ", ProgressCaptionPrefix(25, "Importing ISO File"));
    EXPECT_STREQ("0% - ", ProgressCaptionPrefix(0, ""));
    // 40 bytes at most, cut before a space: the bytes before one always end a character.
    EXPECT_STREQ("7% Writing the file out.mp4 to the disk... - ",
                 ProgressCaptionPrefix(7, "Writing the file out.mp4 to the disk      at last"));
    // UTF-8: the 3-byte characters straddle byte 40; a cut there would split one.
    const std::string strUtf8 =
        "Importing \xE6\x98\xA0\xE5\x83\x8F\xE6\x98\xA0\xE5\x83\x8F "
        "\xE6\x98\xA0\xE5\x83\x8F\xE6\x98\xA0\xE5\x83\x8F\xE6\x98\xA0\xE5\x83\x8F x";
    EXPECT_STREQ("1% Importing \xE6\x98\xA0\xE5\x83\x8F\xE6\x98\xA0\xE5\x83\x8F... - ",
                 ProgressCaptionPrefix(1, strUtf8));
    // Shift-JIS with '|'-like trail bytes; no space in reach leaves the percentage alone.
    EXPECT_STREQ("2% - ", ProgressCaptionPrefix(2, std::string(30, '\x83') + "\x7c\x83\x7c" +
                                                       std::string(20, '\x81')));
}

} // namespace
