#ifndef ZEF_LIBHWID_PROBE_PASS_H_
#define ZEF_LIBHWID_PROBE_PASS_H_

#include <vector>

#include "core/unique_id.h"

namespace zef {
namespace lib {

// Appends what the program of this platform lists, in its order: the very
// probe calls its registry makes when it is created. May throw
// std::bad_alloc; prints nothing.
void probeMachine(std::vector<UniqueIdStruct_>& ids);

}  // namespace lib
}  // namespace zef

#endif  // ZEF_LIBHWID_PROBE_PASS_H_
