#include "gui/logic/account/AccountNameCheck.h"

#include "gui/support/AccountTexts.h"
#include "mailmodel/account/AccountConfig.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/account/NewAccountName.h"

namespace quorvex::gui {

std::string_view CheckNewAccountName(std::string_view name, const CServerSettings& settings,
                                     const AccountList& accounts) {
    switch (DecideNewAccountName(name, settings, accounts).refusal) {
        case NewAccountRefusal::kNone: return {};
        case NewAccountRefusal::kNoDomain: return kTextNameNeedsDomain;
        case NewAccountRefusal::kUnknownDomain: return kTextDomainMissing;
        case NewAccountRefusal::kEmpty: return kTextNameEmpty;
        case NewAccountRefusal::kTooLong: return kTextNameTooLong;
        case NewAccountRefusal::kTaken:
        case NewAccountRefusal::kReserved: return kTextNameExists;
        case NewAccountRefusal::kRefusedCharacter:
        case NewAccountRefusal::kDomainNotAllowed:
        case NewAccountRefusal::kNotPlain: break;
    }
    return kTextNameCharacters;
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
