// The texts of the SMTP client dialogue, built and read without sockets:
// command lines, reply completeness and codes, the host list of a domain
// and the outcome text the queue keeps for a failed delivery.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::outgoing {

inline constexpr int kDefaultSmtpPort = 25;
// Last response texts are kept up to this many characters.
inline constexpr std::size_t kMaxResponseText = 4096;

// Outcome texts the queue recognises.
inline constexpr std::string_view kOutcomeSuccess = "SUCCESS";
inline constexpr std::string_view kOutcomeTimeout = "WSAETIMEDOUT";
inline constexpr std::string_view kOutcomeIllegalAddress = "illegal mail address";
inline constexpr std::string_view kOutcomeCannotConnect = "cannot connect to destination host";

// Delivery results (the queue's retry limits differ by the two failures).
inline constexpr int kDelivered = 1;
inline constexpr int kFailedHard = -1;  // time-outs, unreachable hosts, 5xx refusals
inline constexpr int kFailedSoft = 0;   // 4xx refusals and other failures

std::string HeloCommand(std::string_view name);
std::string EhloCommand(std::string_view name);
std::string MailFromCommand(std::string_view sender);
std::string RcptToCommand(std::string_view recipient);

// Length of the complete reply at the start of `text` (every line ending
// in CR LF, the last one with no "-" after its code), or 0 while it is
// incomplete.
std::size_t CompleteReplyLength(std::string_view text);

// The numeric code of a reply's first line; -1 when it does not start with
// three digits.
int ReplyCode(std::string_view reply);

// The hosts of a "host preference" list (lines joined by CR LF), in order;
// empty lines are skipped.
std::vector<std::string> HostsOfList(std::string_view list);

// "<error>: <domain>(mx) -\r\n<host list>".
std::string FailureOutcome(std::string_view error, std::string_view domain, std::string_view host_list);

// kFailedHard when the last error was a time-out or the outcome reports a
// permanent refusal (starts with "5"); otherwise kFailedSoft.
int FailureResult(std::string_view last_error, std::string_view outcome);

// What ends the message data: ".\r\n" when the data already ends in CR LF
// (or is empty), else "\r\n.\r\n", so the text sent is exactly the stored
// text with a final line end.
std::string_view DataTerminator(std::string_view last_two_bytes, bool empty);

// For a domain literal "[a.b.c.d]" the address inside, else the domain.
std::string ImplicitMailHost(std::string_view domain);

// ASCII lower case copy.
std::string Lowered(std::string_view text);

}  // namespace quorvex::outgoing
