// How far the tool is, shown while it runs: before the window's caption ("25% Importing - ")
// and, from Windows 7 on, on its taskbar button. The owner tells it when a run begins and
// ends and what the tool's progress is; it leaves the caption exactly as it found it.
#pragma once

#include "job/ProgressParser.h"

#include <windows.h>

#include <memory>
#include <string>

// The taskbar's "TaskbarButtonCreated" message, registered before the program's entry runs.
extern const UINT WMTASKBARBUTTONCREATED;

// The taskbar button's progress: the calls of ITaskbarList3 a run makes. Tests put in their
// own to see the calls.
class CTaskbarProgress {
public:
    enum State { kNone = 0, kNormal = 2, kError = 4 }; // TBPFLAG values

    virtual ~CTaskbarProgress() = default;
    virtual void SetState(HWND hwnd, State state) = 0;
    virtual void SetValue(HWND hwnd, int nPercent) = 0;

    // The system's taskbar list, or null before Windows 7 or when it cannot be had.
    static std::unique_ptr<CTaskbarProgress> Create();
};

class CRunProgress {
public:
    // How long a failed run shows the error state on the taskbar button.
    static constexpr UINT kErrorFlashMs = 1000;

    CRunProgress() = default;
    ~CRunProgress();
    CRunProgress(const CRunProgress&) = delete;
    CRunProgress& operator=(const CRunProgress&) = delete;

    // Once the window exists: lets the taskbar's message through to the elevated program.
    void Attach(HWND hwnd);
    // On WMTASKBARBUTTONCREATED: the button is there (again, after an Explorer restart). The
    // taskbar object is taken when a run first shows on it: COM and the DLLs behind the object
    // are not loaded at start-up, when most starts never run anything. Does nothing when a
    // test has put its own in.
    void OnTaskbarButtonCreated();
    void SetTaskbarForTest(std::unique_ptr<CTaskbarProgress> pTaskbar);

    // A run starts: the caption it shows now is the one to restore.
    void Begin();
    // The run's progress changed.
    void Show(const CProgressParser& progress);
    // The same for a run that knows its percentage itself.
    void ShowPercent(int nPercent, const std::string& strPhase);
    // The run ended in any way (done, failed, the window closing): the caption is the one
    // Begin saw again and the button's progress is cleared, after a short error state when
    // bFailed. Safe to call when no run is on, and after the window is gone.
    void End(bool bFailed);
    // The window is being destroyed: the caption as Begin saw it, and no more taskbar calls.
    void Detach();

private:
    // The taskbar object is a COM object in another process: a call to it may handle messages
    // sent to this thread (a runner's record, say) while it waits. So the handlers only note
    // what the button should show, and the calls are made from a timer of their own, one
    // batch at a time.
    void ScheduleTaskbar();
    void ApplyTaskbar();
    static VOID CALLBACK OnTaskbarTimer(HWND hwnd, UINT, UINT_PTR idEvent, DWORD);

    void SetCaption(const std::wstring& strCaption);

    HWND m_hWnd = nullptr;
    bool m_bRunning = false;
    bool m_bTaskbarForTest = false;
    bool m_bCaptionChanged = false;
    std::wstring m_strCaption; // the caption before the run
    std::unique_ptr<CTaskbarProgress> m_pTaskbar;
    bool m_bHasButton = false; // the taskbar made the button; m_pTaskbar is made when needed

    // What the button is to show, and what it shows.
    CTaskbarProgress::State m_eWantState = CTaskbarProgress::kNone;
    int m_nWantValue = 0;
    CTaskbarProgress::State m_eShownState = CTaskbarProgress::kNone;
    int m_nShownValue = -1;
    DWORD m_dwErrorSince = 0; // tick count when the error state was asked for; 0 if not
    bool m_bApplying = false;
};
