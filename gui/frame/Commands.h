// The commands of the main window's menus, tool bar, tray menu and keys,
// by their numbers, and the status-bar panes whose double click does
// something.
#pragma once

namespace quorvex::gui {

enum class Command {
    kRefresh = 32778,
    kHide = 32776,
    kLock = 3210,
    kSendMailToAll = 32796,
    kOpenLog = 102,
    kClearLog = 103,
    kExport = 32779,
    kShutdown = 57665,
    kNewAccount = 32771,
    kDeleteAccount = 32773,
    kClearMail = 32783,
    kEditAccount = 32772,
    kSelectAll = 114,
    kConfiguration = 32774,
    kReinstall = 32907,
    kVirtualDirectory = 32782,
    kRegisterCom = 32900,
    kDesktopShortcut = 32901,
    kAdminPassword = 115,
    kWelcome = 32822,
    kTransferStatus = 32905,
    kRestartIis = 32909,
    kAbout = 57664,
    kUserManual = 57670,
    kDownload = 32784,
    kDeletedUsers = 32908,
    kSendMail = 32794,
    kNewGroup = 32903,
    kEditGroup = 32904,
    kRebuild = 32910,
};

enum class StatusPane { kUserCount, kDate, kTime };

}  // namespace quorvex::gui
