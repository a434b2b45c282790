#ifndef ZEF_CORE_HELP_TEXT_H_
#define ZEF_CORE_HELP_TEXT_H_

#include <string>

// The usage text of both programs for `programName`, lines ended by "\n".
std::string getHelpText(const std::string& programName);

#endif  // ZEF_CORE_HELP_TEXT_H_
