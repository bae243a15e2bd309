// The main window: a modal dialog holding the job and the link to the maker's products.
#pragma once

#include "controls/LinkStatic.h"
#include "framework/Dialog.h"
#include "job/RunControl.h"
#include "runner/ChildRunner.h"

class CRemuxDlg : public CDialog, private CRunControl::CView {
public:
    explicit CRemuxDlg(CWnd* pParent = nullptr);
    ~CRemuxDlg() override;

    // The tool's command line for the current job.
    CString BuildCommandLine() const;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;

    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnOpen();
    void OnDropFiles(HDROP hDropInfo);
    LRESULT OnStdioCommand(WPARAM wParam, LPARAM lParam);
    LRESULT OnCopyData(WPARAM wParam, LPARAM lParam);
    LRESULT OnTaskbarButtonCreated(WPARAM wParam, LPARAM lParam);
    LRESULT OnRebuildNotify(WPARAM wParam, LPARAM lParam);
    void OnDestroy();

    DECLARE_MESSAGE_MAP()

    CString m_strOutput; // the file the tool is to create
    CString m_strSource; // the chosen source file; empty until one is chosen
    CChildRunner m_runner;
    CLinkStatic m_link; // the maker's products page
    HICON m_hIcon;

private:
    void AddAboutEntry();
    void AcceptDroppedFiles();
    // Makes path the job's source, as OPEN does with the file the user chose.
    void SelectSource(const CString& path);
    void ShowRunning(bool bRunning) override;
    void ShowRunMessage(const CString& text) override;
    bool AskRunQuestion(const CString& text, bool bYesDefault) override;
    CString ChooseReference(const CString& brokenName) override;

protected:
    // GO's runs, through m_runner. Declared after m_runner, so it is made after it and gone
    // before it: its destructor ends a run still on through the runner.
    CRunControl m_run;
};
