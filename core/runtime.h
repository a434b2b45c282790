#ifndef ZEF_CORE_RUNTIME_H_
#define ZEF_CORE_RUNTIME_H_

#include <string>
#include <vector>

#include "core/unique_id.h"

namespace zef {

// The process-wide registry of unique ids. Creating it runs the platform's
// probe pass once; the list is read-only afterwards. Single-threaded.
class Runtime {
public:
    // Returns the registry, creating it (and probing) on first use or after
    // shutdown(). If probing throws, nothing is kept and the exception passes.
    static Runtime* instance();

    // Forgets and releases the current registry; the next instance() probes
    // anew. References obtained from getUniqueIds() become invalid.
    static void shutdown();

    // The Hardware ID of a device id: uppercase MD5 hex of all its bytes.
    static std::string generateMD5(const std::string& id);

    // The list in the order the probe pass appended it. Never copies.
    const std::vector<UniqueIdStruct_>& getUniqueIds() const;

    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;

private:
    // Defined by each platform: runs that platform's probe pass on m_ids.
    Runtime();

    std::vector<UniqueIdStruct_> m_ids;
    static Runtime* s_instance;
};

// A finished record: the Hardware ID is always generateMD5 of `deviceId`.
UniqueIdStruct_ makeUniqueId(UniqueIdType type, const std::string& deviceId,
                             const std::string& comment);

}  // namespace zef

#endif  // ZEF_CORE_RUNTIME_H_
