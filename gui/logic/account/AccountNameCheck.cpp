#include "gui/logic/account/AccountNameCheck.h"

#include "common/AccountName.h"
#include "common/ServerSettings.h"
#include "gui/support/AccountTexts.h"
#include "mailmodel/account/AccountConfig.h"

namespace quorvex::gui {

namespace {

// The characters the name check names in its message as not allowed
// (blank, backquote and double quote among them).
constexpr std::string_view kForbiddenCharacters = "~!#$%^&*()+=|\\{}:;'<,>?/`\" ";

}  // namespace

std::string_view CheckNewAccountName(std::string_view name) {
    const auto settings = Settings();
    if (name.find_first_of(kForbiddenCharacters) != std::string_view::npos) return kTextNameCharacters;
    const std::size_t at = name.find('@');
    if (settings->DomainNameType == 1) {
        if (at == std::string_view::npos) return kTextNameNeedsDomain;
        if (settings->Domains.Find(name.substr(at + 1)) < 0) return kTextDomainMissing;
    } else if (at != std::string_view::npos) {
        return kTextNameCharacters;
    }
    if (name.empty() || name.front() == '@') return kTextNameEmpty;
    if (name.size() > kMaxAccountNameLength) return kTextNameTooLong;
    if (AccountExists(name) != AccountPresence::kMissing) return kTextNameExists;
    if (!IsValidNewAccountName(name, settings->Domains)) return kTextNameCharacters;
    return {};
}

std::string_view AccountStoreMessage(AccountStoreResult result) {
    switch (result) {
        case AccountStoreResult::kStored: return {};
        case AccountStoreResult::kExists: return kTextNameExists;
        case AccountStoreResult::kMissing: return kTextAccountGone;
        case AccountStoreResult::kRefusedName: return kTextNameCharacters;
        case AccountStoreResult::kUnknownDomain: return kTextDomainMissing;
        case AccountStoreResult::kAccountLimit: return kTextAccountLimit;
        case AccountStoreResult::kSpaceLimit: return kTextSpaceLimit;
        case AccountStoreResult::kRefusedText:
        case AccountStoreResult::kWriteFailed: break;
    }
    return kTextAccountNotSaved;
}

}  // namespace quorvex::gui
