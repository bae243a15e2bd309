// The system's open/save file dialog.
#pragma once

#include "framework/Wnd.h"

#include <commdlg.h>

#include <vector>

class CFileDialog {
public:
    // lpszFilter uses the framework's form: "Name|pattern|Name|pattern||".
    CFileDialog(BOOL bOpenFileDialog, const char* lpszDefExt = nullptr,
                const char* lpszFileName = nullptr,
                DWORD dwFlags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                const char* lpszFilter = nullptr, CWnd* pParentWnd = nullptr);
    CFileDialog(const CFileDialog&) = delete;
    CFileDialog& operator=(const CFileDialog&) = delete;

    // IDOK or IDCANCEL.
    INT_PTR DoModal();

    CString GetPathName() const { return CString(m_file.data()); }
    CString GetFileTitle() const;

    OPENFILENAMEA m_ofn{};

private:
    BOOL m_bOpenFileDialog;
    CWnd* m_pParentWnd;
    CString m_strDefExt;
    std::vector<char> m_filter;
    std::vector<char> m_file;
};
