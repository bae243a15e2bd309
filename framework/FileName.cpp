#include "framework/FileName.h"

#include <algorithm>

CString AfxFileNameOf(const CString& path) {
    const int cut = std::max(path.ReverseFind('\\'), path.ReverseFind('/'));
    return path.Mid(cut + 1);
}

CString AfxFileTitleOf(const CString& path) {
    const CString name = AfxFileNameOf(path);
    const int dot = name.ReverseFind('.');
    return dot < 0 ? name : name.Left(dot);
}

#if defined(_WIN32)
#include <windows.h>

bool AfxPathExists(const CString& path) {
    // The "\\?\" of a long path is its only '?' that is no wildcard.
    const int first = path.Left(4) == "\\\\?\\" ? 4 : 0;
    if (path.Find('?', first) >= 0 || path.Find('*', first) >= 0)
        return false;
    return ::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}
#endif
