#include "core/md5_checksum.h"

#include <cstring>
#include <exception>
#include <fstream>
#include <stdexcept>

namespace zefStream {

const unsigned char PADDING[64] = {0x80};

namespace {

const std::streamsize kReadSize = 1024;

inline std::uint32_t rotateLeft(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

inline std::uint32_t loadLittleEndian(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) |
           static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 |
           static_cast<std::uint32_t>(p[3]) << 24;
}

inline void storeLittleEndian(std::uint32_t v, unsigned char* p) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// The step functions are arranged for a short critical path: each step waits
// for the previous step's result `b` as late as it can. In round 2 the
// function is split in two disjoint halves, (c & ~d) + (b & d), so the half
// that does not involve `b` is added before `b` is known.
#define ZEF_MD5_F(a, b, c, d, x, s, ac)                 \
    a += (x) + (ac) + ((((c) ^ (d)) & (b)) ^ (d));      \
    a = rotateLeft(a, s) + (b)
#define ZEF_MD5_G(a, b, c, d, x, s, ac)                 \
    a += (x) + (ac) + ((c) & ~(d));                     \
    a += (b) & (d);                                     \
    a = rotateLeft(a, s) + (b)
#define ZEF_MD5_H(a, b, c, d, x, s, ac)                 \
    a += (x) + (ac) + ((b) ^ (c) ^ (d));                \
    a = rotateLeft(a, s) + (b)
#define ZEF_MD5_I(a, b, c, d, x, s, ac)                 \
    a += (x) + (ac) + ((c) ^ ((b) | ~(d)));             \
    a = rotateLeft(a, s) + (b)

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
        for (i = room; i + 63 < length; i += 64) {
            transform(reinterpret_cast<const char*>(in + i));
        }
        index = 0;
    }
    std::memcpy(&buffer[index], in + i, length - i);
}

std::string MD5Checksum::final() {
    unsigned char bits[8];
    storeLittleEndian(count[0], bits);
    storeLittleEndian(count[1], bits + 4);

    unsigned long index = (count[0] >> 3) & 0x3F;
    unsigned long padLength = index < 56 ? 56 - index : 120 - index;
    update(reinterpret_cast<const char*>(PADDING), padLength);
    update(reinterpret_cast<const char*>(bits), 8);

    static const char kHex[] = "0123456789abcdef";
    std::string digest(32, '0');
    for (int word = 0; word < 4; ++word) {
        unsigned char bytes[4];
        storeLittleEndian(state[word], bytes);
        for (int k = 0; k < 4; ++k) {
            digest[word * 8 + k * 2] = kHex[bytes[k] >> 4];
            digest[word * 8 + k * 2 + 1] = kHex[bytes[k] & 0x0F];
        }
    }
    return digest;
}

