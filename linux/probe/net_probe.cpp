#include "linux/probe/net_probe.h"

#include <dirent.h>
#include <unistd.h>

#include "core/runtime.h"
#include "core/string_helpers.h"
#include "linux/probe/sources.h"

namespace zef {
namespace probe {

namespace {

const char* const kExcludedPrefixes[] = {"veth", "br-", "docker"};

// The program a command line starts: its first word.
std::string commandProgram(const std::string& command) {
    return command.substr(0, command.find(' '));
}

}  // namespace

std::string normaliseSysfsAddress(const std::string& line) {
    return stringToUpper(stringReplace(stringStrip(line, ""), ":", ""));
}

std::string normaliseCommandAddress(const std::string& field) {
    return stringToUpper(stringReplace(field, ":", ""));
}

bool acceptInterface(const std::string& name, const std::string& address) {
    if (address.size() != 12 || address == "000000000000") return false;
    for (const char* prefix : kExcludedPrefixes) {
        if (stringStartsWith(name, prefix)) return false;
    }
    return true;
}

UniqueIdStruct_ makeNicRecord(const std::string& name, const std::string& address) {
    return makeUniqueId(NIC, address, name);
}

bool parseIfconfigLine(const std::string& line, std::string& name, std::string& address) {
    if (!stringContains(line, "HWaddr") || !stringContains(line, "Ethernet")) {
        return false;
    }
    std::vector<std::string> fields;
    stringSplit(stringStrip(line, ""), fields, " ");
    if (fields.size() < 3) return false;
    name = fields.front();
    address = normaliseCommandAddress(fields.back());
    return true;
}

void probe_sysfs_interfaces(const std::string& root, std::vector<UniqueIdStruct_>& ids) {
    const std::string netDir = rootedPath(root, "/sys/class/net");
    DIR* dir = opendir(netDir.c_str());
    if (dir == nullptr) return;
    // cppcheck-suppress readdirCalled ; readdir_r is deprecated, readdir of our own stream is safe
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const std::string name = entry->d_name;
        const std::string path = netDir + "/" + entry->d_name + "/address";
        FILE* file = std::fopen(path.c_str(), "r");
        if (file == nullptr) continue;
        // A buffer of our own spares stdio an fstat per file to size one.
        char streamBuffer[64];
        std::setvbuf(file, streamBuffer, _IOFBF, sizeof streamBuffer);
        char line[30];
        if (std::fgets(line, sizeof line, file) != nullptr && line[0] != '\0') {
            const std::string address = normaliseSysfsAddress(line);
            if (acceptInterface(name, address)) {
                ids.push_back(makeNicRecord(name, address));
            }
        }
        std::fclose(file);
    }
    closedir(dir);
}

void probe_ifconfig_stream(FILE* output, std::vector<UniqueIdStruct_>& ids) {
    char line[4096];
    std::string name;
    std::string address;
    while (std::fgets(line, sizeof line, output) != nullptr) {
        if (parseIfconfigLine(line, name, address) && acceptInterface(name, address)) {
            ids.push_back(makeNicRecord(name, address));
        }
    }
}

void probe_ifconfig(const std::string& command, std::vector<UniqueIdStruct_>& ids) {
    // The shell would report a missing program on our standard error, and
    // net-tools is often not installed.
    if (access(commandProgram(command).c_str(), X_OK) != 0) return;
    FILE* output = popen(command.c_str(), "r");
    if (output == nullptr) return;
    probe_ifconfig_stream(output, ids);
    pclose(output);
}

}  // namespace probe
}  // namespace zef
