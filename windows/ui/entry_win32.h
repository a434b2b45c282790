#ifndef ZEF_WINDOWS_UI_ENTRY_WIN32_H_
#define ZEF_WINDOWS_UI_ENTRY_WIN32_H_

#include <windows.h>

// The whole program for one command line: splits it, then opens the window
// (no arguments), shows "\r\nID: <Hardware ID>" ("--generate ID", status 0)
// or shows the usage text under "Invalid arguments" (status 1). A line that
// cannot be split gets the usage text for "hwidwin" and status 1.
int runHwidwin(HINSTANCE instance, int showCommand, const char* commandLine);

#endif  // ZEF_WINDOWS_UI_ENTRY_WIN32_H_
