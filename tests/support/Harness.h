// End-to-end harness: starts the real Clipmend.exe in a folder of its own and works its
// window from outside, the way a person would, through messages to its windows.
//
// Wine notes that shape it: a modal dialog or message box is hidden at once when it ends
// and destroyed later, so waits are on visibility; WM_GETICON and GDI objects do not cross
// processes, so icons and fonts are checked by in-process tests, not here.
#pragma once

#include "framework/Handle.h"

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

// Only catches a hang: a cold Wine start of a GUI program on a loaded 2-core machine can take
// many times what it takes on an idle one.
constexpr DWORD kTimeoutMs = 120000;

// Polls cond until it holds or the time is up; never a fixed sleep.
bool WaitUntil(const std::function<bool()>& cond, DWORD timeoutMs = kTimeoutMs);

// A path as CMake gives it (a Unix path when cross-built for Wine) as Windows sees it.
std::string HostPathToWindows(const std::string& path);

// Window queries that work across processes.
std::string WindowText(HWND hwnd); // asks the window (WM_GETTEXT), so edit contents too
std::string ClassNameOf(HWND hwnd);
bool IsShown(HWND hwnd);
std::vector<HWND> ChildWindows(HWND parent); // direct children, in tab (z) order
RECT RectInClient(HWND dialog, HWND control);
HWND FocusedWindow(DWORD threadId);

// Converts dialog units to pixels for a dialog font, with the system's own MapDialogRect on
// a hidden dialog of ours with that font: the same arithmetic the system used for the
// program's template.
class CDialogUnits {
public:
    CDialogUnits(const wchar_t* face, WORD pointSize);
    bool valid() const { return m_baseX > 0 && m_baseY > 0; }
    // x, y, width and height in pixels, each mapped on its own as the template's are.
    RECT Map(int x, int y, int cx, int cy) const;

private:
    int m_baseX = 0;
    int m_baseY = 0;
};

// User actions. They are posted, as real input is, so a handler that opens a modal window
// does not block the driver.
void Click(HWND button);     // BM_CLICK
void ClickInside(HWND ctrl); // a left click at the control's centre (moves the focus there)
void PressKey(HWND target, UINT vk);
void TypeChar(HWND target, char ch);

struct MessageBoxInfo {
    HWND hwnd = nullptr;
    std::string caption;
    std::string text;
    std::vector<std::string> buttons; // their texts, in tab order
};

// Saves a picture of a window (or of the whole screen for nullptr) as a BMP file named
// name.bmp in the folder from CLIPMEND_E2E_SHOTS, else the build's default. Returns its path.
std::string SaveScreenshot(HWND hwnd, const std::string& name);

// Reads a whole file; empty when it cannot be read.
std::string ReadFileText(const std::string& path);

class CClipmend {
public:
    struct Options {
        Options() {}
        bool withTool = true;         // tool\MP4Box.exe = the stand-in tool
        std::string toolExe;          // or this program (a Windows path): the real MP4Box
        std::string installedExe;     // an installed Clipmend.exe to start where it is, with its
                                      // own tool folder (a Windows path)
        std::string standinMode;      // extra STANDIN_MODE entries ("sleep=500;exit=3")
        bool standinRebuilds = false; // the stand-in at tool\ClipmendRebuild.exe too, not the
                                      // rebuild tool
        std::vector<std::pair<std::string, std::string>> env; // more variables for the program
    };

    explicit CClipmend(Options options = Options());
    ~CClipmend();
    CClipmend(const CClipmend&) = delete;
    CClipmend& operator=(const CClipmend&) = delete;

    // Where the test's copy lives (no trailing backslash); files for the test go here too.
    const std::string& Folder() const { return m_folder; }
    // Creates Folder()\relPath (and its folders) with the contents (by default a small MP4
    // file); returns its full path.
    std::string MakeFile(const std::string& relPath, const std::string& contents) const;
    std::string MakeFile(const std::string& relPath) const;
    // Copies the file at from (a Windows path) to Folder()\relPath; returns the copy's path.
    std::string CopyIn(const std::string& from, const std::string& relPath) const;
    // The stand-in tool records its command line here.
    std::string StandinLogPath() const { return m_folder + "\\standin-log.txt"; }
    std::string ReadStandinLog() const { return ReadFileText(StandinLogPath()); }

    // Starts the program and waits for its main window. The reason for a failure is in
    // Error().
    bool Start();
    const std::string& Error() const { return m_error; }

    HWND Main() const { return m_hMain; }
    HANDLE Process() const { return m_process.get(); }
    DWORD ProcessId() const { return m_pid; }
    DWORD ThreadId() const { return m_tid; }
    HWND Control(int id) const { return ::GetDlgItem(m_hMain, id); }
    std::string ControlText(int id) const { return WindowText(Control(id)); }
    bool IsControlEnabled(int id) const { return ::IsWindowEnabled(Control(id)) != FALSE; }
    void ClickButton(int id) const { Click(Control(id)); }
    // A key to the control that has the focus, as the keyboard would send it.
    void PressKey(UINT vk) const;
    HWND Focus() const { return FocusedWindow(m_tid); }

    // The common Open dialog of the program, once shown, titled title.
    HWND WaitForOpenDialog(DWORD timeoutMs = kTimeoutMs, const std::string& title = "Open") const;
    // OPEN, then type path into the Open dialog's file name box and press its Open button.
    bool ChooseFile(const std::string& path);
    // The same in an Open dialog already on its way, titled title.
    bool ChooseInOpenDialog(const std::string& title, const std::string& path,
                            const std::string& shot = std::string());
    // OPEN, then Cancel in the Open dialog.
    bool CancelOpen();

    // A message box owned by the main window, once shown. On a time-out, Error() lists the
    // windows the program shows instead.
    bool WaitForMessageBox(MessageBoxInfo* info, DWORD timeoutMs = kTimeoutMs);
    // True if a message box shows up within the (short) time given.
    bool MessageBoxAppears(DWORD withinMs);
    // The program's top-level windows: class, caption, owner, shown or not (for diagnostics).
    std::string DescribeWindows() const;
    bool PressOk(const MessageBoxInfo& box) { return PressButton(box, IDOK); }
    // Presses the button of that id (IDYES, IDNO...) and waits for the box to go.
    bool PressButton(const MessageBoxInfo& box, int id);

    // Ends the program with WM_CLOSE and waits for its process to end.
    bool Close();
    bool WaitForExit(DWORD timeoutMs, DWORD* exitCode = nullptr) const;
    bool HasExited() const;

private:
    bool Fail(const std::string& what);
    std::vector<char> EnvironmentBlock() const;

    Options m_options;
    std::string m_folder;
    std::string m_exe;
    std::string m_error;
    CKernelHandle m_process;
    DWORD m_pid = 0;
    DWORD m_tid = 0;
    HWND m_hMain = nullptr;
};

} // namespace e2e
