#include "gui/logic/AccountRows.h"

#include <cstdio>

#include "common/AccountName.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/store/MailStore.h"

namespace quorvex::gui {

std::string UsedSpaceText(std::int64_t mailbox_bytes) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(mailbox_bytes) / 1024.0);
    return text;
}

AccountRow BuildAccountRow(std::string_view name, const AccountRecord& record, std::int64_t mailbox_bytes,
                           int message_count, bool is_group, const RowTexts& texts) {
    AccountRow row;
    row.is_group = is_group;
    row.cells[kColumnAccount] = std::string(name);
    row.cells[kColumnUserName] = record.UserName;
    row.cells[kColumnUsedSpace] = UsedSpaceText(mailbox_bytes);
    row.cells[kColumnTotalSize] = record.Max != 0 ? texts.unlimited : std::to_string(record.Volume);
    row.cells[kColumnMailNumber] = std::to_string(message_count);
    row.cells[kColumnLastVisit] = record.TimeStamp;
    row.cells[kColumnStatus] = record.Disabled != 0 ? texts.disable : texts.enable;
    row.cells[kColumnDescription] = record.Comment;
    return row;
}

AccountRow LoadAccountRow(std::string_view name, const RowTexts& texts, const AccountList& accounts) {
    AccountRecord record;
    LoadAccount(name, record);  // a missing file leaves the defaults
    const auto totals = ReadMailboxTotals(name).value_or(MailboxTotals{});
    return BuildAccountRow(name, record, totals.bytes, totals.messages, accounts.IsGroup(name) != 0, texts);
}

bool PassesDomainFilter(std::string_view name, int domain_mode, const std::optional<std::string>& selected_domain,
                        std::string_view all_domains_text) {
    if (domain_mode != 1 || !selected_domain || SameName(*selected_domain, all_domains_text)) return true;
    const auto at = name.find('@');
    if (at == std::string_view::npos) return false;
    return SameName(name.substr(at + 1), *selected_domain);
}

std::string RecipientsFromSelection(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += name;
        text += ';';
    }
    return text;
}

int MarkAllMessagesForDeletion(MailboxSnapshot& snapshot) {
    int marked = 0;
    for (MailboxRecord& record : snapshot.Records) {
        if (record.IsFree() || record.Folder > 1) continue;
        record.Changes = 2;
        ++marked;
    }
    return marked;
}

}  // namespace quorvex::gui
