// The messages of the account sheet and the group dialog for a new account
// or group name: the refusal of the one new-account decision
// (mailmodel/account/NewAccountName.h) in the window's words. Existing
// accounts are not checked again: their names stay usable whatever they are.
#pragma once

#include <string_view>

#include "common/ServerSettings.h"
#include "mailmodel/account/AccountConfig.h"

namespace quorvex {
class AccountList;
}

namespace quorvex::gui {

// The message text (an English key of gui/support/AccountTexts.h) for a
// refused name, or an empty view when the name may be created under
// `settings` (domain mode and table) beside the names of `accounts`.
std::string_view CheckNewAccountName(std::string_view name, const CServerSettings& settings,
                                     const AccountList& accounts);

// The message for a refusal of the account store (StoreAccount), or an
// empty view for success.
std::string_view AccountStoreMessage(AccountStoreResult result);

}  // namespace quorvex::gui
