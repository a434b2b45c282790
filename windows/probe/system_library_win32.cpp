#include "windows/probe/system_library_win32.h"

#include <string>

namespace zef {

namespace {

// Looked up at run time: Windows 7 has it only with KB2533623, and a
// program that imported it would not start there at all.
decltype(&SetDefaultDllDirectories) defaultDllDirectoriesCall() {
    return ZEF_SYSTEM_FUNCTION(GetModuleHandleA("kernel32.dll"), SetDefaultDllDirectories);
}

// Without LOAD_LIBRARY_SEARCH_SYSTEM32 only a full path keeps the program's
// folder out of the search; the altered search path looks for the DLL's own
// dependencies beside it, in the system folder, too.
HMODULE loadByFullPath(const char* name) {
    char folder[MAX_PATH];
    const UINT length = GetSystemDirectoryA(folder, sizeof(folder));
    if (length == 0 || length >= sizeof(folder)) {
        return nullptr;
    }
    const std::string path = std::string(folder, length) + "\\" + name;
    return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

void restrictDllSearchToSystemFolder() {
    if (const auto setDefaultDllDirectories = defaultDllDirectoriesCall()) {
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
}

HMODULE loadSystemLibrary(const char* name) {
    // The flag is understood exactly where SetDefaultDllDirectories exists.
    if (defaultDllDirectoriesCall() != nullptr) {
        return LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    return loadByFullPath(name);
}

}  // namespace zef