void MD5Checksum::transform(const char* block) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(block);
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = loadLittleEndian(p + 4 * i);

    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

    ZEF_MD5_F(a, b, c, d, x[0], 7, 0xd76aa478);
    ZEF_MD5_F(d, a, b, c, x[1], 12, 0xe8c7b756);
    ZEF_MD5_F(c, d, a, b, x[2], 17, 0x242070db);
    ZEF_MD5_F(b, c, d, a, x[3], 22, 0xc1bdceee);
    ZEF_MD5_F(a, b, c, d, x[4], 7, 0xf57c0faf);
    ZEF_MD5_F(d, a, b, c, x[5], 12, 0x4787c62a);
    ZEF_MD5_F(c, d, a, b, x[6], 17, 0xa8304613);
    ZEF_MD5_F(b, c, d, a, x[7], 22, 0xfd469501);
    ZEF_MD5_F(a, b, c, d, x[8], 7, 0x698098d8);
    ZEF_MD5_F(d, a, b, c, x[9], 12, 0x8b44f7af);
    ZEF_MD5_F(c, d, a, b, x[10], 17, 0xffff5bb1);
    ZEF_MD5_F(b, c, d, a, x[11], 22, 0x895cd7be);
    ZEF_MD5_F(a, b, c, d, x[12], 7, 0x6b901122);
    ZEF_MD5_F(d, a, b, c, x[13], 12, 0xfd987193);
    ZEF_MD5_F(c, d, a, b, x[14], 17, 0xa679438e);
    ZEF_MD5_F(b, c, d, a, x[15], 22, 0x49b40821);

    ZEF_MD5_G(a, b, c, d, x[1], 5, 0xf61e2562);
    ZEF_MD5_G(d, a, b, c, x[6], 9, 0xc040b340);
    ZEF_MD5_G(c, d, a, b, x[11], 14, 0x265e5a51);
    ZEF_MD5_G(b, c, d, a, x[0], 20, 0xe9b6c7aa);
    ZEF_MD5_G(a, b, c, d, x[5], 5, 0xd62f105d);
    ZEF_MD5_G(d, a, b, c, x[10], 9, 0x02441453);
    ZEF_MD5_G(c, d, a, b, x[15], 14, 0xd8a1e681);
    ZEF_MD5_G(b, c, d, a, x[4], 20, 0xe7d3fbc8);
    ZEF_MD5_G(a, b, c, d, x[9], 5, 0x21e1cde6);
    ZEF_MD5_G(d, a, b, c, x[14], 9, 0xc33707d6);
    ZEF_MD5_G(c, d, a, b, x[3], 14, 0xf4d50d87);
    ZEF_MD5_G(b, c, d, a, x[8], 20, 0x455a14ed);
    ZEF_MD5_G(a, b, c, d, x[13], 5, 0xa9e3e905);
    ZEF_MD5_G(d, a, b, c, x[2], 9, 0xfcefa3f8);
    ZEF_MD5_G(c, d, a, b, x[7], 14, 0x676f02d9);
    ZEF_MD5_G(b, c, d, a, x[12], 20, 0x8d2a4c8a);

    ZEF_MD5_H(a, b, c, d, x[5], 4, 0xfffa3942);
    ZEF_MD5_H(d, a, b, c, x[8], 11, 0x8771f681);
    ZEF_MD5_H(c, d, a, b, x[11], 16, 0x6d9d6122);
    ZEF_MD5_H(b, c, d, a, x[14], 23, 0xfde5380c);
    ZEF_MD5_H(a, b, c, d, x[1], 4, 0xa4beea44);
    ZEF_MD5_H(d, a, b, c, x[4], 11, 0x4bdecfa9);
    ZEF_MD5_H(c, d, a, b, x[7], 16, 0xf6bb4b60);
    ZEF_MD5_H(b, c, d, a, x[10], 23, 0xbebfbc70);
    ZEF_MD5_H(a, b, c, d, x[13], 4, 0x289b7ec6);
    ZEF_MD5_H(d, a, b, c, x[0], 11, 0xeaa127fa);
    ZEF_MD5_H(c, d, a, b, x[3], 16, 0xd4ef3085);
    ZEF_MD5_H(b, c, d, a, x[6], 23, 0x04881d05);
    ZEF_MD5_H(a, b, c, d, x[9], 4, 0xd9d4d039);
    ZEF_MD5_H(d, a, b, c, x[12], 11, 0xe6db99e5);
    ZEF_MD5_H(c, d, a, b, x[15], 16, 0x1fa27cf8);
    ZEF_MD5_H(b, c, d, a, x[2], 23, 0xc4ac5665);

    ZEF_MD5_I(a, b, c, d, x[0], 6, 0xf4292244);
    ZEF_MD5_I(d, a, b, c, x[7], 10, 0x432aff97);
    ZEF_MD5_I(c, d, a, b, x[14], 15, 0xab9423a7);
    ZEF_MD5_I(b, c, d, a, x[5], 21, 0xfc93a039);
    ZEF_MD5_I(a, b, c, d, x[12], 6, 0x655b59c3);
    ZEF_MD5_I(d, a, b, c, x[3], 10, 0x8f0ccc92);
    ZEF_MD5_I(c, d, a, b, x[10], 15, 0xffeff47d);
    ZEF_MD5_I(b, c, d, a, x[1], 21, 0x85845dd1);
    ZEF_MD5_I(a, b, c, d, x[8], 6, 0x6fa87e4f);
    ZEF_MD5_I(d, a, b, c, x[15], 10, 0xfe2ce6e0);
    ZEF_MD5_I(c, d, a, b, x[6], 15, 0xa3014314);
    ZEF_MD5_I(b, c, d, a, x[13], 21, 0x4e0811a1);
    ZEF_MD5_I(a, b, c, d, x[4], 6, 0xf7537e82);
    ZEF_MD5_I(d, a, b, c, x[11], 10, 0xbd3af235);
    ZEF_MD5_I(c, d, a, b, x[2], 15, 0x2ad7d2bb);
    ZEF_MD5_I(b, c, d, a, x[9], 21, 0xeb86d391);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
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
    std::ifstream file(fileName.c_str(), std::ios::in | std::ios::binary);
    if (!file.is_open()) {
        throw std::runtime_error("Unable to open file " + fileName + " for reading ");
    }
    return getMD5(file);
}

}  // namespace zefStream
