#include "windows/probe/probes_win32.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/runtime.h"

namespace {

using zef::UniqueIdStruct_;

TEST(DiskProbeTest, WalkEndsAndAppendsOnlyUsbRecords) {
    // Wine lists no disk interfaces, so there the walk must simply end; on
    // Windows every record it adds is a well-formed USB one.
    std::vector<UniqueIdStruct_> ids(1);
    zef::probe::probe_disks(ids);
    ASSERT_GE(ids.size(), 1u);
    for (size_t i = 1; i < ids.size(); ++i) {
        EXPECT_EQ(zef::USB, ids[i].type) << ids[i].comment;
        EXPECT_EQ(zef::Runtime::generateMD5(ids[i].deviceId), ids[i].hardwareId);
        EXPECT_EQ(std::string::npos, ids[i].deviceId.find('&')) << ids[i].deviceId;
    }
    // Where the machine's disks are known (Wine: none), so is the count.
    if (const char* expected = std::getenv("HWID_EXPECTED_DISK_RECORDS")) {
        EXPECT_EQ(std::atoi(expected), static_cast<int>(ids.size() - 1));
    }
}

TEST(RegistryTest, NetworkRecordsComeFirstAndShutdownProbesAgain) {
    zef::Runtime::shutdown();
    const std::vector<UniqueIdStruct_> first = zef::Runtime::instance()->getUniqueIds();
    bool seenUsb = false;
    for (const UniqueIdStruct_& id : first) {
        if (id.type == zef::USB) seenUsb = true;
        if (seenUsb) {
            EXPECT_EQ(zef::USB, id.type) << id.comment;
        }
    }
    EXPECT_EQ(zef::Runtime::instance(), zef::Runtime::instance());
    zef::Runtime::shutdown();
    EXPECT_EQ(first.size(), zef::Runtime::instance()->getUniqueIds().size());
}

}  // namespace
