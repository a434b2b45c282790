#ifndef ZEF_LINUX_CLI_LISTING_H_
#define ZEF_LINUX_CLI_LISTING_H_

#include <cstdio>
#include <string>
#include <vector>

#include "core/unique_id.h"

namespace zef {
namespace cli {

// `text` up to its first NUL, shown as `ls` shows names in a UTF-8 locale, so
// that device-supplied names cannot drive the user's terminal: each C0
// control, DEL, C1 control (U+0080 to U+009F) and each byte that is not part
// of well-formed UTF-8 becomes one '?'; all other text is kept as it is.
std::string terminalSafe(const std::string& text);

// One table line as printf("%-5s %-32s %-40s\n") writes it: each value up to
// its first NUL, padded on the right, never cut.
std::string formatTableLine(const std::string& type, const std::string& hardwareId,
                            const std::string& comment);

// Writes the whole output of the listing command for `ids` to `out`:
// heading, titles, rule of 78 '-', one line per record (comment made
// terminal-safe), three empty lines. Memory use does not grow with the list.
// Stops at the first write that fails and returns its errno, else 0.
int writeListing(const std::vector<UniqueIdStruct_>& ids, std::FILE* out);

// The output of the hashing command for `deviceId`, echoed as given.
std::string formatGenerateResult(const std::string& deviceId);

}  // namespace cli
}  // namespace zef

#endif  // ZEF_LINUX_CLI_LISTING_H_
