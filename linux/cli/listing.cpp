#include "linux/cli/listing.h"

#include <cstdint>

#include "core/runtime.h"
#include "linux/cli/output.h"

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

// C0, DEL and C1: the codes a terminal acts on instead of showing.
bool isControl(std::uint32_t codePoint) {
    return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F);
}

// Length of the well-formed UTF-8 sequence at `at` (shortest form, no
// surrogates, at most U+10FFFF) with its code point, or 0 if there is none.
std::size_t utf8SequenceAt(const std::string& text, std::size_t at, std::uint32_t& codePoint) {
    const auto byteAt = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byteAt(at);
    std::size_t length = 0;
    std::uint32_t lowest = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, lowest = 0x80, codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, lowest = 0x800, codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, lowest = 0x10000, codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() - at < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byteAt(at + i) & 0xC0) != 0x80) return 0;
        codePoint = codePoint << 6 | (byteAt(at + i) & 0x3F);
    }
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    if (codePoint < lowest || surrogate || codePoint > 0x10FFFF) return 0;
    return length;
}

}  // namespace

std::string terminalSafe(const std::string& text) {
    const std::string shown = upToNul(text);
    std::string safe;
    safe.reserve(shown.size());
    for (std::size_t at = 0; at < shown.size();) {
        std::uint32_t codePoint = 0;
        const std::size_t length = utf8SequenceAt(shown, at, codePoint);
        if (length == 0 || isControl(codePoint)) {
            // One '?' per control character, and per byte of broken text.
            safe += '?';
            at += length == 0 ? 1 : length;
        } else {
            safe.append(shown, at, length);
            at += length;
        }
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

int writeListing(const std::vector<UniqueIdStruct_>& ids, std::FILE* out) {
    std::string text = "\nAvailable unique ids:\n\n";
    text += formatTableLine("TYPE", "Hardware ID", "Comment");
    text.append(78, '-');
    text += '\n';
    int error = writeText(out, text);
    for (const UniqueIdStruct_& id : ids) {
        if (error != 0) return error;
        text = formatTableLine(uniqueIdTypeName(id.type), id.hardwareId, terminalSafe(id.comment));
        error = writeText(out, text);
    }
    return error != 0 ? error : writeText(out, "\n\n\n");
}

std::string formatGenerateResult(const std::string& deviceId) {
    return "\n" + deviceId + ": " + Runtime::generateMD5(deviceId) + "\n\n";
}

}  // namespace cli
}  // namespace zef
