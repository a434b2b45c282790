#ifndef ZEF_WINDOWS_UI_REPORT_TEXT_H_
#define ZEF_WINDOWS_UI_REPORT_TEXT_H_

#include <string>
#include <vector>

#include "core/unique_id.h"

// The copy text of the latest build: version line and device table, without
// the closing instruction. Empty until getDeviceInfoText first runs.
extern std::string g_copyText;

// The program version: the project's version, four numbers joined by dots.
std::string programVersion();

// The device table of `ids`: "\n", heading, two CR LF, the title line (10, 35
// and 43 columns), a rule of 88 '-', one line per record. Every line but the
// leading "\n" ends in CR LF; long values are never cut.
std::string formatDeviceTable(const std::vector<zef::UniqueIdStruct_>& ids);

// The display text around `table`; stores its head (version line and table)
// in `copyText`.
std::string formatDeviceInfo(const std::string& table, std::string& copyText);

// The device table of a fresh probe pass: the registry is forgotten and
// created anew first.
std::string getDeviceTableText();

// The display text of a fresh probe pass; replaces g_copyText.
std::string getDeviceInfoText();

#endif  // ZEF_WINDOWS_UI_REPORT_TEXT_H_
