// hwidtool: lists the machine's unique hardware ids, or prints the Hardware
// ID of a device id given on the command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/runtime.h"
#include "linux/cli/help_text.h"
#include "linux/cli/listing.h"

namespace {

// Writes all of `text`, NUL bytes included: the hashing command echoes its
// argument whole, and printf's "%s" would stop early.
void writeOut(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void printUsage(char* programName) {
    std::printf("%s", getHelpText(programName).c_str());
}

void printListing() {
    const zef::Runtime* runtime = zef::Runtime::instance();
    writeOut(zef::cli::formatListing(runtime->getUniqueIds()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 1 || argv[0] == nullptr) {
        // Started without even a program name: the usage still needs one.
        char fallbackName[] = "hwidtool";
        printUsage(fallbackName);
    } else if (argc == 1) {
        printListing();
    } else if (argc == 3 && std::strcmp(argv[1], "--generate") == 0) {
        writeOut(zef::cli::formatGenerateResult(argv[2]));
    } else {
        printUsage(argv[0]);
    }
    return 0;
}
