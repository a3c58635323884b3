// Creating and updating an account the way every front end does: its
// settings, folder and list entry (WriteAccount), the welcome message as
// the first mail of a new account's mailbox, then WM_NEW_ACCOUNT or
// WM_UPDATE_ACCOUNT. Above both the account data and the mailbox store.
#pragma once

#include <string_view>

#include "mailmodel/account/AccountConfig.h"

namespace quorvex {

// WriteAccount with a mode and the reason of a refusal, plus the new
// mailbox's welcome message and the notice. Notices go to `notices` (the
// process bus when null).
AccountStoreResult StoreAccount(std::string_view account, AccountRecord record, AccountStoreMode mode,
                                NoticeSink* notices = nullptr);

// StoreAccount creating or updating: true when the account was stored.
bool SaveAccount(std::string_view account, AccountRecord record, NoticeSink* notices = nullptr);

}  // namespace quorvex
