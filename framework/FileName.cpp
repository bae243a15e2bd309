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
