#include "linux/probe/net_probe.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "core/runtime.h"
#include "tests/temp_tree.h"

namespace {

using zef::UniqueIdStruct_;
namespace probe = zef::probe;

TEST(NetProbeRulesTest, SysfsAddressNormalisation) {
    static const struct {
        const char* line;
        const char* expected;
    } kCases[] = {
        {"00:1a:2b:3c:4d:5e\n", "001A2B3C4D5E"}, {"00:1A:2B:3C:4D:5E\n", "001A2B3C4D5E"},
        {"001a2b3c4d5e", "001A2B3C4D5E"},        {" \t0a:1b:2c:3d:4e:5f \r\n", "0A1B2C3D4E5F"},
        {"00:00:00:00:00:00\n", "000000000000"}, {"\n", ""},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.expected, probe::normaliseSysfsAddress(c.line)) << "line: " << c.line;
    }
}

TEST(NetProbeRulesTest, Acceptance) {
    static const struct {
        const char* name;
        const char* address;
        bool accepted;
    } kCases[] = {
        {"eth0", "001A2B3C4D5E", true},
        {"virbr0", "001A2B3C4D5E", true},
        {"bridge0", "001A2B3C4D5E", true},
        {"dock0", "001A2B3C4D5E", true},
        {"Veth0", "001A2B3C4D5E", true},
        {"veth1a2b3c4", "001A2B3C4D5E", false},
        {"vethernet", "001A2B3C4D5E", false},
        {"br-0123456789ab", "001A2B3C4D5E", false},
        {"docker0", "001A2B3C4D5E", false},
        {"lo", "000000000000", false},
        {"eth0", "001A2B3C4D", false},
        {"eth0", "001A2B3C4D5E6F", false},
        {"eth0", "", false},
        {"eth0", "ZZZZZZZZZZZZ", true},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.accepted, probe::acceptInterface(c.name, c.address))
            << c.name << " " << c.address;
    }
}

TEST(NetProbeRulesTest, IfconfigLines) {
    static const struct {
        const char* line;
        bool parsed;
        const char* name;
        const char* address;
    } kCases[] = {
        {"eth0      Link encap:Ethernet  HWaddr 00:1a:2b:3c:4d:5e  \n", true, "eth0",
         "001A2B3C4D5E"},
        {"wlan0     Link encap:Ethernet  HWaddr 00:1A:2B:3C:4D:5F\n", true, "wlan0",
         "001A2B3C4D5F"},
        {"lo        Link encap:Local Loopback  \n", false, "", ""},
        {"ppp0      Link encap:Point-to-Point Protocol  HWaddr 00:11:22:33:44:55\n", false, "", ""},
        {"eth0: flags=4163<UP,BROADCAST,RUNNING,MULTICAST>  mtu 1500\n", false, "", ""},
        {"        ether 00:1a:2b:3c:4d:5e  txqueuelen 1000  (Ethernet)\n", false, "", ""},
        {"HWaddr Ethernet\n", false, "", ""},
        {"a HWaddr Ethernet\n", true, "a", "ETHERNET"},
    };
    for (const auto& c : kCases) {
        std::string name, address;
        ASSERT_EQ(c.parsed, probe::parseIfconfigLine(c.line, name, address)) << c.line;
        if (c.parsed) {
            EXPECT_EQ(c.name, name) << c.line;
            EXPECT_EQ(c.address, address) << c.line;
        }
    }
}

TEST(NetProbeRulesTest, RecordHashesTheNormalisedAddress) {
    const UniqueIdStruct_ record = probe::makeNicRecord("eth0", "001A2B3C4D5E");
    EXPECT_EQ("001A2B3C4D5E", record.deviceId);
    EXPECT_EQ(zef::Runtime::generateMD5("001A2B3C4D5E"), record.hardwareId);
    EXPECT_EQ("eth0", record.comment);
    EXPECT_EQ(zef::NIC, record.type);
}

