#ifndef ZEF_WINDOWS_UI_START_UP_H_
#define ZEF_WINDOWS_UI_START_UP_H_

#include <string>

// What the program does with its split command line.
enum class StartAction {
    kWindow,    // no arguments: the window with the device list
    kGenerate,  // "--generate DEVICE_ID": the Hardware ID in a message box
    kUsage,     // anything else: the usage text, exit status 1
};

// Chooses from the argument count (program name included) and the
// arguments; "--generate" is compared whole and case-sensitively.
StartAction chooseStartAction(int argc, const char* const* argv);

// The hashing command's message: "\r\n", the device id, ": " and its
// Hardware ID, with no line end after it.
std::string generateMessageText(const std::string& deviceId);

// The caption of that message box.
extern const char kGenerateCaption[];

// The caption of the usage message box, and the program name it shows when
// the command line cannot be split at all.
extern const char kUsageCaption[];
extern const char kFallbackProgramName[];

#endif  // ZEF_WINDOWS_UI_START_UP_H_
