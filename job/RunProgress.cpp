#include "job/RunProgress.h"

#include "framework/WinApp.h"

#include <objbase.h>

#include <vector>

const UINT WMTASKBARBUTTONCREATED = ::RegisterWindowMessageA("TaskbarButtonCreated");

// ITaskbarList3 up to the calls used here, in its vtable order (ITaskbarList, then
// ITaskbarList2, then its own first two). Declared here: the program targets Windows Vista,
// and not every SDK declares the interface for that target. Not in the anonymous namespace:
// there the optimizer sees that no class of the program implements it and takes every call
// to it for one that cannot happen (the 32-bit release called address 0).
struct ITaskbarListProgress : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE HrInit() = 0;
    virtual HRESULT STDMETHODCALLTYPE AddTab(HWND hwnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteTab(HWND hwnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE ActivateTab(HWND hwnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND hwnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND hwnd, BOOL fullscreen) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProgressValue(HWND hwnd, ULONGLONG completed,
                                                       ULONGLONG total) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProgressState(HWND hwnd, int flags) = 0;
};

namespace {

const CLSID kClsidTaskbarList = {
    0x56FDF344, 0xFD6D, 0x11D0, {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};
const IID kIidTaskbarList3 = {
    0xEA1AFB91, 0x9E28, 0x4B86, {0x90, 0xE9, 0x9E, 0x9F, 0x8A, 0x5E, 0xEF, 0xAF}};

template <typename F> F Lookup(HMODULE module, const char* name) {
    return module ? reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)))
                  : nullptr;
}

class CSystemTaskbar : public CTaskbarProgress {
public:
    CSystemTaskbar(ITaskbarListProgress* pList, HMODULE ole32, bool bUninitialize)
        : m_pList(pList), m_ole32(ole32), m_bUninitialize(bUninitialize) {}
    ~CSystemTaskbar() override {
        m_pList->Release();
        if (m_bUninitialize) {
            if (auto uninit = Lookup<void(WINAPI*)()>(m_ole32, "CoUninitialize"))
                uninit();
        }
        ::FreeLibrary(m_ole32);
    }
    void SetState(HWND hwnd, State state) override { m_pList->SetProgressState(hwnd, state); }
    void SetValue(HWND hwnd, int nPercent) override {
        m_pList->SetProgressValue(hwnd, static_cast<ULONGLONG>(nPercent), 100);
    }

private:
    ITaskbarListProgress* m_pList;
    HMODULE m_ole32;
    bool m_bUninitialize;
};

} // namespace

std::unique_ptr<CTaskbarProgress> CTaskbarProgress::Create() {
    // Looked up at run time: nothing is lost where COM or the interface is missing.
    HMODULE ole32 = AfxLoadSystemLibrary("ole32.dll");
    const auto init = Lookup<HRESULT(WINAPI*)(void*, DWORD)>(ole32, "CoInitializeEx");
    const auto create = Lookup<HRESULT(WINAPI*)(REFCLSID, IUnknown*, DWORD, REFIID, void**)>(
        ole32, "CoCreateInstance");
    const auto uninit = Lookup<void(WINAPI*)()>(ole32, "CoUninitialize");
    if (!init || !create || !uninit) {
        if (ole32)
            ::FreeLibrary(ole32);
        return nullptr;
    }
    const HRESULT hrInit = init(nullptr, COINIT_APARTMENTTHREADED);
    const bool bUninitialize = SUCCEEDED(hrInit);
    void* pObject = nullptr;
    auto* pList = SUCCEEDED(create(kClsidTaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                   kIidTaskbarList3, &pObject))
                      ? static_cast<ITaskbarListProgress*>(pObject)
                      : nullptr;
    if (pList && FAILED(pList->HrInit())) {
        pList->Release();
        pList = nullptr;
    }
    if (!pList) {
        if (bUninitialize)
            uninit();
        ::FreeLibrary(ole32);
        return nullptr;
    }
    return std::unique_ptr<CTaskbarProgress>(new CSystemTaskbar(pList, ole32, bUninitialize));
}

CRunProgress::~CRunProgress() {
    Detach();
}

void CRunProgress::Attach(HWND hwnd) {
    m_hWnd = hwnd;
    // The program runs elevated: the taskbar's message would not get through otherwise.
    AfxAllowMessageFromLowerIntegrity(hwnd, WMTASKBARBUTTONCREATED);
}

void CRunProgress::Detach() {
    End(false);
    if (m_hWnd && ::IsWindow(m_hWnd))
        ::KillTimer(m_hWnd, reinterpret_cast<UINT_PTR>(this));
    m_hWnd = nullptr;
}

void CRunProgress::OnTaskbarButtonCreated() {
    if (m_bTaskbarForTest)
        return;
    m_pTaskbar.reset();
    m_bHasButton = true;
    // A new button shows nothing yet.
    m_eShownState = CTaskbarProgress::kNone;
    m_nShownValue = -1;
    ScheduleTaskbar();
}

void CRunProgress::SetTaskbarForTest(std::unique_ptr<CTaskbarProgress> pTaskbar) {
    m_pTaskbar = std::move(pTaskbar);
    m_bTaskbarForTest = true;
}

