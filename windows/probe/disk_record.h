#ifndef ZEF_WINDOWS_PROBE_DISK_RECORD_H_
#define ZEF_WINDOWS_PROBE_DISK_RECORD_H_

#include <optional>
#include <string>

#include "core/unique_id.h"

namespace zef {
namespace probe {

// Cuts the serial out of a disk's device instance id: the text between the
// last '\' and the last '&' after it. Returns false when either is missing,
// the '&' does not follow the '\', or the cut text itself holds a '&' (a
// segment Windows made up, not a serial). Case is kept.
bool cutSerialFromInstanceId(const std::string& instanceId, std::string& serial);

// The USB record of a disk interface whose instance id carries a serial,
// with the friendly name as comment; nothing otherwise.
std::optional<UniqueIdStruct_> makeDiskRecord(const std::string& instanceId,
                                              const std::string& friendlyName);

}  // namespace probe
}  // namespace zef

#endif  // ZEF_WINDOWS_PROBE_DISK_RECORD_H_
