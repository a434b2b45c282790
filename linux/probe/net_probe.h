#ifndef ZEF_LINUX_PROBE_NET_PROBE_H_
#define ZEF_LINUX_PROBE_NET_PROBE_H_

#include <cstdio>
#include <string>
#include <vector>

#include "core/unique_id.h"

namespace zef {
namespace probe {

// A sysfs address line made into a device id: white space trimmed at both
// ends, every ':' removed, letters upper-cased.
std::string normaliseSysfsAddress(const std::string& line);

// A command-output address field made into a device id: ':' removed,
// upper-cased, not trimmed.
std::string normaliseCommandAddress(const std::string& field);

// The acceptance rule: a 12-character, not all-zero address on an interface
// whose name starts with none of "veth", "br-", "docker".
bool acceptInterface(const std::string& name, const std::string& address);

// The NIC record of an accepted interface.
UniqueIdStruct_ makeNicRecord(const std::string& name, const std::string& address);

// One line of "ifconfig -a" output in the traditional layout. Returns true and
// sets `name` (first field) and `address` (last field, normalised) when the
// line mentions "HWaddr" and "Ethernet" and has at least three fields.
bool parseIfconfigLine(const std::string& line, std::string& name, std::string& address);

// Step A: one record per accepted interface of <root>/sys/class/net.
void probe_sysfs_interfaces(const std::string& root, std::vector<UniqueIdStruct_>& ids);

// Step B over an open stream of command output, read in 4095-byte lines.
void probe_ifconfig_stream(FILE* output, std::vector<UniqueIdStruct_>& ids);

// Step B: runs `command` through the shell and parses its standard output.
// Runs nothing when the command's first word, the program's path, cannot be
// executed, so that a missing program leaves standard error untouched.
void probe_ifconfig(const std::string& command, std::vector<UniqueIdStruct_>& ids);

}  // namespace probe
}  // namespace zef

#endif  // ZEF_LINUX_PROBE_NET_PROBE_H_
