#include "windows/probe/adapter_record.h"

#include <cstdio>
#include <cstring>

#include "core/runtime.h"
#include "core/string_helpers.h"

namespace zef {
namespace probe {

std::string adapterDeviceId(const unsigned char* address) {
    char text[512];
    std::snprintf(text, sizeof(text), "%.2x-%.2x-%.2x-%.2x-%.2x-%.2x", address[0], address[1],
                  address[2], address[3], address[4], address[5]);
    return stringStrip(stringReplace(text, "-", ""), " ");
}

std::optional<UniqueIdStruct_> makeAdapterRecord(unsigned type, const unsigned char* address,
                                                 const std::string& description) {
    if (type != kEthernetAdapterType) {
        return std::nullopt;
    }
    const std::string deviceId = adapterDeviceId(address);
    if (deviceId.size() != 12 || deviceId == "000000000000") {
        return std::nullopt;
    }
    return makeUniqueId(NIC, deviceId, description);
}

std::string boundedText(const char* buffer, std::size_t size) {
    const void* end = std::memchr(buffer, '\0', size);
    return std::string(buffer, end ? static_cast<const char*>(end) - buffer : size);
}

}  // namespace probe
}  // namespace zef
