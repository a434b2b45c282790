#include "windows/ui/entry_win32.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "core/help_text.h"

namespace {

// Waits on its own thread for this process's message box with `caption`,
// notes its text and presses OK, so the box's owner can return.
class MessageBoxAnswerer {
public:
    explicit MessageBoxAnswerer(const char* caption) : caption_(caption) {
        thread_ = CreateThread(nullptr, 0, &MessageBoxAnswerer::run, this, 0, nullptr);
    }
    ~MessageBoxAnswerer() {
        WaitForSingleObject(thread_, 20000);
        CloseHandle(thread_);
    }
    // The text of the box; empty until it has been answered.
    std::string text() {
        WaitForSingleObject(thread_, 20000);
        return text_;
    }
    bool answered() {
        WaitForSingleObject(thread_, 20000);
        return answered_;
    }

private:
    static DWORD WINAPI run(void* self) {
        auto* answerer = static_cast<MessageBoxAnswerer*>(self);
        for (int i = 0; i < 150; ++i) {
            HWND box = FindWindowA(nullptr, answerer->caption_);
            if (box != nullptr && IsWindowVisible(box)) {
                char buffer[4096] = {};
                GetWindowTextA(GetDlgItem(box, 0xFFFF), buffer, sizeof(buffer));
                answerer->text_ = buffer;
                answerer->answered_ = true;
                PostMessageA(box, WM_COMMAND, IDOK, 0);
                return 0;
            }
            Sleep(100);
        }
        return 0;
    }
    const char* caption_;
    HANDLE thread_;
    std::string text_;
    bool answered_ = false;
};

TEST(EntryTest, GenerateShowsTheHardwareId) {
    MessageBoxAnswerer answerer("Generated Hardware ID");
    EXPECT_EQ(0, runHwidwin(GetModuleHandleA(nullptr), SW_SHOWNORMAL, "p --generate abc"));
    ASSERT_TRUE(answerer.answered());
    EXPECT_EQ("\r\nabc: 900150983CD24FB0D6963F7D28E17F72", answerer.text());
}

TEST(EntryTest, WrongArgumentsShowUsageForTheProgramAsNamed) {
    static const char* const kLines[] = {"p x", "p --generate", "p --GENERATE abc",
                                         "p --generate a b"};
    for (const char* line : kLines) {
        MessageBoxAnswerer answerer("Invalid arguments");
        EXPECT_EQ(1, runHwidwin(GetModuleHandleA(nullptr), SW_SHOWNORMAL, line)) << line;
        ASSERT_TRUE(answerer.answered()) << line;
        EXPECT_EQ(getHelpText("p"), answerer.text()) << line;
    }
}

TEST(EntryTest, UnsplittableLineShowsUsageForHwidwin) {
    CPINFO info;
    ASSERT_TRUE(GetCPInfo(CP_ACP, &info));
    if (info.MaxCharSize == 1) {
        GTEST_SKIP() << "code page " << GetACP()
                     << " splits every line; run with a double-byte one (LANG=ja_JP.UTF-8)";
    }
    MessageBoxAnswerer answerer("Invalid arguments");
    // A lead byte with no trail byte cannot be converted.
    EXPECT_EQ(1, runHwidwin(GetModuleHandleA(nullptr), SW_SHOWNORMAL, "p \x81"));
    ASSERT_TRUE(answerer.answered());
    EXPECT_EQ(getHelpText("hwidwin"), answerer.text());
}

}  // namespace
