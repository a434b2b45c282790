#include "linux/probe/quickread.h"

#include <gtest/gtest.h>

#include "tests/temp_tree.h"

namespace {

TEST(QuickreadTest, FirstLineWithoutItsNewline) {
    TempTree tree;
    static const struct {
        std::string content;
        std::string expected;
    } kCases[] = {
        {"SanDisk Corp.\nsecond line\n", "SanDisk Corp."},
        {"two words\n", "two words"},
        {"carriage\r\n", "carriage\r"},
        {"  blanks kept  \n", "  blanks kept  "},
        {"no newline at end", "no newline at end"},
        {"\nstarts with newline", ""},
        {"", ""},
        {std::string("before\0after\n", 13), "before"},
        {std::string(1023, 'x') + "\n", std::string(1023, 'x')},
        {std::string(1023, 'y'), std::string(1023, 'y')},
        {std::string(1024, 'z') + "\n", ""},
        {std::string(2000, 'w') + "\n", ""},
    };
    for (const auto& c : kCases) {
        tree.writeFile("attr", c.content);
        EXPECT_EQ(c.expected, zef_quickread(tree.path("attr")))
            << "content of " << c.content.size() << " bytes: " << c.content.substr(0, 40);
    }
}

TEST(QuickreadTest, UnreadablePathsGiveEmptyText) {
    TempTree tree;
    tree.makeDir("dir");
    EXPECT_EQ("", zef_quickread(tree.path("missing")));
    EXPECT_EQ("", zef_quickread(tree.path("dir")));
    tree.symlinkTo("nowhere", "dangling");
    EXPECT_EQ("", zef_quickread(tree.path("dangling")));
}

}  // namespace
