#include "windows/probe/adapter_record.h"

#include <gtest/gtest.h>

#include "core/runtime.h"

namespace {

namespace probe = zef::probe;

TEST(AdapterRecordTest, DeviceIdIsSixBytesInLowercaseHex) {
    static const struct {
        unsigned char address[8];
        const char* expected;
    } kCases[] = {
        {{0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f}, "0a1b2c3d4e5f"},
        {{0xff, 0xfe, 0x00, 0x01, 0xab, 0xcd}, "fffe0001abcd"},
        {{0, 0, 0, 0, 0, 0}, "000000000000"},
        // Bytes past the sixth are never read.
        {{1, 2, 3, 4, 5, 6, 7, 8}, "010203040506"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.expected, probe::adapterDeviceId(c.address)) << c.expected;
    }
}

TEST(AdapterRecordTest, OnlyEthernetWithNonZeroAddressGivesRecord) {
    const unsigned char address[6] = {0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f};
    const unsigned char zero[6] = {0, 0, 0, 0, 0, 0};
    const unsigned char oneBit[6] = {0, 0, 0, 0, 0, 1};
    static const struct {
        unsigned type;
        const unsigned char* address;
        bool recorded;
    } kCases[] = {
        {6, address, true},  {71, address, false}, {24, address, false}, {23, address, false},
        {0, address, false}, {6, zero, false},     {6, oneBit, true},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.recorded, probe::makeAdapterRecord(c.type, c.address, "eth").has_value())
            << "type " << c.type << " address " << probe::adapterDeviceId(c.address);
    }
}

TEST(AdapterRecordTest, RecordFields) {
    const unsigned char address[6] = {0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f};
    const auto record = probe::makeAdapterRecord(6, address, "Intel(R) Ethernet  ");
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ("0a1b2c3d4e5f", record->deviceId);
    // The lowercase text is hashed; its uppercase form would give
    // 04373BCD90003FAAA0880577512B6251.
    EXPECT_EQ("9EEB98CA3C2E1719EC769BAFD50F2BA9", record->hardwareId);
    EXPECT_EQ("Intel(R) Ethernet  ", record->comment);
    EXPECT_EQ(zef::NIC, record->type);
}

TEST(BoundedTextTest, StopsAtZeroOrAtTheEnd) {
    const char terminated[8] = {'a', 'b', '\0', 'c', 'd', 'e', 'f', 'g'};
    const char full[4] = {'w', 'x', 'y', 'z'};
    const char empty[4] = {'\0', 'q', 'q', 'q'};
    EXPECT_EQ("ab", probe::boundedText(terminated, sizeof(terminated)));
    EXPECT_EQ("wxyz", probe::boundedText(full, sizeof(full)));
    EXPECT_EQ("wx", probe::boundedText(full, 2));
    EXPECT_EQ("", probe::boundedText(empty, sizeof(empty)));
    EXPECT_EQ("", probe::boundedText(full, 0));
}

}  // namespace
