// The system administrator's password: config.ini [System] "Password" holds
// its digest. A folder where none was ever set (no key, or an empty value)
// has no password at the desktop: there the window opens with an empty
// one. Over the network an empty password is never accepted, and without a
// stored digest only the password of the built-in default digest logs in.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "accountserver/AccountProtocol.h"

namespace quorvex::accountserver {

// The one account name of the SYSADMIN# login.
inline constexpr std::string_view kAdministratorAccount = "administrator";
// The longest password that "SYSADMIN#administrator#<password>" carries.
inline constexpr std::size_t kMaxNetworkAdministratorPassword =
    kMaxSessionLine - account_tags::kSysAdmin.size() - kAdministratorAccount.size() - 1;

// The digest that stands for the password while none is stored.
inline constexpr std::string_view kDefaultAdministratorPassword = "Wm4TqR8sLpZ2vYc7NbKd0x";

// The stored digest; nothing when no password was set.
std::optional<std::string> StoredAdministratorDigest(const std::string& config_ini);

// Why the stored password cannot be known: config.ini is there but could
// not be read. "No password set" holds only for a file that was read, so
// while this says something no password (the empty one included) matches.
std::optional<std::string> AdministratorPasswordUnreadable(const std::string& config_ini);

// The SYSADMIN# login: the digest of a non-empty `entered` equals the
// stored digest (the default one when none is stored).
bool NetworkAdministratorPasswordMatches(const std::string& config_ini, std::string_view entered);

// The reply refusing a new administrator password that could never log in
// over the network: an empty one, one holding a "#" (the login line is
// split at its last "#"), one longer than the login line carries. Empty
// when the password can log in.
std::string_view NetworkPasswordRefusal(std::string_view password);

}  // namespace quorvex::accountserver
