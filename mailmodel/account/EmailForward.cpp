// Forwarding and group lists in maillist.ini.
#include "mailmodel/account/EmailForward.h"

#include <algorithm>

#include "common/ConfigWriter.h"
#include "mailmodel/account/AccountSettingsFile.h"

namespace quorvex {

namespace {

bool IsListEntry(std::string_view text) { return text.size() <= kMaxListEntryLength && IsStorableValue(text); }

std::string Numbered(std::string_view key, int number) { return std::string(key) + std::to_string(number); }

}  // namespace

bool CEmailForward::Load(std::string_view account) {
    addresses_.clear();
    const auto doc = LoadAccountSettings(account);
    if (!doc) return false;
    account_ = account;
    const int count = std::clamp(ReadConfigInt(*doc, "EmailForward", "Count", 0), 0, kMaxForwardAddresses);
    LeaveCopyLocal = ReadConfigInt(*doc, "EmailForward", "LeaveCopyLocal", 1);
    EnableForwardMailAddresses = ReadConfigInt(*doc, "system", "EnableForwardMailAddresses", 0);
    for (int i = 1; i <= count; ++i)
        addresses_.push_back(ReadValue(*doc, "EmailForward", Numbered("EmailAddress", i), kMaxListEntryLength));
    return true;
}

bool CEmailForward::Save() {
    return EditAccountSettings(account_, [&](IniDocument& doc) {
        bool ok = doc.Set("EmailForward", "LeaveCopyLocal", LeaveCopyLocal ? "1" : "0") &&
                  doc.Set("EmailForward", "Count", std::to_string(addresses_.size()));
        for (std::size_t i = 0; ok && i < addresses_.size(); ++i)
            ok = doc.Set("EmailForward", Numbered("EmailAddress", static_cast<int>(i + 1)), addresses_[i]);
        return ok && doc.Set("system", "EnableForwardMailAddresses", EnableForwardMailAddresses ? "1" : "0");
    });
}

bool CEmailForward::AddAddress(std::string_view text) {
    if (GetCount() >= kMaxForwardAddresses || text.empty() || !IsListEntry(text)) return false;
    addresses_.emplace_back(text);
    return true;
}

bool CEmailForward::DeleteAddress(int index) {
    if (index < 0 || index >= GetCount()) return false;
    addresses_.erase(addresses_.begin() + index);
    return true;
}

bool CEmailForward::SetAddress(int index, std::string_view text) {
    if (index < 0 || index >= GetCount() || !IsListEntry(text)) return false;
    addresses_[static_cast<std::size_t>(index)] = text;
    return true;
}

std::optional<std::string> CEmailForward::GetAddress(int index) const {
    if (index < 0 || index >= GetCount()) return std::nullopt;
    return addresses_[static_cast<std::size_t>(index)];
}

bool CEmailGroup::LoadMembers(std::string_view account, std::vector<std::string>& members, int& count) const {
    count = 0;
    const auto doc = LoadAccountSettings(account);
    if (!doc) return false;
    count = ReadConfigInt(*doc, "EmailGroup", "Count", 0);
    if (count < 1 || count > kMaxGroupMembers) return false;
    members.clear();
    for (int i = 1; i <= count; ++i)
        members.push_back(ReadValue(*doc, "EmailGroup", Numbered("Member", i), kMaxListEntryLength));
    return true;
}

bool CEmailGroup::SaveMembers(std::string_view account, const std::vector<std::string>& members, int count) const {
    if (count < 0 || count > kMaxGroupMembers || static_cast<std::size_t>(count) > members.size()) return false;
    if (!std::all_of(members.begin(), members.begin() + count, IsListEntry)) return false;
    return EditAccountSettings(account, [&](IniDocument& doc) {
        bool ok = true;
        for (int i = 0; ok && i < count; ++i)
            ok = doc.Set("EmailGroup", Numbered("Member", i + 1), members[static_cast<std::size_t>(i)]);
        return ok && doc.Set("EmailGroup", "Count", std::to_string(count));
    });
}

}  // namespace quorvex
