// Choosing the source file and naming the job.
#include "app/RemuxDlg.h"

#include "framework/FileDialog.h"
#include "framework/WinApp.h"
#include "job/JobNaming.h"
#include "res/resource.h"

void CRemuxDlg::OnOpen() {
    CFileDialog dlg(TRUE, nullptr, nullptr,
                    OFN_FILEMUSTEXIST | OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY,
                    "MP4 files|*.mp4||");
    if (dlg.DoModal() != IDOK)
        return;

    const CString path = dlg.GetPathName();
    if (path.ReverseFind('.') < 0) {
        AfxMessageBox("The input is invalid");
        m_strSource.Empty();
        return;
    }
    SetDlgItemText(IDC_SOURCE_PATH, path);
    m_strSource = path;
    m_strOutput = JobOutputPath(m_strSource, dlg.GetFileTitle());
}

CString CRemuxDlg::BuildCommandLine() const {
    const CString exeFolder = JobExeFolder(AfxGetModuleFileName());
    return JobCommandLine(JobToolPath(exeFolder), JobNameTag(m_strSource), m_strSource,
                          m_strOutput);
}
