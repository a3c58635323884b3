// Account logins against the account list.
#include "servers/logins/AccountLogin.h"

#include "common/AccountName.h"
#include "mailmodel/account/AccountConfig.h"
#include "mailmodel/account/AccountList.h"

namespace quorvex {

LoginOutcome CheckAccountLogin(std::string_view account, std::string_view password, GroupLogin groups) {
    // CheckAccountPassword computes the digest for every name, listed or not.
    const bool matches = CheckAccountPassword(account, password);
    if (!IsValidAccountName(account) || AccountExists(account) != AccountPresence::kListed) return LoginOutcome::kUnknownAccount;
    if (!matches) return LoginOutcome::kWrongPassword;
    if (Accounts().IsDisabled(account)) return LoginOutcome::kDisabled;
    if (groups == GroupLogin::kRefused && Accounts().IsGroup(account) != 0) return LoginOutcome::kNotPermitted;
    return LoginOutcome::kAccepted;
}

}  // namespace quorvex
