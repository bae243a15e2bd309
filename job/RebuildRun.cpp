#include "job/RebuildRun.h"

#include "framework/FileName.h"
#include "framework/WinApp.h"
#include "job/RebuildReport.h"
#include "job/ToolEnvironment.h"

bool CRebuildRun::Start(const CJob& job, CWnd* pOwner, CString* pWhy) {
    // The rebuild creates its copy new and never writes through an existing name, so an
    // earlier copy goes first. A name that is one of the recordings themselves stays, and the
    // rebuild says why.
    RemoveEarlierCopy(job.strOutput, job.strSource, job.strReference);
    m_outputBefore = COutputStamp::BeforeRun(job.strOutput);
    // One phase: the percentage the tool prints is the run's.
    std::vector<std::string> paths = {job.strSource.str(), job.strOutput.str()};
    if (!job.strReference.IsEmpty())
        paths.push_back(job.strReference.str());
    m_output.Reset(1, paths);
    m_bNeedsReference = false;
    m_bSearchable = false;
    m_lines.Reset();
    m_result.Reset();
    const CString commandLine =
        JobRebuildCommandLine(job.strRebuildPath, job.strReference, job.strSource, job.strOutput,
                              job.found.bMediaData ? &job.found.mediaData : nullptr, job.bSearch);
    const std::wstring environment = ToolEnvironment();
    const CString folder = job.strRebuildPath.Left(job.strRebuildPath.ReverseFind('\\'));
    CChildPlace place;
    place.pszFolder = folder.IsEmpty() ? nullptr : static_cast<const char*>(folder);
    place.pEnvironment = environment.c_str();
    place.bUserRights = true;
    place.bConfined = true;
    BOOL bStarted = FALSE;
    try {
        bStarted = m_runner.Open(commandLine, FALSE, pOwner, place);
    } catch (...) {
        m_runner.Terminate();
        throw;
    }
    if (bStarted)
        return true;
    *pWhy = FormatRebuildStartFailure(job.strSourceName,
                                      AfxFormatSystemMessage(m_runner.GetStartError()));
    return false;
}

void CRebuildRun::Follow(UINT nMessage, LPARAM lParam) {
    CRunnerRecord record;
    if (nMessage != WM_COPYDATA || !m_runner.ReadRecord(lParam, &record))
        return;
    switch (record.nCode) {
    case COPYDATA_STARTED:
        m_host.OnRunStarted();
        break;
    case COPYDATA_OUTPUT:
        if (record.eStream == EOutputStream::StdOut)
            m_lines.Feed(record.pText, record.nLength, [this](const CLineAssembler::CLine& line) {
                if (!line.bProgress)
                    m_result.OnLine(line.strText, line.bCut);
            });
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

CString CRebuildRun::Verdict(const CJob& job, bool* pbFailed) {
    DWORD exitCode = 1;
    m_runner.GetExitCode(&exitCode);
    CRebuildResult result;
    const bool bResult = m_result.Get(&result) &&
                         (exitCode == 0) == (result.eStatus == CRebuildResult::EStatus::Rebuilt);
    if (!bResult) {
        // Ended without a whole result (a crash, the job's memory cap, a result that does not
        // hold together): whatever it began writing is no copy.
        result = CRebuildResult();
        result.eStatus = CRebuildResult::EStatus::WriteFailed;
        result.eProblem = CRebuildResult::EProblem::Unexpected;
        if (COutputStamp::Of(job.strOutput) != m_outputBefore)
            RemoveOutput(job.strOutput);
    }
    *pbFailed = result.eStatus != CRebuildResult::EStatus::Rebuilt;
    m_bNeedsReference = result.eStatus == CRebuildResult::EStatus::NeedsReference;
    m_bSearchable = result.found.bSearchable;
    m_strMissing = MissingWords(result.found.eMissing);
    CString message = FormatRebuildReport(job.strSourceName, AfxFileNameOf(job.strReference),
                                          job.strOutput, result);
    if (!bResult) {
        CString why;
        why.Format("\nThe rebuild tool ended with exit code %lu.", exitCode);
        message += why;
        const CString lines = m_output.GetFailureLines();
        if (!lines.IsEmpty())
            message += CString("\n\n") + lines;
    }
    return message;
}

bool CRebuildRun::NeedsReference(CString* pWhy, bool* pbSearchable) const {
    *pWhy = m_strMissing;
    *pbSearchable = m_bSearchable;
    return m_bNeedsReference;
}

void CRebuildRun::EndOnClose(const CJob& job) {
    // Cut off, or ended but never announced: what the tool wrote is no result. A name it never
    // touched (a recording's, or none) stays as it was.
    m_runner.Terminate();
    const COutputStamp now = COutputStamp::Of(job.strOutput);
    if (now.bExists && now != m_outputBefore)
        RemoveOutput(job.strOutput);
}
