#include "gui/support/AccountTexts.h"

namespace quorvex::gui {

const std::vector<std::string_view>& AllAccountToolTexts() {
    static const std::vector<std::string_view> texts = {
        kTextAccountSheetTitle, kTextTabBasicInfo, kTextTabRemotePop3,
        kTextTabForwarding, kTextTabFilter, kTextTabAutoReply, kTextNameCharacters, kTextNameNeedsDomain,
        kTextDomainMissing, kTextNameEmpty, kTextNameExists, kTextNameTooLong, kTextAccountGone, kTextAccountLimit,
        kTextSpaceLimit, kTextAccountNotSaved, kTextPageNotSaved, kTextReplyTooLong, kTextCompareChoices,
        kTextDeliverChoices, kTextFolderChoices, kTextOtherFolderFormat, kTextNewGroupTitle, kTextEditGroupTitle,
        kTextGroupFull, kTextMembersNotSaved, kTextWelcomeTitle, kTextWelcomeNotSaved, kTextWelcomeTooLong,
    };
    return texts;
}

}  // namespace quorvex::gui
