#include "windows/ui/start_up.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(StartUpTest, ChoosesFromCountAndFirstArgument) {
    static const struct {
        std::vector<const char*> argv;
        StartAction expected;
        const char* description;
    } kCases[] = {
        {{"hwidwin.exe"}, StartAction::kWindow, "no arguments"},
        {{"hwidwin.exe", "--generate", "abc"}, StartAction::kGenerate, "--generate abc"},
        {{"hwidwin.exe", "--generate", ""}, StartAction::kGenerate, "--generate \"\""},
        {{"hwidwin.exe", "--generate"}, StartAction::kUsage, "--generate alone"},
        {{"hwidwin.exe", "--GENERATE", "abc"}, StartAction::kUsage, "capitals"},
        {{"hwidwin.exe", "--generate ", "abc"}, StartAction::kUsage, "trailing blank"},
        {{"hwidwin.exe", "abc"}, StartAction::kUsage, "one argument"},
        {{"hwidwin.exe", "--generate", "a", "b"}, StartAction::kUsage, "three arguments"},
        {{"hwidwin.exe", "x", "--generate"}, StartAction::kUsage, "swapped"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.expected, chooseStartAction(static_cast<int>(c.argv.size()), c.argv.data()))
            << c.description;
    }
}

TEST(StartUpTest, GenerateMessage) {
    static const struct {
        std::string deviceId;
        std::string expected;
    } kCases[] = {
        {"abc", "\r\nabc: 900150983CD24FB0D6963F7D28E17F72"},
        {"168", "\r\n168: 006F52E9102A8D3BE2FE5614F42BA989"},
        {"", "\r\n: D41D8CD98F00B204E9800998ECF8427E"},
        {" abc ", "\r\n abc : 01C9A8945ABEAD949B46C77CF3245B8A"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.expected, generateMessageText(c.deviceId)) << "[" << c.deviceId << "]";
    }
}

}  // namespace
