// One run of the tool, from GO to the message that ends it: one run at a time, the state the
// output was in before the run, what the tool printed, and the verdict. The main dialog owns
// one and forwards its handlers to it; what a run shows goes through CView, so the run control
// is tested in process without the whole window.
#pragma once

#include "framework/CString.h"
#include "job/RebuildRun.h"
#include "job/RunProgress.h"
#include "job/SourceCheck.h"
#include "job/ToolOutput.h"
#include "runner/ChildRunner.h"

#include <windows.h>

#include <cstdint>
#include <string>

class CWnd;

// The start request GO posts to the owner window.
extern const UINT WMSTDIOCOMMAND;

class CRunControl {
public:
    // What the window does for a run.
    class CView {
    public:
        // GO reads "Waiting..." and is disabled while a run is on, "GO" and enabled otherwise.
        virtual void ShowRunning(bool bRunning) = 0;
        // A message to the user about the run (a modal message box).
        virtual void ShowRunMessage(const CString& text) = 0;
        // A question with Yes and No, No the default unless bYesDefault; true for Yes.
        virtual bool AskRunQuestion(const CString& text, bool bYesDefault = false) = 0;
        // The whole recording to rebuild a broken one (named brokenName) from, chosen by the
        // user; empty when none was.
        virtual CString ChooseReference(const CString& brokenName) = 0;

    protected:
        ~CView() = default;
    };

    CRunControl(CChildRunner& runner, CView& view);
    // Closing mid-run: see EndRunOnClose.
    ~CRunControl();
    CRunControl(const CRunControl&) = delete;
    CRunControl& operator=(const CRunControl&) = delete;

    // The window that receives the start request and the runner's records, and whose caption
    // and taskbar button show the run's progress.
    void SetOwner(CWnd* pOwner);
    bool IsIdle() const { return m_state == State::Idle; }
    CRunProgress& Progress() { return m_progress; }

    // A file was chosen (OPEN, a drop) as the job's source, to be written to output: says at
    // once what is wrong with it, if anything, and offers what can help.
    void OnSourceChosen(const CString& source, const CString& output);
    // GO: checks that the job can run (the source's kind too: it may have changed since it was
    // chosen), asks before an earlier output is replaced, and posts the start request; nothing
    // while a run is on.
    void Go(const CString& source, const CString& output, const CString& toolPath);
    // The start request: runs cmd, which is to write output. Only the request Go posted
    // starts a run; a stray or repeated one is ignored.
    void Start(const CString& cmd, const CString& output);
    // A WM_COPYDATA message sent to the owner: a record of the runner's, or anyone else's.
    void OnCopyData(LPARAM lParam);
    // WMREBUILDNOTIFY: the rebuild's progress changed, or it ended.
    void OnRebuildNotify();
    // The taskbar made the owner's button (WMTASKBARBUTTONCREATED).
    void OnTaskbarButtonCreated() { m_progress.OnTaskbarButtonCreated(); }
    // The owner window is being destroyed: its caption is left as it was.
    void OnOwnerDestroy() { m_progress.Detach(); }
    // The window is closing: a running tool is ended, and an output that was never announced
    // (the tool cut off, or ended but not yet checked) is removed; a rebuild is stopped and
    // its copy removed.
    void EndRunOnClose();

    // The tool's environment: this process's, less SHELL (the multiplexer would colour its
    // lines), with PATH the system's folders only (a DLL the tool loads by name must not come
    // from a folder a user can write to: the tool runs elevated). A block for CreateProcess.
    static std::wstring ToolEnvironment();

private:
    enum class State { Idle, Starting, Running, Rebuilding };

    // What an output file looked like, to tell whether a run touched it.
    struct COutputStamp {
        bool bExists = false;
        uint64_t nSize = 0;
        FILETIME ftWrite{};
        static COutputStamp Of(const CString& path);
        bool operator==(const COutputStamp& other) const;
        bool operator!=(const COutputStamp& other) const { return !(*this == other); }
    };
    // The output's stamp before a run, made so that any rewrite changes it.
    static COutputStamp StampBeforeRun(const CString& path);
    // Checks what the source is; false (after telling the user why, and offering a rebuild
    // where one can help) when the tool is not to be run on it.
    bool CheckRunnable(const CString& source, const CString& output, CSourceInfo* pInfo);
    // Asks before an earlier output is replaced; true to go on.
    bool MayReplace(const CString& output);
    void OfferRebuild(const CString& source, const CString& output, const CSourceInfo& info);

    void OnRunFinished();

    CChildRunner& m_runner;
    CView& m_view;
    CWnd* m_pOwner = nullptr;
    State m_state = State::Idle;
    CString m_strToolFolder; // where the tool runs, from GO
    CSourceInfo m_source;    // what GO found the source to be
    CString m_strRunSource;
    CString m_strSourceName;
    CString m_strRunOutput;         // the output of the run in progress, fixed at its start
    COutputStamp m_runOutputBefore; // that output as it was before the run
    CToolOutput m_toolOutput;       // what the tool printed
    CRunProgress m_progress;        // how far the tool is, from its progress lines
    CRebuildRun m_rebuild;
    CString m_strRebuildReference; // the rebuild's, for its message
};
