#include "linux/probe/quickread.h"

#include <fstream>

std::string zef_quickread(const std::string& path) {
    try {
        std::ifstream file(path.c_str());
        char line[1024] = {0};
        // getline fails on an unreadable or empty file and on a line that
        // does not fit; a cut-off line would be a wrong id, so it reads as "".
        file.getline(line, sizeof line);
        if (file.fail() || file.bad()) return std::string();
        return std::string(line);
    } catch (...) {
        return std::string();
    }
}
