#ifndef ZEF_TESTS_WINE_GTEST_PORT_H_
#define ZEF_TESTS_WINE_GTEST_PORT_H_

// GoogleTest's own Notification needs std::mutex, which MinGW's win32
// thread model lacks; this one waits on a Win32 event instead. Found before
// GoogleTest's empty custom header by the cross builds' include order.
#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event_); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};

}  // namespace internal
}  // namespace testing

#endif  // ZEF_TESTS_WINE_GTEST_PORT_H_
