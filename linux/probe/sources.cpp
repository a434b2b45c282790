#include "linux/probe/sources.h"

namespace zef {
namespace probe {

std::string rootedPath(const std::string& root, const char* path) {
    std::string prefix = root;
    while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
    return prefix + path;
}

}  // namespace probe
}  // namespace zef
