#include "framework/FileDialog.h"

#include "framework/FileName.h"
#include "framework/WinApp.h"

#include <cstring>

namespace {

// Room for the longest path Windows allows: 32767 UTF-16 units, each up to three bytes in
// UTF-8 (a pair for a character outside the BMP takes four).
constexpr size_t kFileBufferSize = 3 * 32768;

} // namespace

CFileDialog::CFileDialog(BOOL bOpenFileDialog, const char* lpszDefExt, const char* lpszFileName,
                         DWORD dwFlags, const char* lpszFilter, CWnd* pParentWnd)
    : m_bOpenFileDialog(bOpenFileDialog), m_pParentWnd(pParentWnd), m_strDefExt(lpszDefExt),
      m_file(kFileBufferSize, '\0') {
    if (lpszFileName)
        std::strncpy(m_file.data(), lpszFileName, m_file.size() - 1);
    if (lpszFilter) {
        m_filter.assign(lpszFilter, lpszFilter + std::strlen(lpszFilter) + 1);
        for (char& ch : m_filter) {
            if (ch == '|')
                ch = '\0';
        }
    }
    m_ofn.lStructSize = sizeof(m_ofn);
    m_ofn.Flags = dwFlags | OFN_EXPLORER;
}

INT_PTR CFileDialog::DoModal() {
    m_ofn.hwndOwner = AfxGetSafeOwner(m_pParentWnd);
    m_ofn.hInstance = AfxGetInstanceHandle();
    m_ofn.lpstrFilter = m_filter.empty() ? nullptr : m_filter.data();
    m_ofn.lpstrFile = m_file.data();
    m_ofn.nMaxFile = static_cast<DWORD>(m_file.size());
    m_ofn.lpstrDefExt = m_strDefExt.IsEmpty() ? nullptr : static_cast<const char*>(m_strDefExt);
    // comdlg32 and what it brings (the shell, the printing DLLs) are loaded on the first
    // click that needs them, not at every start.
    using DialogFn = BOOL(WINAPI*)(OPENFILENAMEA*);
    static const auto open = AfxGetSystemProc<DialogFn>("comdlg32.dll", "GetOpenFileNameA");
    static const auto save = AfxGetSystemProc<DialogFn>("comdlg32.dll", "GetSaveFileNameA");
    const DialogFn show = m_bOpenFileDialog ? open : save;
    return show && show(&m_ofn) ? IDOK : IDCANCEL;
}

CString CFileDialog::GetFileTitle() const {
    return AfxFileTitleOf(GetPathName());
}
