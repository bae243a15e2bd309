// The main window: a modal dialog holding the job and the link to the maker's products.
#pragma once

#include "framework/Dialog.h"

class CRemuxDlg : public CDialog {
public:
    explicit CRemuxDlg(CWnd* pParent = nullptr);

    // The tool's command line for the current job.
    CString BuildCommandLine() const;

protected:
    BOOL OnInitDialog() override;

    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnOpen();

    DECLARE_MESSAGE_MAP()

    CString m_strOutput; // the file the tool is to create
    CString m_strSource; // the chosen source file; empty until one is chosen
    HICON m_hIcon;

private:
    void AddAboutEntry();
};
