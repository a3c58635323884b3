// The reply lines of local delivery's refusals, byte for byte. The SMTP
// session sends them to its client; formats take the recipient through
// FormatReply.
#pragma once

#include <string_view>

namespace quorvex {

inline constexpr std::string_view kDisabledFormat = "554 %s is disabled.\r\n";
inline constexpr std::string_view kTooManyMessages = "552 too many messages in this mail box.\r\n";
inline constexpr std::string_view kMailboxFullFormat = "552 %s mailbox full\r\n";
// The same when only the bytes held by deliveries still in flight leave no
// room: one of them may yet fail, so the sender tries again later.
inline constexpr std::string_view kMailboxFullForNowFormat = "452 %s mailbox full\r\n";
inline constexpr std::string_view kMailTooBigFormat = "552 %s mail size too big\r\n";

}  // namespace quorvex
