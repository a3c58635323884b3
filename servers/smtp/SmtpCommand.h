// The SMTP command table: which command a line is and its argument. Pure.
#pragma once

#include <string>
#include <string_view>

#include "common/AsciiCase.h"

namespace quorvex::smtp {

// Matched in this order as a prefix of the line, without regard to case.
enum class SmtpVerb {
    kHelo = 0,
    kMailFrom = 1,
    kRset = 2,
    kNoop = 3,
    kQuit = 4,
    kRcptTo = 5,
    kData = 6,
    kEhlo = 7,
    kAuthLogin = 8,
    kAuthEqualsLogin = 9,
    kOther = 10,
};

struct SmtpCommand {
    SmtpVerb verb = SmtpVerb::kOther;
    // The rest of the line with CR LF, blanks and angle brackets trimmed
    // from both ends; for kOther the whole line.
    std::string argument;
    // A blank follows the command word ("AUTH LOGIN dXNlcg==", not
    // "AUTH LOGINdXNlcg==").
    bool blank_after_verb = false;
};

// `line` is one line as received, without its line end.
SmtpCommand ParseSmtpCommand(std::string_view line);

}  // namespace quorvex::smtp
