// Fuzzes the window's reading of the rebuild tool's output: cut into lines as the runner's
// records are, read as a result, and worded. A result read must say the same when written and
// read again, and its message must be worded without fault.
#include "job/RebuildReport.h"
#include "job/RebuildResultText.h"
#include "job/ToolOutput.h"

#include <cstdlib>
#include <string>

namespace {

bool Read(const char* pData, size_t nSize, CRebuildResult* pResult) {
    CLineAssembler lines;
    CRebuildResultReader reader;
    lines.Feed(pData, nSize, [&](const CLineAssembler::CLine& line) {
        if (!line.bProgress)
            reader.OnLine(line.strText, line.bCut);
    });
    return reader.Get(pResult);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    CRebuildResult result;
    if (!Read(reinterpret_cast<const char*>(pData), nSize, &result))
        return 0;
    const CString message =
        FormatRebuildReport("clip.mp4", "ref.mp4", "C:\\v\\clip-NEW.mp4", result);
    const std::string text = RebuildResultText(result);
    CRebuildResult again;
    if (!Read(text.data(), text.size(), &again) || RebuildResultText(again) != text ||
        FormatRebuildReport("clip.mp4", "ref.mp4", "C:\\v\\clip-NEW.mp4", again) != message)
        std::abort();
    return 0;
}
