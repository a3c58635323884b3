// Every reply text of the SMTP server, byte for byte (trailing blanks
// included: clients of this server have always seen them). Formats take
// their arguments through FormatReply.
#pragma once

#include <string_view>

#include "servers/delivery/DeliveryReplies.h"

namespace quorvex::smtp {

inline constexpr std::string_view kGreetingFormat = "220 ESMTP %s 5.3.%s SMTP Service Ready\r\n";
inline constexpr std::string_view kGreetingProduct = "QuorvexServer";
inline constexpr std::string_view kGreetingVersion = "2005.07.08";
inline constexpr std::string_view kCustomGreetingFormat = "220 %s\r\n";

inline constexpr std::string_view kWelcome = "250 welcome here\r\n";
inline constexpr std::string_view kEhlo = "250-AUTH=LOGIN\r\n250 AUTH LOGIN\r\n";
inline constexpr std::string_view kNameTooLong = "501 computer name is too long\r\n";
inline constexpr std::string_view kOk = "250 OK\r\n";
inline constexpr std::string_view kOutOfOrder = "503 command out of order\r\n";
// An address holding a control character (a CR inside the line, a NUL):
// it could never be stored safely in a queue record or a log line.
inline constexpr std::string_view kBadAddress = "501 mail address is not acceptable\r\n";
inline constexpr std::string_view kAddressTooLong = "503 mail address is too long\r\n";
inline constexpr std::string_view kTooManyReceivers = "452 too many receiver\r\n";
inline constexpr std::string_view kSpamReject = "503 spam-reject\r\n";
inline constexpr std::string_view kNoReceiver = "554 no mail receiver\r\n";
inline constexpr std::string_view kClosing = "221 SMTP SERVICE CLOSED\r\n";
inline constexpr std::string_view kBadCommand = "501 command argument is not acceptable\r\n";
// A line longer than the line limit: answered once, its bytes discarded.
inline constexpr std::string_view kLineTooLong = "500 line too long\r\n";
// The message could not be written to disk: temporary failures, so the
// client tries again later instead of bouncing the mail.
inline constexpr std::string_view kFileSystemError = "451 file system error\r\n";
inline constexpr std::string_view kDiskFull = "452 insufficient system storage\r\n";
inline constexpr std::string_view kStartData = "354 send the mail data, end with . \r\n";
inline constexpr std::string_view kAcceptedFormat = "250 %s\r\n";
// Sent when a recipient's copy could not be stored and delivery gave no
// reply of its own: a temporary failure, so the client tries again later.
inline constexpr std::string_view kLocalStoreFailed = "451 local delivery failed, try again later\r\n";
// Sent when the web-mail copy of a message (for a draft the only copy)
// could not be stored.
inline constexpr std::string_view kSentCopyFailed = "451 copy of the message could not be stored, try again later\r\n";

inline constexpr std::string_view kAskUser = "334 VXNlcm5hbWU6\r\n";
inline constexpr std::string_view kAskPassword = "334 UGFzc3dvcmQ6\r\n";
inline constexpr std::string_view kAuthUserFailed = "535 authentication failed(user)\r\n";
inline constexpr std::string_view kAuthPasswordFailed = "535 authentication failed(password)\r\n";
inline constexpr std::string_view kUserNameTooLong = "501 user name is too long\r\n";
inline constexpr std::string_view kProxyDisabled = "535 mail proxy disabled\r\n";
inline constexpr std::string_view kAuthOk = "235 OK\r\n";
inline constexpr std::string_view kAuthFailed = "535 authentication failed\r\n";

// Access and relay rules.
inline constexpr std::string_view kIpBlockedFormat = "421 %s is blocked by this mail server.\r\n";
inline constexpr std::string_view kIllegalConnection = "550 illegal connection\r\n";
inline constexpr std::string_view kNotEsmtpUserFormat =
    "550 authentication failed: %s is different from esmtp user %s.\r\n";
inline constexpr std::string_view kWrongSenderFormat = "550 %s is not authorized.(WRONG SENDER MAILADDR)\r\n";
inline constexpr std::string_view kEsmtpRequiredFormat =
    "550 %s esmtp authentication failed and this mail server requires smtp authentication.\r\n";
inline constexpr std::string_view kAbsentFormat = "550 %s is absent.\r\n";
inline constexpr std::string_view kNoInterMailFormat =
    "550 %s is blocked. You need to set up Internet POP3 mail address in mailbox options.\r\n";
inline constexpr std::string_view kLanOnly = "550 it is a LAN mail server and cannot forward mail.\r\n";
inline constexpr std::string_view kNotLocalUserFormat = "550 %s is not local user.\r\n";
inline constexpr std::string_view kRelayDeniedFormat =
    "550 %s relay mail disabled and this mail server requires smtp authentication.(from \"%s\" to \"%s\" via \"%s\") \r\n";
inline constexpr std::string_view kFromBlockedFormat = "554 Email from \"%s\" is blocked by this mail server.\r\n";

// Local delivery's refusals (kDisabledFormat, kTooManyMessages,
// kMailboxFullFormat, kMailTooBigFormat) are its own.
using quorvex::kDisabledFormat;
using quorvex::kMailboxFullFormat;
using quorvex::kMailTooBigFormat;
using quorvex::kTooManyMessages;

}  // namespace quorvex::smtp
