// Where the window and its logic get the settings in force. An action
// takes one snapshot when it starts and keeps it to its end; a reload (the
// settings window's OK, a set-up, "-update") puts a new record in force
// for the actions that start later. The program passes the process's
// published record; a test may pass a record of its own.
#pragma once

#include <memory>

#include "common/ServerSettings.h"

namespace quorvex::gui {

using SettingsSnapshot = std::shared_ptr<const CServerSettings>;

class SettingsSource {
public:
    virtual ~SettingsSource() = default;
    // The record in force now.
    virtual SettingsSnapshot Current() const = 0;
    // Reads config.ini and EmailFilter.ini anew, puts the record in force
    // and returns it.
    virtual SettingsSnapshot Reload() = 0;
};

// The record the process publishes (common/ServerSettings), which the
// servers read as well.
class PublishedSettings final : public SettingsSource {
public:
    SettingsSnapshot Current() const override;
    SettingsSnapshot Reload() override;
};

}  // namespace quorvex::gui
