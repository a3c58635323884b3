// Who may open which table of a table session. Pure: the caller supplies
// the login's and the target's permissions and the domain mode.
#pragma once

#include <string_view>

namespace quorvex::accountserver {

// Permission levels of an account.
inline constexpr int kMailAccount = 0;
inline constexpr int kDomainAdministrator = 1;
inline constexpr int kSystemAdministrator = 2;

// A stored permission as a level: below 0 counts as a mail account, above
// 2 as the system administrator.
int PermissionLevel(int stored);

enum class TableRights {
    kAccount,     // the argument is an account: per-account tables and AccountInfo
    kDomainList,  // the argument is a mail domain: AccountListInfo
    kDomainTable, // the server's domains: DomainInfo
};

struct RightsQuestion {
    int permission = 0;         // the login's level
    std::string_view login;     // the login account
    std::string_view argument;  // the "OPEN" argument
    int target_permission = 0;  // level of the argument's account (kAccount)
    bool multi_domain = false;
    std::string_view single_domain;  // [System] Dominame
};

// A mail account reaches only itself; a domain administrator reaches the
// accounts (and the account list) of his own mail domain whose level is
// not above his; the system administrator reaches everything. A name
// without "@" belongs to no domain with several mail domains, and to the
// one domain otherwise.
bool MayOpenTable(TableRights rights, const RightsQuestion& question);

// Whether a login of level `login_permission` may set the permission of an
// account of level `current` to `wanted`: never above his own level or
// above 2, never below 0, never on an account above his level, and never
// raising his own account.
bool MaySetPermission(int login_permission, int current, int wanted, bool own_account);

}  // namespace quorvex::accountserver
