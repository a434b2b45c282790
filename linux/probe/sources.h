#ifndef ZEF_LINUX_PROBE_SOURCES_H_
#define ZEF_LINUX_PROBE_SOURCES_H_

#include <string>

namespace zef {
namespace probe {

// Where the probe pass reads from. Production uses the defaults; tests point
// `root` at a temporary tree laid out like the kernel's sysfs.
struct Sources {
    std::string root = "/";
    std::string ifconfigCommand = "/sbin/ifconfig -a";
};

// `path` (absolute, such as "/sys/class/net") below `root`.
std::string rootedPath(const std::string& root, const char* path);

}  // namespace probe
}  // namespace zef

#endif  // ZEF_LINUX_PROBE_SOURCES_H_
