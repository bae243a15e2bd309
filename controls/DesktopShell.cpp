#include "controls/DesktopShell.h"

#include "framework/WinApp.h"

#include <windows.h>

#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace {

// Owns one reference to a COM interface.
template <typename T> class CComRef {
public:
    CComRef() = default;
    ~CComRef() { Reset(); }
    CComRef(const CComRef&) = delete;
    CComRef& operator=(const CComRef&) = delete;

    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    T** Put() {
        Reset();
        return &m_p;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    void Reset() {
        if (m_p)
            m_p->Release();
        m_p = nullptr;
    }

private:
    T* m_p = nullptr;
};

// COM's and OLE Automation's calls, loaded with the first click on a link rather than at every
// start.
struct CComCalls {
    HRESULT(WINAPI* initialize)(void*, DWORD);
    void(WINAPI* uninitialize)();
    HRESULT(WINAPI* create)(REFCLSID, IUnknown*, DWORD, REFIID, void**);
    BSTR(WINAPI* allocString)(const OLECHAR*);
    void(WINAPI* freeString)(BSTR);

    bool Loaded() const {
        return initialize && uninitialize && create && allocString && freeString;
    }
};

const CComCalls& ComCalls() {
    static const CComCalls calls{
        AfxGetSystemProc<decltype(CComCalls::initialize)>("ole32.dll", "CoInitializeEx"),
        AfxGetSystemProc<decltype(CComCalls::uninitialize)>("ole32.dll", "CoUninitialize"),
        AfxGetSystemProc<decltype(CComCalls::create)>("ole32.dll", "CoCreateInstance"),
        AfxGetSystemProc<decltype(CComCalls::allocString)>("oleaut32.dll", "SysAllocString"),
        AfxGetSystemProc<decltype(CComCalls::freeString)>("oleaut32.dll", "SysFreeString")};
    return calls;
}

class CBstr {
public:
    explicit CBstr(const std::wstring& str) : m_b(ComCalls().allocString(str.c_str())) {}
    ~CBstr() { ComCalls().freeString(m_b); }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;
    BSTR Get() const { return m_b; }

private:
    BSTR m_b;
};

// The desktop's folder view, then its Shell.Application object, which Explorer runs.
bool DesktopShellDispatch(IShellDispatch2** ppShell) {
    CComRef<IShellWindows> windows;
    if (FAILED(ComCalls().create(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER,
                                 IID_IShellWindows, windows.PutVoid())))
        return false;
    // Value-initialised: VT_EMPTY, as VariantInit leaves it.
    VARIANT location{};
    location.vt = VT_I4;
    location.lVal = CSIDL_DESKTOP;
    VARIANT empty{};
    long hwnd = 0;
    CComRef<IDispatch> desktop;
    if (windows->FindWindowSW(&location, &empty, SWC_DESKTOP, &hwnd, SWFO_NEEDDISPATCH,
                              desktop.Put()) != S_OK ||
        !desktop)
        return false;
    CComRef<IServiceProvider> services;
    CComRef<IShellBrowser> browser;
    CComRef<IShellView> view;
    CComRef<IDispatch> viewDispatch;
    CComRef<IShellFolderViewDual> folderView;
    CComRef<IDispatch> application;
    return SUCCEEDED(desktop->QueryInterface(IID_IServiceProvider, services.PutVoid())) &&
           SUCCEEDED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser,
                                            browser.PutVoid())) &&
           SUCCEEDED(browser->QueryActiveShellView(view.Put())) &&
           SUCCEEDED(
               view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, viewDispatch.PutVoid())) &&
           SUCCEEDED(
               viewDispatch->QueryInterface(IID_IShellFolderViewDual, folderView.PutVoid())) &&
           SUCCEEDED(folderView->get_Application(application.Put())) && application &&
           SUCCEEDED(
               application->QueryInterface(IID_IShellDispatch2, reinterpret_cast<void**>(ppShell)));
}

} // namespace

bool OpenWithDesktopShell(const char* pszTarget, int nShow) {
    const CComCalls& com = ComCalls();
    if (!com.Loaded())
        return false;
    const HRESULT hrInit = com.initialize(nullptr, COINIT_APARTMENTTHREADED);
    bool bOpened = false;
    {
        CComRef<IShellDispatch2> shell;
        if (DesktopShellDispatch(shell.Put()) && shell) {
            const CBstr target(AfxWiden(pszTarget));
            const CBstr operation(L"open");
            VARIANT none{};
            VARIANT verb{};
            verb.vt = VT_BSTR;
            verb.bstrVal = operation.Get();
            VARIANT show{};
            show.vt = VT_I4;
            show.lVal = nShow;
            bOpened = SUCCEEDED(shell->ShellExecute(target.Get(), none, none, verb, show));
        }
    }
    if (SUCCEEDED(hrInit))
        com.uninitialize();
    return bOpened;
}
