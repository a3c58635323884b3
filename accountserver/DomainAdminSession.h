// The domain administrator's session (ACCOUNT#): his commands on the
// accounts of his mail domain.
#pragma once

#include <string>
#include <string_view>

#include "accountserver/RequestContext.h"

namespace quorvex::accountserver {

class DomainAdminSession {
public:
    explicit DomainAdminSession(RequestContext& context) : context_(context) {}
    // `text`: the first line after "ACCOUNT#".
    void Run(std::string_view text);

private:
    // Each command answers; false ends the session.
    bool Stat(std::string_view);
    bool Size(std::string_view argument);
    bool List(std::string_view);
    bool ListRange(std::string_view argument);
    bool Noop(std::string_view);
    bool Retr(std::string_view argument);
    bool Create(std::string_view argument);
    bool Configure(std::string_view argument);
    bool Delete(std::string_view argument);
    bool Quit(std::string_view);

    // The argument names an account of the session's domain that this
    // login may manage; else the refusal has been sent.
    bool CheckManagedAccount(std::string_view argument);
    bool SendList(int first, int last, int number);
    std::string StatLine() const;

    RequestContext& context_;
    std::string login_;
    std::string domain_;
    int level_ = 0;

    friend struct DomainAdminCommands;
};

}  // namespace quorvex::accountserver
