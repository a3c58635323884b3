// The one password check of every account login (SMTP AUTH, POP3 PASS,
// the account server's requests and sessions). A refusal takes the same
// password work whether the account exists or not, so the time an answer
// takes does not tell which names are accounts.
#pragma once

#include <string_view>

#include "servers/logins/LoginGuard.h"

namespace quorvex {

enum class GroupLogin { kRefused, kAllowed };

// kAccepted when `account` is a listed account of the current domain mode,
// the password (or its stored digest) matches and the account is enabled;
// a group account is kNotPermitted unless `groups` allows it. Only after
// the right password does a refusal say disabled or not permitted.
LoginOutcome CheckAccountLogin(std::string_view account, std::string_view password,
                               GroupLogin groups = GroupLogin::kRefused);

}  // namespace quorvex
