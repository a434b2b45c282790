#include "core/help_text.h"

std::string getHelpText(const std::string& programName) {
    std::string text = "Usage:\n";
    text += "  ";
    text += programName;
    text += "\n";
    text += "\tShow all available hardware IDs on this machine\n\n";
    text += "  ";
    text += programName;
    text += " --generate DEVICE_ID\n";
    text += "\tGenerate a hash for a DEVICE_ID\n\n";
    return text;
}
