#include "windows/ui/clipboard_win32.h"

#include <windows.h>

#include <cstring>

ClipboardResult placeTextOnClipboard(const std::string& text) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, text.size() + 1);
    if (block == nullptr) {
        return ClipboardResult::kNoMemory;
    }
    void* bytes = GlobalLock(block);
    if (bytes == nullptr) {
        GlobalFree(block);
        return ClipboardResult::kNoMemory;
    }
    std::memcpy(bytes, text.c_str(), text.size() + 1);
    GlobalUnlock(block);

    if (!OpenClipboard(nullptr)) {
        GlobalFree(block);
        return ClipboardResult::kBusy;
    }
    EmptyClipboard();
    if (SetClipboardData(CF_TEXT, block) == nullptr) {
        CloseClipboard();
        // Only a SetClipboardData that succeeds takes the block over.
        // cppcheck-suppress doubleFree
        GlobalFree(block);
        return ClipboardResult::kNotAccepted;
    }
    // The system owns the block from here on.
    CloseClipboard();
    return ClipboardResult::kCopied;
}

void copyTextToClipboard(const std::string& text) {
    if (placeTextOnClipboard(text) != ClipboardResult::kCopied) {
        MessageBoxA(nullptr, "Error copying string to clipboard", "Error!", MB_OK | MB_ICONWARNING);
    }
}
