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
    // The system refuses a name with a wildcard in it rather than matching anything.
    return ::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}
#endif
