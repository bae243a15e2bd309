// The job from the user's choice to the message that ends its run: says at once what is wrong
// with a chosen file and offers a rebuild where one helps, checks at GO that the job can run,
// starts the tool on the request GO posted, and follows the run (the tool's, or a rebuild) to
// its verdict. One run at a time; the job being run is its own, whatever is chosen meanwhile.
// The main dialog owns one, hands it the job, and lets it take the messages its runs send.
#pragma once

#include "framework/CString.h"
#include "job/Job.h"
#include "job/JobRun.h"
#include "job/RunProgress.h"
#include "job/RunView.h"

#include <windows.h>

#include <memory>

class CWnd;
class CToolRun;
class CRebuildRun;

// The start request GO posts to the owner window.
extern const UINT WMSTDIOCOMMAND;

class CRunControl : private CJobRun::CHost {
public:
    CRunControl();
    // Closing mid-run: see EndRunOnClose.
    ~CRunControl();
    CRunControl(const CRunControl&) = delete;
    CRunControl& operator=(const CRunControl&) = delete;

    // The window that receives the start request and the runs' messages, whose GO button and
    // caption show the run, and whose taskbar button its progress.
    void SetOwner(CWnd* pOwner);
    void SetViewForTest(std::unique_ptr<CRunView> pView);
    bool IsIdle() const { return m_state == State::Idle; }
    CRunProgress& Progress() { return m_progress; }

    // A file was chosen (OPEN, a drop) for job: checks its source at once and keeps the finding
    // with the job; says what is wrong with it, if anything, and offers what can help.
    void Check(CJob& job);
    // A choice refused before any job is made of it (a folder, a name without an extension):
    // says that the input is invalid.
    void RefuseInput();
    // A drop of nCount files, of which only the first (named first) is taken: says so.
    void NoteManyDropped(unsigned nCount, const CString& first);
    // GO: checks that job can run (the source's kind again: it may have changed since it was
    // chosen), asks before an earlier output is replaced, and posts the start request; nothing
    // while a run is on.
    void Go(const CJob& job);
    // The start request: runs the tool on the job GO took. Only the request Go posted starts a
    // run; a stray or repeated one is ignored.
    void Start();
    // A message the owner received that may be a run's: WM_COPYDATA with its lParam (a
    // runner's record, or anyone else's).
    void Follow(UINT nMessage, LPARAM lParam);
    // Any message the owner window received: the start request, WM_COPYDATA and
    // WMTASKBARBUTTONCREATED are the run control's, handled here (true: the owner
    // returns 0 for it); false for every other.
    bool OnOwnerMessage(UINT nMessage, LPARAM lParam);
    // The taskbar made the owner's button (WMTASKBARBUTTONCREATED).
    void OnTaskbarButtonCreated() { m_progress.OnTaskbarButtonCreated(); }
    // The owner window is being destroyed: its caption is left as it was.
    void OnOwnerDestroy() { m_progress.Detach(); }
    // The window is closing: a run still on is stopped, and an output it never announced (the
    // tool cut off, or ended but not yet checked; a rebuild done but not yet told) is removed.
    void EndRunOnClose();

private:
    enum class State { Idle, Starting, Running };

    void OnRunStarted() override;
    void OnRunEnded() override;
    // Checks what job's source is; false (after telling the user why, and offering a rebuild
    // where one can help) when the tool is not to be run on it.
    bool CheckRunnable(CJob& job);
    // Asks before an earlier output is replaced; true to go on.
    bool MayReplace(const CString& output);
    // A recording cut off before its index: rebuilt first from what it holds itself; where
    // that is not enough, the user is asked for a whole recording made the same way, told why.
    void OfferRebuild(const CJob& job);
    void AskForReference(const CString& why);
    // A recording that a search may rebuild alone: search, choose a reference, or neither.
    void OfferSearch();
    void ChooseReference();
    void StartRebuild();

    std::unique_ptr<CRunView> m_pView;
    CWnd* m_pOwner = nullptr;
    CRunProgress m_progress; // how far the run is, on the caption and the taskbar button
    State m_state = State::Idle;
    CJob m_job; // the job of the run GO or a rebuild began, from its start to its verdict
    std::unique_ptr<CToolRun> m_pTool;
    std::unique_ptr<CRebuildRun> m_pRebuild;
    CJobRun* m_pRun = nullptr; // which of the two is on
};
