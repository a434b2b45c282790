#ifndef ZEF_WINDOWS_PROBE_PROBES_WIN32_H_
#define ZEF_WINDOWS_PROBE_PROBES_WIN32_H_

#include <windows.h>
#include <iphlpapi.h>

#include <vector>

#include "core/unique_id.h"

namespace zef {
namespace probe {

// The platform's adapter listing, GetAdaptersInfo or a stand-in for it.
typedef ULONG(WINAPI* AdapterListingFunction)(PIP_ADAPTER_INFO, PULONG);

// Appends one NIC record per Ethernet adapter with a non-zero address, in
// the platform's order. Lists into a fixed buffer of 32 entries; when the
// platform reports that more are needed, lists once more into a buffer of
// the reported size. Any other failure appends nothing.
void probe_adapters_with(AdapterListingFunction listing, std::vector<UniqueIdStruct_>& ids);

// probe_adapters_with over GetAdaptersInfo.
void probe_adapters(std::vector<UniqueIdStruct_>& ids);

// Appends one USB record per present disk interface whose owner's instance
// id ends in a serial, with the device's friendly name as comment. Swallows
// every platform failure.
void probe_disks(std::vector<UniqueIdStruct_>& ids);

}  // namespace probe
}  // namespace zef

#endif  // ZEF_WINDOWS_PROBE_PROBES_WIN32_H_
