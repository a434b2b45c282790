// zef_quickread over arbitrary file content, checked against the rule it
// promises: the first line, unless it is longer than 1023 characters, cut at
// its first NUL; "" for an empty file.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_check.h"
#include "linux/probe/quickread.h"

namespace {

std::string g_path;

std::string expectedFirstLine(const std::string& content) {
    const std::size_t newline = content.find('\n');
    const std::size_t length = newline == std::string::npos ? content.size() : newline;
    if (content.empty() || length > 1023) return std::string();
    const std::string line = content.substr(0, length);
    return line.substr(0, line.find('\0'));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // One scratch file per fuzzing process, rewritten for every input.
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir != nullptr ? dir : "/tmp") + "/zef-quickread-XXXXXX";
    const int fd = mkstemp(&pattern[0]);
    if (fd < 0) std::abort();
    close(fd);
    g_path = pattern;
    std::atexit([] { unlink(g_path.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string content(reinterpret_cast<const char*>(data), size);
    FILE* file = std::fopen(g_path.c_str(), "wb");
    if (file == nullptr) std::abort();
    if (size != 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);

    const std::string line = zef_quickread(g_path);
    FUZZ_CHECK(line == expectedFirstLine(content),
               "content " + fuzzShow(content) + " read as " + fuzzShow(line));
    FUZZ_CHECK(line.size() <= 1023, "line longer than the buffer");
    return 0;
}
