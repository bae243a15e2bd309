#include "tests/support/RunnerSupport.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>

namespace {

const char kOwnerClass[] = "ClipmendRunnerTestOwner";

} // namespace

COwnerWindow::COwnerWindow() {
    static const ATOM atom = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = WndProc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = kOwnerClass;
        return ::RegisterClassA(&wc);
    }();
    (void)atom;
    m_wnd.m_hWnd = ::CreateWindowA(kOwnerClass, "owner", WS_OVERLAPPED, 0, 0, 100, 100, nullptr,
                                   nullptr, ::GetModuleHandleA(nullptr), nullptr);
    ::SetWindowLongPtrA(m_wnd.m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

COwnerWindow::~COwnerWindow() {
    Destroy();
}

void COwnerWindow::Destroy() {
    if (m_wnd.m_hWnd)
        ::DestroyWindow(m_wnd.m_hWnd);
    // The CWnd only borrowed it.
    m_wnd.m_hWnd = nullptr;
}

LRESULT CALLBACK COwnerWindow::WndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<COwnerWindow*>(::GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    if (msg != WM_COPYDATA || !self)
        return ::DefWindowProcA(hWnd, msg, wParam, lParam);
    CRunnerRecord read;
    if (!self->runner || !self->runner->ReadRecord(lParam, &read)) {
        ++self->ignored;
        return 0;
    }
    CRecord record{read.nCode, read.eStream, std::string(read.pText, read.nLength)};
    if (read.nCode == COPYDATA_OUTPUT) {
        self->outputBytes += read.nLength;
        ++self->outputRecords;
        self->maxOutputText = std::max(self->maxOutputText, read.nLength);
    }
    if (self->keepText || read.nCode != COPYDATA_OUTPUT)
        self->records.push_back(record);
    if (self->onRecord)
        self->onRecord(record);
    return 0;
}

size_t COwnerWindow::Count(ULONG_PTR code) const {
    size_t n = 0;
    for (const CRecord& r : records)
        n += r.code == code ? 1 : 0;
    return n;
}

std::string COwnerWindow::Output() const {
    std::string text;
    for (const CRecord& r : records) {
        if (r.code == COPYDATA_OUTPUT)
            text += r.text;
    }
    return text;
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    while (!done()) {
        if (::GetTickCount() - start > timeoutMs)
            return false;
        ::MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }
    return true;
}

void PumpFor(DWORD ms) {
    const DWORD start = ::GetTickCount();
    PumpUntil([&] { return ::GetTickCount() - start >= ms; }, ms + 1000);
}

std::string ExeDir() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameA(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    return path.substr(0, path.rfind('\\') + 1);
}

std::string ToolPath() {
    return ExeDir() + "tool\\MP4Box.exe";
}

std::string ToolCommand(const std::string& mode) {
    return "\"" + ToolPath() + "\" -itags \"Name=clip\" -add \"\" -new \"\" --mode \"" + mode +
           "\"";
}

std::string TempPath(const char* name) {
    static unsigned counter = 0;
    char dir[MAX_PATH + 1];
    ::GetTempPathA(sizeof(dir), dir);
    return std::string(dir) + "runner-" + std::to_string(::GetCurrentProcessId()) + "-" +
           std::to_string(++counter) + "-" + name;
}

std::string ReadWholeFile(const std::string& path) {
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::string();
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(h, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        text.append(buffer, got);
    ::CloseHandle(h);
    return text;
}

DWORD WaitForPidFile(const std::string& path, DWORD timeoutMs, HANDLE writer) {
    DWORD pid = 0;
    PumpUntil(
        [&] {
            pid = static_cast<DWORD>(std::strtoul(ReadWholeFile(path).c_str(), nullptr, 10));
            return pid != 0 || (writer && ::WaitForSingleObject(writer, 0) == WAIT_OBJECT_0);
        },
        timeoutMs);
    return pid;
}

int ThreadCount() {
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    int n = 0;
    for (BOOL ok = ::Thread32First(snapshot, &entry); ok; ok = ::Thread32Next(snapshot, &entry))
        n += entry.th32OwnerProcessID == ::GetCurrentProcessId() ? 1 : 0;
    ::CloseHandle(snapshot);
    return n;
}

int HandleCount() {
    DWORD count = 0;
    if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count > 0)
        return static_cast<int>(count);
    // Wine answers 0 above; its system handle list (this layout) is complete.
    struct Entry {
        ULONG pid;
        BYTE type;
        BYTE flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    using QueryFn = LONG(WINAPI*)(int, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return -1;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        ULONG needed = 0;
        const LONG status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == static_cast<LONG>(0xC0000004)) { // buffer too small
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status != 0)
            return -1;
        break;
    }
    const ULONG entries = *reinterpret_cast<const ULONG*>(buffer.data());
    const auto* list = reinterpret_cast<const Entry*>(buffer.data() + sizeof(ULONG_PTR));
    int n = 0;
    for (ULONG i = 0; i < entries; ++i)
        n += list[i].pid == ::GetCurrentProcessId() ? 1 : 0;
    return n;
}
