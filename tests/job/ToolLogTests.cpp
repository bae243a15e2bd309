#include "job/ToolOutput.h"
#include "tests/core/CodePage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

const EOutputStream kOut = EOutputStream::StdOut;
const EOutputStream kErr = EOutputStream::StdErr;

CString LinesOf(const std::string& strOutput, size_t nCapacity = CToolLog::kDefaultCapacity) {
    CToolOutput output(nCapacity);
    output.Append(kOut, strOutput.data(), strOutput.size());
    return output.GetFailureLines();
}

TEST(ToolLog, ShowsTheLastLinesWithoutProgressOrBlanks) {
    EXPECT_STREQ("", LinesOf(""));
    EXPECT_STREQ("", LinesOf("\r\n\n   \t \r\n"));
    EXPECT_STREQ("b\nc\nd", LinesOf("a\nb\r\n\nc\n  \nd\n"));
    // Progress lines end in '\r' alone; a last progress line with nothing after it too.
    EXPECT_STREQ("Import done\nWriting done",
                 LinesOf("Importing |==  | (10/100)\rImporting |====| (100/100)\r"
                         "Import done\nWriting |=   |\rWriting done\r\nWriting |==|\r"));
    // A last line without its end still counts: the tool may die in the middle of one.
    EXPECT_STREQ("first\nlast words", LinesOf("first\nlast words"));
    // "\r\r\n" is what a text-mode stream makes of "\r\n": a line, not progress.
    EXPECT_STREQ("one\ntwo", LinesOf("one\r\r\ntwo\r\r\n"));
    // Leading and trailing blanks go, tabs become spaces.
    EXPECT_STREQ("x y", LinesOf("  x\ty \n"));
}

TEST(ToolLog, PrefersErrorLines) {
    const std::string strOutput = "Error opening file in.mp4: I/O Error\n"
                                  "Importing |====| (100/100)\r"
                                  "track 1 imported\n"
                                  "Saving out.mp4: 0.500 secs Interleaving\n"
                                  "Done\n";
    EXPECT_STREQ("Error opening file in.mp4: I/O Error", LinesOf(strOutput));

    EXPECT_STREQ("[iso file] Invalid box size\nCannot write output: Permission denied\n"
                 "FAILED to save",
                 LinesOf("Error 1\nok\n[iso file] Invalid box size\nmore\n"
                         "Cannot write output: Permission denied\nFAILED to save\nbye\n"));
    // Without error lines the last lines are shown.
    EXPECT_STREQ("Importing\nSaving\nDone", LinesOf("Opening\nImporting\nSaving\nDone\n"));
    // A progress line never counts, even when it reads like an error.
    EXPECT_STREQ("Done", LinesOf("Done\nerror rate 0% |==|\r"));

    CToolOutput output;
    output.Append(kOut, "a\nb\n", 4);
    EXPECT_STREQ("", output.GetFailureLines(0));
    EXPECT_STREQ("b", output.GetFailureLines(1));
}

TEST(ToolLog, ChunkingDoesNotChangeTheResult) {
    std::string strOutput;
    for (int i = 0; i < 300; ++i) {
        strOutput += "Importing |" + std::string(static_cast<size_t>(i % 20), '=') + "|\r";
        if (i % 37 == 0)
            strOutput += "Error in sample " + std::to_string(i) + "\r\n";
        if (i % 11 == 0)
            strOutput += "line " + std::to_string(i) + "\r\r\n";
        if (i % 53 == 0)
            strOutput += std::string(150, 'w') + "\n";
    }
    strOutput += "tail without end";

    for (size_t nCapacity : {size_t(16), size_t(200), size_t(4096)}) {
        SCOPED_TRACE(nCapacity);
        const CString strWhole = LinesOf(strOutput, nCapacity);
        std::mt19937 random(static_cast<unsigned>(nCapacity));
        for (int nRound = 0; nRound < 200; ++nRound) {
            CToolOutput log(nCapacity);
            size_t nDone = 0;
            while (nDone < strOutput.size()) {
                // Chunks of up to 256 bytes, as the runner reads them; sometimes just one byte
                // so that every "\r\n" is split somewhere.
                const size_t nChunk = nRound % 4 == 0 ? 1 : 1 + random() % 256;
                const size_t nTake = std::min(nChunk, strOutput.size() - nDone);
                log.Append(kOut, strOutput.data() + nDone, nTake);
                nDone += nTake;
            }
            ASSERT_STREQ(strWhole, log.GetFailureLines()) << "round " << nRound;
        }
    }
    // Progress lines take no room. 16 bytes hold the last whole line and the unended tail;
    // 200 reach back to an error line, which is then the only one shown.
    EXPECT_STREQ("line 297\ntail without end", LinesOf(strOutput, 16));
    EXPECT_STREQ("Error in sample 296", LinesOf(strOutput, 200));
}

