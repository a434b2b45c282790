// The serial cut from a disk's device instance id, over arbitrary contents
// of the 260-byte buffer the platform fills. Model: there is a '\', and the
// segment after the last one holds exactly one '&'; the serial is what comes
// before that '&'.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/runtime.h"
#include "fuzz/fuzz_check.h"
#include "windows/probe/disk_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The buffer is zeroed before the query and holds a NUL-terminated id.
    std::string instanceId(reinterpret_cast<const char*>(data), size < 259 ? size : 259);
    instanceId.resize(std::strlen(instanceId.c_str()));

    bool expected = false;
    std::string expectedSerial;
    const std::size_t slash = instanceId.rfind('\\');
    if (slash != std::string::npos) {
        const std::string segment = instanceId.substr(slash + 1);
        const std::size_t amp = segment.find('&');
        if (amp != std::string::npos && segment.find('&', amp + 1) == std::string::npos) {
            expected = true;
            expectedSerial = segment.substr(0, amp);
        }
    }

    std::string serial = "untouched";
    const bool cut = zef::probe::cutSerialFromInstanceId(instanceId, serial);
    FUZZ_CHECK(cut == expected, "instance id " + fuzzShow(instanceId));
    FUZZ_CHECK(serial == (cut ? expectedSerial : std::string("untouched")),
               "instance id " + fuzzShow(instanceId) + " cut as " + fuzzShow(serial));

    const auto record = zef::probe::makeDiskRecord(instanceId, "Friendly Name");
    FUZZ_CHECK(record.has_value() == expected, "record for " + fuzzShow(instanceId));
    if (record) {
        FUZZ_CHECK(record->deviceId == expectedSerial && record->type == zef::USB &&
                       record->comment == "Friendly Name" &&
                       record->hardwareId == zef::Runtime::generateMD5(expectedSerial),
                   "record for " + fuzzShow(instanceId));
    }
    return 0;
}
