// The few header values of a message file that filing and read receipts
// need, read without a MIME parse: sender, recipients, subject, local date,
// message-id, size, and whether the sender looks plausible for the host
// that handed the message over.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvex {

class SenderCheckServices;

inline constexpr std::size_t kSummaryFieldLength = 256;
inline constexpr std::size_t kSummaryMessageIdLength = 76;
// Bit 0: suspect sender; bit 1: the return path was exactly "<>".
inline constexpr std::int32_t kSummarySuspectSender = 1;
inline constexpr std::int32_t kSummaryNullReturnPath = 2;

struct MailSummary {
    std::string From;
    std::string To;
    std::string Cc;
    std::string Subject;
    std::string Date;       // local "%d-%02d-%02d %02d:%02d:%02d", or the header text
    std::string MessageId;  // without blanks and angle brackets
    std::int64_t Size = 0;
    std::int32_t Flags = 0;
    std::string ReturnPath;  // lower case, without brackets; From when there is none
};

// The anti-spam settings the parse consults.
struct SummaryCheckOptions {
    bool anti_spam = false;       // [AntiSpam] Enable
    std::string white_list;       // [AntiSpam] WhiteList, entries separated by ";"
    std::string dns_server;       // [System] DNS
    std::string dns_secondary;    // [System] DNSSecondary
};

// The options of the published settings.
SummaryCheckOptions SummaryCheckOptionsFromSettings();

// Reads the header block of a message file (plain, or scrambled with the
// account's store key). False when the file cannot be opened or read.
// Folded header lines are joined before they are examined.
bool ParseMailSummary(const std::string& path, MailSummary& summary, bool scrambled, std::uint8_t key,
                      const SummaryCheckOptions& options, SenderCheckServices* services);

// The same with the published settings and the installed sender-check
// services (the check is skipped while none are installed).
bool ParseMailSummary(const std::string& path, MailSummary& summary, bool scrambled, std::uint8_t key);

// The same header-block reading on bytes already in memory.
void ParseSummaryHeaders(std::string_view header_block, MailSummary& summary, const SummaryCheckOptions& options,
                         SenderCheckServices* services);

}  // namespace quorvex
