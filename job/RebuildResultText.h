// A rebuild's result as text: the rebuild tool prints it on its output when it ends, and the
// window reads it back from what the runner relays. What the window reads is another program's
// output, so the reader takes nothing it has not checked: every number in its range, every
// text and list bounded, every line whole. Portable.
//
//   rebuild-result 1
//   <record> <field> <field>...      one record a line, fields separated by one space
//   end
//
// A text field is its bytes with '%', the space, control characters and bytes from 0x7F up
// written as %XX.
#pragma once

#include "rebuild/RebuildResult.h"

#include <cstddef>
#include <string>

// The lines of result, each ended by "\n".
std::string RebuildResultText(const CRebuildResult& result);

class CRebuildResultReader {
public:
    // Texts longer than this are cut by the writer; the reader takes none longer.
    static constexpr size_t kMaxText = 150;
    static constexpr size_t kMaxCodecs = 64;
    static constexpr size_t kMaxTracks = 256;
    static constexpr size_t kMaxStretches = 100000;

    void Reset();
    // One whole line of the tool's output, without its end. Lines before the first line of a
    // result are not the reader's; a line cut short (bCut) or one it cannot take spoils the
    // result.
    void OnLine(const std::string& strLine, bool bCut = false);
    // The result, once its last line came and every line was taken.
    bool Get(CRebuildResult* pResult) const;

private:
    bool ReadRecord(const std::string& strLine);

    enum class State { Before, Reading, Done, Spoiled } m_state = State::Before;
    CRebuildResult m_result;
};
