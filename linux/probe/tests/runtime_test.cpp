#include "core/runtime.h"

#include <gtest/gtest.h>

namespace {

using zef::Runtime;

TEST(RuntimeTest, InstanceIsCreatedOnceUntilShutdown) {
    Runtime* first = Runtime::instance();
    EXPECT_EQ(first, Runtime::instance());
    EXPECT_EQ(&first->getUniqueIds(), &Runtime::instance()->getUniqueIds());
    Runtime::shutdown();
    Runtime* second = Runtime::instance();
    ASSERT_NE(nullptr, second);
    for (const auto& id : second->getUniqueIds()) {
        EXPECT_EQ(Runtime::generateMD5(id.deviceId), id.hardwareId);
    }
    Runtime::shutdown();
}

TEST(RuntimeTest, HardwareIdIsTheUppercaseDigestOfEveryByte) {
    static const struct {
        std::string id;
        const char* hardwareId;
    } kCases[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"168", "006F52E9102A8D3BE2FE5614F42BA989"},
        {"0a1b2c3d4e5f", "9EEB98CA3C2E1719EC769BAFD50F2BA9"},
        {"0A1B2C3D4E5F", "04373BCD90003FAAA0880577512B6251"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.hardwareId, Runtime::generateMD5(c.id)) << "id \"" << c.id << "\"";
    }
    EXPECT_NE(Runtime::generateMD5("abc"), Runtime::generateMD5(" abc"));
    EXPECT_NE(Runtime::generateMD5("ab"), Runtime::generateMD5(std::string("ab\0c", 4)));
}

}  // namespace
