#ifndef ZEF_LINUX_PROBE_PROBE_PASS_H_
#define ZEF_LINUX_PROBE_PROBE_PASS_H_

#include <vector>

#include "core/unique_id.h"
#include "linux/probe/sources.h"

namespace zef {
namespace probe {

// The whole Linux probe pass, appending to `ids`: network interfaces from
// sysfs; only if that left `ids` empty, from the ifconfig command; then USB
// mass-storage devices. Never throws anything of its own, never prints.
void rt_generate(std::vector<UniqueIdStruct_>& ids, const Sources& sources = Sources());

}  // namespace probe
}  // namespace zef

#endif  // ZEF_LINUX_PROBE_PROBE_PASS_H_
