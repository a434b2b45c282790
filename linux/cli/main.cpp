// hwidtool: lists the machine's unique hardware ids, or prints the Hardware
// ID of a device id given on the command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/runtime.h"
#include "linux/cli/help_text.h"
#include "linux/cli/listing.h"

namespace {

void writeOut(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void printUsage(char* programName) { std::printf("%s", getHelpText(programName).c_str()); }

void printListing() {
    const zef::Runtime* runtime = zef::Runtime::instance();
    zef::cli::writeListing(runtime->getUniqueIds(), stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 1 || argv[0] == nullptr || argv[0][0] == '\0') {
        // Started without a program name (the kernel turns an empty argument
        // vector into a single empty string): the usage still needs one.
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
