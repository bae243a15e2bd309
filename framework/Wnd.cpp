#include "framework/Wnd.h"

#include "framework/Gdi.h"
#include "framework/WinApp.h"

#include <exception>
#include <vector>

namespace {

// The object bound to a window is kept in a window property, so it works for windows of any
// class, including controls that keep their own data in GWLP_USERDATA.
const char kBindingProp[] = "Clipmend.CWnd";

} // namespace

CString CWindow::GetWindowText() const {
    const int length = ::GetWindowTextLengthA(m_hWnd);
    if (length <= 0)
        return CString();
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    const int copied = ::GetWindowTextA(m_hWnd, buffer.data(), static_cast<int>(buffer.size()));
    return CString(buffer.data(), copied);
}

BOOL CWindow::ModifyStyle(DWORD dwRemove, DWORD dwAdd, UINT nFlags) const {
    const DWORD style = GetStyle();
    const DWORD newStyle = (style & ~dwRemove) | dwAdd;
    if (style == newStyle)
        return FALSE;
    ::SetWindowLongPtrA(m_hWnd, GWL_STYLE, static_cast<LONG_PTR>(newStyle));
    if (nFlags != 0) {
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                       SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | nFlags);
    }
    return TRUE;
}

void CWindow::CenterWindow() const {
    CRect area;
    HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
    HMONITOR monitor = ::MonitorFromWindow(owner ? owner : m_hWnd, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    ::GetMonitorInfoA(monitor, &info);
    const CRect work(info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom);
    if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner))
        ::GetWindowRect(owner, &area);
    else
        area = work;

    CRect rect;
    GetWindowRect(&rect);
    int x = area.left + (area.Width() - rect.Width()) / 2;
    int y = area.top + (area.Height() - rect.Height()) / 2;
    // Keep the whole window on the work area when the owner sits near an edge.
    if (x + rect.Width() > work.right)
        x = work.right - rect.Width();
    if (x < work.left)
        x = work.left;
    if (y + rect.Height() > work.bottom)
        y = work.bottom - rect.Height();
    if (y < work.top)
        y = work.top;
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

CWnd::~CWnd() {
    // A borrowed window outlives this object: give it back its own procedure.
    if (m_hWnd && FromHandlePermanent(m_hWnd) == this)
        Unbind();
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
    return hWnd ? static_cast<CWnd*>(::GetPropA(hWnd, kBindingProp)) : nullptr;
}

void CWnd::Bind(HWND hWnd) {
    m_hWnd = hWnd;
    ::SetPropA(hWnd, kBindingProp, this);
    m_pfnSuper = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::WndProc)));
}

void CWnd::Unbind() {
    if (!m_hWnd)
        return;
    // Only restore the procedure if nobody subclassed the window after us.
    if (reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(m_hWnd, GWLP_WNDPROC)) == &CWnd::WndProc)
        ::SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    ::RemovePropA(m_hWnd, kBindingProp);
    m_hWnd = nullptr;
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
    if (!hWnd || m_hWnd || FromHandlePermanent(hWnd))
        return FALSE;
    m_hWnd = hWnd;
    PreSubclassWindow();
    Bind(hWnd);
    return TRUE;
}

HWND CWnd::UnsubclassWindow() {
    HWND hWnd = m_hWnd;
    Unbind();
    return hWnd;
}

BOOL CWnd::PreTranslateMessage(MSG*) {
    return FALSE;
}

LRESULT CWnd::Default() {
    if (!m_pCurrent)
        return 0;
    return DefWindowProc(m_pCurrent->message, m_pCurrent->wParam, m_pCurrent->lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_pfnSuper)
        return ::CallWindowProcA(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    const CurrentMessage current{message, wParam, lParam};
    // Restored however the handler leaves, a throw included: Default() must never read the
    // frame of a message that is gone.
    struct CRestore {
        const CurrentMessage*& m_pSlot;
        const CurrentMessage* m_pPrevious;
        ~CRestore() { m_pSlot = m_pPrevious; }
    } restore{m_pCurrent, m_pCurrent};
    m_pCurrent = &current;
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result))
        result = DefWindowProc(message, wParam, lParam);
    return result;
}

