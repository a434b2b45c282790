#include "linux/cli/listing.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "core/runtime.h"
#include "core/help_text.h"

namespace {

using zef::UniqueIdStruct_;

std::string listingOf(const std::vector<UniqueIdStruct_>& ids) {
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&data, &size);
    zef::cli::writeListing(ids, out);
    std::fclose(out);
    std::string text(data, size);
    std::free(data);
    return text;
}
namespace cli = zef::cli;

const char kHead[] =
    "\nAvailable unique ids:\n\n"
    "TYPE  Hardware ID                      Comment                                 \n"
    "------------------------------------------------------------------------------\n";

UniqueIdStruct_ record(UniqueIdType type, const std::string& deviceId, const std::string& comment) {
    UniqueIdStruct_ r;
    r.type = type;
    r.deviceId = deviceId;
    r.hardwareId = zef::Runtime::generateMD5(deviceId);
    r.comment = comment;
    return r;
}

TEST(ListingTest, EmptyRegistry) { EXPECT_EQ(std::string(kHead) + "\n\n\n", listingOf({})); }

TEST(ListingTest, RowsPadLikePrintfAndNeverCut) {
    const std::string longComment(45, 'c');
    const std::vector<UniqueIdStruct_> ids = {
        record(zef::NIC, "001A2B3C4D5E", "eth0"),
        record(zef::USB, "4C530001", longComment),
        record(0, "x", "t0"),
        record(zef::HDD, "y", ""),
    };
    const std::string expected = std::string(kHead) + "NIC   " + ids[0].hardwareId + " eth0" +
                                 std::string(36, ' ') + "\n" + "USB   " + ids[1].hardwareId + " " +
                                 longComment + "\n" + "      " + ids[2].hardwareId + " t0" +
                                 std::string(38, ' ') + "\n" + "HDD   " + ids[3].hardwareId + " " +
                                 std::string(40, ' ') + "\n" + "\n\n\n";
    EXPECT_EQ(expected, listingOf(ids));
}

TEST(ListingTest, CommentsCannotCarryControlBytes) {
    static const struct {
        std::string comment;
        std::string shown;
    } kCases[] = {
        {"\x1b[2J\x1b]0;pwned\x07 - X", "?[2J?]0;pwned? - X"},
        {"tab\there\r\n", "tab?here??"},
        {"del\x7f", "del?"},
        {"caf\xc3\xa9 \xe6\x97\xa5\xf0\x9f\x92\xbe", "caf\xc3\xa9 \xe6\x97\xa5\xf0\x9f\x92\xbe"},
        // A hex escape takes every hex digit after it, so "\x9b" "2J" must stay two literals;
        // left unformatted to keep one row per line, as the rows around them are.
        // clang-format off
        {"csi\xc2\x9b" "2J nel\xc2\x85 raw\x9b" "2J", "csi?2J nel? raw?2J"},
        {"lone\x80 \xff end\xe2\x82", "lone? ? end??"},
        {"cut\xe2\x82" "A", "cut??A"},
        // clang-format on
        {"overlong\xc1\x9b \xe0\x82\x9b", "overlong?? ???"},
        {"surrogate\xed\xa0\x80 big\xf4\x90\x80\x80", "surrogate??? big????"},
        {std::string("cut\0here", 8), "cut"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.shown, cli::terminalSafe(c.comment)) << "comment: " << c.comment;
    }
    // The column is filled to 40 counting each '?' as one character.
    const std::string line = cli::formatTableLine("USB", "H", cli::terminalSafe("\x1b\x1b"));
    EXPECT_EQ("USB   H" + std::string(32, ' ') + "??" + std::string(38, ' ') + "\n", line);
}

TEST(ListingTest, GenerateEchoesTheIdAsGiven) {
    EXPECT_EQ("\nabc: 900150983CD24FB0D6963F7D28E17F72\n\n", cli::formatGenerateResult("abc"));
    EXPECT_EQ("\n: D41D8CD98F00B204E9800998ECF8427E\n\n", cli::formatGenerateResult(""));
    EXPECT_EQ("\n \x1b : " + zef::Runtime::generateMD5(" \x1b ") + "\n\n",
              cli::formatGenerateResult(" \x1b "));
}

TEST(HelpTextTest, UsesTheProgramNameAsTyped) {
    EXPECT_EQ(
        "Usage:\n"
        "  ./bin/hwidtool\n"
        "\tShow all available hardware IDs on this machine\n"
        "\n"
        "  ./bin/hwidtool --generate DEVICE_ID\n"
        "\tGenerate a hash for a DEVICE_ID\n"
        "\n",
        getHelpText("./bin/hwidtool"));
}

}  // namespace