class SysfsInterfacesTest : public ::testing::Test {
protected:
    void addInterface(const std::string& name, const std::string& addressFile) {
        tree.writeFile("sys/devices/virtual/net/" + name + "/address", addressFile);
        tree.symlinkTo("../../devices/virtual/net/" + name, "sys/class/net/" + name);
    }
    std::vector<std::string> comments() {
        std::vector<UniqueIdStruct_> ids;
        probe::probe_sysfs_interfaces(tree.root(), ids);
        std::vector<std::string> names;
        names.reserve(ids.size());
        for (const auto& id : ids) names.push_back(id.comment + "=" + id.deviceId);
        std::sort(names.begin(), names.end());
        return names;
    }
    TempTree tree;
};

TEST_F(SysfsInterfacesTest, AcceptsOnlyNamedNonZeroSixByteAddresses) {
    addInterface("lo", "00:00:00:00:00:00\n");
    addInterface("eth0", "00:1a:2b:3c:4d:5e\n");
    addInterface("eth1", "00:1a:2b:3c:4d:5e\n");
    addInterface("veth1a2b3c4", "02:00:00:00:00:01\n");
    addInterface("br-0123456789ab", "02:00:00:00:00:02\n");
    addInterface("docker0", "02:00:00:00:00:03\n");
    addInterface("ib0", std::string(59, 'a') + "\n");  // 20-byte address
    addInterface("empty0", "");
    addInterface("newline0", "\n");
    addInterface("nul0", std::string(8, '\0'));
    addInterface("nonl0", "aa:bb:cc:dd:ee:ff");
    tree.makeDir("sys/class/net/noaddr0");
    tree.writeFile("sys/class/net/.hidden/address", "02:00:00:00:00:04\n");
    EXPECT_EQ(
        (std::vector<std::string>{"eth0=001A2B3C4D5E", "eth1=001A2B3C4D5E", "nonl0=AABBCCDDEEFF"}),
        comments());
}

TEST_F(SysfsInterfacesTest, MissingDirectoryGivesNothing) { EXPECT_TRUE(comments().empty()); }

TEST(IfconfigStreamTest, ParsesEveryLineOfTheOldLayout) {
    const char output[] =
        "eth0      Link encap:Ethernet  HWaddr 00:1a:2b:3c:4d:5e  \n"
        "          inet addr:10.0.0.2  Bcast:10.0.0.255  Mask:255.255.255.0\n"
        "\n"
        "lo        Link encap:Local Loopback  \n"
        "veth0     Link encap:Ethernet  HWaddr 02:00:00:00:00:01  \n"
        "eth1      Link encap:Ethernet  HWaddr 00:00:00:00:00:00  \n"
        "eth2      Link encap:Ethernet  HWaddr 0A:1B:2C:3D:4E:5F\n";
    FILE* stream = fmemopen(const_cast<char*>(output), sizeof output - 1, "r");
    ASSERT_NE(nullptr, stream);
    std::vector<UniqueIdStruct_> ids;
    probe::probe_ifconfig_stream(stream, ids);
    std::fclose(stream);
    ASSERT_EQ(2u, ids.size());
    EXPECT_EQ("eth0", ids[0].comment);
    EXPECT_EQ("001A2B3C4D5E", ids[0].deviceId);
    EXPECT_EQ("eth2", ids[1].comment);
    EXPECT_EQ("0A1B2C3D4E5F", ids[1].deviceId);
}

TEST(IfconfigStreamTest, LongLinesArriveInPieces) {
    // 5000 blanks, then a line tail that alone looks like an interface line.
    std::string output(5000, ' ');
    output += "eth9 Link encap:Ethernet HWaddr 00:1a:2b:3c:4d:5e\n";
    FILE* stream = fmemopen(&output[0], output.size(), "r");
    ASSERT_NE(nullptr, stream);
    std::vector<UniqueIdStruct_> ids;
    probe::probe_ifconfig_stream(stream, ids);
    std::fclose(stream);
    ASSERT_EQ(1u, ids.size());
    EXPECT_EQ("eth9", ids[0].comment);  // the piece is stripped like a line
}

TEST(IfconfigCommandTest, CommandThatCannotRunGivesNothing) {
    std::vector<UniqueIdStruct_> ids;
    probe::probe_ifconfig("/nonexistent/ifconfig -a", ids);
    EXPECT_TRUE(ids.empty());
}

}  // namespace
