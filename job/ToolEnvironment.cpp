#include "job/ToolEnvironment.h"

#include <windows.h>

#include <cwchar>

std::wstring ToolEnvironment() {
    std::wstring strBlock;
    if (wchar_t* pStrings = ::GetEnvironmentStringsW()) {
        for (const wchar_t* p = pStrings; *p; p += wcslen(p) + 1) {
            // Names compare without case; "=C:=C:\\..." entries start with '='.
            const wchar_t* pEq = wcschr(p + 1, L'=');
            const size_t nName = pEq ? static_cast<size_t>(pEq - p) : wcslen(p);
            const std::wstring strName(p, nName);
            if (::lstrcmpiW(strName.c_str(), L"SHELL") == 0 ||
                ::lstrcmpiW(strName.c_str(), L"PATH") == 0)
                continue;
            strBlock.append(p).push_back(L'\0');
        }
        ::FreeEnvironmentStringsW(pStrings);
    }
    wchar_t system[MAX_PATH + 1] = L"";
    wchar_t windows[MAX_PATH + 1] = L"";
    const UINT nSystem = ::GetSystemDirectoryW(system, MAX_PATH + 1);
    const UINT nWindows = ::GetWindowsDirectoryW(windows, MAX_PATH + 1);
    std::wstring strPath = L"PATH=";
    if (nSystem > 0 && nSystem <= MAX_PATH)
        strPath += std::wstring(system) + L";";
    if (nWindows > 0 && nWindows <= MAX_PATH)
        strPath += windows;
    strBlock.append(strPath).push_back(L'\0');
    strBlock.push_back(L'\0');
    return strBlock;
}
