// What a POP3 session sees of the server around it: the session's private
// copy of a mailbox index, and the services (accounts, mailbox store, log,
// job table) it calls. The session talks only to this interface, so it runs
// without sockets, disks or other threads in tests; the server wires it to
// the real account list, mailbox store and job table.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mailmodel/account/AccountPresence.h"
#include "mailmodel/store/MailboxIndex.h"
#include "servers/logins/LoginChecks.h"

namespace quorvex::pop3 {

// Flag word bits of a message.
inline constexpr std::uint16_t kFlagRead = 1;
inline constexpr std::uint16_t kFlagReplied = 2;
inline constexpr std::uint16_t kFlagForwarded = 4;

// Change bits that QUIT commits, those of the mailbox store; exactly
// kChangeDeleteOnly deletes.
inline constexpr std::uint16_t kChangeFlags = kChangeMarks;
inline constexpr std::uint16_t kChangeDeleteOnly = kChangeDelete;
inline constexpr std::uint16_t kChangeMoveBit = kChangeMove;

// A size the store does not know.
inline constexpr std::uint32_t kUnknownSize = 0xFFFFFFFFu;
// An account without a quota.
inline constexpr std::uint64_t kNoQuota = 0xFFFFFFFFu;

struct Pop3Message {
    std::int32_t FileNumber = 0;  // names the message file
    std::uint32_t Uid = 0;
    std::uint32_t Size = 0;
    std::uint16_t Flags = 0;
    std::uint16_t Folder = 0;
    std::uint16_t Changes = 0;
    std::uint16_t MoveTarget = 0;
};

// One session's copy of an account's index: the messages of folder 0, then
// those of folder 1, each in folder order.
struct Pop3Mailbox {
    std::array<int, 2> Counts{0, 0};
    std::array<std::uint32_t, 2> Bytes{0, 0};
    std::vector<Pop3Message> Messages;
};

class Pop3Services {
public:
    virtual ~Pop3Services() = default;

    // Accounts. AccountExists: kListed for a local account that may be
    // served. Names arrive lower-cased and validated.
    virtual AccountPresence AccountExists(std::string_view name) = 0;
    // PASS's checks: the password (groups refused), the lock of a guessing
    // address and the report of a failure.
    virtual LoginChecks& Logins() = 0;
    virtual bool IsDisabled(std::string_view name) = 0;
    virtual bool IsGroup(std::string_view name) = 0;
    virtual int Permission(std::string_view name) = 0;
    virtual std::uint64_t QuotaBytes(std::string_view name) = 0;  // kNoQuota for none
    // The account's name as the account list spells it.
    virtual std::string StoredName(std::string_view name) = 0;

    // Mailbox store. LoadMailbox fills the copy under the store lock;
    // CommitMailbox applies its change bits, flags and moves against the
    // index as it is then (under the same lock), keeping mail that arrived
    // meanwhile. Both false on failure.
    virtual bool LoadMailbox(std::string_view account, Pop3Mailbox& mailbox) = 0;
    virtual bool CommitMailbox(std::string_view account, const Pop3Mailbox& mailbox) = 0;
    virtual std::string MessagePath(std::string_view account, std::int32_t file_number) = 0;
    virtual std::uint8_t StoreKey(std::string_view account) = 0;
    virtual std::string UidText(std::string_view account, std::uint32_t uid) = 0;

    // After a committed QUIT: the last-visit time and the usage notice.
    virtual void RecordVisit(std::string_view account) = 0;
    // Read receipt for a retrieved message (only when receipts are on).
    virtual void MarkReceiptRead(std::string_view account, const std::string& message_path, std::uint8_t key) = 0;
    // Queues a collection from the account's remote boxes: the job slot, or
    // -1 when one is already queued or running (or the server stops).
    virtual int QueueRemoteCollection(std::string_view account) = 0;

    // The POP3 log.
    virtual void Log(std::string_view source, std::string_view text) = 0;

    // Anti-virus mode: the first IPv4 address of a host name, dotted.
    virtual std::optional<std::string> ResolveHost(std::string_view host) = 0;
};

}  // namespace quorvex::pop3
