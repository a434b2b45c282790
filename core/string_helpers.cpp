#include "core/string_helpers.h"

#include <pystring/pystring.h>

std::string stringToUpper(const std::string& text) { return pystring::upper(text); }

std::string stringStrip(const std::string& text, const char* chars) {
    return pystring::strip(text, std::string(chars));
}

std::string stringReplace(const std::string& text, const std::string& oldPart,
                          const std::string& newPart) {
    return pystring::replace(text, oldPart, newPart, -1);
}

bool stringContains(const std::string& text, const std::string& part) {
    return text.find(part, 0) != std::string::npos;
}

void stringSplit(const std::string& text, std::vector<std::string>& result,
                 const std::string& separator) {
    result.clear();
    pystring::split(text, result, separator, -1);
}

bool stringStartsWith(const std::string& text, const std::string& prefix) {
    return pystring::startswith(text, prefix, 0, MAX_32BIT_INT);
}
