#include "job/ToolRun.h"

#include "framework/WinApp.h"
#include "job/ToolReport.h"
#include "job/ToolEnvironment.h"
#include "media/Mp4Check.h"

bool CToolRun::Start(const CJob& job, CWnd* pOwner, CString* pWhy) {
    m_outputBefore = COutputStamp::BeforeRun(job.strOutput);
    // One import phase for each track of a movie, then the writing.
    const size_t nTracks = job.found.movie.tracks.size();
    m_output.Reset(nTracks > 0 ? static_cast<int>(nTracks) + 1 : 0,
                   {job.strSource.str(), job.strOutput.str()});
    // The tool's own folder and a clean environment: nothing of the user's current folder or
    // PATH is where the tool looks for what it loads.
    const std::wstring environment = ToolEnvironment();
    CChildPlace place;
    place.pszFolder =
        job.strToolFolder.IsEmpty() ? nullptr : static_cast<const char*>(job.strToolFolder);
    place.pEnvironment = environment.c_str();
    // The tool writes the output itself and follows a link planted at its name: with the
    // user's rights, such a link reaches no further than the user could.
    place.bUserRights = true;
    BOOL bStarted = FALSE;
    try {
        bStarted = m_runner.Open(job.strCommandLine, FALSE, pOwner, place);
    } catch (...) {
        // The handler of the first record threw: no tool goes on without its run.
        m_runner.Terminate();
        throw;
    }
    if (bStarted)
        return true;
    *pWhy = FormatStartFailure(AfxFormatSystemMessage(m_runner.GetStartError()));
    return false;
}

void CToolRun::Follow(UINT nMessage, LPARAM lParam) {
    CRunnerRecord record;
    if (nMessage != WM_COPYDATA || !m_runner.ReadRecord(lParam, &record))
        return;
    switch (record.nCode) {
    case COPYDATA_STARTED:
        m_host.OnRunStarted();
        break;
    case COPYDATA_OUTPUT:
        if (m_output.Append(record.eStream, record.pText, record.nLength))
            m_progress.Show(m_output.Progress());
        break;
    case COPYDATA_FINISHED:
        m_host.OnRunEnded();
        break;
    default:
        break;
    }
}

CString CToolRun::Verdict(const CJob& job, bool* pbFailed) {
    DWORD exitCode = 1;
    m_runner.GetExitCode(&exitCode);
    CRunOutcome outcome;
    outcome.strOutput = job.strOutput;
    outcome.nExitCode = exitCode;
    outcome.strSourceName = job.strSourceName;
    outcome.eSource = job.found.eKind;
    outcome.dStatedSeconds = job.found.movie.StatedSeconds();
    if (exitCode == 0) {
        // An output that is just as it was before the run is an earlier run's.
        outcome.bUnchanged =
            m_outputBefore.bExists && COutputStamp::Of(job.strOutput) == m_outputBefore;
        if (!outcome.bUnchanged)
            outcome.file = CheckMp4File(job.strOutput);
    }
    outcome.strToolLines = m_output.GetFailureLines();
    *pbFailed = exitCode != 0 || outcome.bUnchanged || !outcome.file.IsValid();
    return FormatRunReport(outcome);
}

void CToolRun::EndOnClose(const CJob& job) {
    // Cut off, or ended but never checked and announced: what the tool wrote is no result. An
    // output it never touched (a complete file of an earlier run, or none) stays as it was.
    m_runner.Terminate();
    const COutputStamp now = COutputStamp::Of(job.strOutput);
    if (now.bExists && now != m_outputBefore)
        RemoveOutput(job.strOutput);
}
