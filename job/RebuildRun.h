// A rebuild of a recording cut off before its index, from a whole one made the same way: the
// rebuild tool (rebuildtool/, the engine and the decoders) runs as a child of its own, started
// as the tool is, with the desktop user's rights and held in a job that lets it start nothing.
// Its progress lines go to the caption and the taskbar; the result it prints at its end is
// read back, checked, and worded here.
#pragma once

#include "job/JobRun.h"
#include "job/RebuildResultText.h"
#include "job/RunOutput.h"
#include "job/ToolOutput.h"
#include "runner/ChildRunner.h"

class CRebuildRun final : public CJobRun {
public:
    using CJobRun::CJobRun;

    // The window that gets the runner's records.
    void SetOwner(CWnd* pOwner) { m_runner.SetOwner(pOwner); }
    // Rebuilds the job's source from its reference (none: from what it holds itself) into its
    // output.
    bool Start(const CJob& job, CWnd* pOwner, CString* pWhy) override;
    void Follow(UINT nMessage, LPARAM lParam) override;
    CString Verdict(const CJob& job, bool* pbFailed) override;
    void EndOnClose(const CJob& job) override;
    bool NeedsReference(CString* pWhy, bool* pbSearchable) const override;

private:
    CChildRunner m_runner;
    COutputStamp m_outputBefore; // the copy's name before the run (no file, or a recording)
    CToolOutput m_output;        // the progress, and what the tool said if it failed
    CLineAssembler m_lines;      // its standard output cut into lines, for the result
    CRebuildResultReader m_result;
    bool m_bNeedsReference = false;
    bool m_bSearchable = false;
    CString m_strMissing;
};
