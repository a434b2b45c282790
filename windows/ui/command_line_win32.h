#ifndef ZEF_WINDOWS_UI_COMMAND_LINE_WIN32_H_
#define ZEF_WINDOWS_UI_COMMAND_LINE_WIN32_H_

// Splits an ANSI command line by the rules of CommandLineToArgvW (blanks
// separate, double quotes group, backslashes escape only before a quote).
// Returns one LocalAlloc block: `*argc` pointers (no terminating null), then
// the argument texts in the ANSI code page, packed, each zero-terminated;
// release it with a single LocalFree. Returns null, with `*argc` untouched
// and nothing left allocated, when a conversion or allocation fails.
char** commandLineToArgvA(const char* commandLine, int* argc);

#endif  // ZEF_WINDOWS_UI_COMMAND_LINE_WIN32_H_
