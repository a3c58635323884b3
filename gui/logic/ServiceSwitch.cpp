#include "gui/logic/ServiceSwitch.h"

#include <cstdlib>

#include "app/FirstSetup.h"
#include "common/Paths.h"

namespace quorvex::gui {

namespace {

std::string JoinArguments(const std::vector<std::string>& argv) {
    std::string text;
    for (const std::string& argument : argv) text += (text.empty() ? "" : " ") + argument;
    return text;
}

}  // namespace

SystemdServiceSwitch::SystemdServiceSwitch(app::ServiceOptions options, bool available)
    : options_(std::move(options)), available_(available) {
    // Every command goes through the given runner; a failing one is kept
    // so that the message can say what went wrong.
    CommandRunner runner = std::move(options_.runner);
    options_.runner = [this, runner](const std::vector<std::string>& argv) {
        CommandResult result = runner ? runner(argv) : CommandResult{};
        if (result.exit_status != 0) {
            std::string output = result.output;
            while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
            last_failure_ = JoinArguments(argv) + (output.empty() ? std::string() : ": " + output);
        }
        return result;
    };
}

SystemdServiceSwitch SystemdServiceSwitch::ForThisSystem() {
    app::ServiceOptions options = app::DefaultServiceOptions();
    // The service runs the headless program, never the windowed one.
    options.program_path = app::ProgramLauncherPath();
    const char* systemctl = std::getenv("QUORVEX_SYSTEMCTL");
    const bool available = (systemctl != nullptr && *systemctl != '\0') ||
                           (FolderExists("/run/systemd/system") && !FindProgram("systemctl").empty());
    return SystemdServiceSwitch(std::move(options), available);
}

std::string SystemdServiceSwitch::Reason(const std::string& unit_action) const {
    if (!last_failure_.empty()) return last_failure_;
    return unit_action + " " + JoinPath(options_.unit_folder, app::kServiceUnitName);
}

std::optional<std::string> SystemdServiceSwitch::SwitchOn() {
    last_failure_.clear();
    if (app::CNtService(options_).InstallUnit()) return std::nullopt;
    return Reason("cannot write");
}

std::optional<std::string> SystemdServiceSwitch::SwitchOff() {
    last_failure_.clear();
    if (app::CNtService(options_).Uninstall()) return std::nullopt;
    return Reason("cannot remove");
}

}  // namespace quorvex::gui
