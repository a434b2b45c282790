// Entry point of hwidwin.
#include <windows.h>

#include "windows/ui/entry_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    return runHwidwin(instance, showCommand, GetCommandLineA());
}