TEST(ToolLog, KeepsOnlyTheTail) {
    // The oldest kept line is dropped when its start fell off the tail.
    std::string strOutput = "Error: early\n";
    for (int i = 0; i < 50; ++i)
        strOutput += std::string(98, 'x') + "\n";
    strOutput += "final\n";
    const std::string strLines(LinesOf(strOutput));
    EXPECT_EQ(std::string::npos, strLines.find("early")) << strLines;
    EXPECT_EQ("final", strLines.substr(strLines.rfind('\n') + 1));

    // A line that starts exactly where the tail starts is whole and stays.
    const std::string strKept = "kept line\nlast\n";
    CToolOutput log(strKept.size());
    log.Append(kOut, "dropped\n", 8);
    log.Append(kOut, strKept.data(), strKept.size());
    EXPECT_STREQ("kept line\nlast", log.GetFailureLines());
    // One byte less and its start is gone.
    CToolOutput shorter(strKept.size() - 1);
    shorter.Append(kOut, "dropped\n", 8);
    shorter.Append(kOut, strKept.data(), strKept.size());
    EXPECT_STREQ("last", shorter.GetFailureLines());

    // A tail that starts just after a progress line's '\r' starts a whole line too.
    CToolOutput afterProgress(6);
    afterProgress.Append(kOut, "50%\rError\n", 10);
    EXPECT_STREQ("Error", afterProgress.GetFailureLines());

    // A lot of output keeps the memory small and the end right.
    CToolOutput flood;
    for (int i = 0; i < 100000; ++i)
        flood.Append(kOut, "Importing |==========|\r", 23);
    flood.Append(kOut, "Error: disk full\n", 17);
    EXPECT_STREQ("Error: disk full", flood.GetFailureLines());

    flood.Reset();
    EXPECT_STREQ("", flood.GetFailureLines());
    flood.Append(kOut, "fresh\n", 6);
    EXPECT_STREQ("fresh", flood.GetFailureLines());
}

TEST(ToolLog, KeepsTheTwoStreamsApart) {
    // Each stream's line is whole, however the chunks of the two interleave.
    CToolOutput log;
    log.Append(kOut, "Saving out.mp4: wri", 19);
    log.Append(kErr, "Error: disk ", 12);
    log.Append(kOut, "te failed\n", 10);
    log.Append(kErr, "full\n", 5);
    EXPECT_STREQ("Saving out.mp4: write failed\nError: disk full", log.GetFailureLines());

    // A '\r' that ends one stream's chunk is progress when its own stream goes on with text,
    // whatever the other stream sends meanwhile.
    CToolOutput progress;
    progress.Append(kErr, "Importing |==| (50/100)\r", 24);
    progress.Append(kOut, "\nreal line\n", 12);
    progress.Append(kErr, "next\n", 5);
    EXPECT_STREQ("real line\nnext", progress.GetFailureLines());

    // Unended lines of both streams count, each on its own.
    CToolOutput unended;
    unended.Append(kOut, "abc", 3);
    unended.Append(kErr, "def", 3);
    EXPECT_STREQ("abc\ndef", unended.GetFailureLines());
}

TEST(ToolLog, LongLinesAndOddBytes) {
    const CString strLong = LinesOf(std::string(500, 'a') + "\n");
    EXPECT_EQ(static_cast<int>(CToolLog::kMaxLineWidth), strLong.GetLength());
    EXPECT_STREQ((std::string(CToolLog::kMaxLineWidth - 3, 'a') + "...").c_str(), strLong);
    const std::string strFits(CToolLog::kMaxLineWidth, 'b');
    EXPECT_STREQ(strFits.c_str(), LinesOf(strFits + "\n"));

    // Zero bytes, colour sequences and control characters never reach the message box.
    const char kOdd[] = "bad\0byte\x1b[1;31m here\x1b[0m\x07\n";
    EXPECT_STREQ("badbyte here", LinesOf(std::string(kOdd, sizeof kOdd - 1)));
}

