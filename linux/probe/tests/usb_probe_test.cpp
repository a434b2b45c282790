#include "linux/probe/usb_probe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "core/runtime.h"
#include "tests/temp_tree.h"
#include "tests/usb_tree.h"

namespace {

using zef::UniqueIdStruct_;
namespace probe = zef::probe;

TEST(UsbClassTokenTest, OnlyTheWord08Matches) {
    static const struct {
        std::string content;
        bool massStorage;
    } kCases[] = {
        {"08\n", true},
        {"  08  \n", true},
        {"08", true},
        {"\n\t08 xx\n", true},
        {"08x\n", false},
        {"080\n", false},
        {"8\n", false},
        {"0x08\n", false},
        {"03\n", false},
        {"", false},
        {"\n", false},
        {std::string("08\0", 3), false},
        {std::string(1 << 20, 'Z'), false},
    };
    for (const auto& c : kCases) {
        std::istringstream in(c.content);
        EXPECT_EQ(c.massStorage, probe::isMassStorageClass(in))
            << "class file: " << c.content.substr(0, 20);
    }
}

TEST(UsbRecordTest, CommentAlwaysHasTheSeparator) {
    UniqueIdStruct_ record;
    ASSERT_TRUE(probe::makeUsbRecord("AA01 ", "SanDisk", "Cruzer", record));
    EXPECT_EQ("AA01 ", record.deviceId);
    EXPECT_EQ(zef::Runtime::generateMD5("AA01 "), record.hardwareId);
    EXPECT_EQ("SanDisk - Cruzer", record.comment);
    EXPECT_EQ(zef::USB, record.type);

    ASSERT_TRUE(probe::makeUsbRecord("X", "", "", record));
    EXPECT_EQ(" - ", record.comment);
    EXPECT_FALSE(probe::makeUsbRecord("", "SanDisk", "Cruzer", record));
}

class UsbProbeTest : public ::testing::Test {
protected:
    std::vector<std::string> probeLines() {
        std::vector<UniqueIdStruct_> ids;
        probe::probe_removeable(ids, tree.root());
        std::vector<std::string> lines;
        lines.reserve(ids.size());
        for (const auto& id : ids) lines.push_back(id.deviceId + "|" + id.comment);
        std::sort(lines.begin(), lines.end());
        return lines;
    }
    TempTree tree;
    UsbTree usb{tree};
};

TEST_F(UsbProbeTest, MassStorageInterfacesWithSerialThroughSymlinks) {
    usb.addDevice("1-1", "4C530001\n", "SanDisk\n", "Cruzer Blade\n");
    usb.addInterface("1-1", "1-1:1.0", "08\n");
    usb.addDevice("1-2", "KBD123\n", "Logitech\n", "Keyboard\n");  // not storage
    usb.addInterface("1-2", "1-2:1.0", "03\n");
    usb.addDevice("1-3", "", "Generic\n", "Reader\n");  // no serial
    usb.addInterface("1-3", "1-3:1.0", "08\n");
    usb.addDevice("1-4", "CARD 7 \n", "", "Dual Reader\n");  // two LUN interfaces
    usb.addInterface("1-4", "1-4:1.0", "08\n");
    usb.addInterface("1-4", "1-4:1.1", "08\n");
    usb.addDevice("1-5", "NONAME\n", "", "");
    usb.addInterface("1-5", "1-5:1.0", "08\n");
    usb.addDevice("1-6", "\n", "Empty\n", "Serial\n");
    usb.addInterface("1-6", "1-6:1.0", "08\n");
    tree.makeDir("sys/bus/usb/devices/usb1");  // a root hub: no class file

    EXPECT_EQ((std::vector<std::string>{
                  "4C530001|SanDisk - Cruzer Blade",
                  "CARD 7 | - Dual Reader",
                  "CARD 7 | - Dual Reader",
                  "NONAME| - ",
              }),
              probeLines());
}

TEST_F(UsbProbeTest, BrokenEntriesAreSkipped) {
    tree.makeDir("sys/bus/usb/devices");
    tree.symlinkTo("nowhere", "sys/bus/usb/devices/dangling");
    tree.symlinkTo("loop", "sys/bus/usb/devices/loop");
    tree.writeFile("sys/bus/usb/devices/garbage/bInterfaceClass", std::string("\x00\x08\xff", 3));
    EXPECT_TRUE(probeLines().empty());
}

TEST_F(UsbProbeTest, MissingDirectoryGivesNothing) { EXPECT_TRUE(probeLines().empty()); }

}  // namespace
