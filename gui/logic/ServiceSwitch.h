// Switching the program to and from the systemd service, as the settings
// window's "Run As NT Service" asks. The switch runs first and its result
// decides what is saved: a refused switch leaves "RunAsService" as it was
// and the program running.
#pragma once

#include <optional>
#include <string>

#include "app/NtService.h"

namespace quorvex::gui {

class ServiceSwitch {
public:
    virtual ~ServiceSwitch() = default;
    // False when this system has no service manager to hand the server
    // to: the check box is then disabled.
    virtual bool available() const = 0;
    // Writes and enables the unit (the program starts it once it has
    // ended). Nothing on success, else why it failed.
    virtual std::optional<std::string> SwitchOn() = 0;
    // Stops, disables and removes the unit; the program runs on as the
    // windowed server. Nothing on success, else why it failed.
    virtual std::optional<std::string> SwitchOff() = 0;
};

// The switch through app::CNtService and its systemctl runner.
class SystemdServiceSwitch final : public ServiceSwitch {
public:
    SystemdServiceSwitch(app::ServiceOptions options, bool available);
    // The runner it hands on refers to this object.
    SystemdServiceSwitch(const SystemdServiceSwitch&) = delete;
    SystemdServiceSwitch& operator=(const SystemdServiceSwitch&) = delete;
    // This system's: systemd running (or QUORVEX_SYSTEMCTL naming the
    // control program), the unit for QuorvexServer of this program folder.
    static SystemdServiceSwitch ForThisSystem();

    bool available() const override { return available_; }
    std::optional<std::string> SwitchOn() override;
    std::optional<std::string> SwitchOff() override;

private:
    // The reason of a failure: the last command that failed, with what it
    // said, or the unit file that could not be written or removed.
    std::string Reason(const std::string& unit_action) const;

    app::ServiceOptions options_;
    bool available_;
    std::string last_failure_;
};

}  // namespace quorvex::gui
