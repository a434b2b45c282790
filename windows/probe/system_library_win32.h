#ifndef ZEF_WINDOWS_PROBE_SYSTEM_LIBRARY_WIN32_H_
#define ZEF_WINDOWS_PROBE_SYSTEM_LIBRARY_WIN32_H_

#include <windows.h>

// Where hwidwin's DLLs come from. Windows looks for a DLL that is not a
// KnownDLL in the program's own folder first: run from a downloads folder,
// the program would load any iphlpapi.dll, comctl32.dll or uxtheme.dll
// planted there by a web page. So the program imports only KnownDLLs
// (kernel32, user32, gdi32, shell32, msvcrt), restricts every later load to
// the system folder, and loads the other system DLLs it needs by name from
// there.

namespace zef {

// The first act of WinMain, before anything may load a DLL: every later
// load, the system's own ones too (the tooltip class loads the common
// controls), searches the system folder only. Where the system lacks
// SetDefaultDllDirectories (Windows 7 without KB2533623) this does nothing,
// and loadSystemLibrary then names full paths.
void restrictDllSearchToSystemFolder();

// The system DLL `name` (such as "iphlpapi.dll") from the system folder and
// never from anywhere else, or nullptr when it cannot be loaded. The caller
// frees it with FreeLibrary.
HMODULE loadSystemLibrary(const char* name);

// The address of `name` in `module` as a `Function`, or nullptr when the
// module is nullptr or does not export the name.
template <typename Function>
Function systemFunction(HMODULE module, const char* name) {
    FARPROC address = module != nullptr ? GetProcAddress(module, name) : nullptr;
    // Through void (*)(), the one function type any other converts from
    // without a cast-function-type warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

}  // namespace zef

// The function `name` of `module`, typed by its declaration in the platform
// headers: a mistyped stand-in (a wrong calling convention in 32-bit builds)
// fails to compile.
#define ZEF_SYSTEM_FUNCTION(module, name) ::zef::systemFunction<decltype(&name)>(module, #name)

#endif  // ZEF_WINDOWS_PROBE_SYSTEM_LIBRARY_WIN32_H_
