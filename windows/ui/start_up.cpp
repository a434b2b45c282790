#include "windows/ui/start_up.h"

#include <cstring>

#include "core/runtime.h"

const char kGenerateCaption[] = "Generated Hardware ID";
const char kUsageCaption[] = "Invalid arguments";
const char kFallbackProgramName[] = "hwidwin";

StartAction chooseStartAction(int argc, const char* const* argv) {
    if (argc == 1) {
        return StartAction::kWindow;
    }
    if (argc == 3 && std::strcmp(argv[1], "--generate") == 0) {
        return StartAction::kGenerate;
    }
    return StartAction::kUsage;
}

std::string generateMessageText(const std::string& deviceId) {
    return "\r\n" + deviceId + ": " + zef::Runtime::generateMD5(deviceId);
}
