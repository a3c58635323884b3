// The non-delivery report the queue returns to a sender when it gives a
// message up, and the fixed addresses that mark such reports.
#pragma once

#include <string>
#include <string_view>

namespace quorvex::outgoing {

// The local part of the From address of non-delivery reports (the domain
// is the server's own). Reports travel with an empty envelope sender.
inline constexpr std::string_view kBounceLocalPart = "MAILER-DAEMON";
// Stands for a sender nobody knows; never rewritten to an address.
inline constexpr std::string_view kUnknownSenderPlaceholder = "unknown@unknown.invalid";

inline constexpr std::string_view kBounceSubject = "Undelivered mail";
inline constexpr std::string_view kBounceBodyFormat =
    "I'm sorry to have to inform you that the message returned\r\nbelow could not be delivered to one or more "
    "destinations.\r\n\r\nWhen you sent mail to  %s, the server said:\r\n %s";
inline constexpr std::size_t kMaxBounceBody = 4095;

// "MAILER-DAEMON@<domain>".
std::string BounceSenderAddress(std::string_view server_domain);

// True for an address that no report may be sent to because it is a
// report's own sender: empty, or the reports' local part at any domain.
bool IsBounceSender(std::string_view address);

// The report's text (translated, at most kMaxBounceBody characters).
std::string BounceBody(std::string_view recipient, std::string_view outcome);

// Writes the report for `recipient` to `sender` into `output` with the
// undelivered message attached as "original_email.eml". False when the
// file could not be written.
bool BuildBounceMessage(std::string_view recipient, std::string_view sender, const std::string& message_file,
                        const std::string& output, std::string_view outcome, std::string_view server_domain);

}  // namespace quorvex::outgoing
