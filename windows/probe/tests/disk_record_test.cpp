#include "windows/probe/disk_record.h"

#include <gtest/gtest.h>

#include "core/runtime.h"

namespace {

namespace probe = zef::probe;

TEST(DiskRecordTest, SerialFromInstanceId) {
    static const struct {
        const char* instanceId;
        bool cut;
        const char* serial;
    } kCases[] = {
        {"USBSTOR\\DISK&VEN_X&PROD_Y&REV_1.0\\0123456789AB&0", true, "0123456789AB"},
        {"USBSTOR\\DISK&VEN_X&PROD_Y&REV_1.0\\7&2A5B1D3B&0", false, ""},
        {"SCSI\\DISK&VEN_&PROD_SSD\\4&1F0B2B0&0&000000", false, ""},
        {"IDE\\DISKXYZ\\5&1A2B3C4D&0&0.0.0", false, ""},
        {"SWD\\DISK&VEN_X\\ABC", false, ""},
        {"", false, ""},
        {"USBSTOR\\DISK&VEN_X\\abcDEF1&0", true, "abcDEF1"},
        {"USBSTOR\\DISK&VEN_X\\&0", true, ""},
        {"NOSLASH&0", false, ""},
        {"A\\B\\C", false, ""},
        {"\\S&", true, "S"},
        {"USBSTOR\\DISK\\SER IAL&0", true, "SER IAL"},
    };
    for (const auto& c : kCases) {
        std::string serial = "unchanged";
        ASSERT_EQ(c.cut, probe::cutSerialFromInstanceId(c.instanceId, serial)) << c.instanceId;
        EXPECT_EQ(c.cut ? c.serial : "unchanged", serial) << c.instanceId;
    }
}

TEST(DiskRecordTest, RecordFields) {
    const auto record = probe::makeDiskRecord("USBSTOR\\DISK&VEN_X&PROD_Y&REV_1.0\\0123456789AB&0",
                                              "X Y USB Device");
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ("0123456789AB", record->deviceId);
    EXPECT_EQ(zef::Runtime::generateMD5("0123456789AB"), record->hardwareId);
    EXPECT_EQ("X Y USB Device", record->comment);
    EXPECT_EQ(zef::USB, record->type);
}

TEST(DiskRecordTest, EmptySerialHashesNothing) {
    const auto record = probe::makeDiskRecord("USBSTOR\\DISK\\&0", "Stick");
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ("", record->deviceId);
    EXPECT_EQ("D41D8CD98F00B204E9800998ECF8427E", record->hardwareId);
}

TEST(DiskRecordTest, MadeUpSegmentGivesNoRecord) {
    EXPECT_FALSE(probe::makeDiskRecord("USBSTOR\\DISK&VEN_X\\7&2A5B1D3B&0", "Stick").has_value());
}

}  // namespace
