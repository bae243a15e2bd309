// The plain program the benchmark holds Clipmend against: starts the tool given on its command
// line with its output on pipes, reads them on a thread, posts one message when the process
// ends, and shows the box. What any program must do between the tool's exit and its message.
// Without a command line it shows the box at once: what a plain program's start costs.
#include <windows.h>

namespace {

HANDLE g_out = nullptr, g_process = nullptr;
HWND g_window = nullptr;

DWORD WINAPI Drain(LPVOID) {
    char buffer[256];
    DWORD got = 0;
    while (::ReadFile(g_out, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
    }
    return 0;
}

DWORD WINAPI Wait(LPVOID) {
    ::WaitForSingleObject(g_process, INFINITE);
    ::PostMessageA(g_window, WM_APP, 0, 0);
    return 0;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR cmdLine, int) {
    g_window = ::CreateWindowA("STATIC", "Plain", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                               nullptr);
    if (!*cmdLine) {
        ::MessageBoxA(g_window, "Done! Created new file", "Clipmend", MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE write = nullptr;
    ::CreatePipe(&g_out, &write, &inherit, 0);
    ::SetHandleInformation(g_out, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = write;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessA(nullptr, cmdLine, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &si, &pi))
        return 1;
    ::CloseHandle(write);
    ::CloseHandle(pi.hThread);
    g_process = pi.hProcess;
    ::CloseHandle(::CreateThread(nullptr, 0, Drain, nullptr, 0, nullptr));
    ::CloseHandle(::CreateThread(nullptr, 0, Wait, nullptr, 0, nullptr));
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_APP) {
            ::MessageBoxA(g_window, "Done! Created new file", "Clipmend",
                          MB_OK | MB_ICONEXCLAMATION);
            break;
        }
        ::DispatchMessageA(&msg);
    }
    return 0;
}
