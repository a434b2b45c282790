// The command-output line parser over arbitrary "ifconfig -a" output: one
// input as a single line, and the same bytes as a stream read in 4095-byte
// pieces, each checked against a plain model of the traditional layout.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "linux/probe/net_probe.h"

namespace {

struct Parsed {
    bool ok = false;
    std::string name;
    std::string address;
};

Parsed modelParse(const std::string& line) {
    Parsed parsed;
    if (line.find("HWaddr") == std::string::npos || line.find("Ethernet") == std::string::npos) {
        return parsed;
    }
    std::size_t begin = 0;
    std::size_t end = line.size();
    while (begin < end && fuzzIsSpace(line[begin])) ++begin;
    while (end > begin && fuzzIsSpace(line[end - 1])) --end;
    std::vector<std::string> fields(1);
    for (std::size_t i = begin; i < end; ++i) {
        if (line[i] == ' ') {
            fields.emplace_back();
        } else {
            fields.back() += line[i];
        }
    }
    if (fields.size() < 3) return parsed;
    parsed.ok = true;
    parsed.name = fields.front();
    for (char c : fields.back()) {
        if (c == ':') continue;
        parsed.address += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return parsed;
}

bool modelAccept(const std::string& name, const std::string& address) {
    for (const char* prefix : {"veth", "br-", "docker"}) {
        if (name.compare(0, std::string(prefix).size(), prefix) == 0) return false;
    }
    return address.size() == 12 && address != "000000000000";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string output(reinterpret_cast<const char*>(data), size);

    std::string name;
    std::string address;
    const Parsed whole = modelParse(output);
    const bool ok = zef::probe::parseIfconfigLine(output, name, address);
    FUZZ_CHECK(ok == whole.ok, "line " + fuzzShow(output));
    if (ok) {
        FUZZ_CHECK(name == whole.name && address == whole.address,
                   "line " + fuzzShow(output) + " gave name " + fuzzShow(name) + " address " +
                       fuzzShow(address));
    }

    if (size == 0) return 0;
    std::vector<std::string> expected;
    for (std::size_t pos = 0; pos < size;) {
        std::size_t length = output.find('\n', pos);
        length = length == std::string::npos ? size - pos : length + 1 - pos;
        if (length > 4095) length = 4095;
        std::string piece = output.substr(pos, length);
        pos += length;
        piece.resize(std::strlen(piece.c_str()));  // fgets' line is a C string
        const Parsed parsed = modelParse(piece);
        if (parsed.ok && modelAccept(parsed.name, parsed.address)) {
            expected.push_back(parsed.name + "|" + parsed.address);
        }
    }
    FILE* stream = fmemopen(const_cast<std::uint8_t*>(data), size, "r");
    if (stream == nullptr) std::abort();
    std::vector<zef::UniqueIdStruct_> ids;
    zef::probe::probe_ifconfig_stream(stream, ids);
    std::fclose(stream);
    FUZZ_CHECK(ids.size() == expected.size(),
               "output " + fuzzShow(output) + " gave " + std::to_string(ids.size()) +
                   " records, expected " + std::to_string(expected.size()));
    for (std::size_t i = 0; i < ids.size(); ++i) {
        FUZZ_CHECK(ids[i].comment + "|" + ids[i].deviceId == expected[i] && ids[i].type == zef::NIC,
                   "output " + fuzzShow(output) + " record " + std::to_string(i));
    }
    return 0;
}
