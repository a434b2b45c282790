// Entry point of hwidwin.
#include <windows.h>

#include "windows/probe/system_library_win32.h"
#include "windows/ui/entry_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    // Before anything may load a DLL: none is to come from the program's
    // folder (see system_library_win32.h).
    zef::restrictDllSearchToSystemFolder();
    return runHwidwin(instance, showCommand, GetCommandLineA());
}
