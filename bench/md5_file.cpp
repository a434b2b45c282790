// Prints the MD5 digest of each named file as md5sum does ("<digest>  <name>"),
// through MD5Checksum's file form, so that the two can be timed as whole
// processes on the same file.
#include <cstdio>
#include <exception>
#include <string>

#include "core/md5_checksum.h"

int main(int argc, char** argv) {
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        try {
            const std::string digest = zefStream::MD5Checksum::getMD5(std::string(argv[i]));
            std::printf("%s  %s\n", digest.c_str(), argv[i]);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            status = 1;
        }
    }
    return status;
}
