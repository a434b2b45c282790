#include "windows/ui/report_text.h"

#include <gtest/gtest.h>

#include "core/runtime.h"

namespace {

using zef::UniqueIdStruct_;

const char kTitleLine[] =
    "TYPE      Hardware ID                        Comment                                    ";

UniqueIdStruct_ record(UniqueIdType type, const std::string& deviceId, const std::string& comment) {
    UniqueIdStruct_ id;
    id.deviceId = deviceId;
    id.hardwareId = zef::Runtime::generateMD5(deviceId);
    id.comment = comment;
    id.type = type;
    return id;
}

std::string rule() { return std::string(88, '-'); }

TEST(DeviceTableTest, EmptyListIsHeadingTitlesAndRule) {
    ASSERT_EQ(88u, std::string(kTitleLine).size());
    EXPECT_EQ(
        "\nAvailable unique ids:\r\n\r\n" + std::string(kTitleLine) + "\r\n" + rule() + "\r\n",
        formatDeviceTable({}));
}

TEST(DeviceTableTest, RowsArePaddedToTenThirtyFiveFortyThree) {
    const std::string hash20 = zef::Runtime::generateMD5("0a1b2c3d4e5f");
    static const struct {
        UniqueIdType type;
        const char* comment;
        const char* typeCell;
        std::string::size_type commentPadding;
    } kCases[] = {
        {zef::NIC, "twenty characters ab", "NIC       ", 23},
        {zef::USB, "X Y USB Device", "USB       ", 29},
        {zef::HDD, "", "HDD       ", 43},
        {0, "untyped", "          ", 36},
        {zef::NIC, "exactly forty-three characters long, really", "NIC       ", 0},
        {zef::NIC, "a comment well beyond forty-three characters, kept whole", "NIC       ", 0},
    };
    for (const auto& c : kCases) {
        const std::string table = formatDeviceTable({record(c.type, "0a1b2c3d4e5f", c.comment)});
        const std::string expectedRow = std::string(c.typeCell) + hash20 + "   " + c.comment +
                                        std::string(c.commentPadding, ' ') + "\r\n";
        const std::string head = formatDeviceTable({});
        ASSERT_EQ(head, table.substr(0, head.size())) << c.comment;
        EXPECT_EQ(expectedRow, table.substr(head.size())) << c.comment;
    }
}

TEST(DeviceTableTest, RowsKeepListOrderAndDuplicates) {
    const std::vector<UniqueIdStruct_> ids = {record(zef::NIC, "a", "first"),
                                              record(zef::NIC, "a", "second"),
                                              record(zef::USB, "b", "third")};
    const std::string table = formatDeviceTable(ids);
    const auto first = table.find("first");
    const auto second = table.find("second");
    const auto third = table.find("third");
    ASSERT_NE(std::string::npos, first);
    EXPECT_LT(first, second);
    EXPECT_LT(second, third);
    // Only the leading line end is a bare LF.
    std::string::size_type lf = 0;
    int bareLf = 0;
    while ((lf = table.find('\n', lf)) != std::string::npos) {
        if (lf == 0 || table[lf - 1] != '\r') ++bareLf;
        ++lf;
    }
    EXPECT_EQ(1, bareLf);
}

TEST(DeviceTableTest, DeviceIdIsNotShown) {
    const std::string table = formatDeviceTable({record(zef::USB, "SERIAL-0815", "Stick")});
    EXPECT_EQ(std::string::npos, table.find("SERIAL-0815"));
    EXPECT_NE(std::string::npos, table.find(zef::Runtime::generateMD5("SERIAL-0815")));
}

TEST(DeviceInfoTest, DisplayTextIsCopyTextAndClosingInstruction) {
    const std::string table = formatDeviceTable({record(zef::NIC, "x", "eth0")});
    std::string copy = "stale";
    const std::string display = formatDeviceInfo(table, copy);
    EXPECT_EQ("ZEF Version: " + programVersion() + "\r\n\r\n" + table, copy);
    const std::string tail =
        "\r\n\r\n\r\nPress Copy text to Clipboard button and email this text to: ";
    ASSERT_EQ(copy + tail, display.substr(0, copy.size() + tail.size()));
    const std::string address = display.substr(copy.size() + tail.size());
    ASSERT_GE(address.size(), 3u);
    EXPECT_NE(std::string::npos, address.find('@')) << address;
    EXPECT_EQ("\r\n", address.substr(address.size() - 2)) << address;
    EXPECT_EQ(std::string::npos, address.substr(0, address.size() - 2).find('\n')) << address;
}

TEST(DeviceInfoTest, EveryBuildReplacesTheCopyText) {
    // Runs the probe pass of the machine it is built for; only the shape of
    // the texts is checked.
    g_copyText = "stale";
    const std::string display = getDeviceInfoText();
    EXPECT_EQ(0u,
              g_copyText.rfind(
                  "ZEF Version: " + programVersion() + "\r\n\r\n\nAvailable unique ids:\r\n", 0));
    EXPECT_EQ(g_copyText, display.substr(0, g_copyText.size()));
    const std::string first = g_copyText;
    getDeviceInfoText();
    EXPECT_EQ(first, g_copyText) << "the same machine gives the same copy text";
}

}  // namespace
