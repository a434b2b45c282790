#ifndef ZEF_CORE_MD5_CHECKSUM_H_
#define ZEF_CORE_MD5_CHECKSUM_H_

#include <cstdint>
#include <istream>
#include <string>

namespace zefStream {

// The MD5 message digest of RFC 1321, rendered as 32 lowercase hex digits.
// One object computes one digest: construct, update() any number of times,
// final() once. The static getMD5 forms do all three in one call.
class MD5Checksum {
public:
    MD5Checksum();
    virtual ~MD5Checksum();

    // Appends `length` bytes to the message. Whole 64-byte blocks are
    // transformed straight from `input`; only a tail is copied.
    void update(const char* input, unsigned long length);

    // Pads the message and returns the digest. Call once.
    std::string final();

    // Applies the compression function to one 64-byte block.
    void transform(const char* block);

    // Digest of exactly `length` bytes at `data`, NUL bytes included.
    static std::string getMD5(const char* data, unsigned long length);

    // Digest of everything `stream` yields until a 1024-byte read comes back
    // short. Any std::exception on the way is replaced by a plain
    // std::exception; other exception types pass through.
    static std::string getMD5(std::istream& stream);

    // As above, but at most `limit` bytes of `stream`.
    static std::string getMD5(std::istream& stream, unsigned long limit);

    // Digest of the whole file, read in binary mode. Throws
    // std::runtime_error("Unable to open file <name> for reading ") when the
    // file cannot be opened.
    static std::string getMD5(const std::string& fileName);

private:
    unsigned char buffer[64];
    std::uint32_t count[2];  // message length in bits mod 2^64, low word first
    std::uint32_t state[4];  // chaining values A, B, C, D
};

}  // namespace zefStream

#endif  // ZEF_CORE_MD5_CHECKSUM_H_
