#ifndef ZEF_WINDOWS_PROBE_ADAPTER_RECORD_H_
#define ZEF_WINDOWS_PROBE_ADAPTER_RECORD_H_

#include <cstddef>
#include <optional>
#include <string>

#include "core/unique_id.h"

namespace zef {
namespace probe {

// The interface type number of a wired Ethernet adapter (MIB_IF_TYPE_ETHERNET).
const unsigned kEthernetAdapterType = 6;

// The device id of an adapter: the first six bytes at `address`, in stored
// order, as 12 lowercase hex digits without separators. Reads exactly six
// bytes whatever the adapter's address length.
std::string adapterDeviceId(const unsigned char* address);

// The NIC record of one adapter entry, or nothing when the entry is not of
// type 6, or its address is all zero. The description becomes the comment
// byte for byte.
std::optional<UniqueIdStruct_> makeAdapterRecord(unsigned type, const unsigned char* address,
                                                 const std::string& description);

// The text of a fixed-size buffer that the platform filled: up to its first
// zero byte, or all `size` bytes when it holds none. Never reads past the end.
std::string boundedText(const char* buffer, std::size_t size);

}  // namespace probe
}  // namespace zef

#endif  // ZEF_WINDOWS_PROBE_ADAPTER_RECORD_H_
