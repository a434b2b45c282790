#ifndef ZEF_LINUX_CLI_OUTPUT_H_
#define ZEF_LINUX_CLI_OUTPUT_H_

#include <cstdio>
#include <string>

namespace zef {
namespace cli {

// Output that did not arrive (a full disk, an I/O error, a closed
// descriptor) must not end with status 0, as with the core utilities.
// stdio keeps only a flag once a write fails, and the errno that said why
// is overwritten by the next call that fails, so these return it the
// moment it is known.

// Writes `text` to `out`. Returns 0, or the errno of the write that failed.
// Write nothing more after a failure: glibc drops the buffer it could not
// write, and later bytes would close up over the hole.
int writeText(std::FILE* out, const std::string& text);

// Flushes and closes `out`, after `writeError` (0 or what writeText gave).
// Returns 0 when every byte arrived; else prints
// "hwidtool: write error: REASON" on standard error and returns 1.
int closeOutput(std::FILE* out, int writeError);

}  // namespace cli
}  // namespace zef

#endif  // ZEF_LINUX_CLI_OUTPUT_H_
