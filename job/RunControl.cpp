#include "job/RunControl.h"

#include "framework/FileName.h"
#include "framework/Wnd.h"
#include "job/RebuildRun.h"
#include "job/SourceReport.h"
#include "job/ToolReport.h"
#include "job/ToolRun.h"

// The start request GO posts to the dialog itself, registered before the program's entry runs.
const UINT WMSTDIOCOMMAND = ::RegisterWindowMessageA("WMSTDIOCOMMAND");

CRunControl::CRunControl() : m_pView(std::make_unique<CRunView>()) {
    CJobRun::CHost& host = *this;
    m_pTool = std::make_unique<CToolRun>(host, m_progress);
    m_pRebuild = std::make_unique<CRebuildRun>(host, m_progress);
}

CRunControl::~CRunControl() {
    EndRunOnClose();
}

void CRunControl::SetOwner(CWnd* pOwner) {
    m_pOwner = pOwner;
    m_pView->Attach(pOwner);
    m_pTool->SetOwner(pOwner);
    m_pRebuild->SetOwner(pOwner);
    if (pOwner)
        m_progress.Attach(pOwner->m_hWnd);
}

void CRunControl::SetViewForTest(std::unique_ptr<CRunView> pView) {
    m_pView = std::move(pView);
    m_pView->Attach(m_pOwner);
}

bool CRunControl::CheckRunnable(CJob& job) {
    job.found = CheckSourceFile(job.strSource);
    if (IsRunnable(job.found.eKind))
        return true;
    // A rebuild is offered when nothing else runs.
    if (job.found.eKind == ESourceKind::NoIndex && job.found.nMediaBytes > 0 &&
        m_state == State::Idle)
        OfferRebuild(job);
    else
        m_pView->ShowMessage(DescribeUnrunnableSource(job.strSourceName, job.found));
    return false;
}

bool CRunControl::MayReplace(const CString& output) {
    // The Open dialog never asks this: a new file is only ever chosen as the source.
    if (!AfxPathExists(output))
        return true;
    return m_pView->Ask(ReplaceQuestion(output));
}

void CRunControl::OfferRebuild(const CJob& job) {
    if (!MayReplace(job.strOutput))
        return;
    m_job = job;
    m_job.strReference.Empty();
    m_job.bSearch = false;
    StartRebuild();
}

void CRunControl::OfferSearch() {
    const int nAnswer = m_pView->AskThree(SearchOffer(m_job.strSourceName, m_job.found));
    if (nAnswer == IDYES) {
        m_job.bSearch = true;
        StartRebuild();
    } else if (nAnswer == IDNO) {
        ChooseReference();
    }
}

void CRunControl::AskForReference(const CString& why) {
    if (m_pView->Ask(RebuildOffer(m_job.strSourceName, m_job.found, why), true))
        ChooseReference();
}

void CRunControl::ChooseReference() {
    const CString reference = m_pView->ChooseReference(m_job.strSourceName);
    if (reference.IsEmpty())
        return;
    m_job.strReference = reference;
    m_job.bSearch = false;
    StartRebuild();
}

void CRunControl::StartRebuild() {
    m_state = State::Running;
    m_pRun = m_pRebuild.get();
    CString why;
    if (!m_pRebuild->Start(m_job, m_pOwner, &why)) {
        m_state = State::Idle;
        m_pRun = nullptr;
        m_pView->ShowMessage(why);
    }
}

void CRunControl::Check(CJob& job) {
    CheckRunnable(job);
}

void CRunControl::RefuseInput() {
    m_pView->ShowMessage(InvalidInput());
}

void CRunControl::NoteManyDropped(unsigned nCount, const CString& first) {
    m_pView->ShowMessage(ManyFilesDropped(nCount, first));
}

void CRunControl::Go(const CJob& job) {
    // One tool at a time writes an output file.
    if (m_state != State::Idle)
        return;
    if (!AfxPathExists(job.strToolPath)) {
        m_pView->ShowMessage(ToolNotFound());
        return;
    }
    if (!AfxPathExists(job.strSource)) {
        m_pView->ShowMessage(SourceNotFound());
        return;
    }
    CJob checked = job;
    if (!CheckRunnable(checked) || !MayReplace(checked.strOutput))
        return;
    m_job = std::move(checked);
    if (m_pOwner && m_pOwner->PostMessage(WMSTDIOCOMMAND, 0, 0))
        m_state = State::Starting;
}

void CRunControl::Start() {
    if (m_state != State::Starting)
        return;
    // The tool's first record (it has started) arrives before its Start returns.
    m_state = State::Running;
    m_pRun = m_pTool.get();
    CString why;
    bool bStarted = false;
    try {
        bStarted = m_pTool->Start(m_job, m_pOwner, &why);
    } catch (...) {
        // Whatever failed, a run that did not start leaves GO usable.
        m_state = State::Idle;
        m_pRun = nullptr;
        m_progress.End(false);
        m_pView->ShowRunning(false);
        throw;
    }
    if (!bStarted) {
        m_state = State::Idle;
        m_pRun = nullptr;
        m_pView->ShowMessage(why);
    }
}

void CRunControl::Follow(UINT nMessage, LPARAM lParam) {
    if (m_state == State::Running)
        m_pRun->Follow(nMessage, lParam);
}

bool CRunControl::OnOwnerMessage(UINT nMessage, LPARAM lParam) {
    if (nMessage == WMSTDIOCOMMAND)
        Start();
    else if (nMessage == WM_COPYDATA)
        Follow(nMessage, lParam);
    else if (nMessage == WMTASKBARBUTTONCREATED)
        OnTaskbarButtonCreated();
    else
        return false;
    return true;
}

void CRunControl::OnRunStarted() {
    m_pView->ShowRunning(true);
    m_progress.Begin();
}

void CRunControl::OnRunEnded() {
    CJobRun* pRun = m_pRun;
    m_state = State::Idle;
    m_pRun = nullptr;
    bool bFailed = true;
    CString verdict;
    try {
        verdict = pRun->Verdict(m_job, &bFailed);
    } catch (...) {
        // However the verdict fails, the window shows no run any more.
        m_progress.End(true);
        m_pView->ShowRunning(false);
        throw;
    }
    CString why;
    bool bSearchable = false;
    const bool bAsk = m_job.strReference.IsEmpty() && pRun->NeedsReference(&why, &bSearchable);
    m_progress.End(bFailed && !bAsk);
    m_pView->ShowRunning(false);
    if (bAsk && bSearchable && !m_job.bSearch)
        OfferSearch();
    else if (bAsk)
        AskForReference(why);
    else
        m_pView->ShowMessage(verdict);
}

void CRunControl::EndRunOnClose() {
    m_progress.End(false);
    if (m_state != State::Running)
        return;
    m_state = State::Idle;
    CJobRun* pRun = m_pRun;
    m_pRun = nullptr;
    pRun->EndOnClose(m_job);
}
