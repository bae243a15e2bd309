// The main window: a modal dialog holding the chosen file's job, the run control that runs it,
// and the link to the maker's products.
#pragma once

#include "controls/LinkStatic.h"
#include "framework/Dialog.h"
#include "job/Job.h"
#include "job/RunControl.h"

class CRemuxDlg : public CDialog {
public:
    explicit CRemuxDlg(CWnd* pParent = nullptr);

    // The tool's command line for the chosen job.
    CString BuildCommandLine() const { return m_job.strCommandLine; }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;

    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnOpen();
    void OnDropFiles(HDROP hDropInfo);
    void OnDestroy();
    // The run control's messages go to it before the message map.
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

    DECLARE_MESSAGE_MAP()

    // The job of the file chosen last, made when it was chosen; GO hands it to m_runner, which
    // keeps its own while it runs (a file chosen meanwhile is the next GO's).
    CJob m_job;
    CString& m_strOutput = m_job.strOutput; // the file the tool is to create
    CString& m_strSource = m_job.strSource; // the chosen source file; empty until one is chosen
    CRunControl m_runner; // runs the job: the tool, or a rebuild; owns what they run on
    CLinkStatic m_link;   // the maker's products page
    HICON m_hIcon;

private:
    void AddAboutEntry();
    void AcceptDroppedFiles();
    // Makes path the job's source, as OPEN does with the file the user chose.
    void SelectSource(const CString& path);
};
