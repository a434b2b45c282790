#include "libhwid/probe_pass.h"

#include "windows/probe/probes_win32.h"

namespace zef {
namespace lib {

// In the order of hwidwin's registry (windows/probe/runtime_win32.cpp). Both
// probes load their system DLL from the system folder for the call and free
// it again; the host process's DLL search settings are its own business.
void probeMachine(std::vector<UniqueIdStruct_>& ids) {
    probe::probe_adapters(ids);
    probe::probe_disks(ids);
}

}  // namespace lib
}  // namespace zef
