#ifndef ZEF_WINDOWS_UI_MAIN_WINDOW_WIN32_H_
#define ZEF_WINDOWS_UI_MAIN_WINDOW_WIN32_H_

#include <windows.h>

#include <string>

extern HWND g_hwndMain;
extern HWND g_hwndEdit;
extern std::string g_displayText;

// The window title: product caption, a space and programVersion() in brackets.
std::string mainWindowTitle();

// Opens the main window with a fresh device report and runs the message loop
// until the window is destroyed. Returns the exit status: 0 after Quit or a
// close request, and 0 after reporting that the window could not be made.
int runMainWindow(HINSTANCE instance, int showCommand);

// Window procedure of "myWindowClass": Quit (2), Copy (3), Refresh (4).
LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// A balloon tooltip on `control`, owned by `owner`. Null when `control` or
// `text` is null or the tooltip window cannot be created.
HWND createToolTip(HWND control, HWND owner, HINSTANCE instance, const char* text);

#endif  // ZEF_WINDOWS_UI_MAIN_WINDOW_WIN32_H_
