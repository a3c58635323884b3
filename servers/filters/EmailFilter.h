// An account's mail filter rules, kept in "EmailFilter.ini" in its folder
// (section "EmailFilter"): the store behind local delivery's rule step and
// the rule editing of the account server and the administration windows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

inline constexpr int kMaxFilterRules = 100;
inline constexpr std::size_t kMaxFilterText = 256;
inline constexpr std::string_view kEmailFilterFile = "EmailFilter.ini";

struct FilterRule {
    std::string Subject;              // text looked for in the subject
    unsigned char SubjectCompare = 0;  // 0: the subject must contain Subject; else not tested
    std::string From;                 // text looked for in the sender
    unsigned char FromCompare = 0;     // 0: the sender must contain From; else not tested
    unsigned char EmailDeliver = 0;    // 0 store in FolderDeliverTo, 1 drop, else pass over
    unsigned char FolderDeliverTo = 4;
    unsigned char Enable = 0;

    // True when the rule is enabled, has at least one active test and
    // every active test holds (lower-cased containment).
    bool Matches(std::string_view subject, std::string_view from) const;
};

class CEmailFilter {
public:
    virtual ~CEmailFilter() = default;

    // Reads the account's rules (at most kMaxFilterRules). False when the
    // account's folder is unknown.
    bool Load(std::string_view account);
    // Writes "Count" and every held rule in one rewrite. False when the
    // folder is unknown or a text holds a line break.
    bool Save() const;

    bool AddRule(const FilterRule& rule);
    bool GetRule(int index, FilterRule& rule) const;
    bool SetRule(int index, const FilterRule& rule);
    bool DeleteRule(int index);
    bool MoveRuleUp(int index);
    bool MoveRuleDown(int index);
    int GetCount() const { return static_cast<int>(rules_.size()); }

private:
    bool InRange(int index) const { return index >= 0 && index < GetCount(); }

    std::vector<FilterRule> rules_;
    std::string account_;
};

}  // namespace quorvex
