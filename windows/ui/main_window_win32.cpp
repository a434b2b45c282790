#include "windows/ui/main_window_win32.h"

#include <commctrl.h>

#include "windows/ui/clipboard_win32.h"
#include "windows/ui/report_text.h"

HWND g_hwndMain = nullptr;
HWND g_hwndEdit = nullptr;
std::string g_displayText;

namespace {

const char kClassName[] = "myWindowClass";
const char kProductCaption[] = "ZEF Hardware ID";
const char kErrorCaption[] = "Error!";

const int kQuitId = 2;
const int kCopyId = 3;
const int kRefreshId = 4;

// No standard style bit: a fixed overlapped window without system menu.
const DWORD kMainStyle = 0x00000200;
const DWORD kEditStyle =
    WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_READONLY | ES_AUTOVSCROLL | ES_MULTILINE;
const DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON;
const DWORD kToolTipStyle = WS_POPUP | TTS_ALWAYSTIP | TTS_BALLOON;

void showError(const char* text) {
    MessageBoxA(nullptr, text, kErrorCaption, MB_OK | MB_ICONWARNING);
}

HWND createButton(HWND parent, const char* text, int x, int width, int id) {
    return CreateWindowExA(WS_EX_CLIENTEDGE, "Button", text, kButtonStyle, x, 307, width, 30,
                           parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr,
                           nullptr);
}

}  // namespace

std::string mainWindowTitle() {
    return std::string(kProductCaption) + " (" + programVersion() + ")";
}

HWND createToolTip(HWND control, HWND owner, HINSTANCE instance, const char* text) {
    if (control == nullptr || text == nullptr) {
        return nullptr;
    }
    HWND tip =
        CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, kToolTipStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, instance, nullptr);
    if (tip == nullptr) {
        return nullptr;
    }
    TTTOOLINFOA tool;
    ZeroMemory(&tool, sizeof(tool));
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = owner;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = const_cast<char*>(text);
    SendMessageA(tip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    return tip;
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_CLOSE:
            DestroyWindow(g_hwndMain);
            return 0;
        case WM_COMMAND:
            // The whole wParam is compared, so only a click (notification
            // code 0) on a button matches; the text area's id 0 never does.
            if (wParam == kQuitId) {
                DestroyWindow(g_hwndMain);
            } else if (wParam == kCopyId) {
                copyTextToClipboard(g_copyText);
            } else if (wParam == kRefreshId) {
                g_displayText = getDeviceInfoText();
                SendMessageA(g_hwndEdit, WM_SETTEXT, 0,
                             reinterpret_cast<LPARAM>(g_displayText.c_str()));
            }
            return DefWindowProcA(window, message, wParam, lParam);
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

int runMainWindow(HINSTANCE instance, int showCommand) {
    WNDCLASSEXA windowClass;
    ZeroMemory(&windowClass, sizeof(windowClass));
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = 0;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hIconSm = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kClassName;
    if (RegisterClassExA(&windowClass) == 0) {
        showError("Window Registration Failed!");
        return 0;
    }

    const std::string title = mainWindowTitle();
    g_hwndMain =
        CreateWindowExA(WS_EX_CLIENTEDGE, kClassName, title.c_str(), kMainStyle, CW_USEDEFAULT,
                        CW_USEDEFAULT, 1024, 380, nullptr, nullptr, instance, nullptr);
    if (g_hwndMain == nullptr) {
        showError("Window Creation Failed!");
        return 0;
    }

    // Scan before any control exists, so nothing half-built is on screen.
    g_displayText = getDeviceInfoText();

    g_hwndEdit = CreateWindowExA(WS_EX_CLIENTEDGE, "Edit", nullptr, kEditStyle, 0, 0, 1003, 304,
                                 g_hwndMain, nullptr, nullptr, nullptr);
    SendMessageA(g_hwndEdit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(g_displayText.c_str()));

    // A fixed-pitch face keeps the table's columns aligned.
    HFONT font = CreateFontA(16, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0,
                             0, 0, "Courier New");
    if (font != nullptr) {
        SendMessageA(g_hwndEdit, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    } else {
        showError("Error creating Courier New font.");
    }

    HWND refresh = createButton(g_hwndMain, "Refresh", 342, 75, kRefreshId);
    HWND copy = createButton(g_hwndMain, "Copy text to Clipboard", 417, 190, kCopyId);
    HWND quit = createButton(g_hwndMain, "Quit", 607, 75, kQuitId);

    createToolTip(quit, g_hwndMain, instance, "Quit the application");
    createToolTip(copy, g_hwndMain, instance, "Paste all the device info text into the clipboard");
    createToolTip(refresh, g_hwndMain, instance, "Re-scan the system for available devices");
    createToolTip(g_hwndEdit, g_hwndMain, instance, "Available unique ids");

    ShowWindow(g_hwndMain, showCommand);
    UpdateWindow(g_hwndMain);

    MSG message;
    ZeroMemory(&message, sizeof(message));
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