TEST(ToolLog, CutsBetweenDoubleByteCharacters) {
    CString strCut;
    // One single-byte character, then double-byte ones: the cut at an even number of bytes
    // (kMaxLineWidth - 3) would fall between a lead byte and its trail byte, so the line is
    // cut one byte earlier.
    static_assert(CToolLog::kMaxLineWidth % 2 == 1, "the cut must fall inside a character");
    const size_t nKept = CToolLog::kMaxLineWidth - 4;
    std::string strLine = "a";
    {
        const auto sjis = CCodePageScope::ShiftJis();
        while (strLine.size() < 2 * CToolLog::kMaxLineWidth)
            strLine += "\x82\xA0";
        strCut = LinesOf(strLine + "\n");
    }
    ASSERT_EQ(static_cast<int>(nKept + 3), strCut.GetLength());
    EXPECT_EQ(0, std::memcmp(strLine.data(), static_cast<const char*>(strCut), nKept));
    EXPECT_STREQ("...", strCut.Right(3));
}

TEST(ToolLog, CutsBetweenUtf8Characters) {
    const auto utf8 = CCodePageScope::Utf8();
    const size_t nKeep = CToolLog::kMaxLineWidth - 3;
    // Characters of two, three and four bytes after 0 to 3 ASCII ones: the cut at 97 bytes
    // falls on every byte of a sequence in turn.
    for (const std::string strChar : {"Ж", "旅", "🌊"}) {
        for (size_t nPad = 0; nPad < 4; ++nPad) {
            std::string strLine(nPad, 'a');
            while (strLine.size() < 2 * CToolLog::kMaxLineWidth)
                strLine += strChar;
            SCOPED_TRACE(std::to_string(strChar.size()) + " bytes after " + std::to_string(nPad));
            const std::string strCut(LinesOf(strLine + "\n"));
            ASSERT_GE(strCut.size(), 3u);
            const size_t nKept = strCut.size() - 3;
            EXPECT_EQ("...", strCut.substr(nKept));
            EXPECT_EQ(strLine.substr(0, nKept), strCut.substr(0, nKept));
            // Whole characters only, and as many as fit.
            EXPECT_EQ(0u, (nKept - nPad) % strChar.size());
            EXPECT_LE(nKept, nKeep);
            EXPECT_GT(nKept + strChar.size(), nKeep);
        }
    }
}

// What the multiplexer prints when it fails: the line that says why over the ones that only
// say that it failed, paths cut to names, no false advice.
TEST(ToolLog, TheReasonOverTheToolsGenericFailure) {
    const std::string strFolder = "C:\\Users\\someone\\" + std::string(150, 'f');
    const std::string strSource = strFolder + "\\clip.mp4";
    const std::string strOutput = strFolder + "\\clip-NEW.mp4";
    auto lines = [&](const std::string& strText) {
        CToolOutput output;
        output.Reset(0, {strSource, strOutput});
        output.Append(kErr, strText.data(), strText.size());
        return std::string(output.GetFailureLines());
    };
    const std::string strGeneric =
        "\x1b[31m[IsoMedia] error while opening " + strSource +
        ", error=Invalid IsoMedia File\x1b[0m\n"
        "Filter mp4dmx failed to setup: Invalid IsoMedia File\nFilters not connected:\n"
        "mp4mx (importer:file=0000000000C84360:xps_inband=auto) (idx=1)\n"
        "[Importer] Error importing " +
        strSource +
        "\n"
        "Failure while importing media: Invalid IsoMedia File\n"
        "Error importing " +
        strSource + ": Invalid IsoMedia File\n";
    // Only that it failed: once.
    EXPECT_EQ("Error importing clip.mp4: Invalid IsoMedia File", lines(strGeneric));
    // The reason first, then once that it failed; the path, however long, is a name.
    EXPECT_EQ("[iso file] Incomplete box mdat - start 40 size 1000\n"
              "Error importing clip.mp4: Invalid IsoMedia File",
              lines("[iso file] Incomplete box mdat - start 40 size 1000\n" + strGeneric));
    EXPECT_EQ("Cannot open " + std::string("clip-NEW.mp4") + ": Permission denied",
              lines("Cannot open " + strOutput + ": Permission denied\n"));
    // "Not ready, retry later" is what an empty file gets; retrying never helps.
    EXPECT_EQ("[Importer] Error importing clip.mp4",
              lines("Filter fin failed to setup: Not ready, retry later\n"
                    "[Importer] Error importing " +
                    strSource +
                    "\n"
                    "Error importing " +
                    strSource + ": Not ready, retry later"));
}

} // namespace
