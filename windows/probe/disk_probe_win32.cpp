#include "windows/probe/probes_win32.h"

#include "windows/probe/adapter_record.h"
#include "windows/probe/disk_record.h"
#include "windows/probe/system_library_win32.h"

namespace zef {
namespace probe {

namespace {

const DWORD kFriendlyNameSize = 4096;

// GUID_DEVINTERFACE_DISK, spelled out so no GUID library has to define it.
const GUID kDiskInterfaceClass = {
    0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

// Reads the instance id of the device that owns interface `iface`, or ""
// when the platform will not say. Returns false when the detail size query
// fails in a way that ends the walk of this device's interfaces.
bool ownerInstanceId(const DiskWalkCalls& calls, HDEVINFO set, SP_DEVICE_INTERFACE_DATA* iface,
                     std::string& instanceId) {
    DWORD needed = 0;
    if (!calls.getInterfaceDetail(set, iface, nullptr, 0, &needed, nullptr) &&
        calls.getLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return false;
    }
    if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        return false;
    }
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(calls.localAlloc(LPTR, needed));
    if (detail == nullptr) {
        return false;
    }
    // Only the fixed part counts here: 5 bytes in 32-bit builds, 8 in 64-bit.
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    SP_DEVINFO_DATA owner;
    ZeroMemory(&owner, sizeof(owner));
    owner.cbSize = sizeof(owner);
    calls.getInterfaceDetail(set, iface, detail, needed, nullptr, &owner);

    char buffer[260];
    ZeroMemory(buffer, sizeof(buffer));
    calls.getInstanceId(set, &owner, buffer, sizeof(buffer), nullptr);
    instanceId = boundedText(buffer, sizeof(buffer));
    calls.localFree(detail);
    return true;
}

bool complete(const DiskWalkCalls& calls) {
    return calls.getClassDevs && calls.enumDeviceInfo && calls.getRegistryProperty &&
           calls.enumInterfaces && calls.getInterfaceDetail && calls.getInstanceId &&
           calls.destroyList && calls.localAlloc && calls.localFree && calls.getLastError;
}

}  // namespace

void probe_disks_with(const DiskWalkCalls& calls, std::vector<UniqueIdStruct_>& ids) {
    char* friendlyName = static_cast<char*>(calls.localAlloc(LPTR, kFriendlyNameSize));
    if (friendlyName == nullptr) {
        return;
    }
    HDEVINFO set = calls.getClassDevs(&kDiskInterfaceClass, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVINFO_DATA device;
    ZeroMemory(&device, sizeof(device));
    device.cbSize = sizeof(device);

    for (DWORD index = 0; calls.enumDeviceInfo(set, index, &device); ++index) {
        SP_DEVICE_INTERFACE_DATA iface;
        ZeroMemory(&iface, sizeof(iface));
        iface.cbSize = sizeof(iface);
        if (!calls.getRegistryProperty(set, &device, SPDRP_FRIENDLYNAME, nullptr,
                                       reinterpret_cast<BYTE*>(friendlyName), kFriendlyNameSize,
                                       nullptr)) {
            continue;
        }
        // The platform need not end the name with a zero byte.
        const std::string comment = boundedText(friendlyName, kFriendlyNameSize);

        // Any enumeration failure ends this device's interfaces, so no
        // interface is read twice and the walk always ends.
        for (DWORD n = 0; calls.enumInterfaces(set, &device, &kDiskInterfaceClass, n, &iface);
             ++n) {
            std::string instanceId;
            if (!ownerInstanceId(calls, set, &iface, instanceId)) {
                break;
            }
            const std::optional<UniqueIdStruct_> record = makeDiskRecord(instanceId, comment);
            if (record) {
                ids.push_back(*record);
            }
        }
    }
    if (set != INVALID_HANDLE_VALUE) {
        calls.destroyList(set);
    }
    calls.localFree(friendlyName);
}

void probe_disks(std::vector<UniqueIdStruct_>& ids) {
    // SetupAPI is a KnownDLL, but the DLLs it loads are not: it is loaded
    // only when asked for, once the search is kept to the system folder.
    HMODULE setupApi = loadSystemLibrary("setupapi.dll");
    const DiskWalkCalls platform = {
        ZEF_SYSTEM_FUNCTION(setupApi, SetupDiGetClassDevsA),
        ZEF_SYSTEM_FUNCTION(setupApi, SetupDiEnumDeviceInfo),
        ZEF_SYSTEM_FUNCTION(setupApi, SetupDiGetDeviceRegistryPropertyA),
        ZEF_SYSTEM_FUNCTION(setupApi, SetupDiEnumDeviceInterfaces),
        ZEF_SYSTEM_FUNCTION(setupApi, SetupDiGetDeviceInterfaceDetailA),
        ZEF_SYSTEM_FUNCTION(setupApi, SetupDiGetDeviceInstanceIdA),
        ZEF_SYSTEM_FUNCTION(setupApi, SetupDiDestroyDeviceInfoList),
        LocalAlloc,
        LocalFree,
        GetLastError,
    };
    if (complete(platform)) {
        probe_disks_with(platform, ids);
    }
    if (setupApi != nullptr) {
        FreeLibrary(setupApi);
    }
}

}  // namespace probe
}  // namespace zef
