// Fuzzes what takes the tool's output apart: the line assembler, the cleaning, the log and the
// progress. The input is split into chunks at bytes chosen by the input itself; the result must
// match the same output given in one piece, and two streams given at once must never splice
// their lines.
#include "job/ToolOutput.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void CheckLines(const CString& strLines) {
    // At most three lines, each short, none blank, no control characters.
    int nLines = 1;
    int nWidth = 0;
    for (int i = 0; i < strLines.GetLength(); ++i) {
        const unsigned char ch = static_cast<unsigned char>(strLines.GetAt(i));
        if (ch == '\n') {
            if (nWidth == 0)
                std::abort();
            ++nLines;
            nWidth = 0;
        } else if (ch < 0x20 || ch == 0x7F ||
                   ++nWidth > static_cast<int>(CToolLog::kMaxLineWidth)) {
            std::abort();
        }
    }
    if (nLines > 3 || (!strLines.IsEmpty() && nWidth == 0))
        std::abort();
}

// Its letters a-m on one stream, n-z on the other: a line holding both was spliced.
std::string Stream(const char* pText, size_t nText, char chBase) {
    std::string strOut;
    for (size_t i = 0; i < nText; ++i) {
        const unsigned char ch = static_cast<unsigned char>(pText[i]);
        strOut += ch % 8 == 0 ? '\n' : ch % 8 == 1 ? '\r' : static_cast<char>(chBase + ch % 13);
    }
    return strOut;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    if (nSize < 3)
        return 0;
    // First byte: the capacity; second: the seed of the chunk sizes; third: expected phases.
    const size_t nCapacity = 1 + pData[0] * 8;
    unsigned nSeed = pData[1];
    const int nPhases = pData[2] % 5;
    const char* pText = reinterpret_cast<const char*>(pData + 3);
    const size_t nText = nSize - 3;
    auto nextChunk = [&nSeed](size_t nLeft) {
        nSeed = nSeed * 1103515245u + 12345u;
        const size_t nChunk = 1 + (nSeed >> 16) % 256;
        return nChunk < nLeft ? nChunk : nLeft;
    };

    CToolOutput whole(nCapacity);
    whole.Reset(nPhases);
    whole.Append(EOutputStream::StdErr, pText, nText);
    CToolOutput chunked(nCapacity);
    chunked.Reset(nPhases);
    int nLastPercent = -1;
    for (size_t nDone = 0; nDone < nText;) {
        const size_t nChunk = nextChunk(nText - nDone);
        chunked.Append(EOutputStream::StdErr, pText + nDone, nChunk);
        nDone += nChunk;
        // One percentage for the run, never falling.
        if (chunked.Progress().GetPercent() < nLastPercent)
            std::abort();
        nLastPercent = chunked.Progress().GetPercent();
    }
    const CProgressParser& wholeProgress = whole.Progress();
    if (wholeProgress.GetPercent() != chunked.Progress().GetPercent() ||
        wholeProgress.GetPhase() != chunked.Progress().GetPhase() ||
        wholeProgress.GetPercent() > 100)
        std::abort();
    // The caption's prefix stays short and free of control characters.
    const CString strPrefix =
        ProgressCaptionPrefix(wholeProgress.GetPercent(), wholeProgress.GetPhase());
    for (int i = 0; i < strPrefix.GetLength(); ++i) {
        const unsigned char ch = static_cast<unsigned char>(strPrefix.GetAt(i));
        if (ch < 0x20 || ch == 0x7F || strPrefix.GetLength() > 60)
            std::abort();
    }
    const CString strLines = whole.GetFailureLines();
    if (strLines != chunked.GetFailureLines())
        std::abort();
    CheckLines(strLines);

    // The same bytes as two streams of their own, their chunks interleaved.
    const std::string strOut = Stream(pText, nText / 2, 'a');
    const std::string strErr = Stream(pText + nText / 2, nText - nText / 2, 'n');
    CToolOutput both(nCapacity);
    for (size_t nOut = 0, nErr = 0; nOut < strOut.size() || nErr < strErr.size();) {
        const size_t nTakeOut = nextChunk(strOut.size() - nOut);
        both.Append(EOutputStream::StdOut, strOut.data() + nOut, nTakeOut);
        nOut += nTakeOut;
        const size_t nTakeErr = nextChunk(strErr.size() - nErr);
        both.Append(EOutputStream::StdErr, strErr.data() + nErr, nTakeErr);
        nErr += nTakeErr;
    }
    const std::string strBoth(both.GetFailureLines());
    for (size_t nStart = 0; nStart < strBoth.size();) {
        size_t nEnd = strBoth.find('\n', nStart);
        if (nEnd == std::string::npos)
            nEnd = strBoth.size();
        bool bLow = false, bHigh = false;
        for (size_t i = nStart; i < nEnd; ++i) {
            bLow = bLow || (strBoth[i] >= 'a' && strBoth[i] <= 'm');
            bHigh = bHigh || (strBoth[i] >= 'n' && strBoth[i] <= 'z');
        }
        if (bLow && bHigh)
            std::abort();
        nStart = nEnd + 1;
    }
    return 0;
}
