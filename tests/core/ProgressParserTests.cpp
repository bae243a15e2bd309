#include "job/ProgressParser.h"

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

// What a parser shows, as one comparable value: "" when no phase is in progress.
std::string Shown(const CProgressParser& parser) {
    return parser.IsActive() ? std::to_string(parser.GetPercent()) + " " + parser.GetPhase() : "";
}

std::string ShownAfter(const std::string& strOutput) {
    CProgressParser parser;
    parser.Feed(strOutput.data(), strOutput.size());
    return Shown(parser);
}

// Two phases, each from 0, a blank line between them and a third phase without one, split
// into three records at every pair of places: what shows after each record is what shows
// after the same bytes one by one, and Feed says whether it changed.
TEST(ProgressParser, FollowsPhasesHoweverTheRecordsSplitTheLines) {
    const std::string strOutput = "Opening\r\n" + Line("Importing ISO File", 7) +
                                  Line("Importing ISO File", 7) + Line("Importing ISO File", 100) +
                                  kBlank + Line("ISO File Writing", 0) +
                                  Line("ISO File Writing", 45) + Line("Cleaning", 3);
    std::vector<std::string> reference(1, ""), distinct;
    {
        CProgressParser parser;
        for (char ch : strOutput) {
            parser.Feed(&ch, 1);
            reference.push_back(Shown(parser));
            if (reference.back() != reference[reference.size() - 2])
                distinct.push_back(reference.back());
        }
    }
    ASSERT_EQ((std::vector<std::string>{"7 Importing ISO File", "100 Importing ISO File", "",
                                        "0 ISO File Writing", "45 ISO File Writing", "3 Cleaning"}),
              distinct);

    for (size_t i = 0; i <= strOutput.size(); ++i) {
        for (size_t j = i; j <= strOutput.size(); ++j) {
            CProgressParser parser;
            const size_t cuts[] = {0, i, j, strOutput.size()};
            for (int k = 0; k < 3; ++k) {
                const std::string before = Shown(parser);
                const bool bChanged =
                    parser.Feed(strOutput.data() + cuts[k], cuts[k + 1] - cuts[k]);
                ASSERT_EQ(reference[cuts[k + 1]], Shown(parser)) << "cut at " << i << ", " << j;
                ASSERT_EQ(before != Shown(parser), bChanged) << "cut at " << i << ", " << j;
            }
        }
    }
}

TEST(ProgressParser, IgnoresWhatOnlyLooksLikeProgress) {
    const std::string strGood = Line("Importing", 30);
    EXPECT_EQ("30 Importing", ShownAfter(strGood));
    // A line ending in '\n' is progress as well; one without its end is not yet.
    EXPECT_EQ("30 Importing", ShownAfter(strGood.substr(0, strGood.size() - 1) + "\n"));
    EXPECT_EQ("", ShownAfter(strGood.substr(0, strGood.size() - 1)));
    // The phase may hold anything, even what the line's own pieces look like.
    EXPECT_EQ("30 a: |b| (1/100) c", ShownAfter(Line("a: |b| (1/100) c", 30)));

    const char* const kJunk[] = {
        "Importing: |====                | (101/100)\r",
        "Importing: |====                | (1000/100)\r",
        "Importing: |====                | (/100)\r",
        "Importing: |====                | (30/200)\r",
        "Importing: |====                | (30/100) \r",
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
        EXPECT_EQ("30 Importing", ShownAfter(strGood + pszJunk)) << pszJunk;
    }
    // A line too long to be progress, however it ends; the next one counts again.
    const std::string strLong = std::string(CProgressParser::kMaxLine, 'x') + strGood;
    EXPECT_EQ("", ShownAfter(strLong));
    EXPECT_EQ("5 Next", ShownAfter(strLong + Line("Next", 5)));
    // Empty lines ("\r\n") change nothing; a blank line ends the phase.
    EXPECT_EQ("30 Importing", ShownAfter(strGood + "\r\n\n"));
    EXPECT_EQ("", ShownAfter(strGood + " \r"));
}

TEST(ProgressParser, CaptionPrefixIsCleanedAndShortenedBeforeASpace) {
    EXPECT_STREQ("25% Importing ISO File - ", ProgressCaptionPrefix(25, "Importing ISO File"));
    EXPECT_STREQ("0% - ", ProgressCaptionPrefix(0, "  \t\x1b "));
    EXPECT_STREQ("100% a b - ", ProgressCaptionPrefix(100, " a\x07 b\x7f "));
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
