#ifndef ZEF_FUZZ_FUZZ_CHECK_H_
#define ZEF_FUZZ_FUZZ_CHECK_H_

#include <cstdio>
#include <cstdlib>
#include <string>

// Stops the fuzzer with a message when a property does not hold. An abort
// is what libFuzzer keeps as a crash input, so a broken property is reported
// and saved exactly like a memory error.
#define FUZZ_CHECK(condition, what)                                                  \
    do {                                                                             \
        if (!(condition)) {                                                          \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, \
                         std::string(what).c_str());                                 \
            std::abort();                                                            \
        }                                                                            \
    } while (0)

// A printable rendering of outside bytes for failure messages.
inline std::string fuzzShow(const std::string& bytes) {
    std::string shown;
    for (unsigned char c : bytes.substr(0, 80)) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            shown += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            shown += escaped;
        }
    }
    if (bytes.size() > 80) shown += "...";
    return shown;
}

// The white space of the C locale, as isspace() knows it.
inline bool fuzzIsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

#endif  // ZEF_FUZZ_FUZZ_CHECK_H_
