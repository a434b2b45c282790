// hwidtool: lists the machine's unique hardware ids, or prints the Hardware
// ID of a device id given on the command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/runtime.h"
#include "core/help_text.h"
#include "linux/cli/listing.h"
#include "linux/cli/output.h"

namespace {

int printUsage(char* programName) { return zef::cli::writeText(stdout, getHelpText(programName)); }

int printListing() {
    const zef::Runtime* runtime = zef::Runtime::instance();
    return zef::cli::writeListing(runtime->getUniqueIds(), stdout);
}

bool hasProgramName(int argc, char** argv) {
    return argc >= 1 && argv[0] != nullptr && argv[0][0] != '\0';
}

// The command depends on the argument count alone: an empty argv[0] (as
// "exec -a ''" gives, or the kernel for an empty argument vector) changes
// only the name the usage text shows. Returns 0, or the errno of the first
// write that failed.
int runCommand(int argc, char** argv) {
    if (argc == 1) return printListing();
    if (argc == 3 && std::strcmp(argv[1], "--generate") == 0) {
        return zef::cli::writeText(stdout, zef::cli::formatGenerateResult(argv[2]));
    }
    // The usage text names the program as it was invoked; without a name
    // it still has to say what to type.
    char fallbackName[] = "hwidtool";
    return printUsage(hasProgramName(argc, argv) ? argv[0] : fallbackName);
}

}  // namespace

int main(int argc, char** argv) { return zef::cli::closeOutput(stdout, runCommand(argc, argv)); }
