#include "gui/support/GuiStrings.h"

namespace quorvex::gui {

const std::vector<std::string_view>& AllGuiTexts() {
    static const std::vector<std::string_view> texts = {
        kTextProductName, kTextTitleFormat, kTextToolbar, kTextUserCountFormat, kTextUserCountInitial,
        kTextAllDomains, kTextClearLogsQuestion, kTextMailInTransfer, kTextComRegistered, kTextComFailed,
        kTextShortcutCreated, kTextShortcutFailed, kTextWebDirectoryDone, kTextWebDirectoryFailed, kTextWebServerReloadFailed, kTextNewVersionFormat,
        kTextLatestVersionFormat, kTextNewVersion, kTextNoUserManual, kTextOpenFailedFormat,
        kTextColumns, kTextUnlimited, kTextDisable, kTextEnable, kTextDeleteAccountQuestion, kTextDeleteAccountsQuestionFormat,
        kTextClearMailQuestion,
        kTextRebuildQuestion, kTextDeleteRefusedFormat, kTextClearMailFailedFormat, kTextRebuildFailed,
        kTextRefreshing, kTextLogOn, kTextAdministrator, kTextIncorrectPassword, kTextPasswordMismatch, kTextPasswordChanged,
        kTextPasswordNotSaved, kTextHideInterface, kTextShutdownServer, kTextChoiceNotSaved, kTextCheckingVersion,
        kTextUnableToOpenLink, kTextLogsClearedFormat, kTextLogsNotClearedFormat, kTextRebuiltFormat,
        kTextSentToAllFormat, kTextDeleteMailQuestion,
    };
    return texts;
}

}  // namespace quorvex::gui
