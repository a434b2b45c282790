#ifndef ZEF_LINUX_PROBE_USB_PROBE_H_
#define ZEF_LINUX_PROBE_USB_PROBE_H_

#include <istream>
#include <string>
#include <vector>

#include "core/unique_id.h"

namespace zef {
namespace probe {

// True when the first white-space-separated word of `classFile` is exactly
// "08", the USB mass-storage interface class. Reads at most three characters
// of the word: nothing longer than two can match.
bool isMassStorageClass(std::istream& classFile);

// The USB record of a mass-storage interface, or false when `serial` is empty.
bool makeUsbRecord(const std::string& serial, const std::string& manufacturer,
                   const std::string& product, UniqueIdStruct_& record);

// One record per mass-storage interface under <root>/sys/bus/usb/devices
// whose device reports a serial number, in directory order.
void probe_removeable(std::vector<UniqueIdStruct_>& ids, const std::string& root);

}  // namespace probe
}  // namespace zef

#endif  // ZEF_LINUX_PROBE_USB_PROBE_H_
