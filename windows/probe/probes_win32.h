#ifndef ZEF_WINDOWS_PROBE_PROBES_WIN32_H_
#define ZEF_WINDOWS_PROBE_PROBES_WIN32_H_

#include <windows.h>
#include <iphlpapi.h>
#include <setupapi.h>

#include <vector>

#include "core/unique_id.h"

namespace zef {
namespace probe {

// The platform's adapter listing, GetAdaptersInfo or a stand-in for it.
typedef decltype(&GetAdaptersInfo) AdapterListingFunction;

// Appends one NIC record per Ethernet adapter with a non-zero address, in
// the platform's order. Lists into a fixed buffer of 32 entries; when the
// platform reports that more are needed, lists once more into a buffer of
// the reported size. Any other failure appends nothing.
void probe_adapters_with(AdapterListingFunction listing, std::vector<UniqueIdStruct_>& ids);

// probe_adapters_with over GetAdaptersInfo of IP Helper, loaded from the
// system folder; appends nothing when IP Helper or the function cannot be had.
void probe_adapters(std::vector<UniqueIdStruct_>& ids);

// The platform calls the disk walk makes, each typed and behaving (results,
// GetLastError codes) as the call it is declared from, so a stand-in machine
// can replace them all at once. The walk learns of errors only through
// getLastError. Every member must be set.
struct DiskWalkCalls {
    decltype(&SetupDiGetClassDevsA) getClassDevs;
    decltype(&SetupDiEnumDeviceInfo) enumDeviceInfo;
    decltype(&SetupDiGetDeviceRegistryPropertyA) getRegistryProperty;
    decltype(&SetupDiEnumDeviceInterfaces) enumInterfaces;
    decltype(&SetupDiGetDeviceInterfaceDetailA) getInterfaceDetail;
    decltype(&SetupDiGetDeviceInstanceIdA) getInstanceId;
    decltype(&SetupDiDestroyDeviceInfoList) destroyList;
    decltype(&LocalAlloc) localAlloc;  // asked for zero-filled memory (LPTR) only
    decltype(&LocalFree) localFree;
    decltype(&GetLastError) getLastError;
};

// Appends one USB record per present disk interface whose owner's instance
// id ends in a serial, with the device's friendly name (up to 4096 bytes, no
// terminating zero needed) as comment; in device order, then interface order.
// Swallows every platform failure:
// - no name buffer, no set: nothing is added;
// - the first device the platform will not list ends the walk;
// - a device without a friendly name adds nothing;
// - an interface the platform will not list ends that device's interfaces,
//   whatever the error, as does a detail size query failing with anything
//   but ERROR_INSUFFICIENT_BUFFER or asking for less than a detail record,
//   or a detail buffer that cannot be allocated;
// - an interface whose detail or owner instance id cannot be read adds
//   nothing, and the walk goes on.
// Frees everything it allocates and destroys the set it opened.
void probe_disks_with(const DiskWalkCalls& calls, std::vector<UniqueIdStruct_>& ids);

// probe_disks_with over SetupAPI, loaded from the system folder, and
// LocalAlloc/LocalFree and GetLastError; appends nothing when SetupAPI or
// one of its functions cannot be had.
void probe_disks(std::vector<UniqueIdStruct_>& ids);

}  // namespace probe
}  // namespace zef

#endif  // ZEF_WINDOWS_PROBE_PROBES_WIN32_H_
