// The per-account forwarding list and group member list, both kept in the
// account's "maillist.ini": [EmailForward] with its switches and numbered
// addresses, [EmailGroup] with its numbered members.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

inline constexpr int kMaxForwardAddresses = 256;
inline constexpr int kMaxGroupMembers = 128;
// Forwarding entries and members are at most this long.
inline constexpr std::size_t kMaxListEntryLength = 256;

class CEmailForward {
public:
    virtual ~CEmailForward() = default;

    // Names the account and reads its list (Count clamped to 0..256,
    // LeaveCopyLocal default 1). False when the name cannot be a path.
    bool Load(std::string_view account);
    // Writes LeaveCopyLocal, Count, the addresses and [system]
    // EnableForwardMailAddresses in one rewrite.
    bool Save();

    // Refused: a full list, an empty text, a text over 256 characters or
    // one holding CR or LF.
    bool AddAddress(std::string_view text);
    bool DeleteAddress(int index);
    // An empty text is accepted; the other refusals are AddAddress's.
    bool SetAddress(int index, std::string_view text);
    std::optional<std::string> GetAddress(int index) const;
    int GetCount() const { return static_cast<int>(addresses_.size()); }

    int LeaveCopyLocal = 0;
    int EnableForwardMailAddresses = 0;

private:
    std::vector<std::string> addresses_;
    std::string account_;
};

class CEmailGroup {
public:
    virtual ~CEmailGroup() = default;

    // Reads [EmailGroup]. `count` gets the stored Count as read; the
    // members are read (and the result is true) only when it is 1..128.
    bool LoadMembers(std::string_view account, std::vector<std::string>& members, int& count) const;
    // Writes the first `count` members and Count. Refused (nothing written)
    // for a count outside 0..128, too few members, or a member over 256
    // characters or holding CR or LF.
    bool SaveMembers(std::string_view account, const std::vector<std::string>& members, int count) const;
};

}  // namespace quorvex
