#include "gui/logic/account/GroupEditModel.h"

#include <algorithm>
#include <set>

#include "common/AccountName.h"
#include "common/AsciiCase.h"
#include "gui/logic/account/AccountNameCheck.h"
#include "gui/logic/account/BasicInfoForm.h"
#include "gui/support/AccountTexts.h"
#include "mailmodel/account/EmailForward.h"
#include "mailmodel/provision/AccountProvision.h"

namespace quorvex::gui {

namespace {

bool Contains(const std::vector<std::string>& names, std::string_view name) {
    return std::any_of(names.begin(), names.end(), [&](const std::string& n) { return SameName(n, name); });
}

// Takes the entries at `positions` out of `from`, first to last.
std::vector<std::string> TakeOut(std::vector<std::string>& from, std::vector<int> positions, std::size_t limit) {
    std::set<int> chosen;
    for (const int p : positions) {
        if (p >= 0 && static_cast<std::size_t>(p) < from.size()) chosen.insert(p);
    }
    std::vector<std::string> taken;
    std::vector<std::string> kept;
    for (std::size_t i = 0; i < from.size(); ++i) {
        if (chosen.count(static_cast<int>(i)) != 0 && taken.size() < limit) taken.push_back(from[i]);
        else kept.push_back(from[i]);
    }
    from.swap(kept);
    return taken;
}

void Merge(std::vector<std::string>& into, const std::vector<std::string>& names) {
    into.insert(into.end(), names.begin(), names.end());
    std::sort(into.begin(), into.end(), NameOrder);
}

}  // namespace

bool NameOrder(const std::string& a, const std::string& b) {
    if (!SameName(a, b)) return LessNoCase(a, b);
    return a < b;
}

void GroupEditModel::Load(const std::vector<std::string>& accounts, std::string_view group,
                          const std::vector<std::string>& members) {
    members_.clear();
    for (const std::string& member : members) {
        if (!member.empty() && !Contains(members_, member) && members_.size() < kMaxGroupMembers)
            members_.push_back(member);
    }
    others_.clear();
    for (const std::string& name : accounts) {
        if (!SameName(name, group) && !Contains(members_, name)) others_.push_back(name);
    }
    std::sort(members_.begin(), members_.end(), NameOrder);
    std::sort(others_.begin(), others_.end(), NameOrder);
}

bool GroupEditModel::Add(std::vector<int> positions) {
    const std::size_t room = kMaxGroupMembers - std::min<std::size_t>(members_.size(), kMaxGroupMembers);
    std::set<int> wanted(positions.begin(), positions.end());
    std::erase_if(wanted, [&](int p) { return p < 0 || static_cast<std::size_t>(p) >= others_.size(); });
    Merge(members_, TakeOut(others_, std::move(positions), room));
    return wanted.size() <= room;
}

void GroupEditModel::Remove(std::vector<int> positions) {
    Merge(others_, TakeOut(members_, std::move(positions), members_.size()));
}

bool GroupEditModel::AddAll() {
    std::vector<int> all(others_.size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i);
    return Add(std::move(all));
}

void GroupEditModel::RemoveAll() {
    Merge(others_, members_);
    members_.clear();
}

GroupSave SaveGroup(const GroupFields& fields, bool is_new, const std::vector<std::string>& members,
                    const CServerSettings& settings, const AccountList& accounts) {
    if (members.size() > static_cast<std::size_t>(kMaxGroupMembers)) return {false, kTextGroupFull};
    AccountRecord record;
    if (is_new) {
        const std::string_view refusal = CheckNewAccountName(fields.name, settings, accounts);
        if (!refusal.empty()) return {false, refusal};
        record.IsGroup = 1;
        record.Name = fields.name;
        record.UserName = std::string(kTextGroupUserName);
        record.TimeStamp = AccountTimeStampNow();
    } else if (!LoadAccount(fields.name, record)) {
        return {false, kTextAccountGone};
    }
    record.Disabled = fields.disabled ? 1 : 0;
    record.Comment = SingleLineText(fields.description).substr(0, kMaxAccountText);
    const AccountStoreResult result = StoreAccount(
        fields.name, record, is_new ? AccountStoreMode::kCreateOnly : AccountStoreMode::kUpdateOnly);
    if (result != AccountStoreResult::kStored) return {false, AccountStoreMessage(result)};
    if (!CEmailGroup().SaveMembers(fields.name, members, static_cast<int>(members.size())))
        return {false, kTextMembersNotSaved};
    return {true, {}};
}

}  // namespace quorvex::gui
