// Wiring of SMTP sessions and local delivery to the server's subsystems.
#include "app/ServerSmtpServices.h"

#include <unistd.h>

#include <utility>

#include "common/AccountName.h"
#include "common/ErrorLog.h"
#include "common/Paths.h"
#include "mailmodel/account/AccountConfig.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/account/EmailForward.h"
#include "mailmodel/autoreply/EmailAutoReply.h"
#include "mailmodel/store/MailStore.h"
#include "servers/address/AddressRules.h"
#include "servers/address/QueueCounters.h"
#include "app/ServerFilterServices.h"
#include "servers/filters/VirusScan.h"
#include "servers/logs/ServerLogs.h"
#include "servers/queue/OutgoingQueue.h"
#include "servers/smtp/SmtpAccessRules.h"

namespace quorvex::smtp {

std::shared_ptr<const CServerSettings> ServerSmtpServices::Settings() { return quorvex::Settings(); }

int ServerSmtpServices::ClassifyAddress(std::string_view address) {
    return hooks_.classify_address ? hooks_.classify_address(address) : quorvex::ClassifyAddress(address);
}

int ServerSmtpServices::NextTempNumber() {
    return hooks_.next_temp_number ? hooks_.next_temp_number() : NextQueueId(queue_.folder(), QUEUE_COUNTER_TEMP_SMTP);
}

bool ServerSmtpServices::AccountExists(std::string_view account) {
    return IsValidAccountName(account) && Accounts().Exists(account);
}

std::string ServerSmtpServices::AccountInterMail(std::string_view account) {
    return GetAccountInterMail(account).value_or("");
}

std::string ServerSmtpServices::NewTempMessagePath() {
    MakeFolders(queue_.folder());
    const int number = NextTempNumber();
    return JoinPath(queue_.folder(), std::string(kSpoolFilePrefix) + std::to_string(number) + ".dat");
}

void ServerSmtpServices::Log(std::string_view peer, std::string_view text) {
    const std::string_view shown = IsWebMailAddress(peer) != 0 ? std::string_view("WebMail") : peer;
    WriteSmtpLog(CurrentLogSettings(), shown, text, notices_);
}

void ServerSmtpServices::ScanForViruses(const std::string& path) { ScanMailForViruses(path, *Settings()); }

std::optional<std::string> ServerSmtpServices::Refusal(std::string_view recipient, DeliveryMessage& message) {
    return RecipientRefusal(*this, recipient, message.size());
}

DeliveryOutcome ServerSmtpServices::Deliver(const DeliveryRequest& request, DeliveryMessage& message) {
    const DeliveryResult result = DeliverToAll(*this, request, message);
    DeliveryOutcome outcome{result.delivered, result.reply, result.sent_copy_failed, {}};
    if (result.delivered && !request.sent_copy_account.empty()) {
        outcome.sent_copy_id = FormatMailUid(Accounts().StoredName(request.sent_copy_account),
                                             static_cast<std::uint32_t>(std::strtoul(result.sent_uid.c_str(), nullptr, 10)));
    }
    return outcome;
}

namespace {

// The mailbox store's copies, scrambled, under the accounts' stored names.
class StoreCopySet final : public MailboxCopySet {
public:
    bool Stage(std::string_view account, DeliveryMessage& message, int folder, bool read) override {
        const std::string stored = Accounts().StoredName(account);
        if (const auto text = message.text()) return copies_.StageText(stored, *text, folder, true, read);
        const std::string* path = message.File();
        return path && copies_.StageFile(stored, *path, folder, true, read);
    }
    MailboxHold Reserve(std::string_view account, std::int64_t size, std::int64_t quota) override {
        return copies_.Reserve(Accounts().StoredName(account), size, quota);
    }
    bool Commit() override { return copies_.Commit(); }
    void TakeBack() override { copies_.TakeBack(); }
    std::string Uid(std::size_t k) override {
        const auto stored = copies_.Stored(k);
        return stored ? std::to_string(stored->uid) : std::string();
    }

private:
    MailboxCopies copies_;
};

}  // namespace

std::unique_ptr<MailboxCopySet> ServerSmtpServices::NewCopies() { return std::make_unique<StoreCopySet>(); }

void ServerSmtpServices::SendAutoReply(std::string_view account, std::string_view sender, DeliveryMessage& message) {
    const std::string stored = Accounts().StoredName(account);
    // The original is read for its header only when a reply may go out.
    EmailAutoReply settings;
    AutoReplySettings wanted;
    if (sender.empty() || !settings.Load(stored) || !settings.GetSettings(wanted) || wanted.Enable == 0) return;
    const std::string* path = message.File();
    if (!path) return;
    AutoReplyDelivery delivery;
    delivery.next_temp_number = [this] { return NextTempNumber(); };
    // The reply goes out with an empty envelope sender: nothing answers it.
    delivery.deliver = [this](std::string_view recipient, const std::string& file) {
        std::string reply;
        return DeliverToRecipient(*this, &reply, "AutoReply", recipient, "", file, nullptr);
    };
    EmailAutoReply().SendAutoReply(stored, sender, *path, delivery);
}

bool ServerSmtpServices::IsDisabled(std::string_view account) { return Accounts().IsDisabled(account); }
bool ServerSmtpServices::IsGroup(std::string_view account) { return Accounts().IsGroup(account) != 0; }

MailboxUsage ServerSmtpServices::Usage(std::string_view account) {
    const auto totals = ReadMailboxTotals(Accounts().StoredName(account));
    if (!totals) return {};
    return {totals->messages, totals->bytes};
}

std::int64_t ServerSmtpServices::QuotaBytes(std::string_view account) {
    const std::uint64_t quota = Accounts().GetQuotaBytes(account);
    return quota == kNoQuotaLimit ? -1 : static_cast<std::int64_t>(quota);
}

std::optional<ForwardingList> ServerSmtpServices::Forwarding(std::string_view account) {
    CEmailForward forward;
    if (!forward.Load(Accounts().StoredName(account))) return std::nullopt;
    ForwardingList list;
    list.enabled = forward.EnableForwardMailAddresses != 0;
    list.leave_copy_local = forward.LeaveCopyLocal != 0;
    for (int i = 0; i < forward.GetCount(); ++i) list.entries.push_back(forward.GetAddress(i).value_or(""));
    return list;
}

std::vector<std::string> ServerSmtpServices::GroupMembers(std::string_view group) {
    std::vector<std::string> members;
    int count = 0;
    if (!CEmailGroup().LoadMembers(Accounts().StoredName(group), members, count)) return {};
    return members;
}

bool ServerSmtpServices::HasFilters(std::string_view account) {
    return MailFiltersMayTake(*Settings(), Accounts().StoredName(account));
}

FilterDecision ServerSmtpServices::DecideFilters(std::string_view account, DeliveryMessage& message) {
    // Asked only after HasFilters said some filter may look.
    const std::string* path = message.File();
    if (!path) return {FilterOutcome::kStoreFailed, std::nullopt, {}, std::nullopt};
    ServerFilterServices filters;
    return DecideMailFilters(filters, Accounts().StoredName(account), *path);
}

void ServerSmtpServices::CompleteFilters(std::string_view account, const FilterDecision& decision,
                                         std::string_view uid) {
    ServerFilterServices filters;
    CompleteMailFilters(filters, Accounts().StoredName(account), decision, uid);
}

namespace {

// A queue copy staged in the program's outgoing queue.
class StagedQueueCopy final : public QueuedCopy {
public:
    StagedQueueCopy(OutgoingQueue& queue, int staged, std::string_view recipient, std::string_view sender)
        : queue_(queue), staged_(staged), recipient_(recipient), sender_(sender) {}
    ~StagedQueueCopy() override {
        if (staged_ > 0) queue_.DropStagedItem(staged_);
    }
    bool Publish() override {
        const int staged = std::exchange(staged_, 0);
        return staged > 0 && queue_.PublishItem(staged, recipient_, sender_) >= 0;
    }

private:
    OutgoingQueue& queue_;
    int staged_;
    std::string recipient_, sender_;
};

}  // namespace

std::unique_ptr<QueuedCopy> ServerSmtpServices::StageQueued(std::string_view recipient, std::string_view sender,
                                                            DeliveryMessage& message) {
    const std::string* path = message.File();
    if (!path) return nullptr;
    const int staged = queue_.StageItem(*path, recipient, sender);
    if (staged < 0) return nullptr;
    return std::make_unique<StagedQueueCopy>(queue_, staged, recipient, sender);
}

void ServerSmtpServices::AccountChanged(std::string_view account) {
    notices_.Post(NoticeId::WM_UPDATE_ACCOUNT, Accounts().StoredName(account));
}

bool DeliverReportLocally(NoticeSink& notices, OutgoingQueue& queue, std::string_view recipient,
                          const std::string& report) {
    ServerSmtpServices services(notices, queue);
    std::string reply;
    return DeliverToRecipient(services, &reply, "MailUndeliverable", recipient, "", report, nullptr, 1);
}

int RemoveLeftoverSpoolFiles(const std::string& queue_folder) {
    return RemoveNumberedFiles(queue_folder, {kSpoolFilePrefix, kAutoReplyTempPrefix});
}

}  // namespace quorvex::smtp
