#include "linux/cli/listing.h"

#include "core/runtime.h"

namespace zef {
namespace cli {

namespace {

// A std::string may hold NUL bytes that printf's "%s" would stop at.
std::string upToNul(const std::string& text) { return std::string(text.c_str()); }

void appendPadded(std::string& out, const std::string& value, std::size_t width) {
    const std::string shown = upToNul(value);
    out += shown;
    if (shown.size() < width) out.append(width - shown.size(), ' ');
}

}  // namespace

std::string terminalSafe(const std::string& text) {
    std::string safe = upToNul(text);
    for (char& c : safe) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) c = '?';
    }
    return safe;
}

std::string formatTableLine(const std::string& type, const std::string& hardwareId,
                            const std::string& comment) {
    std::string line;
    line.reserve(80);
    appendPadded(line, type, 5);
    line += ' ';
    appendPadded(line, hardwareId, 32);
    line += ' ';
    appendPadded(line, comment, 40);
    line += '\n';
    return line;
}

void writeListing(const std::vector<UniqueIdStruct_>& ids, std::FILE* out) {
    std::string text = "\nAvailable unique ids:\n\n";
    text += formatTableLine("TYPE", "Hardware ID", "Comment");
    text.append(78, '-');
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), out);
    for (const UniqueIdStruct_& id : ids) {
        text = formatTableLine(uniqueIdTypeName(id.type), id.hardwareId, terminalSafe(id.comment));
        std::fwrite(text.data(), 1, text.size(), out);
    }
    std::fputs("\n\n\n", out);
}

std::string formatGenerateResult(const std::string& deviceId) {
    return "\n" + deviceId + ": " + Runtime::generateMD5(deviceId) + "\n\n";
}

}  // namespace cli
}  // namespace zef
