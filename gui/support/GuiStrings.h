// The English texts of the administration window. The English text is the
// key of its translation in the language file, so every text here is kept
// byte for byte (access keys "&", shortcut texts after a TAB, odd blanks and
// the "|"-joined lists included). The number after a text is the string's
// number in the program's string table, where it has one.
#pragma once

#include <string_view>
#include <vector>

namespace quorvex::gui {

// Frame, tool bar and status bar.
inline constexpr std::string_view kTextProductName = "QuorvexServer";                         // 32830
inline constexpr std::string_view kTextTitleFormat = " %s %s";                                 // 32831
inline constexpr std::string_view kTextToolbar = "New|Options|Refresh||Status|Mail to|Report||Hide|Shutdown";  // 32829
inline constexpr std::string_view kTextUserCountFormat = " %d users";                          // 32833
inline constexpr std::string_view kTextUserCountInitial = " 0 user";
inline constexpr std::string_view kTextAllDomains = "All Domains";
inline constexpr std::string_view kTextBuildDate = "2005.07.08";
inline constexpr std::string_view kTextHomePage = "http://www.quorvex.example/";               // 121
inline constexpr std::string_view kTextClearLogsQuestion = "Do you want to clear log files?";  // 105
inline constexpr std::string_view kTextLogsClearedFormat = "Log files cleared: %d file(s) removed.";
inline constexpr std::string_view kTextLogsNotClearedFormat =
    "Nothing was cleared: %s is not a log folder of this program, or it cannot be read.";
inline constexpr std::string_view kTextMailInTransfer = "Some mails are in transfer. Are you sure to exit?";  // 124
inline constexpr std::string_view kTextComRegistered = "Register COM component successfully.";                // 106
inline constexpr std::string_view kTextComFailed = "Fail to register COM component.";                         // 32845
inline constexpr std::string_view kTextShortcutCreated = "Create desktop shortcut successfully.";              // 107
inline constexpr std::string_view kTextShortcutFailed = "Fail to create desktop shortcut.";
inline constexpr std::string_view kTextWebDirectoryDone =
    "Set up virtual directory successfully. User can visit server through web browser.";  // 32828
inline constexpr std::string_view kTextWebDirectoryFailed =
    "Fail to set up virtual directory. User can not apply account through browser.";  // 32811
inline constexpr std::string_view kTextWebServerReloadFailed = "Fail to restart the web server.";
inline constexpr std::string_view kTextNewVersionFormat = "New version %d.%d %s. Download Now?";
inline constexpr std::string_view kTextLatestVersionFormat = "Current version is the latest version %d.%d %s.";
inline constexpr std::string_view kTextNewVersion = "New version. Download Now?";
inline constexpr std::string_view kTextNoUserManual = "No user manual is installed.";
// The path or address, then the opener's reason.
inline constexpr std::string_view kTextOpenFailedFormat = "Unable to open:\n\n%s\n\n%s";
// Today's file of a log that nothing was written to yet (the path follows).
inline constexpr std::string_view kTextNoSmtpLogTodayFormat = "No SMTP log has been written today:\n\n%s";
inline constexpr std::string_view kTextNoPop3LogTodayFormat = "No POP3 log has been written today:\n\n%s";
inline constexpr std::string_view kTextNoSystemLogTodayFormat = "No system log has been written today:\n\n%s";
inline constexpr std::string_view kTextNoInternetLogTodayFormat =
    "No Internet delivery log has been written today:\n\n%s";

// Menu items (the menu's English entries are their keys as they stand).
inline constexpr std::string_view kMenuSystem = "&System";
inline constexpr std::string_view kMenuAccount = "&Account";
inline constexpr std::string_view kMenuLog = "&Log";
inline constexpr std::string_view kMenuTools = "&Tools";
inline constexpr std::string_view kMenuHelp = "&Help";
inline constexpr std::string_view kMenuRefresh = "&Refresh user list\tF5";       // 32778
inline constexpr std::string_view kMenuHide = "&Hide interface\tEsc";            // 32776
inline constexpr std::string_view kMenuLock = "&Lock interface";                 // 3210
inline constexpr std::string_view kMenuSendMailToAll = "&Send mail to all users";  // 32796
inline constexpr std::string_view kMenuOpenLog = "&Open log file";               // 102
inline constexpr std::string_view kMenuClearLog = "&Clear log file";             // 103
inline constexpr std::string_view kMenuExport = "&Export user information";      // 32779
inline constexpr std::string_view kMenuShutdown = "Shut&down server";            // 57665
inline constexpr std::string_view kMenuNewAccount = "Create &new account\tInsert";  // 32771
inline constexpr std::string_view kMenuDeleteAccount = "&Delete account\tDelete";   // 32773
inline constexpr std::string_view kMenuClearMail = "&Clear mail\tEnd";              // 32783
inline constexpr std::string_view kMenuEditAccount = "&Edit/View account\tEnter";   // 32772
inline constexpr std::string_view kMenuSelectAll = "Select &all\tCtrl+A";           // 114
inline constexpr std::string_view kMenuConfiguration = "Con&figuration";            // 32774
inline constexpr std::string_view kMenuReinstall = "Re&install";                    // 32907
inline constexpr std::string_view kMenuVirtualDirectory = "Create &virtual directory";  // 32782
inline constexpr std::string_view kMenuRegisterCom = "&Register COM component";         // 32900
inline constexpr std::string_view kMenuDesktopShortcut = "Create &desktop shortcut";    // 32901
inline constexpr std::string_view kMenuAdminPassword = "&Administrator password";       // 115
inline constexpr std::string_view kMenuWelcome = "&Compose welcome email";              // 32822
inline constexpr std::string_view kMenuTransferStatus = "Internet &mail transfer status";  // 32905
inline constexpr std::string_view kMenuRestartIis = "Restart IIS";                      // 32909
inline constexpr std::string_view kMenuAbout = "&About QuorvexServer...";               // 57664
inline constexpr std::string_view kMenuUserManual = "&User manual";                     // 57670
inline constexpr std::string_view kMenuDownload = "Download &latest product";           // 32784
inline constexpr std::string_view kMenuDeletedUsers = "Deleted &users";                 // 32908
inline constexpr std::string_view kMenuSendMail = "&Send mail\tCtrl+S";                 // 32794
inline constexpr std::string_view kMenuNewGroup = "Create new &group";                  // 32903
inline constexpr std::string_view kMenuEditGroup = "Edit/&View group";                  // 32904
inline constexpr std::string_view kMenuRebuild = "Re&build mail list\tF3";              // 32910
inline constexpr std::string_view kMenuNewAccountShort = "&New account";                // 32771 (menu 132)
inline constexpr std::string_view kMenuNewGroupShort = "New &group";                    // 32903 (menu 132)
inline constexpr std::string_view kMenuShow = "&Show interface";

// Account list.
inline constexpr std::string_view kTextColumns =
    "Account|User Name|Used Space(K)|Total Size(M)|Mail Number|Last Visit Time|Status|Description";  // 32813
inline constexpr std::string_view kTextUnlimited = "Unlimited";  // 32823
inline constexpr std::string_view kTextDisable = "Disable";      // 32821
inline constexpr std::string_view kTextEnable = "Enable";        // 32902
inline constexpr std::string_view kTextDeleteAccountQuestion = "Are you sure to delete this account?";  // 32825
inline constexpr std::string_view kTextDeleteAccountsQuestionFormat = "Are you sure to delete these %d accounts?";
inline constexpr std::string_view kTextClearMailQuestion =
    "Are you sure to delete all the mails belong to this account?";  // 32826
inline constexpr std::string_view kTextRebuildQuestion = "Rebuild this account's mail list?";
inline constexpr std::string_view kTextDeleteRefusedFormat = "%d account(s) could not be deleted.";
inline constexpr std::string_view kTextClearMailFailedFormat = "The mail of %s could not be deleted.";
inline constexpr std::string_view kTextRebuildFailed = "The mail list could not be rebuilt.";
inline constexpr std::string_view kTextRebuiltFormat = "The mail list of %s was rebuilt; it holds %d mail(s).";
inline constexpr std::string_view kTextSentToAllFormat = "The mail was stored in %d of %d mailboxes.";
inline constexpr std::string_view kTextRefreshing = "Loading the account list ...";

// Small dialogs.
inline constexpr std::string_view kTextLogOn = "Log on";                                          // 32842
inline constexpr std::string_view kTextAdministrator = "Administrator";
inline constexpr std::string_view kTextIncorrectPassword = "Incorrect password, please check the case.";  // 32803
inline constexpr std::string_view kTextPasswordMismatch = "It is not identical to original password.";     // 32804
inline constexpr std::string_view kTextPasswordChanged = "You have changed password successfully.";        // 32805
// A number outside its range: the field's label, the value, what it takes.
inline constexpr std::string_view kTextNumberRefusedFormat = "%s: %s is not accepted; enter %s.";
inline constexpr std::string_view kTextPasswordNotSaved = "The password could not be saved.";
inline constexpr std::string_view kTextHideInterface = "Hide user interface";  // 108
inline constexpr std::string_view kTextShutdownServer = "Shutdown server";     // 109
inline constexpr std::string_view kTextChoiceNotSaved = "The choice could not be saved.";
inline constexpr std::string_view kTextCheckingVersion = "Checking new version. Please waiting ...";  // dialog 184
inline constexpr std::string_view kTextUnableToOpenLink = "Unable to open hyperlink:\n\n";
inline constexpr std::string_view kTextDeleteMailQuestion = "Are you sure to delete the selected mails?";

// Every text above that the code looks up by itself (widget texts are found
// by walking the widgets): the screenshot tool's pseudo-translation uses it.
const std::vector<std::string_view>& AllGuiTexts();

}  // namespace quorvex::gui
