#ifndef ZEF_CORE_UNIQUE_ID_H_
#define ZEF_CORE_UNIQUE_ID_H_

#include <cstdint>
#include <string>

// The kind of device a unique id belongs to. Numbering starts at 1; the
// value 0 is reserved and shows as an empty type name.
typedef std::uint32_t UniqueIdType;

namespace zef {

const UniqueIdType NIC = 1;
const UniqueIdType USB = 2;
const UniqueIdType HDD = 3;

// One found device. A plain record: probes fill a local copy and append it.
struct UniqueIdStruct_ {
    std::string hardwareId;  // generateMD5(deviceId): 32 uppercase hex digits
    std::string deviceId;    // identifier read from the device, normalised
    std::string comment;     // human-readable description of the device
    UniqueIdType type = 0;
};

// Display names indexed by UniqueIdType; entry 0 is the empty string.
extern const char* const kUniqueIdTypeNames[4];

// Returns the display name of `type`, or "" for a value outside the table
// (the registry never holds one, but the index must not run off the table).
const char* uniqueIdTypeName(UniqueIdType type);

}  // namespace zef

#endif  // ZEF_CORE_UNIQUE_ID_H_
