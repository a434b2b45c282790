#include "linux/probe/usb_probe.h"

#include <dirent.h>

#include <cstring>
#include <fstream>
#include <iomanip>

#include "core/runtime.h"
#include "linux/probe/quickread.h"
#include "linux/probe/sources.h"

namespace zef {
namespace probe {

namespace {

std::vector<std::string> collectCandidates(const std::string& devicesDir) {
    std::vector<std::string> candidates;
    DIR* dir = opendir(devicesDir.c_str());
    if (dir == nullptr) return candidates;
    // cppcheck-suppress readdirCalled ; readdir_r is deprecated, readdir of our own stream is safe
    while (const dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) {
            continue;
        }
        candidates.push_back(devicesDir + "/" + entry->d_name + "/bInterfaceClass");
    }
    closedir(dir);
    return candidates;
}

}  // namespace

bool isMassStorageClass(std::istream& classFile) {
    std::string token;
    classFile >> std::setw(3) >> token;
    return token == "08";
}

bool makeUsbRecord(const std::string& serial, const std::string& manufacturer,
                   const std::string& product, UniqueIdStruct_& record) {
    if (serial.empty()) return false;
    record = makeUniqueId(USB, serial, manufacturer + " - " + product);
    return true;
}

void probe_removeable(std::vector<UniqueIdStruct_>& ids, const std::string& root) {
    const std::vector<std::string> candidates =
        collectCandidates(rootedPath(root, "/sys/bus/usb/devices"));
    for (const std::string& candidate : candidates) {
        std::ifstream classFile(candidate.c_str());
        if (!classFile.is_open() || !isMassStorageClass(classFile)) continue;
        // "../" must reach the kernel unchanged: the entries are symlinks, and
        // only the kernel resolves ".." against the interface's real directory.
        const std::string base = candidate.substr(0, candidate.rfind('/') + 1);
        const std::string serial = zef_quickread(base + "../serial");
        const std::string manufacturer = zef_quickread(base + "../manufacturer");
        const std::string product = zef_quickread(base + "../product");
        UniqueIdStruct_ record;
        if (makeUsbRecord(serial, manufacturer, product, record)) {
            ids.push_back(record);
        }
    }
}

}  // namespace probe
}  // namespace zef
