#ifndef ZEF_CORE_STRING_HELPERS_H_
#define ZEF_CORE_STRING_HELPERS_H_

#include <string>
#include <vector>

// Fixed-argument wrappers over pystring: every caller gets "all occurrences,
// no limits, whole string". Byte strings, C-locale character classes.

// Copy with a-z turned into A-Z; every other byte unchanged.
std::string stringToUpper(const std::string& text);

// Removes bytes found in `chars` from both ends; an empty set means white
// space. `chars` must not be null.
std::string stringStrip(const std::string& text, const char* chars);

// Replaces every non-overlapping occurrence of `oldPart`, left to right.
std::string stringReplace(const std::string& text, const std::string& oldPart,
                          const std::string& newPart);

// True when `part` occurs in `text`; the empty part always does.
bool stringContains(const std::string& text, const std::string& part);

// Empties `result`, then fills it with the pieces of `text` cut at every
// `separator` (empty pieces kept), or at runs of white space when the
// separator is empty.
void stringSplit(const std::string& text, std::vector<std::string>& result,
                 const std::string& separator);

// True when `text` begins with `prefix`; the empty prefix always matches.
bool stringStartsWith(const std::string& text, const std::string& prefix);

#endif  // ZEF_CORE_STRING_HELPERS_H_
