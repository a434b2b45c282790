// The digest fed in random pieces must equal the digest of one piece, and
// the stream forms must agree with the byte-range form.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "core/md5_checksum.h"
#include "fuzz/fuzz_check.h"

using zefStream::MD5Checksum;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // The first byte seeds the piece sizes and the second the stream limit,
    // so the cuts move with the message instead of being fixed per run.
    unsigned seed = data[0];
    const unsigned long limitByte = data[1];
    const std::string message(reinterpret_cast<const char*>(data) + 2, size - 2);
    const std::string oneCall =
        MD5Checksum::getMD5(message.data(), static_cast<unsigned long>(message.size()));
    FUZZ_CHECK(
        oneCall.size() == 32 && oneCall.find_first_not_of("0123456789abcdef") == std::string::npos,
        "digest " + oneCall);

    MD5Checksum pieces;
    for (std::size_t pos = 0; pos < message.size();) {
        seed = seed * 1103515245u + 12345u;
        // Mostly short pieces around block edges, sometimes several blocks.
        std::size_t length = (seed >> 16) % ((seed & 0x100) != 0 ? 200 : 70);
        if (length > message.size() - pos) length = message.size() - pos;
        pieces.update(message.data() + pos, static_cast<unsigned long>(length));
        pos += length;
    }
    const std::string incremental = pieces.final();
    FUZZ_CHECK(incremental == oneCall, "pieces of " + fuzzShow(message));

    std::istringstream whole(message);
    FUZZ_CHECK(MD5Checksum::getMD5(whole) == oneCall, "stream of " + fuzzShow(message));

    const unsigned long limit = limitByte * 37;
    const std::string prefix = message.substr(0, limit);
    std::istringstream limited(message);
    FUZZ_CHECK(MD5Checksum::getMD5(limited, limit) ==
                   MD5Checksum::getMD5(prefix.data(), static_cast<unsigned long>(prefix.size())),
               "limit " + std::to_string(limit) + " of " + fuzzShow(message));
    return 0;
}
