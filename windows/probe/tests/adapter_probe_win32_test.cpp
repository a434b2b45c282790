#include "windows/probe/probes_win32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/runtime.h"

namespace {

using zef::UniqueIdStruct_;
namespace probe = zef::probe;

// What the stand-in listing reports: one entry per adapter, and how often
// it was asked.
struct FakeAdapter {
    UINT type;
    unsigned char address[6];
    const char* description;
};
std::vector<FakeAdapter> g_adapters;
int g_calls = 0;

ULONG WINAPI fakeListing(PIP_ADAPTER_INFO buffer, PULONG size) {
    ++g_calls;
    if (g_adapters.empty()) return ERROR_NO_DATA;
    const ULONG needed = static_cast<ULONG>(g_adapters.size() * sizeof(IP_ADAPTER_INFO));
    if (*size < needed) {
        *size = needed;
        return ERROR_BUFFER_OVERFLOW;
    }
    std::memset(buffer, 0, needed);
    for (size_t i = 0; i < g_adapters.size(); ++i) {
        IP_ADAPTER_INFO& entry = buffer[i];
        entry.Next = i + 1 < g_adapters.size() ? &buffer[i + 1] : nullptr;
        entry.Type = g_adapters[i].type;
        entry.AddressLength = 6;
        std::memcpy(entry.Address, g_adapters[i].address, 6);
        std::strncpy(entry.Description, g_adapters[i].description, sizeof(entry.Description) - 1);
    }
    return ERROR_SUCCESS;
}

ULONG WINAPI alwaysOverflowing(PIP_ADAPTER_INFO, PULONG size) {
    ++g_calls;
    *size += sizeof(IP_ADAPTER_INFO);
    return ERROR_BUFFER_OVERFLOW;
}

class AdapterProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_adapters.clear();
        g_calls = 0;
    }
    std::vector<UniqueIdStruct_> probe() {
        std::vector<UniqueIdStruct_> ids;
        probe::probe_adapters_with(fakeListing, ids);
        return ids;
    }
};

TEST_F(AdapterProbeTest, FiltersAndKeepsListingOrder) {
    g_adapters = {
        {6, {0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f}, "first"},
        {71, {0x02, 0, 0, 0, 0, 1}, "wireless"},
        {24, {0x02, 0, 0, 0, 0, 2}, "loopback"},
        {6, {0, 0, 0, 0, 0, 0}, "zero"},
        {6, {0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f}, "same address "},
    };
    const std::vector<UniqueIdStruct_> ids = probe();
    ASSERT_EQ(2u, ids.size());
    EXPECT_EQ("first", ids[0].comment);
    EXPECT_EQ("same address ", ids[1].comment);
    EXPECT_EQ("0a1b2c3d4e5f", ids[0].deviceId);
    EXPECT_EQ("9EEB98CA3C2E1719EC769BAFD50F2BA9", ids[0].hardwareId);
    EXPECT_EQ(ids[0].hardwareId, ids[1].hardwareId);
    EXPECT_EQ(1, g_calls) << "a listing that fits is asked once";
}

TEST_F(AdapterProbeTest, MoreAdaptersThanTheFixedBufferStillListed) {
    for (int i = 0; i < 40; ++i) {
        g_adapters.push_back({6, {0x02, 0, 0, 0, 0, static_cast<unsigned char>(i + 1)}, "tap"});
    }
    const std::vector<UniqueIdStruct_> ids = probe();
    ASSERT_EQ(40u, ids.size());
    EXPECT_EQ("020000000001", ids.front().deviceId);
    EXPECT_EQ("020000000028", ids.back().deviceId);
    EXPECT_EQ(2, g_calls);
}

TEST_F(AdapterProbeTest, RetriesOnceOnly) {
    std::vector<UniqueIdStruct_> ids;
    probe::probe_adapters_with(alwaysOverflowing, ids);
    EXPECT_TRUE(ids.empty());
    EXPECT_EQ(2, g_calls);
}

TEST_F(AdapterProbeTest, NoAdapterNoRecord) {
    EXPECT_TRUE(probe().empty());
    EXPECT_EQ(1, g_calls);
}

// HWID_EXPECTED_ADAPTERS="br0=0a:1b:2c:3d:4e:5f,tap0=..." names the Ethernet
// interfaces of the network namespace this test runs in.
std::vector<std::pair<std::string, std::string>> expectedAdapters(const char* listing) {
    std::vector<std::pair<std::string, std::string>> expected;
    std::stringstream list(listing);
    std::string item;
    while (std::getline(list, item, ',')) {
        const auto eq = item.find('=');
        std::string mac = item.substr(eq + 1);
        mac.erase(std::remove(mac.begin(), mac.end(), ':'), mac.end());
        expected.emplace_back(item.substr(0, eq), mac);
    }
    std::sort(expected.begin(), expected.end());
    return expected;
}

TEST(RealAdapterProbeTest, ListsTheNamespaceInterfaces) {
    const char* listing = std::getenv("HWID_EXPECTED_ADAPTERS");
    if (listing == nullptr) {
        GTEST_SKIP() << "HWID_EXPECTED_ADAPTERS is not set (run by scripts/test-windows.sh "
                        "inside a prepared network namespace)";
    }
    std::vector<UniqueIdStruct_> ids;
    probe::probe_adapters(ids);
    std::vector<std::pair<std::string, std::string>> found;
    for (const UniqueIdStruct_& id : ids) {
        EXPECT_EQ(zef::NIC, id.type);
        EXPECT_EQ(zef::Runtime::generateMD5(id.deviceId), id.hardwareId);
        found.emplace_back(id.comment, id.deviceId);
    }
    std::sort(found.begin(), found.end());
    EXPECT_EQ(expectedAdapters(listing), found) << listing;
}

}  // namespace
