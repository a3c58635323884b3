#include "app/CommandLine.h"

#include <array>
#include <utility>

#include "common/AsciiCase.h"

namespace quorvex::app {

std::string CommandLineText(const std::vector<std::string>& arguments) {
    std::string text;
    for (const std::string& argument : arguments) {
        if (!text.empty()) text += ' ';
        text += argument;
    }
    if (text.size() > kMaxCommandLineLength) text.resize(kMaxCommandLineLength);
    return text;
}

ProgramSwitch ParseCommandLine(std::string_view text) {
    // In the order they are tested.
    static constexpr std::array<std::pair<std::string_view, ProgramSwitch>, 5> kSwitches{{
        {"-uninstall", ProgramSwitch::kUninstall},
        {"-uninstsvr", ProgramSwitch::kUninstSvr},
        {"-install", ProgramSwitch::kInstall},
        {"-update", ProgramSwitch::kUpdate},
        {"-service", ProgramSwitch::kService},
    }};
    for (const auto& [name, which] : kSwitches) {
        if (EqualsNoCase(text, name)) return which;
    }
    return ProgramSwitch::kNone;
}

}  // namespace quorvex::app
