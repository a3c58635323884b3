// The remote POP3 boxes an account collects from: up to 20 records in
// section [POP3Remote] of its "maillist.ini", passwords stored scrambled
// and held in clear text in memory.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace quorvex {

inline constexpr int kMaxRemoteBoxes = 20;
// Server, account and password texts are at most this long.
inline constexpr std::size_t kMaxRemoteBoxText = 256;

struct RemotePop3Mailbox {
    int Enable = 1;
    int LeaveCopy = 0;
    std::string POP3Server;
    std::string POP3Account;
    std::string POP3Password;  // clear text
    int port = 110;            // not stored
};

class CEmailPOP3Remote {
public:
    virtual ~CEmailPOP3Remote() = default;

    // Names the account and reads its boxes (Count clamped to 0..20;
    // records past Count reset). False, with nothing changed, when the
    // name cannot be a path.
    bool Load(std::string_view account);
    bool Save();

    // Refused: a full list, all three texts empty, a text over 256
    // characters or holding CR or LF.
    bool AddMailbox(const RemotePop3Mailbox& box);
    bool DeleteMailbox(int index);
    // Replaces a record (no emptiness test; the length rules hold).
    bool SetMailbox(int index, const RemotePop3Mailbox& box);
    bool GetMailbox(int index, RemotePop3Mailbox& out) const;
    int GetCount() const { return count_; }

private:
    std::array<RemotePop3Mailbox, kMaxRemoteBoxes> boxes_{};
    int count_ = 0;
    std::string account_;
};

}  // namespace quorvex
