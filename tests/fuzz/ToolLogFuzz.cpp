// Fuzzes the tool's log and the progress parser: the input is split into chunks at bytes
// chosen by the input itself, and the result must match the same output given in one piece.
#include "job/ProgressParser.h"
#include "job/ToolLog.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    if (nSize < 2)
        return 0;
    // First byte: the capacity; second: the seed of the chunk sizes.
    const size_t nCapacity = 1 + pData[0] * 8;
    unsigned nSeed = pData[1];
    const char* pText = reinterpret_cast<const char*>(pData + 2);
    const size_t nText = nSize - 2;

    CToolLog whole(nCapacity);
    whole.Append(pText, nText);
    CToolLog chunked(nCapacity);
    CProgressParser wholeProgress, chunkedProgress;
    wholeProgress.Feed(pText, nText);
    for (size_t nDone = 0; nDone < nText;) {
        nSeed = nSeed * 1103515245u + 12345u;
        size_t nChunk = 1 + (nSeed >> 16) % 256;
        if (nChunk > nText - nDone)
            nChunk = nText - nDone;
        chunked.Append(pText + nDone, nChunk);
        chunkedProgress.Feed(pText + nDone, nChunk);
        nDone += nChunk;
    }
    if (wholeProgress.GetPercent() != chunkedProgress.GetPercent() ||
        wholeProgress.GetPhase() != chunkedProgress.GetPhase() || wholeProgress.GetPercent() > 100)
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
    return 0;
}