BOOL CWnd::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    UINT code = 0;
    UINT id = 0;
    LPARAM reflectedParam = lParam;
    AFX_CTLCOLOR ctl{};
    UINT reflected = WM_REFLECT_BASE + message;
    if (message == WM_COMMAND) {
        code = HIWORD(wParam);
        id = LOWORD(wParam);
    } else if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) {
        ctl = {m_hWnd, reinterpret_cast<HDC>(wParam), message - WM_CTLCOLORMSGBOX};
        reflectedParam = reinterpret_cast<LPARAM>(&ctl);
        reflected = WM_REFLECT_BASE + WM_CTLCOLOR;
    } else {
        return FALSE;
    }
    const AFX_MSGMAP_ENTRY* entry = AfxFindMessageEntry(GetMessageMap(), reflected, code, id);
    if (!entry)
        return FALSE;
    const LRESULT result = entry->pfn(this, wParam, reflectedParam);
    // A colour handler that returns no brush leaves the colours to the parent.
    if (reflected == WM_REFLECT_BASE + WM_CTLCOLOR && result == 0)
        return FALSE;
    *pResult = result;
    return TRUE;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    UINT code = 0;
    UINT id = 0;
    if (message == WM_COMMAND) {
        code = HIWORD(wParam);
        id = LOWORD(wParam);
        // A control's own notifications go to the control first.
        if (CWnd* child = FromHandlePermanent(reinterpret_cast<HWND>(lParam));
            child && child->OnChildNotify(message, wParam, lParam, pResult))
            return TRUE;
    } else if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) {
        if (CWnd* child = FromHandlePermanent(reinterpret_cast<HWND>(lParam));
            child && child->OnChildNotify(message, wParam, lParam, pResult))
            return TRUE;
    }

    if (const AFX_MSGMAP_ENTRY* entry = AfxFindMessageEntry(GetMessageMap(), message, code, id)) {
        *pResult = entry->pfn(this, wParam, lParam);
        return TRUE;
    }

    // Commands no window takes go to the application object (the Help command).
    if (message == WM_COMMAND && lParam == 0 && code <= 1) {
        if (CWinApp* app = AfxGetApp(); app && app->OnCmdMsg(id)) {
            *pResult = 0;
            return TRUE;
        }
    }
    return FALSE;
}

const AFX_MSGMAP* CWnd::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, nullptr, 0, 0, 0, nullptr}};
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

const AFX_MSGMAP* CWnd::GetMessageMap() const {
    return GetThisMessageMap();
}

const AFX_MSGMAP_ENTRY* AfxFindMessageEntry(const AFX_MSGMAP* pMap, UINT nMessage, UINT nCode,
                                            UINT nID) {
    for (; pMap; pMap = pMap->pfnGetBaseMap ? pMap->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* entry = pMap->lpEntries; entry->pfn; ++entry) {
            const UINT entryMessage = entry->pnRegistered ? *entry->pnRegistered : entry->nMessage;
            // An unregistered (zero) message id must never match.
            if (entryMessage == 0 || entryMessage != nMessage)
                continue;
            if (entry->nCode == nCode && entry->nID <= nID && nID <= entry->nLastID)
                return entry;
        }
    }
    return nullptr;
}

LRESULT CALLBACK CWnd::WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* pWnd = FromHandlePermanent(hWnd);
    if (!pWnd)
        return ::DefWindowProcA(hWnd, message, wParam, lParam);

    if (message == WM_NCDESTROY) {
        // The window's last message: let the original procedure see it, then unbind.
        WNDPROC super = pWnd->m_pfnSuper;
        pWnd->Unbind();
        const LRESULT result = super ? ::CallWindowProcA(super, hWnd, message, wParam, lParam)
                                     : ::DefWindowProcA(hWnd, message, wParam, lParam);
        pWnd->PostNcDestroy();
        return result;
    }

    return SafeWindowProc(pWnd, message, wParam, lParam);
}

LRESULT CWnd::SafeWindowProc(CWnd* pWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    // Nothing may unwind through the system's code.
    try {
        return pWnd->WindowProc(message, wParam, lParam);
    } catch (const std::exception& e) {
        pWnd->OnUnhandledException(e.what());
    } catch (...) {
        pWnd->OnUnhandledException("unknown exception");
    }
    return 0;
}

void CWnd::OnUnhandledException(const char* pszWhat) {
    // A failure while the box is up (it pumps messages) is not stacked on top of it.
    static bool s_bShowing = false;
    if (s_bShowing)
        return;
    s_bShowing = true;
    CString text;
    text.Format("An unexpected error stopped the last action (%s).\nYou can go on working.",
                pszWhat ? pszWhat : "");
    ::MessageBoxA(AfxGetSafeOwner(), text, AfxGetAppName(), MB_OK | MB_ICONEXCLAMATION);
    s_bShowing = false;
}

BOOL AfxWalkPreTranslateTree(HWND hWndStop, MSG* pMsg) {
    for (HWND hWnd = pMsg->hwnd; hWnd; hWnd = ::GetParent(hWnd)) {
        if (CWnd* pWnd = CWnd::FromHandlePermanent(hWnd); pWnd && pWnd->PreTranslateMessage(pMsg))
            return TRUE;
        if (hWnd == hWndStop)
            break;
    }
    return FALSE;
}