void CRunProgress::Begin() {
    m_dwErrorSince = 0;
    if (m_bRunning || !m_hWnd || !::IsWindow(m_hWnd))
        return;
    const int nLength = ::GetWindowTextLengthW(m_hWnd);
    std::vector<wchar_t> buffer(static_cast<size_t>(nLength) + 2);
    const int nCopied = ::GetWindowTextW(m_hWnd, buffer.data(), static_cast<int>(buffer.size()));
    m_strCaption.assign(buffer.data(), static_cast<size_t>(nCopied > 0 ? nCopied : 0));
    m_bRunning = true;
    m_bCaptionChanged = false;
}

void CRunProgress::Show(const CProgressParser& progress) {
    if (progress.IsActive()) {
        ShowPercent(progress.GetPercent(), progress.GetPhase());
    } else if (m_bRunning && ::IsWindow(m_hWnd)) {
        SetCaption(m_strCaption);
        m_eWantState = CTaskbarProgress::kNone;
        ScheduleTaskbar();
    }
}

void CRunProgress::ShowPercent(int nPercent, const std::string& strPhase) {
    if (!m_bRunning || !::IsWindow(m_hWnd))
        return;
    SetCaption(AfxWiden(ProgressCaptionPrefix(nPercent, strPhase)) + m_strCaption);
    m_eWantState = CTaskbarProgress::kNormal;
    m_nWantValue = nPercent;
    ScheduleTaskbar();
}

void CRunProgress::SetCaption(const std::wstring& strCaption) {
    ::SetWindowTextW(m_hWnd, strCaption.c_str());
    m_bCaptionChanged = true;
}

void CRunProgress::End(bool bFailed) {
    if (!m_bRunning)
        return;
    m_bRunning = false;
    if (!m_hWnd || !::IsWindow(m_hWnd))
        return;
    if (m_bCaptionChanged)
        ::SetWindowTextW(m_hWnd, m_strCaption.c_str());
    m_bCaptionChanged = false;
    if (bFailed) {
        // Full, so that the error state shows whatever the run had reached.
        m_eWantState = CTaskbarProgress::kError;
        m_nWantValue = 100;
        m_dwErrorSince = ::GetTickCount();
        // Zero would read as "no error" when the tick count wraps to it.
        if (m_dwErrorSince == 0)
            m_dwErrorSince = 1;
    } else {
        m_eWantState = CTaskbarProgress::kNone;
        m_dwErrorSince = 0;
    }
    ScheduleTaskbar();
}

void CRunProgress::ScheduleTaskbar() {
    if ((m_pTaskbar || m_bHasButton) && m_hWnd && ::IsWindow(m_hWnd) && !m_bApplying)
        ::SetTimer(m_hWnd, reinterpret_cast<UINT_PTR>(this), USER_TIMER_MINIMUM, &OnTaskbarTimer);
}

VOID CALLBACK CRunProgress::OnTaskbarTimer(HWND, UINT, UINT_PTR idEvent, DWORD) {
    // The timer's id is the object: it lives as long as the window or the object, whichever
    // ends first (Detach kills it).
    reinterpret_cast<CRunProgress*>(idEvent)->ApplyTaskbar();
}

void CRunProgress::ApplyTaskbar() {
    if (m_bApplying || !m_hWnd)
        return;
    ::KillTimer(m_hWnd, reinterpret_cast<UINT_PTR>(this));
    if (!m_pTaskbar) {
        // Without its object the button shows nothing: there is nothing to do until a run
        // wants something shown.
        if (!m_bHasButton || m_eWantState == CTaskbarProgress::kNone)
            return;
        m_pTaskbar = CTaskbarProgress::Create();
        // None to be had: none is asked for again until the taskbar makes a button anew.
        m_bHasButton = m_pTaskbar != nullptr;
        if (!m_pTaskbar)
            return;
    }
    m_bApplying = true;
    // A handler that ran during a call may have changed what to show: go on until it holds.
    for (;;) {
        if (m_dwErrorSince != 0 && ::GetTickCount() - m_dwErrorSince >= kErrorFlashMs) {
            m_dwErrorSince = 0;
            m_eWantState = CTaskbarProgress::kNone;
        }
        const CTaskbarProgress::State eState = m_eWantState;
        const int nValue = m_nWantValue;
        if (eState == m_eShownState &&
            (eState == CTaskbarProgress::kNone || nValue == m_nShownValue))
            break;
        if (eState != m_eShownState) {
            m_eShownState = eState;
            m_pTaskbar->SetState(m_hWnd, eState);
            if (eState == CTaskbarProgress::kNone)
                m_nShownValue = -1;
        }
        if (eState != CTaskbarProgress::kNone && nValue != m_nShownValue) {
            m_nShownValue = nValue;
            m_pTaskbar->SetValue(m_hWnd, nValue);
        }
    }
    m_bApplying = false;
    if (m_dwErrorSince != 0 && ::IsWindow(m_hWnd)) {
        const DWORD dwShown = ::GetTickCount() - m_dwErrorSince;
        ::SetTimer(m_hWnd, reinterpret_cast<UINT_PTR>(this),
                   dwShown < kErrorFlashMs ? kErrorFlashMs - dwShown : USER_TIMER_MINIMUM,
                   &OnTaskbarTimer);
    }
}
