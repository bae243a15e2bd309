// GoogleTest port settings for MinGW with the win32 thread model, whose libstdc++ has no
// std::mutex or std::condition_variable: GoogleTest's one use of them, Notification, is
// supplied here on a Win32 event instead. Everything else already uses Win32 primitives.
#pragma once

#if defined(__MINGW32__)
#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : m_event(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { ::CloseHandle(m_event); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { ::SetEvent(m_event); }
    void WaitForNotification() { ::WaitForSingleObject(m_event, INFINITE); }

private:
    HANDLE m_event;
};

} // namespace internal
} // namespace testing
#endif
