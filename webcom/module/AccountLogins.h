// The accounts that logged in with their password in this process, each
// with the work folder its POP3 login works in. An SMTP object attaches a
// fetched file only from the work folder of such a login: naming an
// account in a user text proves nothing, a password does. One record per
// loaded library, handed to every object it makes; objects of several
// threads share it.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex::webcom {

class AccountLogins {
public:
    // A login of `account` with its password, working in `work_folder`
    // (the latest login of the account wins).
    void Record(std::string_view account, const std::string& work_folder);
    // The account logged out: its work folder is gone.
    void Forget(std::string_view account);
    // The work folder of the account's login here (names compare without
    // regard to case); nothing when it has not logged in here.
    std::optional<std::string> WorkFolderOf(std::string_view account) const;

private:
    mutable std::mutex lock_;
    std::map<std::string, std::string> work_folders_;  // lower-cased account -> work folder
};

}  // namespace quorvex::webcom
