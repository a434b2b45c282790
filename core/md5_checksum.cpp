#include "core/md5_checksum.h"

#include <cstring>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace zefStream {

const unsigned char PADDING[64] = {0x80};

namespace {

const std::streamsize kReadSize = 1024;
const std::size_t kFileBufferSize = std::size_t{128} * 1024;

inline std::uint32_t rotateLeft(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline std::uint32_t loadLittleEndian(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// "000102...feff": the two lowercase digits of every byte value.
struct HexPairs {
    char text[512];
    constexpr HexPairs() : text() {
        const char digits[] = "0123456789abcdef";
        for (std::size_t i = 0; i < 256; ++i) {
            text[2 * i] = digits[i >> 4];
            text[2 * i + 1] = digits[i & 0x0F];
        }
    }
};
constexpr HexPairs kHexPairs;

// Message word `k` of the block at `p`, read where it is used: copying the
// block into a local array first costs stores and reloads for nothing.
inline std::uint32_t messageWord(const unsigned char* p, std::size_t k) {
    return loadLittleEndian(p + 4 * k);
}

inline void storeLittleEndian(std::uint32_t v, unsigned char* p) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// The step functions are arranged for a short critical path: each step waits
// for the previous step's result `b` as late as it can. The message word and
// the constant go into `a` first, before `b` is known; in round 2 the function
// is split in two disjoint halves, (c & ~d) + (b & d), so that the half without
// `b` is added early too; round 3 pairs c ^ d, which is ready, before b joins.
// `a` stays bare where it is assigned: GCC 12 lays the rounds out otherwise,
// 100 bytes longer, when it is written (a).
// NOLINTBEGIN(bugprone-macro-parentheses)
#define ZEF_MD5_F(a, b, c, d, x, s, ac) \
    a += (x) + (ac);                    \
    a += (((c) ^ (d)) & (b)) ^ (d);     \
    a = rotateLeft(a, s) + (b)
#define ZEF_MD5_G(a, b, c, d, x, s, ac) \
    a += (x) + (ac) + ((c) & ~(d));     \
    a += (b) & (d);                     \
    a = rotateLeft(a, s) + (b)
#define ZEF_MD5_H(a, b, c, d, x, s, ac) \
    a += (x) + (ac);                    \
    a += (b) ^ ((c) ^ (d));             \
    a = rotateLeft(a, s) + (b)
#define ZEF_MD5_I(a, b, c, d, x, s, ac) \
    a += (x) + (ac);                    \
    a += (c) ^ ((b) | ~(d));            \
    a = rotateLeft(a, s) + (b)
// NOLINTEND(bugprone-macro-parentheses)

// Runs the compression function over `blocks` consecutive 64-byte blocks.
// The chaining values stay in registers from one block to the next instead of
// going through memory, which would add a store-to-load delay to every block.
void transformBlocks(std::uint32_t* state, const unsigned char* p, unsigned long blocks) {
    std::uint32_t a0 = state[0], b0 = state[1], c0 = state[2], d0 = state[3];
    for (; blocks > 0; --blocks, p += 64) {
        std::uint32_t a = a0, b = b0, c = c0, d = d0;

        ZEF_MD5_F(a, b, c, d, messageWord(p, 0), 7, 0xd76aa478);
        ZEF_MD5_F(d, a, b, c, messageWord(p, 1), 12, 0xe8c7b756);
        ZEF_MD5_F(c, d, a, b, messageWord(p, 2), 17, 0x242070db);
        ZEF_MD5_F(b, c, d, a, messageWord(p, 3), 22, 0xc1bdceee);
        ZEF_MD5_F(a, b, c, d, messageWord(p, 4), 7, 0xf57c0faf);
        ZEF_MD5_F(d, a, b, c, messageWord(p, 5), 12, 0x4787c62a);
        ZEF_MD5_F(c, d, a, b, messageWord(p, 6), 17, 0xa8304613);
        ZEF_MD5_F(b, c, d, a, messageWord(p, 7), 22, 0xfd469501);
        ZEF_MD5_F(a, b, c, d, messageWord(p, 8), 7, 0x698098d8);
        ZEF_MD5_F(d, a, b, c, messageWord(p, 9), 12, 0x8b44f7af);
        ZEF_MD5_F(c, d, a, b, messageWord(p, 10), 17, 0xffff5bb1);
        ZEF_MD5_F(b, c, d, a, messageWord(p, 11), 22, 0x895cd7be);
        ZEF_MD5_F(a, b, c, d, messageWord(p, 12), 7, 0x6b901122);
        ZEF_MD5_F(d, a, b, c, messageWord(p, 13), 12, 0xfd987193);
        ZEF_MD5_F(c, d, a, b, messageWord(p, 14), 17, 0xa679438e);
        ZEF_MD5_F(b, c, d, a, messageWord(p, 15), 22, 0x49b40821);

        ZEF_MD5_G(a, b, c, d, messageWord(p, 1), 5, 0xf61e2562);
        ZEF_MD5_G(d, a, b, c, messageWord(p, 6), 9, 0xc040b340);
        ZEF_MD5_G(c, d, a, b, messageWord(p, 11), 14, 0x265e5a51);
        ZEF_MD5_G(b, c, d, a, messageWord(p, 0), 20, 0xe9b6c7aa);
        ZEF_MD5_G(a, b, c, d, messageWord(p, 5), 5, 0xd62f105d);
        ZEF_MD5_G(d, a, b, c, messageWord(p, 10), 9, 0x02441453);
        ZEF_MD5_G(c, d, a, b, messageWord(p, 15), 14, 0xd8a1e681);
        ZEF_MD5_G(b, c, d, a, messageWord(p, 4), 20, 0xe7d3fbc8);
        ZEF_MD5_G(a, b, c, d, messageWord(p, 9), 5, 0x21e1cde6);
        ZEF_MD5_G(d, a, b, c, messageWord(p, 14), 9, 0xc33707d6);
        ZEF_MD5_G(c, d, a, b, messageWord(p, 3), 14, 0xf4d50d87);
        ZEF_MD5_G(b, c, d, a, messageWord(p, 8), 20, 0x455a14ed);
        ZEF_MD5_G(a, b, c, d, messageWord(p, 13), 5, 0xa9e3e905);
        ZEF_MD5_G(d, a, b, c, messageWord(p, 2), 9, 0xfcefa3f8);
        ZEF_MD5_G(c, d, a, b, messageWord(p, 7), 14, 0x676f02d9);
        ZEF_MD5_G(b, c, d, a, messageWord(p, 12), 20, 0x8d2a4c8a);

        ZEF_MD5_H(a, b, c, d, messageWord(p, 5), 4, 0xfffa3942);
        ZEF_MD5_H(d, a, b, c, messageWord(p, 8), 11, 0x8771f681);
        ZEF_MD5_H(c, d, a, b, messageWord(p, 11), 16, 0x6d9d6122);
        ZEF_MD5_H(b, c, d, a, messageWord(p, 14), 23, 0xfde5380c);
        ZEF_MD5_H(a, b, c, d, messageWord(p, 1), 4, 0xa4beea44);
        ZEF_MD5_H(d, a, b, c, messageWord(p, 4), 11, 0x4bdecfa9);
        ZEF_MD5_H(c, d, a, b, messageWord(p, 7), 16, 0xf6bb4b60);
        ZEF_MD5_H(b, c, d, a, messageWord(p, 10), 23, 0xbebfbc70);
        ZEF_MD5_H(a, b, c, d, messageWord(p, 13), 4, 0x289b7ec6);
        ZEF_MD5_H(d, a, b, c, messageWord(p, 0), 11, 0xeaa127fa);
        ZEF_MD5_H(c, d, a, b, messageWord(p, 3), 16, 0xd4ef3085);
        ZEF_MD5_H(b, c, d, a, messageWord(p, 6), 23, 0x04881d05);
        ZEF_MD5_H(a, b, c, d, messageWord(p, 9), 4, 0xd9d4d039);
        ZEF_MD5_H(d, a, b, c, messageWord(p, 12), 11, 0xe6db99e5);
        ZEF_MD5_H(c, d, a, b, messageWord(p, 15), 16, 0x1fa27cf8);
        ZEF_MD5_H(b, c, d, a, messageWord(p, 2), 23, 0xc4ac5665);

        ZEF_MD5_I(a, b, c, d, messageWord(p, 0), 6, 0xf4292244);
        ZEF_MD5_I(d, a, b, c, messageWord(p, 7), 10, 0x432aff97);
        ZEF_MD5_I(c, d, a, b, messageWord(p, 14), 15, 0xab9423a7);
        ZEF_MD5_I(b, c, d, a, messageWord(p, 5), 21, 0xfc93a039);
        ZEF_MD5_I(a, b, c, d, messageWord(p, 12), 6, 0x655b59c3);
        ZEF_MD5_I(d, a, b, c, messageWord(p, 3), 10, 0x8f0ccc92);
        ZEF_MD5_I(c, d, a, b, messageWord(p, 10), 15, 0xffeff47d);
        ZEF_MD5_I(b, c, d, a, messageWord(p, 1), 21, 0x85845dd1);
        ZEF_MD5_I(a, b, c, d, messageWord(p, 8), 6, 0x6fa87e4f);
        ZEF_MD5_I(d, a, b, c, messageWord(p, 15), 10, 0xfe2ce6e0);
        ZEF_MD5_I(c, d, a, b, messageWord(p, 6), 15, 0xa3014314);
        ZEF_MD5_I(b, c, d, a, messageWord(p, 13), 21, 0x4e0811a1);
        ZEF_MD5_I(a, b, c, d, messageWord(p, 4), 6, 0xf7537e82);
        ZEF_MD5_I(d, a, b, c, messageWord(p, 11), 10, 0xbd3af235);
        ZEF_MD5_I(c, d, a, b, messageWord(p, 2), 15, 0x2ad7d2bb);
        ZEF_MD5_I(b, c, d, a, messageWord(p, 9), 21, 0xeb86d391);

        a0 += a;
        b0 += b;
        c0 += c;
        d0 += d;
    }
    state[0] = a0;
    state[1] = b0;
    state[2] = c0;
    state[3] = d0;
}

}  // namespace

MD5Checksum::MD5Checksum() : buffer(), count() {
    state[0] = 0x67452301;
    state[1] = 0xefcdab89;
    state[2] = 0x98badcfe;
    state[3] = 0x10325476;
}

MD5Checksum::~MD5Checksum() {}

void MD5Checksum::update(const char* input, unsigned long length) {
    if (length == 0) return;
    const unsigned char* in = reinterpret_cast<const unsigned char*>(input);
    unsigned long index = (count[0] >> 3) & 0x3F;

    std::uint64_t bits = (static_cast<std::uint64_t>(count[1]) << 32) | count[0];
    bits += static_cast<std::uint64_t>(length) << 3;
    count[0] = static_cast<std::uint32_t>(bits);
    count[1] = static_cast<std::uint32_t>(bits >> 32);

    unsigned long room = 64 - index;
    unsigned long i = 0;
    if (length >= room) {
        std::memcpy(&buffer[index], in, room);
        transform(reinterpret_cast<const char*>(buffer));
        i = room;
        const unsigned long blocks = (length - i) / 64;
        transformBlocks(state, in + i, blocks);
        i += blocks * 64;
        index = 0;
    }
    std::memcpy(&buffer[index], in + i, length - i);
}

std::string MD5Checksum::final() {
    unsigned long index = (count[0] >> 3) & 0x3F;
    unsigned long padLength = index < 56 ? 56 - index : 120 - index;

    // Padding and the saved bit count go in as one piece: the digest depends
    // only on the bytes, and one call instead of two is felt on short ids.
    unsigned char tail[64 + 8];
    std::memcpy(tail, PADDING, padLength);
    storeLittleEndian(count[0], tail + padLength);
    storeLittleEndian(count[1], tail + padLength + 4);
    update(reinterpret_cast<const char*>(tail), padLength + 8);

    // Rendered a byte at a time from a table of digit pairs into a local
    // array: writing through the string would reload its data pointer after
    // every character, as a char store may alias it.
    char hex[32];
    for (std::size_t i = 0; i < 4; ++i) {
        unsigned char bytes[4];
        storeLittleEndian(state[i], bytes);
        for (std::size_t k = 0; k < 4; ++k) {
            const std::size_t byte = bytes[k];
            std::memcpy(hex + i * 8 + k * 2, kHexPairs.text + 2 * byte, 2);
        }
    }
    return std::string(hex, sizeof hex);
}

void MD5Checksum::transform(const char* block) {
    transformBlocks(state, reinterpret_cast<const unsigned char*>(block), 1);
}

std::string MD5Checksum::getMD5(const char* data, unsigned long length) {
    MD5Checksum md5;
    md5.update(data, length);
    return md5.final();
}

std::string MD5Checksum::getMD5(std::istream& stream) {
    try {
        MD5Checksum md5;
        char chunk[kReadSize];
        std::streamsize got;
        do {
            stream.read(chunk, kReadSize);
            got = stream.gcount();
            md5.update(chunk, static_cast<unsigned long>(got));
        } while (got == kReadSize);
        return md5.final();
    } catch (const std::exception&) {
        throw std::exception();
    }
}

std::string MD5Checksum::getMD5(std::istream& stream, unsigned long limit) {
    try {
        MD5Checksum md5;
        char chunk[kReadSize];
        unsigned long remaining = limit;
        while (remaining > 0) {
            std::streamsize want = remaining < static_cast<unsigned long>(kReadSize)
                                       ? static_cast<std::streamsize>(remaining)
                                       : kReadSize;
            stream.read(chunk, want);
            std::streamsize got = stream.gcount();
            if (got <= 0) break;
            md5.update(chunk, static_cast<unsigned long>(got));
            remaining -= static_cast<unsigned long>(got);
        }
        return md5.final();
    } catch (const std::exception&) {
        throw std::exception();
    }
}

std::string MD5Checksum::getMD5(const std::string& fileName) {
    // The stream form asks for 1024 bytes at a time; behind the default 8 KiB
    // file buffer that is one system call per 8 KiB. A larger buffer, set
    // before the file is opened, cuts the calls and keeps the same reads.
    std::vector<char> fileBuffer(kFileBufferSize);
    std::ifstream file;
    file.rdbuf()->pubsetbuf(fileBuffer.data(), static_cast<std::streamsize>(fileBuffer.size()));
    file.open(fileName.c_str(), std::ios::in | std::ios::binary);
    if (!file.is_open()) {
        throw std::runtime_error("Unable to open file " + fileName + " for reading ");
    }
    return getMD5(file);
}

}  // namespace zefStream
