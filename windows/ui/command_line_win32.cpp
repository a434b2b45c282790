#include "windows/ui/command_line_win32.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdlib>

char** commandLineToArgvA(const char* commandLine, int* argc) {
    // The system splits only UTF-16 text, so the line makes a round trip.
    const int wideLength =
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, commandLine, -1, nullptr, 0);
    if (wideLength == 0) {
        return nullptr;
    }
    wchar_t* wide = static_cast<wchar_t*>(std::malloc(sizeof(wchar_t) * wideLength));
    if (wide == nullptr) {
        return nullptr;
    }
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, commandLine, -1, wide, wideLength) == 0) {
        std::free(wide);
        return nullptr;
    }
    int count = 0;
    LPWSTR* wideArgv = CommandLineToArgvW(wide, &count);
    std::free(wide);
    if (wideArgv == nullptr) {
        return nullptr;
    }

    SIZE_T size = sizeof(char*) * count;
    for (int i = 0; i < count; ++i) {
        const int length =
            WideCharToMultiByte(CP_ACP, 0, wideArgv[i], -1, nullptr, 0, nullptr, nullptr);
        if (length == 0) {
            LocalFree(wideArgv);
            return nullptr;
        }
        size += length;
    }
    char** block = static_cast<char**>(LocalAlloc(LMEM_FIXED, size));
    if (block == nullptr) {
        LocalFree(wideArgv);
        return nullptr;
    }

    char* text = reinterpret_cast<char*>(block + count);
    char* const end = reinterpret_cast<char*>(block) + size;
    for (int i = 0; i < count; ++i) {
        const int length = WideCharToMultiByte(CP_ACP, 0, wideArgv[i], -1, text,
                                               static_cast<int>(end - text), nullptr, nullptr);
        if (length == 0) {
            LocalFree(block);
            LocalFree(wideArgv);
            return nullptr;
        }
        block[i] = text;
        text += length;
    }
    LocalFree(wideArgv);
    *argc = count;
    return block;
}
