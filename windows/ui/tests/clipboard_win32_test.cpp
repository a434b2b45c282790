#include "windows/ui/clipboard_win32.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

// The clipboard's CF_TEXT bytes, up to the zero byte; "<none>" when the
// clipboard holds no text.
std::string readClipboardText() {
    if (!OpenClipboard(nullptr)) return "<busy>";
    std::string text = "<none>";
    HANDLE data = GetClipboardData(CF_TEXT);
    if (data != nullptr) {
        const char* bytes = static_cast<const char*>(GlobalLock(data));
        if (bytes != nullptr) {
            text = bytes;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

TEST(ClipboardTest, RoundTripKeepsExactBytes) {
    static const char* const kTexts[] = {
        "ZEF Version: 1.0\r\n\r\n\nAvailable unique ids:\r\n\r\n",
        "",
        "\xe9t\xe9 \x80\xff",
        "no line end",
    };
    for (const char* text : kTexts) {
        ASSERT_EQ(ClipboardResult::kCopied, placeTextOnClipboard(text)) << text;
        EXPECT_EQ(text, readClipboardText()) << text;
    }
}

// Holds the clipboard open from another thread until told to let go.
class ClipboardHolder {
public:
    ClipboardHolder()
        : opened_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          release_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        // Started in the body, once every member the thread reads is set.
        thread_ = CreateThread(nullptr, 0, &ClipboardHolder::run, this, 0, nullptr);
        WaitForSingleObject(opened_, 10000);
    }
    ~ClipboardHolder() {
        SetEvent(release_);
        WaitForSingleObject(thread_, 10000);
        CloseHandle(thread_);
        CloseHandle(opened_);
        CloseHandle(release_);
    }
    bool holding() const { return holding_; }

private:
    static DWORD WINAPI run(void* self) {
        auto* holder = static_cast<ClipboardHolder*>(self);
        // Held by a window of its own, as another program would hold it.
        HWND window = CreateWindowExA(0, "STATIC", "holder", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      nullptr, nullptr);
        holder->holding_ = window != nullptr && OpenClipboard(window) != 0;
        SetEvent(holder->opened_);
        WaitForSingleObject(holder->release_, INFINITE);
        if (holder->holding_) CloseClipboard();
        if (window != nullptr) DestroyWindow(window);
        return 0;
    }
    HANDLE opened_;
    HANDLE release_;
    HANDLE thread_;
    volatile bool holding_ = false;
};

TEST(ClipboardTest, BusyClipboardIsReportedAndKeepsItsText) {
    ASSERT_EQ(ClipboardResult::kCopied, placeTextOnClipboard("before"));
    {
        ClipboardHolder holder;
        ASSERT_TRUE(holder.holding());
        EXPECT_EQ(ClipboardResult::kBusy, placeTextOnClipboard("after"));
    }
    EXPECT_EQ("before", readClipboardText());
}

TEST(ClipboardTest, FailedAttemptsReleaseTheirBlocks) {
    // 200 failed copies of 16 MB each: if any block stayed allocated, a
    // 32-bit process would run out of address space long before the end and
    // the later attempts would report kNoMemory instead.
    const std::string big(16 * 1024 * 1024, 'x');
    ClipboardHolder holder;
    ASSERT_TRUE(holder.holding());
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(ClipboardResult::kBusy, placeTextOnClipboard(big)) << "attempt " << i;
    }
}

}  // namespace
