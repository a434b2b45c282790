// Address normalisation and the acceptance rule over arbitrary interface
// names and address-file content. The content also goes through the real
// sysfs step, from a file, so that fgets' cut at 29 bytes, missing newlines
// and NUL bytes are covered as the probe meets them.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/runtime.h"
#include "fuzz/fuzz_check.h"
#include "linux/probe/net_probe.h"

namespace {

std::string g_root;
std::string g_addressFile;

std::string modelNormalise(const std::string& line) {
    std::size_t begin = 0;
    std::size_t end = line.size();
    while (begin < end && fuzzIsSpace(line[begin])) ++begin;
    while (end > begin && fuzzIsSpace(line[end - 1])) --end;
    std::string address;
    for (std::size_t i = begin; i < end; ++i) {
        const char c = line[i];
        if (c == ':') continue;
        address += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return address;
}

bool modelAccept(const std::string& name, const std::string& address) {
    for (const char* prefix : {"veth", "br-", "docker"}) {
        if (name.compare(0, std::string(prefix).size(), prefix) == 0) return false;
    }
    return address.size() == 12 && address != "000000000000";
}

// What one fgets into a 30-byte buffer leaves as a C string, or false when
// the probe skips the file.
bool modelFirstRead(const std::string& content, std::string& text) {
    if (content.empty() || content[0] == '\0') return false;
    std::size_t length = content.find('\n');
    length = length == std::string::npos ? content.size() : length + 1;
    if (length > 29) length = 29;
    const std::string piece = content.substr(0, length);
    text = piece.substr(0, piece.find('\0'));
    return true;
}

void makeDir(const std::string& path) {
    if (mkdir(path.c_str(), 0755) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir != nullptr ? dir : "/tmp") + "/zef-address-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) std::abort();
    g_root = pattern;
    makeDir(g_root + "/sys");
    makeDir(g_root + "/sys/class");
    makeDir(g_root + "/sys/class/net");
    makeDir(g_root + "/sys/class/net/eth0");
    g_addressFile = g_root + "/sys/class/net/eth0/address";
    std::atexit([] {
        unlink(g_addressFile.c_str());
        for (const char* sub :
             {"/sys/class/net/eth0", "/sys/class/net", "/sys/class", "/sys", ""}) {
            rmdir((g_root + sub).c_str());
        }
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // First byte: length of the interface name that follows; the rest is the
    // address file.
    const std::size_t nameLength = data[0] % 24 < size - 1 ? data[0] % 24 : size - 1;
    const std::string name(reinterpret_cast<const char*>(data) + 1, nameLength);
    const std::string content(reinterpret_cast<const char*>(data) + 1 + nameLength,
                              size - 1 - nameLength);

    const std::string sysfs = zef::probe::normaliseSysfsAddress(content);
    FUZZ_CHECK(sysfs == modelNormalise(content),
               "sysfs line " + fuzzShow(content) + " became " + fuzzShow(sysfs));
    const std::string command = zef::probe::normaliseCommandAddress(content);
    FUZZ_CHECK(command.find(':') == std::string::npos && command.size() <= content.size(),
               "command field " + fuzzShow(content) + " became " + fuzzShow(command));
    FUZZ_CHECK(zef::probe::acceptInterface(name, sysfs) == modelAccept(name, sysfs),
               "name " + fuzzShow(name) + " address " + fuzzShow(sysfs));

    FILE* file = std::fopen(g_addressFile.c_str(), "wb");
    if (file == nullptr) std::abort();
    if (!content.empty() &&
        std::fwrite(content.data(), 1, content.size(), file) != content.size()) {
        std::abort();
    }
    std::fclose(file);
    std::vector<zef::UniqueIdStruct_> ids;
    zef::probe::probe_sysfs_interfaces(g_root, ids);

    std::string text;
    std::vector<std::string> expected;
    if (modelFirstRead(content, text) && modelAccept("eth0", modelNormalise(text))) {
        expected.push_back(modelNormalise(text));
    }
    FUZZ_CHECK(ids.size() == expected.size(), "address file " + fuzzShow(content) + " gave " +
                                                  std::to_string(ids.size()) + " records");
    if (!ids.empty()) {
        FUZZ_CHECK(ids[0].deviceId == expected[0] && ids[0].comment == "eth0" &&
                       ids[0].type == zef::NIC &&
                       ids[0].hardwareId == zef::Runtime::generateMD5(expected[0]),
                   "address file " + fuzzShow(content) + " gave " + fuzzShow(ids[0].deviceId));
    }
    return 0;
}
