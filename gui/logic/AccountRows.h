// The account list's rows as data: the eight cells of an account, which
// accounts a domain selection shows, the recipient text of a selection and
// which messages "Clear mail" deletes. No widgets here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mailmodel/account/AccountConfig.h"

namespace quorvex {
class AccountList;
struct MailboxSnapshot;
}  // namespace quorvex

namespace quorvex::gui {

inline constexpr int kAccountColumnCount = 8;
enum AccountColumn {
    kColumnAccount = 0,
    kColumnUserName,
    kColumnUsedSpace,   // KiB, "%.1f"
    kColumnTotalSize,   // MB, or "Unlimited"
    kColumnMailNumber,
    kColumnLastVisit,
    kColumnStatus,      // "Enable" / "Disable"
    kColumnDescription,
};

// The texts a row shows in the configured language (UTF-8).
struct RowTexts {
    std::string unlimited = "Unlimited";
    std::string enable = "Enable";
    std::string disable = "Disable";
};

struct AccountRow {
    std::vector<std::string> cells = std::vector<std::string>(kAccountColumnCount);
    bool is_group = false;
};

// "%.1f" of bytes / 1024.
std::string UsedSpaceText(std::int64_t mailbox_bytes);

// The row of an account: its record, mailbox bytes and message count.
AccountRow BuildAccountRow(std::string_view name, const AccountRecord& record, std::int64_t mailbox_bytes,
                           int message_count, bool is_group, const RowTexts& texts);

// Reads everything a row shows (account file, the group flag of
// `accounts`, mailbox index).
AccountRow LoadAccountRow(std::string_view name, const RowTexts& texts, const AccountList& accounts);

// Whether the refresh shows an account: only listed accounts of the domain
// mode, and in multi-domain mode with a domain selected (not the "All
// Domains" entry) only the accounts of that domain.
bool PassesDomainFilter(std::string_view name, int domain_mode, const std::optional<std::string>& selected_domain,
                        std::string_view all_domains_text);

// "a;b;": each name followed by ";", in the order given.
std::string RecipientsFromSelection(const std::vector<std::string>& names);

// Marks every message of the account's two folders for deletion (by its
// folder field, not by its place in the index). Returns how many.
int MarkAllMessagesForDeletion(MailboxSnapshot& snapshot);

}  // namespace quorvex::gui
