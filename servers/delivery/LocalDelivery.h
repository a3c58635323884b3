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
#include "mailmodel/store/MailStore.h"
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

// The mailbox copies of one delivery, filtered copies included: each
// written where nobody sees it yet; the commit writes and flushes every
// mailbox's new index before any is renamed into place, so that a message
// refused before then reaches nobody.
class MailboxCopySet {
public:
    virtual ~MailboxCopySet() = default;
    // Holds `size` bytes of the account's mailbox until the copies are
    // committed or given up; kNoRoom when the bytes committed and those
    // this set holds leave no room for them under `quota` (-1: none),
    // kBusy when only bytes held by other deliveries in flight do,
    // kUnreadable when the mailbox cannot be read now.
    virtual MailboxHold Reserve(std::string_view account, std::int64_t size, std::int64_t quota) = 0;
    // Writes a copy for the account's folder 0 or 1, marked read or not;
    // false when it cannot be written.
    virtual bool Stage(std::string_view account, DeliveryMessage& message, int folder, bool read) = 0;
    // Commits every staged copy, all of them or none: false when none is
    // listed.
    virtual bool Commit() = 0;
    // Takes back every committed copy (a later step of the delivery failed).
    virtual void TakeBack() = 0;
    // The UID number of the k-th staged copy once committed, else empty.
    virtual std::string Uid(std::size_t k) = 0;
};

// A copy of a message written into the outgoing queue where no sender
// takes it yet. Publish hands it to the senders; one never published is
// removed with this object.
class QueuedCopy {
public:
    virtual ~QueuedCopy() = default;
    // False when it could not be handed over (it is gone then).
    virtual bool Publish() = 0;
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
    // Whether any filter may look at the account's messages: when none
    // may, its copy is a plain inbox copy and the filters are not asked.
    virtual bool HasFilters(std::string_view account) = 0;
    // What the filters decide for the account's copy; kStoreFailed when
    // the message could not be given to them.
    virtual FilterDecision DecideFilters(std::string_view account, DeliveryMessage& message) = 0;
    // After the commit of a message that stayed: what follows the
    // decision (the folder copy's record, the notice), the copy's UID
    // number given.
    virtual void CompleteFilters(std::string_view account, const FilterDecision& decision, std::string_view uid) = 0;
    // A new, empty set of mailbox copies.
    virtual std::unique_ptr<MailboxCopySet> NewCopies() = 0;
    // Writes a queue copy for an address outside, not yet handed to the
    // senders; null when it could not be written.
    virtual std::unique_ptr<QueuedCopy> StageQueued(std::string_view recipient, std::string_view sender,
                                                    DeliveryMessage& message) = 0;
    // A line of the SMTP log with the caller's tag as peer.
    virtual void Log(std::string_view tag, std::string_view text) = 0;
    // Tells the window that the account's mailbox changed.
    virtual void AccountChanged(std::string_view account) = 0;
};

// The refusal a local account gives a message of `size` bytes, in this
// order: disabled, index full (records or byte totals), larger than
// MaxMailSize, past its quota.
// Nullopt when it takes the message, and for any other address.
std::optional<std::string> RecipientRefusal(DeliveryDirectory& directory, std::string_view recipient,
                                            std::int64_t size);

// One message for several recipients, delivered as one: the message's
// fate is decided before anybody can see it. Planning decides every copy
// (of the recipients, their forwards and group members, the copies and
// the sender's own copy), the filters' decisions included: the mailbox
// copies, filtered ones too, are staged and the queue copies written where
// no sender takes them. One commit puts the mailbox copies in place (every
// mailbox's index flushed before any is renamed into place); only then are
// the queue copies handed to the senders and the filters' records and
// notices made. A failure before the commit leaves nothing visible and
// nothing queued; a queue copy that cannot be handed over after it takes
// the mailbox copies back when a recipient is left with none.
struct DeliveryRequest {
    std::string_view tag;
    std::string_view sender;
    std::vector<std::string> recipients;  // each must take the message
    std::vector<std::string> copies;      // copies to these addresses: a refusal skips one
    std::string sent_copy_account;        // when set, a read copy goes into its folder 1
};
struct DeliveryResult {
    bool delivered = false;
    std::string reply;     // a recipient's refusal line; empty when a store or queue failed
    std::string uid;       // the first recipient's inbox UID number, when it got one
    std::string sent_uid;  // the sender's copy's UID number
    bool sent_copy_failed = false;  // the sender's copy could not be written
};
DeliveryResult DeliverToAll(DeliveryDirectory& directory, const DeliveryRequest& request, DeliveryMessage& message,
                            int depth = 1);

// Delivers the message to `recipient`. True when it was queued, forwarded,
// expanded, taken by a filter or stored; false when refused (with the
// reply line in `reply` when given) or storing failed (reply left empty).
// A forward without a local copy, or a group, fails when none of its
// addresses got a copy (stored, queued or taken by a filter) although
// there was at least one to deliver to.
bool DeliverToRecipient(DeliveryDirectory& directory, std::string* reply, std::string_view tag,
                        std::string_view recipient, std::string_view sender, DeliveryMessage& message,
                        std::string* uid, int depth = 1);
// The same for a message file that the caller keeps.
bool DeliverToRecipient(DeliveryDirectory& directory, std::string* reply, std::string_view tag,
                        std::string_view recipient, std::string_view sender, const std::string& file,
                        std::string* uid, int depth = 1);

}  // namespace quorvex
