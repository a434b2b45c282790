#include "core/md5_checksum.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <typeinfo>
#include <string>

using zefStream::MD5Checksum;

namespace {

std::string digestOf(const std::string& data) {
    return MD5Checksum::getMD5(data.data(), static_cast<unsigned long>(data.size()));
}

std::string digestInPieces(const std::string& data, std::size_t piece) {
    MD5Checksum md5;
    for (std::size_t at = 0; at < data.size(); at += piece) {
        const std::size_t n = std::min(piece, data.size() - at);
        md5.update(data.data() + at, static_cast<unsigned long>(n));
    }
    return md5.final();
}

// Deterministic bytes covering every value, so no piece is all zero.
std::string patternBytes(std::size_t n) {
    std::string data(n, '\0');
    for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<char>((i * 131 + 7) & 0xFF);
    return data;
}

TEST(MD5ChecksumTest, Rfc1321TestSuite) {
    static const struct {
        const char* message;
        const char* digest;
    } kCases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"1234567890123456789012345678901234567890123456789012345678901234567890"
         "1234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.digest, digestOf(c.message)) << "message: \"" << c.message << "\"";
    }
}

TEST(MD5ChecksumTest, PaddingBoundaries) {
    // Digests of n bytes of 'a', as every MD5 implementation gives them.
    static const struct {
        std::size_t length;
        const char* digest;
    } kCases[] = {
        {55, "ef1772b6dff9a122358552954ad0df65"},  {56, "3b0c8ac703f828b04c6c197006d17218"},
        {63, "b06521f39153d618550606be297466d5"},  {64, "014842d480b571495a4a0363793f7367"},
        {65, "c743a45e0d2e6a95cb859adae0248435"},  {119, "8a7bd0732ed6a28ce75f6dabc90e1613"},
        {120, "5f61c0ccad4cac44c75ff505e1f1e537"}, {128, "e510683b3f5ffe4093d021808bc6ff70"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.digest, digestOf(std::string(c.length, 'a'))) << "length " << c.length;
    }
}

TEST(MD5ChecksumTest, PiecesGiveTheSameDigestAsOnePiece) {
    for (std::size_t length : {0u, 1u, 63u, 64u, 65u, 127u, 128u, 1000u, 4099u}) {
        const std::string data = patternBytes(length);
        const std::string whole = digestOf(data);
        for (std::size_t piece : {1u, 63u, 64u, 65u}) {
            EXPECT_EQ(whole, digestInPieces(data, piece))
                << "length " << length << " in pieces of " << piece;
        }
    }
}

TEST(MD5ChecksumTest, EveryByteIsTwoDigits) {
    // The digest of "168" starts with a zero byte.
    EXPECT_EQ("006f52e9102a8d3be2fe5614f42ba989", digestOf("168"));
}

TEST(MD5ChecksumTest, NulAndHighBytesAreHashedLikeAnyOther) {
    EXPECT_EQ("93b885adfe0da089cdf634904fd59f71", digestOf(std::string(1, '\0')));
    EXPECT_EQ("00594fd4f42ba43fc1ca0427a0576295", digestOf(std::string(1, '\xff')));
    EXPECT_NE(digestOf(std::string("ab\0c", 4)), digestOf(std::string("ab\0d", 4)));
    EXPECT_NE(digestOf("ab"), digestOf(std::string("ab\0", 3)));
}

TEST(MD5ChecksumStreamTest, ReadsToTheEndInKilobyteReads) {
    for (std::size_t length : {0u, 1u, 1023u, 1024u, 1025u, 5000u}) {
        const std::string data = patternBytes(length);
        std::istringstream stream(data);
        EXPECT_EQ(digestOf(data), MD5Checksum::getMD5(stream)) << "length " << length;
    }
}

TEST(MD5ChecksumStreamTest, FailedStreamGivesTheEmptyDigest) {
    std::istringstream stream("data");
    stream.setstate(std::ios::failbit);
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", MD5Checksum::getMD5(stream));
}

TEST(MD5ChecksumStreamTest, LimitedFormStopsAtTheLimitOrTheEnd) {
    const std::string data = patternBytes(3000);
    static const struct {
        unsigned long limit;
        std::size_t hashed;
    } kCases[] = {{0, 0},       {1, 1},       {1024, 1024},  {1025, 1025},
                  {2999, 2999}, {3000, 3000}, {100000, 3000}};
    for (const auto& c : kCases) {
        std::istringstream stream(data);
        EXPECT_EQ(digestOf(data.substr(0, c.hashed)), MD5Checksum::getMD5(stream, c.limit))
            << "limit " << c.limit;
    }
}

TEST(MD5ChecksumStreamTest, StandardExceptionsBecomePlainExceptions) {
    std::istringstream stream("data");
    stream.exceptions(std::ios::eofbit);
    try {
        MD5Checksum::getMD5(stream);
        FAIL() << "no exception";
    } catch (const std::ios_base::failure&) {
        FAIL() << "the stream's own exception passed through";
    } catch (const std::exception& e) {
        EXPECT_EQ(typeid(std::exception), typeid(e));
    }
}

TEST(MD5ChecksumFileTest, HashesTheWholeFileInBinary) {
    const std::string path = ::testing::TempDir() + "md5_file_test.bin";
    const std::string data = patternBytes(2500) + std::string("\r\n\0\x1a", 4) + "end";
    {
        std::ofstream out(path, std::ios::binary);
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
    }
    EXPECT_EQ(digestOf(data), MD5Checksum::getMD5(path));
    std::remove(path.c_str());
}

TEST(MD5ChecksumFileTest, MissingFileThrowsWithItsName) {
    try {
        MD5Checksum::getMD5(std::string("/nonexistent/dir/file.bin"));
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("Unable to open file /nonexistent/dir/file.bin for reading ", e.what());
    }
}

}  // namespace
