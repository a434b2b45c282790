#ifndef ZEF_LINUX_PROBE_QUICKREAD_H_
#define ZEF_LINUX_PROBE_QUICKREAD_H_

#include <string>

// Returns the first line of the file at `path`, without its newline, cut at
// its first NUL byte; or "" when the file cannot be opened, is empty, or its
// first line is longer than 1023 characters. Never throws.
std::string zef_quickread(const std::string& path);

#endif  // ZEF_LINUX_PROBE_QUICKREAD_H_
