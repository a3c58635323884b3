// The English texts of the account sheet, the group dialog and the welcome
// message editor that the code looks up by itself (messages, titles, the
// "|"-joined choice lists). As everywhere in the window, the English text
// is the translation key and is kept byte for byte; the number after a
// text is its number in the program's string table, where it has one.
#pragma once

#include <string_view>
#include <vector>

namespace quorvex::gui {

// Account sheet.
inline constexpr std::string_view kTextAccountSheetTitle = "Account";  // 133
inline constexpr std::string_view kTextTabBasicInfo = "Basic Info";
inline constexpr std::string_view kTextTabRemotePop3 = "Remote POP3";
inline constexpr std::string_view kTextTabForwarding = "Email Forwarding";
inline constexpr std::string_view kTextTabFilter = "Email Filter";
inline constexpr std::string_view kTextTabAutoReply = "Email Auto Reply";

// Account name checks.
inline constexpr std::string_view kTextNameCharacters =
    "The user account should only be composed of 0-9, a-z, A-Z or '-', '_', '.'.";  // 32797
inline constexpr std::string_view kTextNameNeedsDomain = "The user account should include domain name.";  // 32812
inline constexpr std::string_view kTextDomainMissing = "The domain name doesn't exist.";                  // 32814
inline constexpr std::string_view kTextNameEmpty = "The user account shoud not be empty.";               // 32799
inline constexpr std::string_view kTextNameExists = "The user account already exists.";                  // 32800
inline constexpr std::string_view kTextNameTooLong = "The user account should be at most 76 characters long.";

// Why the account store refused an account.
inline constexpr std::string_view kTextAccountGone = "The user account no longer exists.";
inline constexpr std::string_view kTextAccountLimit = "The domain already holds its most accounts.";
inline constexpr std::string_view kTextSpaceLimit = "The mailbox size exceeds the space left to the domain.";
inline constexpr std::string_view kTextAccountNotSaved = "The account could not be saved.";
inline constexpr std::string_view kTextPageNotSaved = "The settings of the page \"%s\" could not be saved.";
inline constexpr std::string_view kTextReplyTooLong = "The reply text is too long.";

// List pages.
inline constexpr std::string_view kTextCompareChoices = "includes";       // 135
inline constexpr std::string_view kTextDeliverChoices = "move|delete";
inline constexpr std::string_view kTextFolderChoices = "trash";           // 134
inline constexpr std::string_view kTextOtherFolderFormat = "folder %d";

// Group dialog.
inline constexpr std::string_view kTextNewGroupTitle = "Create new group";  // 122
inline constexpr std::string_view kTextEditGroupTitle = "Edit/View group";  // 123
inline constexpr std::string_view kTextGroupUserName = "Mail Group";
inline constexpr std::string_view kTextGroupFull = "A group holds at most 128 members.";
inline constexpr std::string_view kTextMembersNotSaved = "The group members could not be saved.";

// Welcome message.
inline constexpr std::string_view kTextWelcomeTitle = "Compose Welcome Email";  // dialog 162
inline constexpr std::string_view kTextWelcomeNotSaved = "The welcome message could not be saved.";
inline constexpr std::string_view kTextWelcomeTooLong = "The welcome message is longer than 65535 bytes.";

// Every text above (the screenshot tool's pseudo-translation uses it).
const std::vector<std::string_view>& AllAccountToolTexts();

}  // namespace quorvex::gui
