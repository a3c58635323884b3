// Mail filter rules and their file.
#include "servers/filters/EmailFilter.h"

#include <algorithm>

#include "common/AsciiCase.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "mailmodel/account/AccountFolders.h"

namespace quorvex {

namespace {

std::optional<std::string> RulePath(std::string_view account) {
    const auto folder = GetAccountFolderPath(account);
    if (!folder) return std::nullopt;
    return JoinPath(*folder, kEmailFilterFile);
}

std::string Key(std::string_view name, int n) { return std::string(name) + std::to_string(n); }

unsigned char Byte(const IniDocument& doc, const std::string& key, int default_value) {
    return static_cast<unsigned char>(ParseProfileInt(doc.Find("EmailFilter", key).value_or(""), default_value));
}

}  // namespace

bool FilterRule::Matches(std::string_view subject, std::string_view from) const {
    if (Enable == 0) return false;
    const bool subject_active = SubjectCompare == 0 && !Subject.empty();
    const bool from_active = FromCompare == 0 && !From.empty();
    if (!subject_active && !from_active) return false;
    const auto contains = [](std::string_view text, const std::string& needle) {
        return FindNoCase(text, needle) != std::string_view::npos;
    };
    return (!subject_active || contains(subject, Subject)) && (!from_active || contains(from, From));
}

bool CEmailFilter::Load(std::string_view account) {
    account_ = account;
    rules_.clear();
    const auto path = RulePath(account);
    if (!path) return false;
    const auto doc = ProfileFile(*path).Load();
    const int count = std::clamp(ParseProfileInt(doc->Find("EmailFilter", "Count").value_or(""), 0), 0, kMaxFilterRules);
    for (int n = 1; n <= count; ++n) {
        FilterRule rule;
        rule.Subject = std::string(doc->Find("EmailFilter", Key("Subject", n)).value_or("").substr(0, kMaxFilterText));
        rule.SubjectCompare = Byte(*doc, Key("SubjectCompare", n), 0);
        rule.From = std::string(doc->Find("EmailFilter", Key("From", n)).value_or("").substr(0, kMaxFilterText));
        rule.FromCompare = Byte(*doc, Key("FromCompare", n), 0);
        rule.EmailDeliver = Byte(*doc, Key("EmailDeliver", n), 0);
        rule.FolderDeliverTo = Byte(*doc, Key("FolderDeliverTo", n), 4);
        rule.Enable = Byte(*doc, Key("Enable", n), 0);
        rules_.push_back(std::move(rule));
    }
    return true;
}

bool CEmailFilter::Save() const {
    const auto path = RulePath(account_);
    if (!path) return false;
    return ProfileFile(*path).Edit([&](IniDocument& doc) {
        bool ok = doc.Set("EmailFilter", "Count", std::to_string(rules_.size()));
        for (std::size_t i = 0; ok && i < rules_.size(); ++i) {
            const int n = static_cast<int>(i) + 1;
            const FilterRule& r = rules_[i];
            ok = doc.Set("EmailFilter", Key("Subject", n), r.Subject) &&
                 doc.Set("EmailFilter", Key("SubjectCompare", n), std::to_string(r.SubjectCompare)) &&
                 doc.Set("EmailFilter", Key("From", n), r.From) &&
                 doc.Set("EmailFilter", Key("FromCompare", n), std::to_string(r.FromCompare)) &&
                 doc.Set("EmailFilter", Key("EmailDeliver", n), std::to_string(r.EmailDeliver)) &&
                 doc.Set("EmailFilter", Key("FolderDeliverTo", n), std::to_string(r.FolderDeliverTo)) &&
                 doc.Set("EmailFilter", Key("Enable", n), std::to_string(r.Enable));
        }
        return ok;
    });
}

bool CEmailFilter::AddRule(const FilterRule& rule) {
    if (GetCount() >= kMaxFilterRules || (rule.Subject.empty() && rule.From.empty())) return false;
    rules_.push_back(rule);
    return true;
}

bool CEmailFilter::GetRule(int index, FilterRule& rule) const {
    if (!InRange(index)) return false;
    rule = rules_[static_cast<std::size_t>(index)];
    return true;
}

bool CEmailFilter::SetRule(int index, const FilterRule& rule) {
    if (!InRange(index)) return false;
    rules_[static_cast<std::size_t>(index)] = rule;
    return true;
}

bool CEmailFilter::DeleteRule(int index) {
    if (!InRange(index)) return false;
    rules_.erase(rules_.begin() + index);
    return true;
}

bool CEmailFilter::MoveRuleUp(int index) {
    if (!InRange(index)) return false;
    if (index > 0) std::swap(rules_[static_cast<std::size_t>(index)], rules_[static_cast<std::size_t>(index) - 1]);
    return true;
}

bool CEmailFilter::MoveRuleDown(int index) {
    if (!InRange(index)) return false;
    if (index + 1 < GetCount()) std::swap(rules_[static_cast<std::size_t>(index)], rules_[static_cast<std::size_t>(index) + 1]);
    return true;
}

}  // namespace quorvex
