// The program's command-line switches. The whole argument text is compared
// with each switch, ignoring case: "-install" followed by anything else is
// an ordinary start.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvex::app {

enum class ProgramSwitch {
    kNone,       // ordinary start
    kUninstall,  // "-uninstall"
    kUninstSvr,  // "-uninstsvr": remove the service, then start normally
    kInstall,    // "-install"
    kUpdate,     // "-update": the running instance reloads its settings
    kService,    // "-service": run under the service manager
};

// The argument text is cut to this many characters before it is compared.
inline constexpr std::size_t kMaxCommandLineLength = 4096;

// The arguments after the program name joined by single blanks.
std::string CommandLineText(const std::vector<std::string>& arguments);

ProgramSwitch ParseCommandLine(std::string_view text);

}  // namespace quorvex::app
