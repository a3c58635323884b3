// The one decision whether a text may become the name of a new account.
// Sign-up, the administrators' create commands, the window and the account
// store all ask it and answer a refusal in their own words. The tests run
// in the order a user meets them: characters, the domain part, emptiness,
// length, a name taken, and last the rule for plain names.
#pragma once

#include <string>
#include <string_view>

namespace quorvex {

class AccountList;
struct CServerSettings;

enum class NewAccountRefusal {
    kNone,
    kRefusedCharacter,  // a character no name may hold, or the blank
    kNoDomain,          // several mail domains: no "@"
    kUnknownDomain,     // several mail domains: the text after the first "@" is not in the domain table
    kDomainNotAllowed,  // one mail domain: an "@"
    kEmpty,             // empty, or beginning with "@"
    kTooLong,           // over kMaxAccountNameLength characters
    kTaken,             // a listed account
    kReserved,          // a name the account folders reserve ("_...", "All")
    kNotPlain,          // not a plain name (IsValidNewAccountName)
};

struct NewAccountName {
    NewAccountRefusal refusal = NewAccountRefusal::kNone;
    std::string name;      // the name to create; empty when refused
    int mailbox_size = 0;  // MB: the default mailbox size of its domain

    bool accepted() const { return refusal == NewAccountRefusal::kNone; }
};

NewAccountName DecideNewAccountName(std::string_view text, const CServerSettings& settings,
                                    const AccountList& accounts);

}  // namespace quorvex
