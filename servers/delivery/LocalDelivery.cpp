// Local delivery: queue, refusals, forwarding, groups, filters, mailbox.
#include "servers/delivery/LocalDelivery.h"

#include <sys/stat.h>

#include <memory>
#include <set>

#include "common/AsciiCase.h"
#include "common/ReplyFormat.h"
#include "common/TextHelpers.h"
#include "servers/address/AddressRules.h"
#include "servers/delivery/DeliveryReplies.h"

namespace quorvex {

std::int64_t MessageInFile::size() const {
    struct stat st {};
    return ::stat(path_.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
}

namespace {

std::optional<std::string> AccountRefusal(DeliveryDirectory& directory, const CServerSettings& settings,
                                          const std::string& account, std::string_view recipient,
                                          std::int64_t size) {
    if (directory.IsDisabled(account)) return FormatReply(kDisabledFormat, {recipient});
    const MailboxUsage usage = directory.Usage(account);
    if (usage.messages >= kMaxMailboxMessages) return std::string(kTooManyMessages);
    // The index keeps byte totals in 32-bit fields: a mailbox they cannot
    // count any further is full for good, not a store failing for ever.
    if (usage.bytes + size > kMaxFolderBytes) return FormatReply(kMailboxFullFormat, {recipient});
    if (settings.MaxMailSize != -1 && size > settings.MaxMailSize) {
        return FormatReply(kMailTooBigFormat, {recipient});
    }
    const std::int64_t quota = directory.QuotaBytes(account);
    if (quota != -1 && size + usage.bytes > quota) return FormatReply(kMailboxFullFormat, {recipient});
    return std::nullopt;
}

// One delivery of one message with everything it fans out to, in two
// steps. Planning walks the recipients, forwards and groups, checks every
// refusal, asks the filters, stages every mailbox copy (filtered ones
// included) and writes every queue copy where no sender takes it yet.
// Running commits the mailbox copies in one step, then hands the queue
// copies to the senders; when one of those cannot be handed over and that
// leaves a recipient without any copy, the committed copies go again.
// Only a delivery that stayed logs its copies and lets the filters record
// theirs and send their notices.
// Within one recipient every address is handled at most once, so a group
// that lists itself, or two accounts that forward to each other, deliver
// one copy each instead of multiplying copies until the depth limit.
class Delivery {
public:
    Delivery(DeliveryDirectory& directory, DeliveryMessage& message)
        : directory_(directory), message_(message), copies_(directory.NewCopies()) {}

    // Plans the delivery to one recipient; a required one that refuses or
    // cannot be staged fails the whole delivery (false, with the reply).
    bool PlanRecipient(std::string* reply, std::string_view tag, std::string_view recipient, std::string_view sender,
                       int depth, bool required);
    // Stages the sender's own copy into the account's folder 1.
    bool StageSentCopy(const std::string& account);
    // Commits, then hands over the queue copies. False when a required
    // recipient got no copy in the end (every committed copy taken back).
    bool Run(DeliveryResult& result);

private:
    // Something that must keep at least one copy: a recipient, or a
    // forward without a local copy or a group below one. `copies` counts
    // its addresses that took the message.
    struct Node {
        int parent = -1;
        bool required = false;
        int copies = 0;
        std::string tag, sender, recipient;  // for the "failed" line
    };
    enum class Kind {
        kInbox,     // a mailbox copy no filter took
        kFiltered,  // a folder copy or a drop the filters decided
        kQueue,     // a copy for the outgoing queue
        kGroup,     // the group's own line, no copy
        kSent,      // the sender's own copy, no line
    };
    // A copy decided at planning and what the steps after the commit need.
    struct Planned {
        Kind kind = Kind::kInbox;
        std::string tag, sender, recipient, account;
        int node = kNoNode;
        std::optional<std::size_t> staged;  // its place in the set of mailbox copies
        std::unique_ptr<QueuedCopy> queued;
        FilterDecision filters;
        bool gone = false;  // it did not come about after all
    };
    static constexpr int kNoNode = -1;  // a copy whose failure nobody minds

    bool Plan(std::string* reply, std::string_view tag, std::string_view recipient, std::string_view sender,
              int depth, int node);
    bool Refuse(std::string* reply, std::string text) {
        if (reply != nullptr) *reply = std::move(text);
        return false;
    }
    void Log(std::string_view tag, std::string_view format, std::string_view sender, std::string_view recipient) {
        directory_.Log(tag, FormatReply(format, {sender, recipient}));
    }
    void Count(int node) {
        if (node != kNoNode) ++nodes_[static_cast<std::size_t>(node)].copies;
    }
    Planned& Add(Kind kind, std::string_view tag, std::string_view sender, std::string_view recipient,
                 std::string_view account, int node) {
        planned_.push_back({kind, std::string(tag), std::string(sender), std::string(recipient), std::string(account),
                            node, std::nullopt, nullptr, {}, false});
        return planned_.back();
    }
    // Stages a mailbox copy for the account: its place in the set of
    // mailbox copies, nothing when it cannot be written.
    std::optional<std::size_t> Stage(std::string_view account, int folder, bool read);
    // Plans the forwards or members of a node that must keep one copy.
    bool FanOut(std::string_view tag, const std::vector<std::string>& addresses, std::string_view sender,
                std::string_view recipient, std::string_view owner_tag, int depth, int node,
                const CServerSettings& settings);
    // A copy planned under `node` did not go: nodes left without any copy
    // fail in turn; false when that reaches a required recipient.
    bool Lost(int node);
    // The log line and the steps after the commit of a copy that stayed.
    void Finish(const Planned& planned);

    DeliveryDirectory& directory_;
    DeliveryMessage& message_;
    std::unique_ptr<MailboxCopySet> copies_;
    std::size_t staged_count_ = 0;
    std::set<std::string> seen_;
    std::vector<Node> nodes_;
    std::vector<Planned> planned_;
    std::optional<std::size_t> first_copy_;  // the planned copy of the first recipient
    std::optional<std::size_t> sent_copy_;
    bool planning_first_ = false;  // the address planned is the first recipient itself
};

bool Delivery::PlanRecipient(std::string* reply, std::string_view tag, std::string_view recipient,
                             std::string_view sender, int depth, bool required) {
    seen_.clear();
    int node = kNoNode;
    if (required) {
        node = static_cast<int>(nodes_.size());
        nodes_.push_back({kNoNode, true, 0, std::string(tag), std::string(sender), std::string(recipient)});
    }
    planning_first_ = required && nodes_.size() == 1;
    const bool planned = Plan(reply, tag, recipient, sender, depth, node);
    return planned || !required;
}

std::optional<std::size_t> Delivery::Stage(std::string_view account, int folder, bool read) {
    if (!copies_->Stage(account, message_, folder, read)) return std::nullopt;
    return staged_count_++;
}

bool Delivery::StageSentCopy(const std::string& account) {
    const auto staged = Stage(account, 1, true);
    if (!staged) return false;
    sent_copy_ = planned_.size();
    Add(Kind::kSent, {}, {}, {}, account, kNoNode).staged = staged;
    return true;
}

bool Delivery::FanOut(std::string_view tag, const std::vector<std::string>& addresses, std::string_view sender,
                      std::string_view recipient, std::string_view owner_tag, int depth, int node,
                      const CServerSettings& settings) {
    const int fan = static_cast<int>(nodes_.size());
    nodes_.push_back({node, false, 0, std::string(owner_tag), std::string(sender), std::string(recipient)});
    int tried = 0;
    for (const std::string& address : addresses) {
        ++tried;
        if (directory_.ClassifyAddress(address) != ADDRESS_LOCAL_UNKNOWN || settings.SendOutIfAbsent != 0) {
            Plan(nullptr, tag, address, recipient, depth + 1, fan);
        }
    }
    if (tried > 0 && nodes_[static_cast<std::size_t>(fan)].copies == 0) {
        Log(owner_tag, "mail from %s to %s failed", sender, recipient);
        return false;
    }
    Count(node);
    return true;
}

bool Delivery::Plan(std::string* reply, std::string_view tag, std::string_view recipient, std::string_view sender,
                    int depth, int node) {
    const bool first = planning_first_;
    planning_first_ = false;
    if (depth >= kMaxDeliveryDepth) return false;
    if (!seen_.insert(AsciiLowerCase(recipient)).second) return true;
    const auto settings = directory_.Settings();

    if (directory_.ClassifyAddress(recipient) != ADDRESS_LOCAL_ACCOUNT) {
        auto queued = directory_.StageQueued(recipient, sender, message_);
        if (!queued) {
            Log(tag, "mail from %s to %s failed", sender, recipient);
            return false;
        }
        Add(Kind::kQueue, tag, sender, recipient, {}, node).queued = std::move(queued);
        Count(node);
        return true;
    }
    const std::string account = AccountOfAddress(recipient, *settings);
    if (auto refusal = AccountRefusal(directory_, *settings, account, recipient, message_.size())) {
        return Refuse(reply, std::move(*refusal));
    }

    bool keep_local = true;
    std::vector<std::string> forwards;
    if (const auto forwarding = directory_.Forwarding(account); forwarding && forwarding->enabled) {
        keep_local = forwarding->leave_copy_local;
        for (const auto& entry : forwarding->entries)
            for (const auto& address : SplitList(entry)) forwards.push_back(address);
    }
    if (!keep_local) return FanOut("MailForward", forwards, sender, recipient, tag, depth, node, *settings);
    for (const std::string& address : forwards) {
        if (directory_.ClassifyAddress(address) != ADDRESS_LOCAL_UNKNOWN || settings->SendOutIfAbsent != 0) {
            Plan(nullptr, "MailForward", address, recipient, depth + 1, kNoNode);
        }
    }

    if (directory_.IsGroup(account)) {
        // The group's own line keeps its place before its members' lines.
        const std::size_t line = planned_.size();
        Add(Kind::kGroup, tag, sender, recipient, account, kNoNode);
        std::vector<std::string> members;
        for (std::string member : directory_.GroupMembers(account)) {
            if (member.find('@') == std::string::npos) member += "@" + settings->Dominame;
            members.push_back(std::move(member));
        }
        const bool fanned = FanOut("MailGroup", members, sender, recipient, tag, depth, node, *settings);
        planned_[line].gone = !fanned;
        return fanned;
    }
    // The quota checked above is held for this copy until it is stored, so
    // that deliveries at once cannot pass it together.
    switch (copies_->Reserve(account, message_.size(), directory_.QuotaBytes(account))) {
        case MailboxHold::kHeld: break;
        case MailboxHold::kNoRoom: return Refuse(reply, FormatReply(kMailboxFullFormat, {recipient}));
        case MailboxHold::kBusy: return Refuse(reply, FormatReply(kMailboxFullForNowFormat, {recipient}));
        case MailboxHold::kUnreadable:
            // A damaged index: the store fails for now, and the sender
            // tries again later.
            Log(tag, "mail from %s to %s failed", sender, recipient);
            return false;
    }
    FilterDecision filters;
    if (directory_.HasFilters(account)) filters = directory_.DecideFilters(account, message_);
    if (filters.outcome == FilterOutcome::kStoreFailed) {
        Log(tag, "mail from %s to %s failed", sender, recipient);
        return false;
    }
    const Kind kind = filters.outcome == FilterOutcome::kTaken ? Kind::kFiltered : Kind::kInbox;
    std::optional<std::size_t> staged;
    // A folder copy goes unread into the mailbox's second slot; a drop
    // stages nothing.
    if (kind == Kind::kInbox || filters.folder) {
        staged = Stage(account, kind == Kind::kFiltered ? 1 : 0, false);
        if (!staged) {
            Log(tag, "mail from %s to %s failed", sender, recipient);
            return false;
        }
    }
    if (first) first_copy_ = planned_.size();
    Planned& copy = Add(kind, tag, sender, recipient, account, node);
    copy.staged = staged;
    copy.filters = std::move(filters);
    Count(node);
    return true;
}

bool Delivery::Lost(int node) {
    while (node != kNoNode) {
        Node& n = nodes_[static_cast<std::size_t>(node)];
        if (--n.copies > 0) return true;
        if (n.required) return false;
        Log(n.tag, "mail from %s to %s failed", n.sender, n.recipient);
        node = n.parent;
    }
    return true;
}

void Delivery::Finish(const Planned& p) {
    switch (p.kind) {
    case Kind::kQueue:
        Log(p.tag, "mail from %s to %s in queue.", p.sender, p.recipient);
        return;
    case Kind::kGroup:
        Log(p.tag, "mail from %s to %s successfully", p.sender, p.recipient);
        return;
    case Kind::kSent:
        return;
    case Kind::kInbox:
    case Kind::kFiltered:
        break;
    }
    const bool filtered = p.kind == Kind::kFiltered;
    Log(p.tag, filtered ? "mail from %s to %s filter" : "mail from %s to %s successfully", p.sender, p.recipient);
    directory_.AccountChanged(p.account);
    if (p.filters.folder || p.filters.notice) {
        directory_.CompleteFilters(p.account, p.filters, p.staged ? copies_->Uid(*p.staged) : std::string());
    }
}

bool Delivery::Run(DeliveryResult& result) {
    if (staged_count_ > 0 && !copies_->Commit()) {
        for (const Planned& p : planned_)
            if (p.staged && !p.recipient.empty()) Log(p.tag, "mail from %s to %s failed", p.sender, p.recipient);
        return false;
    }
    // Queue copies reach the senders only now. One handed over cannot be
    // called back: a failure that leaves a recipient without any copy
    // stops the rest, which are removed unsent.
    for (Planned& p : planned_) {
        if (!p.queued || p.queued->Publish()) continue;
        p.gone = true;
        Log(p.tag, "mail from %s to %s failed", p.sender, p.recipient);
        if (!Lost(p.node)) {
            copies_->TakeBack();
            return false;
        }
    }
    for (const Planned& p : planned_)
        if (!p.gone) Finish(p);
    if (first_copy_ && planned_[*first_copy_].staged) result.uid = copies_->Uid(*planned_[*first_copy_].staged);
    if (sent_copy_) result.sent_uid = copies_->Uid(*planned_[*sent_copy_].staged);
    return true;
}

}  // namespace

std::optional<std::string> RecipientRefusal(DeliveryDirectory& directory, std::string_view recipient,
                                            std::int64_t size) {
    if (directory.ClassifyAddress(recipient) != ADDRESS_LOCAL_ACCOUNT) return std::nullopt;
    const auto settings = directory.Settings();
    return AccountRefusal(directory, *settings, AccountOfAddress(recipient, *settings), recipient, size);
}

DeliveryResult DeliverToAll(DeliveryDirectory& directory, const DeliveryRequest& request, DeliveryMessage& message,
                            int depth) {
    DeliveryResult result;
    Delivery delivery(directory, message);
    for (const std::string& copy : request.copies)
        delivery.PlanRecipient(nullptr, request.tag, copy, request.sender, depth, false);
    for (const std::string& recipient : request.recipients) {
        if (!delivery.PlanRecipient(&result.reply, request.tag, recipient, request.sender, depth, true)) return result;
    }
    if (!request.sent_copy_account.empty() && !delivery.StageSentCopy(request.sent_copy_account)) {
        result.sent_copy_failed = true;
        return result;
    }
    result.delivered = delivery.Run(result);
    return result;
}

bool DeliverToRecipient(DeliveryDirectory& directory, std::string* reply, std::string_view tag,
                        std::string_view recipient, std::string_view sender, DeliveryMessage& message,
                        std::string* uid, int depth) {
    DeliveryRequest request;
    request.tag = tag;
    request.sender = sender;
    request.recipients.emplace_back(recipient);
    DeliveryResult result = DeliverToAll(directory, request, message, depth);
    if (reply != nullptr) *reply = result.reply;
    if (result.delivered && uid != nullptr && uid->empty()) *uid = result.uid;
    return result.delivered;
}

bool DeliverToRecipient(DeliveryDirectory& directory, std::string* reply, std::string_view tag,
                        std::string_view recipient, std::string_view sender, const std::string& file,
                        std::string* uid, int depth) {
    MessageInFile message(file);
    return DeliverToRecipient(directory, reply, tag, recipient, sender, message, uid, depth);
}

}  // namespace quorvex
