#include "libhwid/probe_pass.h"

#include "linux/probe/probe_pass.h"

namespace zef {
namespace lib {

// hwidtool's registry runs exactly this pass (linux/probe/runtime_linux.cpp).
void probeMachine(std::vector<UniqueIdStruct_>& ids) { probe::rt_generate(ids); }

}  // namespace lib
}  // namespace zef
