#include "linux/cli/output.h"

#include <cerrno>
#include <cstring>

namespace zef {
namespace cli {

int writeText(std::FILE* out, const std::string& text) {
    const std::size_t written = std::fwrite(text.data(), 1, text.size(), out);
    return written != text.size() || std::ferror(out) ? errno : 0;
}

int closeOutput(std::FILE* out, int writeError) {
    // fclose would flush as well, but then a failed write and a failed close
    // would come back as one result; each errno is taken as it happens.
    int error = writeError;
    if (std::fflush(out) != 0 && error == 0) error = errno;
    if (std::fclose(out) != 0 && error == 0) error = errno;
    if (error == 0) return 0;
    std::fprintf(stderr, "hwidtool: write error: %s\n", std::strerror(error));
    return 1;
}

}  // namespace cli
}  // namespace zef
