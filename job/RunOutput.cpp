#include "job/RunOutput.h"

#include "framework/FileName.h"
#include "framework/Handle.h"
#include "media/ByteSource.h"

namespace {

uint64_t FileTimeValue(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME FileTimeOf(uint64_t value) {
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

// FAT keeps write times in two-second steps: an output written this recently could be written
// again by the tool and keep the very same time. 100 ns units.
const uint64_t kCoarseWriteWindow = 6ull * 10000000ull;

// How long an ended tool's files may stay open.
const DWORD kDeleteRetryMs = 5000;
const DWORD kDeleteStepMs = 100;

// Whether two names lead to one file.
bool SameFile(const CString& a, const CString& b) {
    CFileIdentity first, second;
    return FileIdentityOf(a, &first) && FileIdentityOf(b, &second) && first == second;
}

} // namespace

COutputStamp COutputStamp::Of(const CString& path) {
    COutputStamp stamp;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (::GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
        stamp.bExists = true;
        stamp.ftWrite = data.ftLastWriteTime;
        stamp.nSize = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    return stamp;
}

bool COutputStamp::operator==(const COutputStamp& other) const {
    return bExists == other.bExists && nSize == other.nSize &&
           ::CompareFileTime(&ftWrite, &other.ftWrite) == 0;
}

COutputStamp COutputStamp::BeforeRun(const CString& path) {
    COutputStamp stamp = Of(path);
    if (!stamp.bExists)
        return stamp;
    FILETIME ftNow;
    ::GetSystemTimeAsFileTime(&ftNow);
    const uint64_t nBefore = FileTimeValue(ftNow) - kCoarseWriteWindow;
    if (FileTimeValue(stamp.ftWrite) <= nBefore)
        return stamp;
    CFileHandle file(::CreateFileA(path, FILE_WRITE_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const FILETIME ftBefore = FileTimeOf(nBefore);
    if (file && ::SetFileTime(file.get(), nullptr, nullptr, &ftBefore)) {
        file.reset();
        stamp = Of(path);
    }
    return stamp;
}

void RemoveOutput(const CString& path) {
    for (DWORD waited = 0;; waited += kDeleteStepMs) {
        if (::DeleteFileA(path))
            return;
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            waited >= kDeleteRetryMs)
            return;
        ::Sleep(kDeleteStepMs);
    }
}

void RemoveEarlierCopy(const CString& output, const CString& recording, const CString& reference) {
    if (AfxPathExists(output) && !SameFile(output, recording) && !SameFile(output, reference))
        ::DeleteFileA(output);
}
