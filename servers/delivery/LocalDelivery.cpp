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
// refusal and stages every plain inbox copy; filters and the queue are
// only noted. Running commits the staged copies together, then hands the
// message to the filters and the queue; when one of those fails and that
// leaves a recipient without any copy, the committed copies go again.
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
    // Commits, then filters and the queue. False when a required
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
    // A copy for the queue or the filters, handed over after the commit.
    struct Later {
        bool queue = false;
        std::string tag, sender, recipient, account;
        int node = kNoNode;
    };
    struct Staged {
        std::string tag, sender, recipient, account;
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
    // Plans the forwards or members of a node that must keep one copy.
    bool FanOut(std::string_view tag, const std::vector<std::string>& addresses, std::string_view sender,
                std::string_view recipient, std::string_view owner_tag, int depth, int node,
                const CServerSettings& settings);
    // A copy planned under `node` did not go: nodes left without any copy
    // fail in turn; false when that reaches a required recipient.
    bool Lost(int node);
    bool HandOver(const Later& later, DeliveryResult& result, bool first);

    DeliveryDirectory& directory_;
    DeliveryMessage& message_;
    std::unique_ptr<MailboxCopySet> copies_;
    std::set<std::string> seen_;
    std::vector<Node> nodes_;
    std::vector<Later> later_;
    std::vector<Staged> staged_;
    std::optional<std::size_t> first_inbox_;  // the staged copy of the first recipient
    std::optional<std::size_t> sent_copy_;
    std::optional<std::size_t> first_filter_;  // the first recipient's filter step
    std::vector<std::unique_ptr<MailboxCopySet>> inbox_later_;  // inbox copies no filter took
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

bool Delivery::StageSentCopy(const std::string& account) {
    if (!copies_->Stage(account, message_, 1)) return false;
    sent_copy_ = staged_.size();
    staged_.push_back({});
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
        later_.push_back({true, std::string(tag), std::string(sender), std::string(recipient), {}, node});
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
        Log(tag, "mail from %s to %s successfully", sender, recipient);
        std::vector<std::string> members;
        for (std::string member : directory_.GroupMembers(account)) {
            if (member.find('@') == std::string::npos) member += "@" + settings->Dominame;
            members.push_back(std::move(member));
        }
        return FanOut("MailGroup", members, sender, recipient, tag, depth, node, *settings);
    }
    // The quota checked above is held for this copy, so that deliveries at
    // once cannot pass it together.
    switch (copies_->Reserve(account, message_.size(), directory_.QuotaBytes(account))) {
        case MailboxHold::kHeld: break;
        case MailboxHold::kNoRoom: return Refuse(reply, FormatReply(kMailboxFullFormat, {recipient}));
        case MailboxHold::kUnreadable:
            // A damaged index: the store fails for now, and the sender
            // tries again later.
            Log(tag, "mail from %s to %s failed", sender, recipient);
            return false;
    }
    if (directory_.HasFilters(account)) {
        later_.push_back({false, std::string(tag), std::string(sender), std::string(recipient), account, node});
        if (first) first_filter_ = later_.size() - 1;
        Count(node);
        return true;
    }
    if (!copies_->Stage(account, message_, 0)) {
        Log(tag, "mail from %s to %s failed", sender, recipient);
        return false;
    }
    if (first) first_inbox_ = staged_.size();
    staged_.push_back({std::string(tag), std::string(sender), std::string(recipient), account});
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

bool Delivery::HandOver(const Later& later, DeliveryResult& result, bool first) {
    if (later.queue) {
        if (directory_.Enqueue(later.recipient, later.sender, message_)) {
            Log(later.tag, "mail from %s to %s in queue.", later.sender, later.recipient);
            return true;
        }
    } else {
        std::string uid;
        switch (directory_.ApplyFilters(later.account, message_, &uid)) {
        case FilterOutcome::kTaken:
            Log(later.tag, "mail from %s to %s filter", later.sender, later.recipient);
            directory_.AccountChanged(later.account);
            if (first) result.uid = uid;
            return true;
        case FilterOutcome::kInbox: {
            // No filter took it: it goes to the inbox on its own.
            auto own = directory_.NewCopies();
            if (own->Stage(later.account, message_, 0) && own->Commit()) {
                Log(later.tag, "mail from %s to %s successfully", later.sender, later.recipient);
                directory_.AccountChanged(later.account);
                if (first) result.uid = own->Uid(0);
                inbox_later_.push_back(std::move(own));
                return true;
            }
            break;
        }
        case FilterOutcome::kStoreFailed:
            break;
        }
    }
    Log(later.tag, "mail from %s to %s failed", later.sender, later.recipient);
    return false;
}

bool Delivery::Run(DeliveryResult& result) {
    if (!staged_.empty() && !copies_->Commit()) {
        for (const Staged& s : staged_)
            if (!s.recipient.empty()) Log(s.tag, "mail from %s to %s failed", s.sender, s.recipient);
        return false;
    }
    for (const Staged& s : staged_) {
        if (s.recipient.empty()) continue;
        Log(s.tag, "mail from %s to %s successfully", s.sender, s.recipient);
        directory_.AccountChanged(s.account);
    }
    if (first_inbox_) result.uid = copies_->Uid(*first_inbox_);
    if (sent_copy_) result.sent_uid = copies_->Uid(*sent_copy_);
    bool kept = true;
    for (std::size_t k = 0; k < later_.size(); ++k) {
        if (!HandOver(later_[k], result, first_filter_ == k) && !Lost(later_[k].node)) kept = false;
    }
    if (kept) return true;
    copies_->TakeBack();
    for (auto& own : inbox_later_) own->TakeBack();
    return false;
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
