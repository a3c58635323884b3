// Local delivery: queue, refusals, forwarding, groups, filters, mailbox.
#include "servers/delivery/LocalDelivery.h"

#include <sys/stat.h>

#include <cstdlib>
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
    if (settings.MaxMailSize != -1 && size > settings.MaxMailSize) {
        return FormatReply(kMailTooBigFormat, {recipient});
    }
    const std::int64_t quota = directory.QuotaBytes(account);
    if (quota != -1 && size + usage.bytes > quota) return FormatReply(kMailboxFullFormat, {recipient});
    return std::nullopt;
}

// One delivery of one message with everything it fans out to. Every
// address is handled at most once, so a group that lists itself, or two
// accounts that forward to each other, deliver one copy each instead of
// multiplying copies until the depth limit.
class Delivery {
public:
    Delivery(DeliveryDirectory& directory, DeliveryMessage& message, std::vector<StoredCopy>* stored)
        : directory_(directory), message_(message), stored_(stored) {}

    bool Deliver(std::string* reply, std::string_view tag, std::string_view recipient, std::string_view sender,
                 std::string* uid, int depth);

private:
    bool Refuse(std::string* reply, std::string text) {
        if (reply != nullptr) *reply = std::move(text);
        return false;
    }
    void Log(std::string_view tag, std::string_view format, std::string_view sender, std::string_view recipient) {
        directory_.Log(tag, FormatReply(format, {sender, recipient}));
    }
    // Hands the message to one forward or group address; counts the try.
    void FanOut(std::string_view tag, std::string_view address, std::string_view sender, int depth,
                const CServerSettings& settings, int& tried);
    // After a fan-out that was the only copy: false (with the "failed" log
    // line) when addresses were tried and not one copy went anywhere.
    bool FannedOut(int tried, int copies_before, std::string_view tag, std::string_view sender,
                   std::string_view recipient);

    DeliveryDirectory& directory_;
    DeliveryMessage& message_;
    std::vector<StoredCopy>* stored_;
    std::set<std::string> seen_;
    int copies_ = 0;  // copies stored, queued or taken by a filter so far
};

void Delivery::FanOut(std::string_view tag, std::string_view address, std::string_view sender, int depth,
                      const CServerSettings& settings, int& tried) {
    ++tried;
    if (directory_.ClassifyAddress(address) != ADDRESS_LOCAL_UNKNOWN || settings.SendOutIfAbsent != 0) {
        Deliver(nullptr, tag, address, sender, nullptr, depth + 1);
    }
}

bool Delivery::FannedOut(int tried, int copies_before, std::string_view tag, std::string_view sender,
                         std::string_view recipient) {
    if (tried == 0 || copies_ > copies_before) return true;
    Log(tag, "mail from %s to %s failed", sender, recipient);
    return false;
}

bool Delivery::Deliver(std::string* reply, std::string_view tag, std::string_view recipient,
                       std::string_view sender, std::string* uid, int depth) {
    if (depth >= kMaxDeliveryDepth) return false;
    if (!seen_.insert(AsciiLowerCase(recipient)).second) return true;
    const auto settings = directory_.Settings();

    if (directory_.ClassifyAddress(recipient) != ADDRESS_LOCAL_ACCOUNT) {
        if (!directory_.Enqueue(recipient, sender, message_)) {
            Log(tag, "mail from %s to %s failed", sender, recipient);
            return false;
        }
        Log(tag, "mail from %s to %s in queue.", sender, recipient);
        ++copies_;
        return true;
    }
    const std::string account = AccountOfAddress(recipient, *settings);
    if (auto refusal = AccountRefusal(directory_, *settings, account, recipient, message_.size())) {
        return Refuse(reply, std::move(*refusal));
    }

    bool keep_local = true;
    const int copies_before = copies_;
    int forwards = 0;
    if (const auto forwarding = directory_.Forwarding(account); forwarding && forwarding->enabled) {
        keep_local = forwarding->leave_copy_local;
        for (const auto& entry : forwarding->entries) {
            for (const auto& address : SplitList(entry)) {
                FanOut("MailForward", address, recipient, depth, *settings, forwards);
            }
        }
    }
    if (!keep_local) return FannedOut(forwards, copies_before, tag, sender, recipient);

    if (directory_.IsGroup(account)) {
        Log(tag, "mail from %s to %s successfully", sender, recipient);
        int members = 0;
        for (std::string member : directory_.GroupMembers(account)) {
            if (member.find('@') == std::string::npos) member += "@" + settings->Dominame;
            FanOut("MailGroup", member, recipient, depth, *settings, members);
        }
        return FannedOut(members, copies_before, tag, sender, recipient);
    }
    switch (directory_.ApplyFilters(account, message_, uid)) {
    case FilterOutcome::kTaken:
        Log(tag, "mail from %s to %s filter", sender, recipient);
        directory_.AccountChanged(account);
        ++copies_;
        return true;
    case FilterOutcome::kStoreFailed:
        Log(tag, "mail from %s to %s failed", sender, recipient);
        return false;
    case FilterOutcome::kInbox:
        break;
    }
    std::string own_uid;
    std::string* const new_uid = uid != nullptr ? uid : &own_uid;
    if (!directory_.StoreInInbox(account, message_, new_uid)) {
        Log(tag, "mail from %s to %s failed", sender, recipient);
        return false;
    }
    if (stored_ != nullptr) {
        stored_->push_back({account, static_cast<std::uint32_t>(std::strtoul(new_uid->c_str(), nullptr, 10))});
    }
    Log(tag, "mail from %s to %s successfully", sender, recipient);
    directory_.AccountChanged(account);
    ++copies_;
    return true;
}

}  // namespace

std::optional<std::string> RecipientRefusal(DeliveryDirectory& directory, std::string_view recipient,
                                            std::int64_t size) {
    if (directory.ClassifyAddress(recipient) != ADDRESS_LOCAL_ACCOUNT) return std::nullopt;
    const auto settings = directory.Settings();
    return AccountRefusal(directory, *settings, AccountOfAddress(recipient, *settings), recipient, size);
}

bool DeliverToRecipient(DeliveryDirectory& directory, std::string* reply, std::string_view tag,
                        std::string_view recipient, std::string_view sender, DeliveryMessage& message,
                        std::string* uid, int depth, std::vector<StoredCopy>* stored) {
    Delivery delivery(directory, message, stored);
    return delivery.Deliver(reply, tag, recipient, sender, uid, depth);
}

bool DeliverToRecipient(DeliveryDirectory& directory, std::string* reply, std::string_view tag,
                        std::string_view recipient, std::string_view sender, const std::string& file,
                        std::string* uid, int depth) {
    MessageInFile message(file);
    return DeliverToRecipient(directory, reply, tag, recipient, sender, message, uid, depth);
}

}  // namespace quorvex
