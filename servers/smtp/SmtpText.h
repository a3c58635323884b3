// Small text rules of the SMTP session: the web-mail HELO fields, whether
// the front end keeps a copy, and the reply to a failed write. Pure.
#pragma once

#include <string>
#include <string_view>

#include "common/ServerSettings.h"

namespace quorvex::smtp {

// A web-mail front end's HELO argument: account:address:copy:draft, the
// last two optional (0 when missing or not numbers). The address may be
// IPv6: the account ends at the first ":", the flags are taken from the
// end.
struct WebMailHelo {
    std::string account;
    std::string address;
    int copy = 0;
    int draft = 0;
};
WebMailHelo ParseWebMailHelo(std::string_view argument);

// Whether the front end's own copy of the message is stored (in the
// account's second folder): always for a draft, else when copy is asked.
inline bool KeepsSentCopy(int copy, int draft) { return draft == 1 || (copy != 0 && draft == 0); }

// The reply when a message could not be written (the system error of the
// write): "452 insufficient system storage" for a full disk or a full disk
// quota, "451 file system error" for every other error. Both are temporary,
// so the client keeps the message and tries again.
std::string_view ReplyForWriteError(int error);

}  // namespace quorvex::smtp
