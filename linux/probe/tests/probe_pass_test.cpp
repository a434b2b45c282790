#include "linux/probe/probe_pass.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/temp_tree.h"
#include "tests/usb_tree.h"

namespace {

using zef::UniqueIdStruct_;

class ProbePassTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The fallback command leaves a mark, so a test can tell it ran.
        tree.writeFile("ifconfig",
                       "#!/bin/sh\ntouch \"$(dirname \"$0\")/ran\"\n"
                       "echo 'eth7      Link encap:Ethernet  HWaddr 00:1a:2b:3c:4d:70'\n");
        sources.root = tree.root();
        sources.ifconfigCommand = "/bin/sh " + tree.path("ifconfig");
    }
    std::vector<UniqueIdStruct_> probe() {
        std::vector<UniqueIdStruct_> ids;
        zef::probe::rt_generate(ids, sources);
        return ids;
    }
    bool fallbackRan() { return access(tree.path("ran").c_str(), F_OK) == 0; }

    TempTree tree;
    zef::probe::Sources sources;
};

TEST_F(ProbePassTest, SysfsInterfaceSuppressesTheFallbackAndUsbComesLast) {
    UsbTree usb(tree);
    usb.addDevice("1-1", "SER1\n", "M\n", "P\n");
    usb.addInterface("1-1", "1-1:1.0", "08\n");
    tree.writeFile("sys/class/net/lo/address", "00:00:00:00:00:00\n");
    tree.writeFile("sys/class/net/veth0/address", "02:00:00:00:00:01\n");
    tree.writeFile("sys/class/net/eth0/address", "00:1a:2b:3c:4d:5e\n");

    const auto ids = probe();
    ASSERT_EQ(2u, ids.size());
    EXPECT_EQ("eth0", ids[0].comment);
    EXPECT_EQ("SER1", ids[1].deviceId);
    EXPECT_FALSE(fallbackRan());
}

TEST_F(ProbePassTest, FallbackRunsWhenSysfsAcceptsNothing) {
    tree.writeFile("sys/class/net/lo/address", "00:00:00:00:00:00\n");
    tree.writeFile("sys/class/net/docker0/address", "02:42:00:00:00:01\n");

    const auto ids = probe();
    ASSERT_EQ(1u, ids.size());
    EXPECT_EQ("eth7", ids[0].comment);
    EXPECT_EQ("001A2B3C4D70", ids[0].deviceId);
    EXPECT_TRUE(fallbackRan());
}

TEST_F(ProbePassTest, NothingAnywhereIsAnEmptyList) {
    sources.ifconfigCommand = "/nonexistent/ifconfig -a";
    EXPECT_TRUE(probe().empty());
}

}  // namespace
