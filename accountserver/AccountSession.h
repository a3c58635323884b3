// One connection of the account server: the peer gate, the dispatch on
// the first line and the four one-shot account requests (sign-up, login,
// update, delete). The session requests are handed on to the table and
// administrator sessions.
#pragma once

#include <string_view>

#include "accountserver/RequestContext.h"

namespace quorvex::accountserver {

class AccountServerSession {
public:
    explicit AccountServerSession(RequestContext& context) : context_(context) {}

    // Gate, first line, the request's dialogue. Returns when the request ends.
    void Run();

    void HandleSignUp(std::string_view text);
    void HandleLogin(std::string_view text);
    void HandleUpdate(std::string_view text);
    void HandleDelete(std::string_view text);

private:
    // Reads the eight tagged lines and "QUIT", answering each. False after
    // an error reply or a failed read or send.
    bool ReadAccountLines(bool update, struct AccountLines& values);

    RequestContext& context_;
};

}  // namespace quorvex::accountserver
