// The program as a systemd service "QuorvexServer.service": "-install"
// writes the unit file, which runs the program with "-service" in its
// program folder, and enables and starts it; uninstalling stops, disables
// and removes it. systemctl is reached through a CommandRunner and the
// unit folder is a parameter, so both can be replaced (tests, packaging).
#pragma once

#include <string>
#include <string_view>

#include "common/CommandRunner.h"

namespace quorvex::app {

inline constexpr std::string_view kServiceName = "QuorvexServer";
inline constexpr std::string_view kServiceUnitName = "QuorvexServer.service";
inline constexpr std::string_view kDefaultUnitFolder = "/etc/systemd/system";

struct ServiceOptions {
    std::string unit_folder;     // where the unit file goes
    CommandRunner runner;        // runs systemctl
    std::string program_path;    // the program file the unit starts
    std::string program_folder;  // its QUORVEX_HOME
};

// The unit folder from QUORVEX_SYSTEMD_UNIT_DIR (default /etc/systemd/system),
// systemctl through the program named by QUORVEX_SYSTEMCTL (default
// "systemctl" on PATH), this program file and its program folder.
ServiceOptions DefaultServiceOptions();

// The unit file's text for a program file and program folder.
std::string FormatServiceUnit(std::string_view program_path, std::string_view program_folder);

// A value quoted for a unit file: in double quotes, with '\\' and '"'
// escaped and '%' doubled (systemd expands no % sequence).
std::string QuoteUnitValue(std::string_view value);

class CNtService {
public:
    explicit CNtService(ServiceOptions options) : options_(std::move(options)) {}

    // Removes an installed service first, writes the unit file, reloads
    // systemd and enables the unit, then starts it (the start's outcome is
    // not looked at for the result). 1 when the service was installed; 0
    // otherwise, with nothing left behind. `started`: whether it runs.
    int Install(bool* started = nullptr);
    // The same without the start: the program that switched itself to the
    // service starts it once it has given up its ports and its mark.
    int InstallUnit();
    // Stops, disables and removes an installed service. 1 also when none
    // was installed (then nothing is changed); 0 when the unit file could
    // not be removed.
    int Uninstall();

    std::string UnitPath() const;

    // Why the last Install or InstallUnit failed: the step, or the command
    // that failed with its answer. Empty after a success.
    const std::string& LastFailure() const { return last_failure_; }

private:
    CommandResult Systemctl(std::initializer_list<std::string_view> arguments) const;
    ServiceOptions options_;
    std::string last_failure_;
};

}  // namespace quorvex::app
