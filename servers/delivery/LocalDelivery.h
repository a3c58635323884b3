// Local delivery of one message file to one address: the outgoing queue
// for addresses that are not local accounts, then the account's refusals
// (disabled, full, too big), forwarding, group expansion, the mail filters
// and the mailbox. Called by the SMTP session for each recipient and copy,
// by the auto-reply, remote collection, the queue's reports and the
// administrator's send-mail dialog.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/ServerSettings.h"
#include "mailmodel/store/MailboxIndex.h"
#include "servers/delivery/DeliveryMessage.h"
#include "servers/filters/MailFilters.h"

namespace quorvex {

// Forwarding and group chains stop here: a forward of a forward of a
// forward is not delivered.
inline constexpr int kMaxDeliveryDepth = 4;
// A mailbox holding as many messages as its index can take is full: the
// sender is told so permanently ("552 too many messages") instead of a
// temporary failure of the store that would be retried for days.
inline constexpr int kMaxMailboxMessages = kMaxMailboxRecords;

struct ForwardingList {
    bool enabled = false;        // EnableForwardMailAddresses
    bool leave_copy_local = true;  // LeaveCopyLocal
    std::vector<std::string> entries;  // each may hold several addresses separated by ";"
};

// A copy that delivery stored in an inbox: enough to withdraw it again.
struct StoredCopy {
    std::string account;
    std::uint32_t uid = 0;
};

struct MailboxUsage {
    int messages = 0;
    std::int64_t bytes = 0;
};

// What delivery needs of the accounts, the mailbox store, the filters and
// the queue. The program's wiring (ServerSmtpServices in app/) is the real one.
class DeliveryDirectory {
public:
    virtual ~DeliveryDirectory() = default;
    virtual std::shared_ptr<const CServerSettings> Settings() = 0;
    virtual int ClassifyAddress(std::string_view address) = 0;
    virtual bool IsDisabled(std::string_view account) = 0;
    virtual bool IsGroup(std::string_view account) = 0;
    // Messages and bytes in the account's mailbox (both folders), from one
    // read of its index.
    virtual MailboxUsage Usage(std::string_view account) = 0;
    // The account's quota in bytes, -1 for none.
    virtual std::int64_t QuotaBytes(std::string_view account) = 0;
    virtual std::optional<ForwardingList> Forwarding(std::string_view account) = 0;
    virtual std::vector<std::string> GroupMembers(std::string_view group) = 0;
    // Whether a filter stored or dropped the message, or failed to store it.
    virtual FilterOutcome ApplyFilters(std::string_view account, DeliveryMessage& message, std::string* uid) = 0;
    // Stores the message in the account's inbox; an empty `uid` given
    // receives the new message's UID number.
    virtual bool StoreInInbox(std::string_view account, DeliveryMessage& message, std::string* uid) = 0;
    // Queues the message for an address outside; false when it could not be queued.
    virtual bool Enqueue(std::string_view recipient, std::string_view sender, DeliveryMessage& message) = 0;
    // A line of the SMTP log with the caller's tag as peer.
    virtual void Log(std::string_view tag, std::string_view text) = 0;
    // Tells the window that the account's mailbox changed.
    virtual void AccountChanged(std::string_view account) = 0;
};

// The refusal a local account gives a message of `size` bytes, in this
// order: disabled, index full, larger than MaxMailSize, past its quota.
// Nullopt when it takes the message, and for any other address.
std::optional<std::string> RecipientRefusal(DeliveryDirectory& directory, std::string_view recipient,
                                            std::int64_t size);

// Delivers the message to `recipient`. True when it was queued, forwarded,
// expanded, taken by a filter or stored; false when refused (with the
// reply line in `reply` when given) or storing failed (reply left empty).
// A forward without a local copy, or a group, fails when none of its
// addresses got a copy (stored, queued or taken by a filter) although
// there was at least one to deliver to. Every inbox copy it stores (the
// recipient's and those of its forwards and group members) is added to
// `stored` when given.
bool DeliverToRecipient(DeliveryDirectory& directory, std::string* reply, std::string_view tag,
                        std::string_view recipient, std::string_view sender, DeliveryMessage& message,
                        std::string* uid, int depth = 1, std::vector<StoredCopy>* stored = nullptr);
// The same for a message file that the caller keeps.
bool DeliverToRecipient(DeliveryDirectory& directory, std::string* reply, std::string_view tag,
                        std::string_view recipient, std::string_view sender, const std::string& file,
                        std::string* uid, int depth = 1);

}  // namespace quorvex
