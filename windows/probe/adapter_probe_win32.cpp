#include "windows/probe/probes_win32.h"

#include "windows/probe/adapter_record.h"
#include "windows/probe/system_library_win32.h"

namespace zef {
namespace probe {

void probe_adapters_with(AdapterListingFunction listing, std::vector<UniqueIdStruct_>& ids) {
    IP_ADAPTER_INFO fixed[32];
    ULONG size = sizeof(fixed);
    IP_ADAPTER_INFO* first = fixed;
    std::vector<IP_ADAPTER_INFO> grown;

    ULONG result = listing(first, &size);
    if (result == ERROR_BUFFER_OVERFLOW) {
        // A host with many virtual adapters must not lose every network id.
        // One retry only: a listing that keeps growing is not chased.
        grown.resize(size / sizeof(IP_ADAPTER_INFO) + 1);
        size = static_cast<ULONG>(grown.size() * sizeof(IP_ADAPTER_INFO));
        first = grown.data();
        result = listing(first, &size);
    }
    if (result != ERROR_SUCCESS) {
        return;
    }
    for (const IP_ADAPTER_INFO* adapter = first; adapter != nullptr; adapter = adapter->Next) {
        const std::optional<UniqueIdStruct_> record =
            makeAdapterRecord(adapter->Type, adapter->Address,
                              boundedText(adapter->Description, sizeof(adapter->Description)));
        if (record) {
            ids.push_back(*record);
        }
    }
}

void probe_adapters(std::vector<UniqueIdStruct_>& ids) {
    // IP Helper is no KnownDLL: imported, it would be looked for beside the
    // program first.
    HMODULE ipHelper = loadSystemLibrary("iphlpapi.dll");
    if (const auto listing = ZEF_SYSTEM_FUNCTION(ipHelper, GetAdaptersInfo)) {
        probe_adapters_with(listing, ids);
    }
    if (ipHelper != nullptr) {
        FreeLibrary(ipHelper);
    }
}

}  // namespace probe
}  // namespace zef
