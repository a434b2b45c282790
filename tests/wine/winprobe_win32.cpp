// winprobe: looks at and drives another program's windows under Wine.
//
//   winprobe wait TITLE SECONDS        exit 0 once a visible window has TITLE
//   winprobe gone TITLE SECONDS        exit 0 once no window has TITLE
//   winprobe text TITLE                the text of its Edit child, raw bytes
//   winprobe controls TITLE            one line per child: class id x y w h
//                                      style exstyle text (client coordinates)
//   winprobe window TITLE              style exstyle and outer width height
//   winprobe click TITLE ID            clicks the child button with that id
//   winprobe close TITLE               asks the window to close (WM_CLOSE)
//   winprobe messagebox CAPTION SECS   waits for a message box, prints its
//                                      text raw, then presses its OK button
//   winprobe clipboard                 the clipboard's CF_TEXT bytes, raw
//   winprobe hold-clipboard SECONDS    keeps the clipboard open that long
//   winprobe acp                       the ANSI code page number
//   winprobe resources EXE             "version a.b.c.d" and the embedded
//                                      manifest of another program
//
// Exit status 0 on success, 1 when the window did not turn up, 2 on misuse.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct VisibleSearch {
    const char* title;
    HWND found;
};

BOOL CALLBACK matchVisible(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<VisibleSearch*>(param);
    char title[256] = {0};
    GetWindowTextA(window, title, sizeof title);
    if (IsWindowVisible(window) && lstrcmpA(title, search->title) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// Every top-level window is looked at, not only the first of that title: a
// message box of the previous run may still exist, hidden, while it closes.
HWND findVisible(const char* title) {
    VisibleSearch search = {title, nullptr};
    EnumWindows(matchVisible, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND waitFor(const char* title, double seconds) {
    const DWORD deadline = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    for (;;) {
        if (HWND window = findVisible(title)) return window;
        if (static_cast<LONG>(GetTickCount() - deadline) >= 0) return nullptr;
        Sleep(100);
    }
}

std::string textOf(HWND window) {
    DWORD_PTR length = 0;
    SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length);
    std::vector<char> buffer(length + 1, '\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                        SMTO_ABORTIFHUNG, 5000, &copied);
    return std::string(buffer.data(), copied);
}

BOOL CALLBACK collectChild(HWND child, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
    return TRUE;
}

std::vector<HWND> children(HWND parent) {
    std::vector<HWND> found;
    EnumChildWindows(parent, collectChild, reinterpret_cast<LPARAM>(&found));
    return found;
}

std::string classOf(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

// Tooltips are top-level popups owned by the window, not its children.
BOOL CALLBACK printOwnedToolTip(HWND top, LPARAM owner) {
    if (GetWindow(top, GW_OWNER) == reinterpret_cast<HWND>(owner) &&
        lstrcmpiA(classOf(top).c_str(), "tooltips_class32") == 0) {
        std::printf("tooltip %08lx\n", GetWindowLongA(top, GWL_STYLE));
    }
    return TRUE;
}

void writeRaw(const std::string& bytes) {
    fwrite(bytes.data(), 1, bytes.size(), stdout);
    fflush(stdout);
}

int usage() {
    std::fprintf(stderr, "usage: winprobe COMMAND ARGS (see the source)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // Texts are compared byte for byte: no CR is to be added to any LF.
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 2) return usage();
    const std::string command = argv[1];

    if (command == "wait" && argc == 4) {
        return waitFor(argv[2], std::atof(argv[3])) ? 0 : 1;
    }
    if (command == "gone" && argc == 4) {
        const DWORD deadline = GetTickCount() + static_cast<DWORD>(std::atof(argv[3]) * 1000);
        while (FindWindowA(nullptr, argv[2]) != nullptr) {
            if (static_cast<LONG>(GetTickCount() - deadline) >= 0) return 1;
            Sleep(100);
        }
        return 0;
    }
    if (command == "resources" && argc == 3) {
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(argv[2], &ignored);
        std::vector<char> info(size + 1);
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        if (size == 0 || !GetFileVersionInfoA(argv[2], 0, size, info.data()) ||
            !VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length)) {
            return 1;
        }
        std::printf("version %u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS),
                    LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                    LOWORD(fixed->dwFileVersionLS));
        HMODULE module = LoadLibraryExA(argv[2], nullptr, LOAD_LIBRARY_AS_DATAFILE);
        HRSRC manifest = module != nullptr
                             ? FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24))
                             : nullptr;
        if (manifest == nullptr) return 1;
        const char* text = static_cast<const char*>(LockResource(LoadResource(module, manifest)));
        fwrite(text, 1, SizeofResource(module, manifest), stdout);
        return 0;
    }
    if (command == "acp" && argc == 2) {
        std::printf("%u\n", GetACP());
        return 0;
    }
    if (command == "hold-clipboard" && argc == 3) {
        // Held by a window, as another program holds it.
        HWND holder = CreateWindowExA(0, "STATIC", "winprobe", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      nullptr, nullptr);
        if (!OpenClipboard(holder)) return 1;
        std::printf("holding\n");
        std::fflush(stdout);
        Sleep(static_cast<DWORD>(std::atof(argv[2]) * 1000));
        CloseClipboard();
        return 0;
    }
    if (command == "clipboard" && argc == 2) {
        if (!OpenClipboard(nullptr)) return 1;
        HANDLE data = GetClipboardData(CF_TEXT);
        std::string text;
        if (data != nullptr) {
            if (const char* bytes = static_cast<const char*>(GlobalLock(data))) {
                text = bytes;
                GlobalUnlock(data);
            }
        }
        CloseClipboard();
        writeRaw(text);
        return data != nullptr ? 0 : 1;
    }
    if (command == "messagebox" && argc == 4) {
        HWND box = waitFor(argv[2], std::atof(argv[3]));
        if (box == nullptr) return 1;
        HWND label = GetDlgItem(box, 0xFFFF);
        writeRaw(label != nullptr ? textOf(label) : std::string());
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        return 0;
    }
    if (argc < 3) return usage();
    HWND window = waitFor(argv[2], 10);
    if (window == nullptr) return 1;

    if (command == "text" && argc == 3) {
        for (HWND child : children(window)) {
            if (lstrcmpiA(classOf(child).c_str(), "Edit") == 0) {
                writeRaw(textOf(child));
                return 0;
            }
        }
        return 1;
    }
    if (command == "window" && argc == 3) {
        RECT rect;
        GetWindowRect(window, &rect);
        std::printf("%08lx %08lx %ld %ld\n", GetWindowLongA(window, GWL_STYLE),
                    GetWindowLongA(window, GWL_EXSTYLE), rect.right - rect.left,
                    rect.bottom - rect.top);
        return 0;
    }
    if (command == "controls" && argc == 3) {
        for (HWND child : children(window)) {
            RECT rect;
            GetWindowRect(child, &rect);
            MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
            const std::string cls = classOf(child);
            const std::string text =
                lstrcmpiA(cls.c_str(), "Edit") == 0 ? std::string("-") : textOf(child);
            std::printf("%s %d %ld %ld %ld %ld %08lx %08lx %s\n", cls.c_str(), GetDlgCtrlID(child),
                        rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                        GetWindowLongA(child, GWL_STYLE), GetWindowLongA(child, GWL_EXSTYLE),
                        text.c_str());
        }
        EnumWindows(printOwnedToolTip, reinterpret_cast<LPARAM>(window));
        return 0;
    }
    if (command == "click" && argc == 4) {
        HWND button = GetDlgItem(window, std::atoi(argv[3]));
        if (button == nullptr) return 1;
        PostMessageA(button, BM_CLICK, 0, 0);
        return 0;
    }
    if (command == "close" && argc == 3) {
        PostMessageA(window, WM_CLOSE, 0, 0);
        return 0;
    }
    return usage();
}
