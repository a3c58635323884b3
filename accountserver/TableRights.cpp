// Rights of the table sessions.
#include "accountserver/TableRights.h"

#include <string>

#include "accountserver/AccountProtocol.h"
#include "common/AccountName.h"

namespace quorvex::accountserver {

int PermissionLevel(int stored) {
    if (stored < kMailAccount) return kMailAccount;
    if (stored > kSystemAdministrator) return kSystemAdministrator;
    return stored;
}

bool MayOpenTable(TableRights rights, const RightsQuestion& q) {
    const int level = PermissionLevel(q.permission);
    if (level == kSystemAdministrator) return true;
    const std::string own_domain = DomainOfAccount(q.login, q.multi_domain, q.single_domain);
    switch (rights) {
        case TableRights::kAccount: {
            if (level == kMailAccount) return SameName(q.argument, q.login);
            const std::string domain = DomainOfAccount(q.argument, q.multi_domain, q.single_domain);
            return !domain.empty() && SameName(domain, own_domain) && PermissionLevel(q.target_permission) <= level;
        }
        case TableRights::kDomainList: {
            if (level == kMailAccount) return false;
            const std::string_view domain =
                q.argument.find('@') != std::string_view::npos ? AfterFirstAt(q.argument) : q.argument;
            return !domain.empty() && SameName(domain, own_domain);
        }
        case TableRights::kDomainTable:
            return false;
    }
    return false;
}

bool MaySetPermission(int login_permission, int current, int wanted, bool own_account) {
    const int level = PermissionLevel(login_permission);
    if (wanted < kMailAccount || wanted > kSystemAdministrator || wanted > level) return false;
    if (PermissionLevel(current) > level) return false;
    if (own_account && wanted > current) return false;
    return true;
}

}  // namespace quorvex::accountserver
