#include "core/runtime.h"

#include "core/md5_checksum.h"
#include "core/string_helpers.h"

namespace zef {

const char* const kUniqueIdTypeNames[4] = {"", "NIC", "USB", "HDD"};

const char* uniqueIdTypeName(UniqueIdType type) { return type < 4 ? kUniqueIdTypeNames[type] : ""; }

Runtime* Runtime::s_instance = nullptr;

Runtime* Runtime::instance() {
    if (s_instance == nullptr) {
        s_instance = new Runtime();
    }
    return s_instance;
}

void Runtime::shutdown() {
    // Nothing keeps a forgotten registry alive, so releasing it here stops a
    // rebuilding front end from leaking one list per rebuild.
    delete s_instance;
    s_instance = nullptr;
}

std::string Runtime::generateMD5(const std::string& id) {
    return stringToUpper(
        zefStream::MD5Checksum::getMD5(id.data(), static_cast<unsigned long>(id.size())));
}

UniqueIdStruct_ makeUniqueId(UniqueIdType type, const std::string& deviceId,
                             const std::string& comment) {
    UniqueIdStruct_ record;
    record.hardwareId = Runtime::generateMD5(deviceId);
    record.deviceId = deviceId;
    record.comment = comment;
    record.type = type;
    return record;
}

const std::vector<UniqueIdStruct_>& Runtime::getUniqueIds() const { return m_ids; }

}  // namespace zef
