// The Linux registry: creating it runs the sysfs probe pass on the real
// machine.
#include "core/runtime.h"
#include "linux/probe/probe_pass.h"

namespace zef {

Runtime::Runtime() { probe::rt_generate(m_ids); }

}  // namespace zef
