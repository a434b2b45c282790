#include "windows/ui/report_text.h"

#include "core/runtime.h"
#include "windows/ui/version.h"

std::string g_copyText;

namespace {

const char kHeading[] = "Available unique ids:";
const char kSupportAddress[] = "support@zef.example";

void appendField(std::string& text, const std::string& value, std::string::size_type width) {
    text += value;
    if (value.size() < width) {
        text.append(width - value.size(), ' ');
    }
}

void appendRow(std::string& text, const std::string& type, const std::string& hardwareId,
               const std::string& comment) {
    appendField(text, type, 10);
    appendField(text, hardwareId, 35);
    appendField(text, comment, 43);
    text += "\r\n";
}

}  // namespace

std::string programVersion() { return HWID_VERSION_TEXT; }

std::string formatDeviceTable(const std::vector<zef::UniqueIdStruct_>& ids) {
    std::string text = "\n";
    text += kHeading;
    text += "\r\n\r\n";
    appendRow(text, "TYPE", "Hardware ID", "Comment");
    text.append(88, '-');
    text += "\r\n";
    for (const zef::UniqueIdStruct_& id : ids) {
        appendRow(text, zef::uniqueIdTypeName(id.type), id.hardwareId, id.comment);
    }
    return text;
}

std::string formatDeviceInfo(const std::string& table, std::string& copyText) {
    const std::string head = "ZEF Version: " + programVersion() + "\r\n\r\n" + table;
    copyText = head;
    return head + "\r\n\r\n\r\n" +
           "Press Copy text to Clipboard button and email this text to: " + kSupportAddress +
           "\r\n";
}

std::string getDeviceTableText() {
    // Every report shows the devices present now, so each build probes anew.
    zef::Runtime::shutdown();
    return formatDeviceTable(zef::Runtime::instance()->getUniqueIds());
}

std::string getDeviceInfoText() { return formatDeviceInfo(getDeviceTableText(), g_copyText); }
