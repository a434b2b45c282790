#include "windows/ui/command_line_win32.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// The split as a list, after checking the block's layout: the pointers,
// then the texts packed behind them in order, exactly filling the block.
std::vector<std::string> splitAndCheck(const std::string& line) {
    int argc = -1;
    char** argv = commandLineToArgvA(line.c_str(), &argc);
    EXPECT_NE(nullptr, argv) << line;
    if (argv == nullptr) return {};
    EXPECT_GE(argc, 1) << line;
    std::vector<std::string> args;
    const char* expectedText = reinterpret_cast<const char*>(argv + argc);
    for (int i = 0; i < argc; ++i) {
        EXPECT_EQ(expectedText, argv[i]) << line << " argument " << i;
        args.push_back(argv[i]);
        expectedText = argv[i] + std::strlen(argv[i]) + 1;
    }
    EXPECT_EQ(static_cast<SIZE_T>(expectedText - reinterpret_cast<const char*>(argv)),
              LocalSize(argv))
        << line;
    EXPECT_EQ(nullptr, LocalFree(argv)) << "one LocalFree releases the block: " << line;
    return args;
}

TEST(CommandLineToArgvATest, SplitsLikeTheSystem) {
    static const struct {
        const char* line;
        std::vector<std::string> expected;
    } kCases[] = {
        {"hwidwin.exe", {"hwidwin.exe"}},
        {"hwidwin.exe --generate abc", {"hwidwin.exe", "--generate", "abc"}},
        {"\"C:\\Program Files\\hwidwin.exe\"   a\tb ",
         {"C:\\Program Files\\hwidwin.exe", "a", "b"}},
        {"p \"two words\" x\"y z\"w", {"p", "two words", "xy zw"}},
        {"p --generate \"\"", {"p", "--generate", ""}},
        {"p \"\" \"\"", {"p", "", ""}},
        {"p a\\\\b", {"p", "a\\\\b"}},
        {"p a\\\"b", {"p", "a\"b"}},
        {"p a\\\\\"b c\"", {"p", "a\\b c"}},
        {"p a\\\\\\\"b", {"p", "a\\\"b"}},
        {"p \"a\\\\\"", {"p", "a\\"}},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.expected, splitAndCheck(c.line)) << c.line;
    }
}

TEST(CommandLineToArgvATest, BytesAboveAsciiSurviveInTheAnsiCodePage) {
    CPINFO info;
    ASSERT_TRUE(GetCPInfo(CP_ACP, &info));
    if (info.MaxCharSize != 1) {
        GTEST_SKIP() << "ANSI code page " << GetACP() << " is not a single-byte one";
    }
    // Every byte a single-byte code page maps to a character of its own
    // comes back unchanged.
    std::string word;
    for (int b = 0xA0; b <= 0xFF; ++b) word += static_cast<char>(b);
    EXPECT_EQ((std::vector<std::string>{"p", "--generate", word}),
              splitAndCheck("p --generate " + word))
        << "code page " << GetACP();
    EXPECT_EQ((std::vector<std::string>{"p", "\xe9t\xe9"}), splitAndCheck("p \xe9t\xe9"));
}

TEST(CommandLineToArgvATest, ManyAndLongArguments) {
    std::string line = "p";
    for (int i = 0; i < 1000; ++i) line += " a" + std::to_string(i);
    const std::vector<std::string> many = splitAndCheck(line);
    ASSERT_EQ(1001u, many.size());
    EXPECT_EQ("a999", many.back());

    const std::string longId(30000, 'x');
    const std::vector<std::string> one = splitAndCheck("p --generate " + longId);
    ASSERT_EQ(3u, one.size());
    EXPECT_EQ(longId, one[2]);
}

TEST(CommandLineToArgvATest, CountUntouchedOnFailure) {
    // No single-byte code page rejects a byte; a lone lead byte does in a
    // double-byte one. Only checkable there.
    CPINFO info;
    ASSERT_TRUE(GetCPInfo(CP_ACP, &info));
    if (info.MaxCharSize == 1) {
        GTEST_SKIP() << "code page " << GetACP() << " has no invalid byte sequences";
    }
    int argc = 42;
    EXPECT_EQ(nullptr, commandLineToArgvA("p \x81", &argc));
    EXPECT_EQ(42, argc);
}

}  // namespace
