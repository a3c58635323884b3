// Deleted accounts: folders of the mail folder whose name begins with "_".
// They are not accounts (the account list skips them); the administrator
// can give one back its account name or delete it with all its mail.
#pragma once

#include <string>
#include <vector>

namespace quorvex {
class AccountList;
class DomainTable;
}  // namespace quorvex

namespace quorvex::gui {

struct DeletedAccount {
    std::string folder;     // the folder's name, "_" included
    std::string user_name;  // UserName of its settings, "" when none
};

// The "_" folders of the mail folder (no files, no links), by name.
std::vector<DeletedAccount> ListDeletedAccounts();

enum class RestoreResult {
    kRestored,
    kNotDeleted,    // not a "_" folder of the mail folder
    kInvalidName,   // the name without "_" is no valid new account name
    kNameTaken,     // an account or folder of that name exists
    kMoveFailed,
};

// Moves "_name" to "name" (never over an existing folder) and adds the
// account to `accounts`. The name must be a valid new name under `domains`
// (the domain table in force).
RestoreResult RestoreDeletedAccount(const std::string& folder, const DomainTable& domains, AccountList& accounts);

// Deletes a "_" folder with everything in it. False when it is not one or
// could not be removed entirely.
bool RemoveDeletedAccount(const std::string& folder);

}  // namespace quorvex::gui
