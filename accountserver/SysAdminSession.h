// The system administrator's session (SYSADMIN#): his commands on the mail
// domains and his password.
#pragma once

#include <string_view>

#include "accountserver/RequestContext.h"

namespace quorvex::accountserver {

class SysAdminSession {
public:
    explicit SysAdminSession(RequestContext& context) : context_(context) {}
    // `text`: the first line after "SYSADMIN#".
    void Run(std::string_view text);

private:
    bool Stat(std::string_view);
    bool List(std::string_view);
    bool ListRange(std::string_view argument);
    bool Noop(std::string_view);
    bool Password(std::string_view argument);
    bool DeleteDomain(std::string_view argument);
    bool InstallDomain(std::string_view argument);
    bool Quit(std::string_view);
    bool SendDomains(int first, int last);

    RequestContext& context_;

    friend struct SysAdminCommands;
};

}  // namespace quorvex::accountserver
