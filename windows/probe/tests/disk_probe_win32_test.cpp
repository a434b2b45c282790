#include "windows/probe/probes_win32.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/runtime.h"

namespace {

using zef::UniqueIdStruct_;
namespace probe = zef::probe;

// GUID_DEVINTERFACE_DISK: a walk over any other class finds nothing on Windows.
const GUID kDiskClass = {
    0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

// The one platform failure a walk of the stand-in machine meets, if any.
enum FaultKind {
    kNone,
    kSetOpen,           // the set cannot be opened
    kNameAllocation,    // no memory for the friendly-name buffer
    kDeviceListing,     // listing device `device` fails with `error`
    kInterfaceListing,  // listing interface `iface` of `device` fails with `error`
    kSizeQuery,         // its detail size query fails with `error`
    kDetailAllocation,  // no memory for its detail
    kDetail,            // reading its detail fails with `error`
    kInstanceId,        // reading its owner's instance id fails with `error`
};
struct Fault {
    FaultKind kind;
    DWORD device;
    DWORD iface;
    DWORD error;
};

struct FakeDevice {
    std::optional<std::string> friendlyName;  // the bytes the platform holds
    std::vector<std::string> owners;          // per interface, its owner's instance id
};

struct Runaway {};

// A scripted machine behind the walk's platform calls. The calls are plain
// function pointers, so they find the running test through s_self.
class DiskWalkTest : public ::testing::Test {
protected:
    void SetUp() override { s_self = this; }
    void TearDown() override { s_self = nullptr; }

    // Walks `devices` from a fresh start. On whatever path the walk takes,
    // each allocation must be freed once and an opened set destroyed once.
    std::vector<UniqueIdStruct_> walk() {
        static const probe::DiskWalkCalls kFakes = {
            classDevs,  enumDevice,  registryProperty, enumInterface, interfaceDetail,
            instanceId, destroyList, localAlloc,       localFree,     lastErrorOf,
        };
        listed.clear();
        lastListed = allocations = opened = destroyed = 0;
        std::vector<UniqueIdStruct_> ids;
        try {
            probe::probe_disks_with(kFakes, ids);
        } catch (const Runaway&) {
            if (listed.size() > 80) listed.resize(80);
            listed += "... (no end)";
            ADD_FAILURE() << "the walk does not end: " << listed;
        }
        EXPECT_TRUE(live.empty()) << live.size() << " allocation(s) never freed";
        for (void* memory : live) std::free(memory);
        live.clear();
        EXPECT_EQ(opened, destroyed) << "sets opened vs destroyed";
        return ids;
    }

    std::vector<FakeDevice> devices;
    Fault fault = {kNone, 0, 0, 0};
    std::string listed;  // every listing asked for: "d1" a device, "1.0" an interface

private:
    static DiskWalkTest& self() { return *s_self; }
    static BOOL fail(DWORD error) {
        self().lastError = error;
        return FALSE;
    }
    bool hit(FaultKind kind, DWORD device, DWORD iface) const {
        return fault.kind == kind && fault.device == device && fault.iface == iface;
    }
    void list(const std::string& what) {
        listed += listed.empty() ? what : " " + what;
        if (listed.size() > 4000) throw Runaway();
    }
    HDEVINFO set() { return &setTag; }
    // Interfaces are handed out as keys that never read 0.
    static DWORD keyOf(DWORD device, DWORD iface) { return ((device + 1) << 16) | iface; }
    bool fromKey(ULONG_PTR key, DWORD& device, DWORD& iface) const {
        device = static_cast<DWORD>(key >> 16) - 1;
        iface = key & 0xffff;
        return device < devices.size() && iface < devices[device].owners.size();
    }

    static HDEVINFO WINAPI classDevs(const GUID* cls, PCSTR, HWND, DWORD flags) {
        EXPECT_TRUE(IsEqualGUID(kDiskClass, *cls));
        EXPECT_EQ(static_cast<DWORD>(DIGCF_PRESENT | DIGCF_DEVICEINTERFACE), flags);
        if (self().fault.kind == kSetOpen) {
            fail(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        ++self().opened;
        return self().set();
    }
    static BOOL WINAPI enumDevice(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA device) {
        if (set != self().set()) return fail(ERROR_INVALID_HANDLE);
        self().list("d" + std::to_string(index));
        if (device->cbSize != sizeof(*device)) return fail(ERROR_INVALID_USER_BUFFER);
        if (self().hit(kDeviceListing, index, 0)) return fail(self().fault.error);
        if (index >= self().devices.size()) return fail(ERROR_NO_MORE_ITEMS);
        device->DevInst = index + 1;
        return TRUE;
    }
    static BOOL WINAPI registryProperty(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property,
                                        PDWORD, PBYTE buffer, DWORD size, PDWORD) {
        const DWORD d = device->DevInst - 1;
        if (set != self().set() || d >= self().devices.size()) return fail(ERROR_INVALID_PARAMETER);
        const std::optional<std::string>& name = self().devices[d].friendlyName;
        if (property != SPDRP_FRIENDLYNAME || !name) return fail(ERROR_INVALID_DATA);
        if (name->size() > size) return fail(ERROR_INSUFFICIENT_BUFFER);
        // Like the registry: a terminating zero only where one fits.
        std::memcpy(buffer, name->data(), name->size());
        if (name->size() < size) buffer[name->size()] = 0;
        return TRUE;
    }
    static BOOL WINAPI enumInterface(HDEVINFO set, PSP_DEVINFO_DATA device, const GUID* cls,
                                     DWORD member, PSP_DEVICE_INTERFACE_DATA iface) {
        const DWORD d = device->DevInst - 1;
        if (set != self().set() || d >= self().devices.size()) return fail(ERROR_INVALID_PARAMETER);
        self().list(std::to_string(d) + "." + std::to_string(member));
        if (iface->cbSize != sizeof(*iface)) return fail(ERROR_INVALID_USER_BUFFER);
        if (self().hit(kInterfaceListing, d, member)) return fail(self().fault.error);
        if (!IsEqualGUID(kDiskClass, *cls) || member >= self().devices[d].owners.size()) {
            return fail(ERROR_NO_MORE_ITEMS);
        }
        iface->Reserved = self().lastListed = keyOf(d, member);
        return TRUE;
    }
    static BOOL WINAPI interfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA iface,
                                       PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                                       PDWORD needed, PSP_DEVINFO_DATA owner) {
        static const char kPath[] = "\\\\?\\usbstor#disk&ven_x#0123&0#{53f56307}";
        const DWORD full = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + sizeof(kPath);
        DWORD d, n;
        if (set != self().set() || !self().fromKey(iface->Reserved, d, n)) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        if (detail == nullptr) {
            if (needed != nullptr) *needed = full;
            return fail(self().hit(kSizeQuery, d, n) ? self().fault.error
                                                     : ERROR_INSUFFICIENT_BUFFER);
        }
        if (size < full || detail->cbSize != sizeof(*detail)) {
            return fail(ERROR_INVALID_USER_BUFFER);
        }
        if (self().hit(kDetail, d, n)) return fail(self().fault.error);
        std::memcpy(detail->DevicePath, kPath, sizeof(kPath));
        if (owner != nullptr) {
            if (owner->cbSize != sizeof(*owner)) return fail(ERROR_INVALID_USER_BUFFER);
            owner->DevInst = keyOf(d, n);
        }
        return TRUE;
    }
    static BOOL WINAPI instanceId(HDEVINFO set, PSP_DEVINFO_DATA owner, PSTR buffer, DWORD size,
                                  PDWORD) {
        DWORD d, n;
        if (set != self().set() || !self().fromKey(owner->DevInst, d, n)) {
            return fail(ERROR_NO_SUCH_DEVINST);
        }
        if (self().hit(kInstanceId, d, n)) return fail(self().fault.error);
        const std::string& id = self().devices[d].owners[n];
        if (id.size() >= size) return fail(ERROR_INSUFFICIENT_BUFFER);
        std::memcpy(buffer, id.c_str(), id.size() + 1);
        return TRUE;
    }
    static BOOL WINAPI destroyList(HDEVINFO set) {
        EXPECT_EQ(self().set(), set);
        ++self().destroyed;
        return TRUE;
    }
    static HLOCAL WINAPI localAlloc(UINT flags, SIZE_T bytes) {
        EXPECT_EQ(static_cast<UINT>(LPTR), flags);
        DWORD d, n;
        const bool failing =
            (self().fault.kind == kNameAllocation && self().allocations == 0) ||
            (self().fromKey(self().lastListed, d, n) && self().hit(kDetailAllocation, d, n));
        ++self().allocations;
        if (failing) {
            fail(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        void* memory = std::calloc(1, bytes);
        self().live.insert(memory);
        return memory;
    }
    static HLOCAL WINAPI localFree(HLOCAL memory) {
        if (self().live.erase(memory) != 1) {
            ADD_FAILURE() << "freed what is not allocated (any more): " << memory;
            return memory;
        }
        std::free(memory);
        return nullptr;
    }
    static DWORD WINAPI lastErrorOf() { return self().lastError; }

    static DiskWalkTest* s_self;
    char setTag = 0;
    DWORD lastError = 0;
    DWORD lastListed = 0;
    int allocations = 0;
    int opened = 0;
    int destroyed = 0;
    std::set<void*> live;
};
DiskWalkTest* DiskWalkTest::s_self = nullptr;

TEST_F(DiskWalkTest, RecordsInDeviceThenInterfaceOrder) {
    devices = {
        {"Kingston DataTraveler 3.0 USB Device",
         {"USBSTOR\\DISK&VEN_KINGSTON&PROD_DT_3.0&REV_PMAP\\60A44C413A8CF0B1A99B0052&0",
          "USBSTOR\\DISK&VEN_KINGSTON&PROD_DT_3.0&REV_PMAP\\7&2A5B1D3B&0",
          "USBSTOR\\DISK&VEN_KINGSTON&PROD_DT_3.0&REV_PMAP\\SECOND01&1"}},
        {std::nullopt, {"USBSTOR\\DISK&VEN_X&PROD_Y&REV_1.0\\UNNAMED01&0"}},
        {"Samsung SSD 980", {"SCSI\\DISK&VEN_NVME&PROD_SAMSUNG\\4&1F0B2B0&0&000000"}},
        {"SanDisk Cruzer", {"USBSTOR\\DISK&VEN_SANDISK&PROD_CRUZER&REV_1.00\\4C530001&0"}},
    };
    const struct {
        const char* deviceId;
        const char* comment;
    } kExpected[] = {
        {"60A44C413A8CF0B1A99B0052", "Kingston DataTraveler 3.0 USB Device"},
        {"SECOND01", "Kingston DataTraveler 3.0 USB Device"},
        {"4C530001", "SanDisk Cruzer"},
    };
    const std::vector<UniqueIdStruct_> ids = walk();
    ASSERT_EQ(std::size(kExpected), ids.size());
    for (size_t i = 0; i < ids.size(); ++i) {
        EXPECT_EQ(kExpected[i].deviceId, ids[i].deviceId) << "record " << i;
        EXPECT_EQ(kExpected[i].comment, ids[i].comment) << "record " << i;
        EXPECT_EQ(zef::USB, ids[i].type) << "record " << i;
        EXPECT_EQ(zef::Runtime::generateMD5(kExpected[i].deviceId), ids[i].hardwareId);
    }
}

TEST_F(DiskWalkTest, NameFillingTheBufferWithoutZeroIsTheWholeComment) {
    std::string name(4096, 'n');
    name.back() = 'Z';
    devices = {{name, {"USBSTOR\\DISK\\LONGNAME1&0"}}};
    const std::vector<UniqueIdStruct_> ids = walk();
    ASSERT_EQ(1u, ids.size());
    EXPECT_EQ(name, ids[0].comment);
}

std::string deviceIds(const std::vector<UniqueIdStruct_>& ids) {
    std::string joined;
    for (const UniqueIdStruct_& id : ids) joined += (joined.empty() ? "" : " ") + id.deviceId;
    return joined;
}

// Three named devices of two interfaces each, owned by serials S<device><interface>;
// one failure per case. `listed` shows what was read and that nothing repeats.
TEST_F(DiskWalkTest, FailuresEndTheRightPartOfTheWalk) {
    const std::string kAll = "d0 0.0 0.1 0.2 d1 1.0 1.1 1.2 d2 2.0 2.1 2.2 d3";
    static const struct {
        const char* name;
        FaultKind kind;
        DWORD device, iface, error;
        const char* records;
        const char* listed;  // nullptr: every listing of a walk without failures
    } kCases[] = {
        {"no failure", kNone, 0, 0, 0, "S00 S01 S10 S11 S20 S21", nullptr},
        {"set not opened", kSetOpen, 0, 0, 0, "", ""},
        {"no name buffer", kNameAllocation, 0, 0, 0, "", ""},
        {"devices end", kDeviceListing, 1, 0, ERROR_NO_MORE_ITEMS, "S00 S01", "d0 0.0 0.1 0.2 d1"},
        {"device listing fails", kDeviceListing, 1, 0, ERROR_INVALID_PARAMETER, "S00 S01",
         "d0 0.0 0.1 0.2 d1"},
        {"interfaces end", kInterfaceListing, 0, 0, ERROR_NO_MORE_ITEMS, "S10 S11 S20 S21",
         "d0 0.0 d1 1.0 1.1 1.2 d2 2.0 2.1 2.2 d3"},
        {"interfaces end as devices", kInterfaceListing, 0, 0, ERROR_NO_MORE_DEVICES,
         "S10 S11 S20 S21", "d0 0.0 d1 1.0 1.1 1.2 d2 2.0 2.1 2.2 d3"},
        {"interface listing fails", kInterfaceListing, 0, 0, ERROR_INVALID_PARAMETER,
         "S10 S11 S20 S21", "d0 0.0 d1 1.0 1.1 1.2 d2 2.0 2.1 2.2 d3"},
        {"size query fails", kSizeQuery, 1, 0, ERROR_INVALID_PARAMETER, "S00 S01 S20 S21",
         "d0 0.0 0.1 0.2 d1 1.0 d2 2.0 2.1 2.2 d3"},
        {"no detail buffer", kDetailAllocation, 2, 0, 0, "S00 S01 S10 S11",
         "d0 0.0 0.1 0.2 d1 1.0 1.1 1.2 d2 2.0 d3"},
        {"detail fails", kDetail, 0, 1, ERROR_INVALID_PARAMETER, "S00 S10 S11 S20 S21", nullptr},
        {"instance id fails", kInstanceId, 1, 0, ERROR_NO_SUCH_DEVINST, "S00 S01 S11 S20 S21",
         nullptr},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        devices.assign(3, {});
        for (int d = 0; d < 3; ++d) {
            devices[d].friendlyName = "Disk " + std::to_string(d);
            for (int n = 0; n < 2; ++n) {
                devices[d].owners.push_back("USBSTOR\\DISK&VEN_X\\S" + std::to_string(d) +
                                            std::to_string(n) + "&0");
            }
        }
        fault = {c.kind, c.device, c.iface, c.error};
        EXPECT_EQ(c.records, deviceIds(walk()));
        EXPECT_EQ(c.listed ? c.listed : kAll, listed);
    }
}

TEST(DiskProbeTest, WalkEndsAndAppendsOnlyUsbRecords) {
    // Wine lists no disk interfaces, so there the walk must simply end; on
    // Windows every record it adds is a well-formed USB one.
    std::vector<UniqueIdStruct_> ids(1);
    zef::probe::probe_disks(ids);
    ASSERT_GE(ids.size(), 1u);
    for (size_t i = 1; i < ids.size(); ++i) {
        EXPECT_EQ(zef::USB, ids[i].type) << ids[i].comment;
        EXPECT_EQ(zef::Runtime::generateMD5(ids[i].deviceId), ids[i].hardwareId);
        EXPECT_EQ(std::string::npos, ids[i].deviceId.find('&')) << ids[i].deviceId;
    }
    // Where the machine's disks are known (Wine: none), so is the count.
    if (const char* expected = std::getenv("HWID_EXPECTED_DISK_RECORDS")) {
        EXPECT_EQ(std::atoi(expected), static_cast<int>(ids.size() - 1));
    }
}

TEST(RegistryTest, NetworkRecordsComeFirstAndShutdownProbesAgain) {
    zef::Runtime::shutdown();
    const std::vector<UniqueIdStruct_> first = zef::Runtime::instance()->getUniqueIds();
    bool seenUsb = false;
    for (const UniqueIdStruct_& id : first) {
        if (id.type == zef::USB) seenUsb = true;
        if (seenUsb) {
            EXPECT_EQ(zef::USB, id.type) << id.comment;
        }
    }
    EXPECT_EQ(zef::Runtime::instance(), zef::Runtime::instance());
    zef::Runtime::shutdown();
    EXPECT_EQ(first.size(), zef::Runtime::instance()->getUniqueIds().size());
}

}  // namespace
