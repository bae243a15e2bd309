// The main window: a modal dialog holding the job and the link to the maker's products.
#pragma once

#include "controls/LinkStatic.h"
#include "framework/Dialog.h"
#include "job/RunProgress.h"
#include "job/ToolLog.h"
#include "runner/ChildRunner.h"

#include <cstdint>

// The start request GO posts to the dialog itself.
extern const UINT WMSTDIOCOMMAND;

class CRemuxDlg : public CDialog {
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
    void OnDestroy();

    DECLARE_MESSAGE_MAP()

    CString m_strOutput; // the file the tool is to create
    CString m_strSource; // the chosen source file; empty until one is chosen
    CChildRunner m_runner;
    CLinkStatic m_link;      // the maker's products page
    CRunProgress m_progress; // how far the tool is, in the caption and on the taskbar
    HICON m_hIcon;

private:
    enum class RunState { Idle, Starting, Running };

    // What an output file looked like, to tell whether a run touched it.
    struct COutputStamp {
        bool bExists = false;
        uint64_t nSize = 0;
        FILETIME ftWrite{};
        static COutputStamp Of(const CString& path);
        bool operator==(const COutputStamp& other) const;
    };

    void AddAboutEntry();
    void AcceptDroppedFiles();
    // Makes path the job's source, as OPEN does with the file the user chose.
    void SelectSource(const CString& path);
    void ShowRunning(bool bRunning);
    void OnRunFinished();
    // Closing mid-run: ends the tool and removes the half-written output.
    void EndRunOnClose();

    RunState m_runState = RunState::Idle;
    CString m_strRunOutput;         // the output of the run in progress, fixed at its start
    COutputStamp m_runOutputBefore; // that output as it was before the run
    CToolLog m_toolLog;             // the tail of what the tool printed
};
