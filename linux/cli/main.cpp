// hwidtool: lists the machine's unique hardware ids, or prints the Hardware
// ID of a device id given on the command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/runtime.h"
#include "core/help_text.h"
#include "linux/cli/listing.h"

namespace {

void writeOut(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void printUsage(char* programName) { std::printf("%s", getHelpText(programName).c_str()); }

void printListing() {
    const zef::Runtime* runtime = zef::Runtime::instance();
    zef::cli::writeListing(runtime->getUniqueIds(), stdout);
}

bool hasProgramName(int argc, char** argv) {
    return argc >= 1 && argv[0] != nullptr && argv[0][0] != '\0';
}

}  // namespace

// The command depends on the argument count alone: an empty argv[0] (as
// "exec -a ''" gives, or the kernel for an empty argument vector) changes
// only the name the usage text shows.
int main(int argc, char** argv) {
    if (argc == 1) {
        printListing();
    } else if (argc == 3 && std::strcmp(argv[1], "--generate") == 0) {
        writeOut(zef::cli::formatGenerateResult(argv[2]));
    } else {
        // The usage text names the program as it was invoked; without a
        // name it still has to say what to type.
        char fallbackName[] = "hwidtool";
        printUsage(hasProgramName(argc, argv) ? argv[0] : fallbackName);
    }
    return 0;
}
