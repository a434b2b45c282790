#ifndef ZEF_WINDOWS_UI_CLIPBOARD_WIN32_H_
#define ZEF_WINDOWS_UI_CLIPBOARD_WIN32_H_

#include <string>

// How an attempt to put text on the clipboard ended.
enum class ClipboardResult {
    kCopied,       // the clipboard holds the text as CF_TEXT
    kNoMemory,     // the memory block could not be allocated or locked
    kBusy,         // another window holds the clipboard open
    kNotAccepted,  // the clipboard was emptied but refused the block
};

// Puts `text` and a zero byte on the clipboard as CF_TEXT, shows nothing.
// On every outcome but kCopied the memory block has been released again.
ClipboardResult placeTextOnClipboard(const std::string& text);

// placeTextOnClipboard, with the message box "Error copying string to
// clipboard" under "Error!" when it fails.
void copyTextToClipboard(const std::string& text);

#endif  // ZEF_WINDOWS_UI_CLIPBOARD_WIN32_H_
