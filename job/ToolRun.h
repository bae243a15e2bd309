// A run of the tool on a job: started hidden in its own folder with a clean environment and the
// user's rights, its output read for progress and for the lines a failure shows, its end
// judged by its exit code and by a check of the file it wrote.
#pragma once

#include "job/JobRun.h"
#include "job/RunOutput.h"
#include "job/ToolOutput.h"
#include "runner/ChildRunner.h"

class CToolRun final : public CJobRun {
public:
    using CJobRun::CJobRun;

    // The window that gets the runner's records.
    void SetOwner(CWnd* pOwner) { m_runner.SetOwner(pOwner); }
    bool Start(const CJob& job, CWnd* pOwner, CString* pWhy) override;
    void Follow(UINT nMessage, LPARAM lParam) override;
    CString Verdict(const CJob& job, bool* pbFailed) override;
    void EndOnClose(const CJob& job) override;

private:
    CChildRunner m_runner;
    COutputStamp m_outputBefore; // the output as it was before the run
    CToolOutput m_output;        // what the tool printed
};
