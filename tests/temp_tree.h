#ifndef ZEF_TESTS_TEMP_TREE_H_
#define ZEF_TESTS_TEMP_TREE_H_

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>
#include <string>

// A temporary directory tree, removed with everything in it when the object
// goes away. Paths given to its methods are relative to its root.
class TempTree {
public:
    TempTree() {
        char pattern[] = "/tmp/zef-test-XXXXXX";
        if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
    }
    ~TempTree() {
        const std::string command = "rm -rf '" + root_ + "'";
        if (std::system(command.c_str()) != 0) {
            // Leaving a temp folder behind is not worth failing a test for.
        }
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::string& root() const { return root_; }
    std::string path(const std::string& relative) const { return root_ + "/" + relative; }

    // Creates the directory and all its parents.
    void makeDir(const std::string& relative) const {
        std::string full = root_;
        std::size_t start = 0;
        while (start <= relative.size()) {
            std::size_t slash = relative.find('/', start);
            if (slash == std::string::npos) slash = relative.size();
            full += "/" + relative.substr(start, slash - start);
            mkdir(full.c_str(), 0755);
            start = slash + 1;
        }
    }

    // Writes `content` byte for byte, creating parent directories.
    void writeFile(const std::string& relative, const std::string& content) const {
        const std::size_t slash = relative.rfind('/');
        if (slash != std::string::npos) makeDir(relative.substr(0, slash));
        std::ofstream out(path(relative).c_str(), std::ios::binary);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
    }

    // Creates the symlink `relative` pointing at `target` (taken as written).
    void symlinkTo(const std::string& target, const std::string& relative) const {
        const std::size_t slash = relative.rfind('/');
        if (slash != std::string::npos) makeDir(relative.substr(0, slash));
        if (symlink(target.c_str(), path(relative).c_str()) != 0) {
            throw std::runtime_error("symlink failed: " + relative);
        }
    }

private:
    std::string root_;
};

#endif  // ZEF_TESTS_TEMP_TREE_H_
