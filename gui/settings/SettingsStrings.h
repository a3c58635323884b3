// The English texts of the settings window, its advanced sheet and their
// small dialogs that the code looks up itself (the widget texts are found
// by walking the widgets). The English text is the translation key; the
// number after a text is its number in the program's string table.
#pragma once

#include <string_view>

#include "gui/support/GuiStrings.h"

namespace quorvex::gui {

inline constexpr std::string_view kTextDeleteEntryQuestion = "Are you sure to delete?";      // 32843
inline constexpr std::string_view kTextSelectLogFolder = "Please select log file path:";     // 113
inline constexpr std::string_view kTextAdvancedTitle = "Advanced";
inline constexpr std::string_view kTextDomainNameEmpty = "Please enter a domain name.";
inline constexpr std::string_view kTextDomainDuplicate = "This domain is already in the list.";
inline constexpr std::string_view kTextDomainTableFull = "No more than 500 domains can be added.";
inline constexpr std::string_view kTextIpEntryInvalid =
    "Please enter an IP address (1.2.3.4) or a range of two addresses (1.2.3.4-1.2.3.9).";
inline constexpr std::string_view kTextIpRangeReversed =
    "The first address of the range must not be greater than the second.";
inline constexpr std::string_view kTextSenderEntryInvalid = "Please enter a mail address (name@domain) or @domain.";
inline constexpr std::string_view kTextConfigChangedOnDisk =
    "config.ini was changed by another program while this window was open. The window now shows the file's "
    "current settings with your own changes laid over them; check them and press OK again to save your changes.";
inline constexpr std::string_view kTextSettingsNotSaved =
    "The settings could not be saved to config.ini (see quorvexlog.txt in the log folder).";
inline constexpr std::string_view kTextServiceOnFailedFormat =
    "The server could not be set up as a service: %s\n\nIt goes on running here; \"Run As NT Service\" stays off.";
inline constexpr std::string_view kTextServiceOffFailedFormat =
    "The service could not be removed: %s\n\n\"Run As NT Service\" stays on.";
inline constexpr std::string_view kTextServiceTakesOver =
    "The server now runs as a service. This window closes; the service starts when it has closed.";
inline constexpr std::string_view kTextPortsAtNextStart =
    "The new ports take effect when QuorvexServer is next started; until then the servers and web-mail keep "
    "the ports in use.";
inline constexpr std::string_view kTextPortClashFormat =
    "The %s and %s servers cannot share port %s: give each of them a port of its own.";
inline constexpr std::string_view kTextAccountsOutsideModeFormat =
    "%s accounts are not named as the new domain mode needs (%s): with several domains an account is named "
    "user@domain, with one domain its name holds no \"@\". Until the mode is changed back they receive no mail "
    "and cannot log in.\n\nChange the domain mode anyway?";
inline constexpr std::string_view kTextSettingsRefusedFormat = "These settings cannot be saved:\n\n%s";
inline constexpr std::string_view kTextSettingUp = "Setting up QuorvexServer ...";

}  // namespace quorvex::gui
