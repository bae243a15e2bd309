#include "framework/WinApp.h"

#include "framework/FileName.h"

#include <commctrl.h>

#include <vector>

namespace {

CWinApp* g_pApp = nullptr;

// The standard Help command.
constexpr UINT kIdHelp = 0xE146;

} // namespace

CWinApp::CWinApp(const char* pszAppName) : m_strAppName(pszAppName) {
    g_pApp = this;
}

CWinApp::~CWinApp() {
    if (g_pApp == this)
        g_pApp = nullptr;
}

int CWinApp::Run() {
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    return ExitInstance();
}

BOOL CWinApp::OnCmdMsg(UINT nID) {
    if (nID != kIdHelp)
        return FALSE;
    OnHelp();
    return TRUE;
}

void CWinApp::OnHelp() {
    // No help file ships with a program that has none: then F1 does nothing.
    if (m_strHelpPath.IsEmpty() || ::GetFileAttributesA(m_strHelpPath) == INVALID_FILE_ATTRIBUTES)
        return;
    using ShellExecuteFn =
        HINSTANCE(WINAPI*)(HWND, const char*, const char*, const char*, const char*, INT);
    static const auto execute = AfxGetSystemProc<ShellExecuteFn>("shell32.dll", "ShellExecuteA");
    if (execute)
        execute(m_pMainWnd ? m_pMainWnd->m_hWnd : nullptr, "open", m_strHelpPath, nullptr, nullptr,
                SW_SHOWNORMAL);
}

CWinApp* AfxGetApp() {
    return g_pApp;
}

CWnd* AfxGetMainWnd() {
    return g_pApp ? g_pApp->m_pMainWnd : nullptr;
}

HINSTANCE AfxGetInstanceHandle() {
    if (g_pApp && g_pApp->m_hInstance)
        return g_pApp->m_hInstance;
    return ::GetModuleHandleA(nullptr);
}

HINSTANCE AfxFindResourceHandle(const char*, const char*) {
    // All resources live in the executable; there are no resource DLLs to search.
    return AfxGetInstanceHandle();
}

CString AfxGetModuleFileName(HMODULE hModule) {
    // The API truncates silently when the buffer is short, so grow until the name fits.
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameA(hModule, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return CString();
        if (length < buffer.size())
            return CString(buffer.data(), static_cast<int>(length));
        buffer.resize(buffer.size() * 2);
    }
}

CString AfxLoadString(UINT nID) {
    // LoadString cuts silently at the buffer's end, so grow while it fills the buffer.
    std::vector<char> buffer(256);
    for (;;) {
        const int length = ::LoadStringA(AfxGetInstanceHandle(), nID, buffer.data(),
                                         static_cast<int>(buffer.size()));
        if (length <= 0)
            return CString();
        if (static_cast<size_t>(length) + 1 < buffer.size())
            return CString(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

CString AfxGetAppName() {
    if (g_pApp && !g_pApp->m_strAppName.IsEmpty())
        return g_pApp->m_strAppName;
    return AfxFileTitleOf(AfxGetModuleFileName());
}

HWND AfxGetSafeOwner(CWnd* pParent) {
    CWnd* pWnd = pParent ? pParent : AfxGetMainWnd();
    HWND owner = pWnd ? pWnd->m_hWnd : nullptr;
    if (!owner || !::IsWindow(owner))
        return nullptr;
    // A modal window is owned by a top-level window, never by a child control.
    while (::GetWindowLongPtrA(owner, GWL_STYLE) & WS_CHILD)
        owner = ::GetParent(owner);
    return ::GetLastActivePopup(owner);
}

void AfxAllowMessageFromLowerIntegrity(HWND hWnd, UINT message) {
    using ChangeFilterEx = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
    static const ChangeFilterEx change = [] {
        HMODULE user32 = ::GetModuleHandleA("user32.dll");
        return user32 ? reinterpret_cast<ChangeFilterEx>(reinterpret_cast<void*>(
                            ::GetProcAddress(user32, "ChangeWindowMessageFilterEx")))
                      : nullptr;
    }();
    const DWORD kMsgFltAllow = 1;
    if (change && message != 0)
        change(hWnd, message, kMsgFltAllow, nullptr);
}

CString AfxFormatSystemMessage(DWORD dwError) {
    char* pszText = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, dwError, 0, reinterpret_cast<char*>(&pszText), 0, nullptr);
    CString text;
    if (length > 0 && pszText)
        text = CString(pszText, static_cast<int>(length));
    ::LocalFree(pszText);
    int end = text.GetLength();
    while (end > 0 && (text.GetAt(end - 1) == '\r' || text.GetAt(end - 1) == '\n' ||
                       text.GetAt(end - 1) == ' '))
        --end;
    text = text.Left(end);
    if (text.IsEmpty())
        text.Format("System error %lu.", static_cast<unsigned long>(dwError));
    return text;
}

int AfxMessageBox(const char* lpszText, UINT nType, UINT) {
    if ((nType & MB_ICONMASK) == 0 &&
        ((nType & MB_TYPEMASK) == MB_OK || (nType & MB_TYPEMASK) == MB_OKCANCEL))
        nType |= MB_ICONEXCLAMATION;

    // Owned by the window the user is working in, so the box is modal to it.
    const CString caption = AfxGetAppName();
    return ::MessageBoxA(AfxGetSafeOwner(), lpszText, caption, nType);
}

std::wstring AfxWiden(const char* psz) {
    const int n = ::MultiByteToWideChar(CP_ACP, 0, psz, -1, nullptr, 0);
    if (n <= 1)
        return std::wstring();
    std::vector<wchar_t> buffer(static_cast<size_t>(n));
    ::MultiByteToWideChar(CP_ACP, 0, psz, -1, buffer.data(), n);
    return std::wstring(buffer.data(), static_cast<size_t>(n - 1));
}

void AfxRestrictDllSearch() {
    // Without the current folder first, for every system this program runs on.
    ::SetDllDirectoryA("");
    using SetDefaultFn = BOOL(WINAPI*)(DWORD);
    const auto setDefault = reinterpret_cast<SetDefaultFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefault)
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE AfxLoadSystemLibrary(const char* pszName) {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const UINT length = ::GetSystemDirectoryA(buffer.data(), static_cast<UINT>(buffer.size()));
        if (length == 0)
            return nullptr;
        // A short buffer gets the size it needs, counting the terminator.
        if (length < buffer.size()) {
            const CString path = CString(buffer.data(), static_cast<int>(length)) + "\\" + pszName;
            return ::LoadLibraryExA(path, nullptr, 0);
        }
        buffer.resize(length);
    }
}

int AfxWinMain(HINSTANCE hInstance, int) {
    AfxRestrictDllSearch();
    CWinApp* app = AfxGetApp();
    if (!app)
        return -1;
    app->m_hInstance = hInstance;
    const CString module = AfxGetModuleFileName();
    if (app->m_strAppName.IsEmpty())
        app->m_strAppName = AfxFileTitleOf(module);
    const int dot = module.ReverseFind('.');
    app->m_strHelpPath = (dot > module.ReverseFind('\\') ? module.Left(dot) : module) + ".HLP";

    // The common controls the dialogs use (tooltips among them) must be registered first.
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&icc);

    if (!app->InitInstance())
        return app->ExitInstance();
    return app->Run();
}

#if !defined(CLIPMEND_NO_WINMAIN)
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int nCmdShow) {
    return AfxWinMain(hInstance, nCmdShow);
}
#endif
