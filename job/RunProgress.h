// How far the tool is, shown while it runs: before the window's caption ("25% Importing - ")
// and, from Windows 7 on, on its taskbar button. The owner tells it when a run begins and
// ends and hands it the tool's output records; it leaves the caption exactly as it found it.
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
    // Output streams, as the runner tells them apart.
    enum Stream { kStdOut = 0, kStdErr = 1 };
    // How long a failed run shows the error state on the taskbar button.
    static constexpr UINT kErrorFlashMs = 1000;

    CRunProgress() = default;
    ~CRunProgress();
    CRunProgress(const CRunProgress&) = delete;
    CRunProgress& operator=(const CRunProgress&) = delete;

    // Once the window exists: lets the taskbar's message through to the elevated program.
    void Attach(HWND hwnd);
    // On WMTASKBARBUTTONCREATED: takes the taskbar object (again, after an Explorer
    // restart). Does nothing when a test has put its own in.
    void OnTaskbarButtonCreated();
    void SetTaskbarForTest(std::unique_ptr<CTaskbarProgress> pTaskbar);

    // A run starts: the caption it shows now is the one to restore.
    void Begin();
    // An output record of the run, as it came from stream.
    void OnOutput(Stream stream, const char* pText, size_t nLength);
    // The run ended in any way (done, failed, the window closing): the caption is the one
    // Begin saw again and the button's progress is cleared, after a short error state when
    // bFailed. Safe to call when no run is on, and after the window is gone.
    void End(bool bFailed);

private:
    void Show(const CProgressParser& parser);
    void SetCaption(const std::wstring& strCaption);
    void StopErrorFlash();
    static VOID CALLBACK ClearError(HWND hwnd, UINT, UINT_PTR idEvent, DWORD);

    HWND m_hWnd = nullptr;
    bool m_bRunning = false;
    bool m_bTaskbarForTest = false;
    bool m_bErrorShown = false;
    bool m_bCaptionChanged = false;
    bool m_bProgressShown = false; // on the taskbar button
    std::wstring m_strCaption;     // the caption before the run
    CProgressParser m_parsers[2];
    std::unique_ptr<CTaskbarProgress> m_pTaskbar;
};
