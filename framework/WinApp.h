// The application object and the framework's global helpers.
#pragma once

#include "framework/Wnd.h"

#include <string>

class CWinApp {
public:
    // With no name the executable's file name without its extension is used.
    explicit CWinApp(const char* pszAppName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance() { return FALSE; }
    virtual int ExitInstance() { return 0; }
    // The application's own message loop, for programs that keep running after InitInstance.
    virtual int Run();

    // Commands no window handled (the standard Help command); TRUE when one was carried out.
    virtual BOOL OnCmdMsg(UINT nID);
    // Opens the application's help file (<exe>.HLP beside the exe), if it has one.
    void OnHelp();

    // Start-up switches from the 16-bit era: control containers (OLE) and CTL3D. Windows has
    // drawn 3D controls itself since Windows 95 and the program hosts no OLE control, so
    // there is nothing left for them to load.
    void Enable3dControls() {}

    CWnd* m_pMainWnd = nullptr;
    HINSTANCE m_hInstance = nullptr;
    CString m_strAppName;
    CString m_strHelpPath;
};

inline void AfxEnableControlContainer() {}

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
// The module whose resources hold the named resource (the executable here).
HINSTANCE AfxFindResourceHandle(const char* lpszName, const char* lpszType);
CString AfxGetAppName();

// A string of the executable's string table, at any length; empty when there is none.
CString AfxLoadString(UINT nID);

// The running executable's full path, at any length.
CString AfxGetModuleFileName(HMODULE hModule = nullptr);

// Text in the ANSI code page as UTF-16, for the calls that take only that.
std::wstring AfxWiden(const char* psz);

// The system's own text for an error code (GetLastError), without its line end; a plain
// "System error N." when the system has none.
CString AfxFormatSystemMessage(DWORD dwError);

// Lets the message through to hWnd from processes of a lower integrity level (Explorer, the
// taskbar), which an elevated program otherwise never hears from. The call exists from
// Windows 7 on and is looked up at run time; older systems filter nothing of this kind.
void AfxAllowMessageFromLowerIntegrity(HWND hWnd, UINT message);

// The window a modal window of the application is to be owned by: the given parent's (or else
// the main window's) top-level window, or the popup the user last worked in over it. Null
// when there is none yet.
HWND AfxGetSafeOwner(CWnd* pParent = nullptr);

// A modal message box owned by the active window of the application, captioned with the
// application's name; OK-only boxes get the exclamation icon.
int AfxMessageBox(const char* lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);

// DLLs loaded by name come from the system folder only, never from the current folder, the
// program's own or PATH: an elevated program would run a DLL planted in any of them. Where
// Windows lacks SetDefaultDllDirectories (before 8, or 7 without KB2533623) only the current
// folder is taken out. The entry calls it first.
void AfxRestrictDllSearch();

// A DLL of Windows' own, by its file name, from the system folder named in full (so never from
// another folder, whatever the system's search order), loaded by its first user rather than at
// start-up and kept for the program's life. Null when it cannot be loaded.
HMODULE AfxLoadSystemLibrary(const char* pszName);

// A function of such a DLL as type F; null when the DLL or the function is missing. Callers
// keep it: each lookup takes a further reference on the DLL.
template <typename F> F AfxGetSystemProc(const char* pszDll, const char* pszProc) {
    HMODULE module = AfxLoadSystemLibrary(pszDll);
    return module ? reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, pszProc)))
                  : nullptr;
}

// The framework's entry: InitInstance, then Run unless it returned FALSE.
int AfxWinMain(HINSTANCE hInstance, int nCmdShow);
