// A DLL planted beside hwidwin.exe under a system DLL's name (compiled once
// per name, see CMakeLists.txt): when loaded, it leaves "<its path>.loaded"
// beside itself. It exports what a program linked against the real DLL
// imports from it, so that such a program starts and the loading shows.
#include <windows.h>

#ifdef PLANTED_IPHLPAPI
extern "C" __declspec(dllexport) ULONG WINAPI GetAdaptersInfo(void*, PULONG) {
    return ERROR_NOT_SUPPORTED;
}
#endif

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH + 8] = {};
        if (GetModuleFileNameA(instance, path, MAX_PATH) < MAX_PATH) {
            lstrcatA(path, ".loaded");
            CloseHandle(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        }
    }
    return TRUE;
}
