#include "linux/probe/probe_pass.h"

#include "linux/probe/net_probe.h"
#include "linux/probe/usb_probe.h"

namespace zef {
namespace probe {

void rt_generate(std::vector<UniqueIdStruct_>& ids, const Sources& sources) {
    probe_sysfs_interfaces(sources.root, ids);
    if (ids.empty()) {
        probe_ifconfig(sources.ifconfigCommand, ids);
    }
    probe_removeable(ids, sources.root);
}

}  // namespace probe
}  // namespace zef
