// Two services of the application that the account and mailbox code uses:
// the primary mail domain name and the welcome message that every new
// mailbox receives.
#pragma once

#include <string>

namespace quorvex {

// The server's primary mail domain ([System] Dominame of "config.ini").
std::string GetDomainName();

// The path of "Welcome.inbox" in the program folder, written first (as a
// stored message with CRLF lines) when it does not exist yet. Empty when it
// can neither be found nor written.
std::string EnsureWelcomeMailFile();

}  // namespace quorvex
