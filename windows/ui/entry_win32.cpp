#include "windows/ui/entry_win32.h"

#include <string>

#include "core/help_text.h"
#include "windows/ui/command_line_win32.h"
#include "windows/ui/main_window_win32.h"
#include "windows/ui/start_up.h"

int runHwidwin(HINSTANCE instance, int showCommand, const char* commandLine) {
    int argc = 0;
    char** argv = commandLineToArgvA(commandLine, &argc);
    if (argv == nullptr) {
        // A line that cannot be split is not understood: say how to call us.
        MessageBoxA(nullptr, getHelpText(kFallbackProgramName).c_str(), kUsageCaption, MB_OK);
        return 1;
    }
    const std::string programName = argv[0];

    switch (chooseStartAction(argc, argv)) {
        case StartAction::kWindow:
            LocalFree(argv);
            return runMainWindow(instance, showCommand);
        case StartAction::kGenerate: {
            const std::string message = generateMessageText(argv[2]);
            MessageBoxA(nullptr, message.c_str(), kGenerateCaption, MB_OK);
            LocalFree(argv);
            return 0;
        }
        case StartAction::kUsage:
        default:
            MessageBoxA(nullptr, getHelpText(programName).c_str(), kUsageCaption, MB_OK);
            LocalFree(argv);
            return 1;
    }
}
