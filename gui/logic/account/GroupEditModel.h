// The two lists of the group dialog and saving a group. The model is the
// one truth the dialog's list boxes show: the other users (every listed
// account but the group itself and its members, compared without regard
// to case) and the members, both in alphabetical order. A group holds at
// most 128 members; a move that would make more moves only what fits.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/ServerSettings.h"
#include "mailmodel/account/AccountConfig.h"

namespace quorvex {
class AccountList;
}

namespace quorvex::gui {

class GroupEditModel {
public:
    // `accounts`: every account name; `members`: the group's members.
    void Load(const std::vector<std::string>& accounts, std::string_view group,
              const std::vector<std::string>& members);

    const std::vector<std::string>& others() const { return others_; }
    const std::vector<std::string>& members() const { return members_; }

    // Move the entries at the given positions (any order, repeats ignored).
    // Add returns false when not all of them fitted into the group.
    bool Add(std::vector<int> positions);
    void Remove(std::vector<int> positions);
    bool AddAll();
    void RemoveAll();

private:
    std::vector<std::string> others_;
    std::vector<std::string> members_;
};

// Alphabetical order of the lists: without regard to ASCII case first.
bool NameOrder(const std::string& a, const std::string& b);

struct GroupFields {
    std::string name;
    std::string description;
    bool disabled = false;
};

struct GroupSave {
    bool saved = false;
    std::string_view message;  // the refusal's text key when not saved
};

// Creates the group (only when no account of the name exists by then; the
// name is checked under `settings`, beside `accounts`) or updates an existing one (its
// description and switch only: password, size, contact address, rights and
// creation time stay), then writes the member list. Nothing is written for
// a group that could not be stored.
GroupSave SaveGroup(const GroupFields& fields, bool is_new, const std::vector<std::string>& members,
                    const CServerSettings& settings, const AccountList& accounts);

}  // namespace quorvex::gui
