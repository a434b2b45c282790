#include "core/string_helpers.h"

#include <gtest/gtest.h>

namespace {

TEST(StringHelpersTest, ToUpperChangesOnlyAsciiLowercase) {
    EXPECT_EQ("A1B2-C3", stringToUpper("a1b2-c3"));
    EXPECT_EQ(
        "\xe4\xff"
        "AZ",
        stringToUpper("\xe4\xff"
                      "az"));
    EXPECT_EQ(std::string("A\0B", 3), stringToUpper(std::string("a\0b", 3)));
}

TEST(StringHelpersTest, Strip) {
    static const struct {
        const char* text;
        const char* chars;
        const char* expected;
    } kCases[] = {
        {"  eth0\n", "", "eth0"}, {"  eth0\n", " ", "eth0\n"}, {" \t\n\v\f\r ", "", ""},
        {"a b", "", "a b"},       {"xxaxbxx", "x", "axb"},     {"", "", ""},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.expected, stringStrip(c.text, c.chars))
            << "text \"" << c.text << "\" set \"" << c.chars << "\"";
    }
}

TEST(StringHelpersTest, ReplaceEveryOccurrence) {
    static const struct {
        const char* text;
        const char* oldPart;
        const char* newPart;
        const char* expected;
    } kCases[] = {
        {"00-1a-2b", "-", "", "001a2b"},
        {"00:11:22:33:44:55:66:77:88:99:aa:bb", ":", "", "00112233445566778899aabb"},
        {"aaa", "aa", "b", "ba"},
        {"abc", "b", "bb", "abbc"},
        {"abc", "x", "y", "abc"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.expected, stringReplace(c.text, c.oldPart, c.newPart))
            << "text \"" << c.text << "\" old \"" << c.oldPart << "\"";
    }
}

TEST(StringHelpersTest, ContainsAndStartsWith) {
    EXPECT_TRUE(stringContains("abc", ""));
    EXPECT_TRUE(stringContains("xx HWaddr yy", "HWaddr"));
    EXPECT_FALSE(stringContains("xx hwaddr yy", "HWaddr"));
    EXPECT_TRUE(stringStartsWith("abc", ""));
    EXPECT_TRUE(stringStartsWith("vethernet", "veth"));
    EXPECT_FALSE(stringStartsWith("ve", "veth"));
    EXPECT_FALSE(stringStartsWith("virbr0", "br-"));
}

TEST(StringHelpersTest, SplitKeepsEmptyPiecesForASeparator) {
    std::vector<std::string> pieces = {"stale"};
    stringSplit("a::b", pieces, ":");
    EXPECT_EQ((std::vector<std::string>{"a", "", "b"}), pieces);

    stringSplit("eth0  Link", pieces, " ");
    EXPECT_EQ((std::vector<std::string>{"eth0", "", "Link"}), pieces);
}

TEST(StringHelpersTest, SplitAtWhiteSpaceRunsWithoutSeparator) {
    std::vector<std::string> pieces;
    stringSplit("  a  b ", pieces, "");
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), pieces);

    stringSplit("", pieces, "");
    EXPECT_TRUE(pieces.empty());
}

}  // namespace
