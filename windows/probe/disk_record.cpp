#include "windows/probe/disk_record.h"

#include "core/runtime.h"

namespace zef {
namespace probe {

bool cutSerialFromInstanceId(const std::string& instanceId, std::string& serial) {
    const std::string::size_type slash = instanceId.rfind('\\');
    const std::string::size_type amp = instanceId.rfind('&');
    if (slash == std::string::npos || amp == std::string::npos || slash >= amp) {
        return false;
    }
    const std::string cut = instanceId.substr(slash + 1, amp - slash - 1);
    if (cut.find('&') != std::string::npos) {
        return false;
    }
    serial = cut;
    return true;
}

std::optional<UniqueIdStruct_> makeDiskRecord(const std::string& instanceId,
                                              const std::string& friendlyName) {
    std::string serial;
    if (!cutSerialFromInstanceId(instanceId, serial)) {
        return std::nullopt;
    }
    return makeUniqueId(USB, serial, friendlyName);
}

}  // namespace probe
}  // namespace zef
