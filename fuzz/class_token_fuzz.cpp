// The interface-class token over arbitrary class-file content: it matches
// exactly when the first white-space-separated word is "08", and reading it
// consumes no more than three characters of that word.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "fuzz/fuzz_check.h"
#include "linux/probe/usb_probe.h"

namespace {

// Returns the first word; `wordStart` is where it begins.
std::string firstWord(const std::string& content, std::size_t& wordStart) {
    std::size_t i = 0;
    while (i < content.size() && fuzzIsSpace(content[i])) ++i;
    wordStart = i;
    while (i < content.size() && !fuzzIsSpace(content[i])) ++i;
    return content.substr(wordStart, i - wordStart);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string content(reinterpret_cast<const char*>(data), size);
    std::size_t wordStart = 0;
    const bool expected = firstWord(content, wordStart) == "08";

    std::istringstream classFile(content);
    const bool actual = zef::probe::isMassStorageClass(classFile);
    FUZZ_CHECK(expected == actual, "class file " + fuzzShow(content));

    // A class file of any size must not be read past the third character of
    // its first word (white space before the word aside).
    classFile.clear();
    const std::streamoff consumed = classFile.tellg();
    if (consumed >= 0) {
        FUZZ_CHECK(static_cast<std::size_t>(consumed) <= wordStart + 3,
                   "read " + std::to_string(consumed) + " bytes of " + fuzzShow(content));
    }
    return 0;
}
