// The checks a new account or group name passes in the account sheet and
// the group dialog, in the order the user meets them, each with its own
// message: forbidden characters, the domain part, an empty name, a name
// taken or reserved. Whatever passes those must still pass the one rule
// for new names (common/AccountName.h), so "..", control characters and
// names of more than 76 characters are refused as well. Existing accounts
// are not checked again: their names stay usable whatever they are.
#pragma once

#include <string_view>

#include "common/ServerSettings.h"
#include "mailmodel/account/AccountConfig.h"

namespace quorvex::gui {

// The message text (an English key of gui/support/AccountTexts.h) for a
// refused name, or an empty view when the name may be created under
// `settings` (domain mode and table) and the account list.
std::string_view CheckNewAccountName(std::string_view name, const CServerSettings& settings);

// The message for a refusal of the account store (StoreAccount), or an
// empty view for success.
std::string_view AccountStoreMessage(AccountStoreResult result);

}  // namespace quorvex::gui
