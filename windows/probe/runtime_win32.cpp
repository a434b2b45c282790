// The Windows registry: creating it lists the adapters, then the disks.
#include "core/runtime.h"
#include "windows/probe/probes_win32.h"

namespace zef {

Runtime::Runtime() {
    probe::probe_adapters(m_ids);
    probe::probe_disks(m_ids);
}

}  // namespace zef
