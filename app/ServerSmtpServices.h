// The real server behind SMTP sessions and local delivery: the settings
// record, the account list, the mailbox store, the outgoing queue it is
// given, the SMTP log, forwarding and groups, the filters, the auto-reply
// and the virus scanner. One instance serves every session; it holds no
// session state.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Notices.h"
#include "servers/delivery/LocalDelivery.h"
#include "servers/queue/OutgoingQueue.h"
#include "servers/smtp/SmtpServices.h"

namespace quorvex::smtp {

// Received messages that need a spool file: "temp_smtp_<n>.dat" in the
// queue folder.
inline constexpr std::string_view kSpoolFilePrefix = "temp_smtp_";

// Replacements for two services, for tests that want their own numbering
// or address classes; unset ones are the server's own.
struct ServerSmtpHooks {
    std::function<int(std::string_view)> classify_address;  // default ClassifyAddress
    std::function<int()> next_temp_number;                   // default the "temp_smtp" counter
};

class ServerSmtpServices final : public SmtpServices, public DeliveryDirectory {
public:
    // Local delivery queues mail for outside addresses in `queue`.
    ServerSmtpServices(NoticeSink& notices, OutgoingQueue& queue) : notices_(notices), queue_(queue) {}
    ServerSmtpServices(ServerSmtpHooks hooks, NoticeSink& notices, OutgoingQueue& queue)
        : hooks_(std::move(hooks)), notices_(notices), queue_(queue) {}

    // SmtpServices
    std::shared_ptr<const CServerSettings> Settings() override;
    int ClassifyAddress(std::string_view address) override;
    LoginChecks& Logins() override { return logins_; }
    bool AccountExists(std::string_view account) override;
    std::string AccountInterMail(std::string_view account) override;
    std::string NewTempMessagePath() override;
    void Log(std::string_view peer, std::string_view text) override;
    void ScanForViruses(const std::string& path) override;
    std::optional<std::string> Refusal(std::string_view recipient, DeliveryMessage& message) override;
    DeliveryOutcome Deliver(const DeliveryRequest& request, DeliveryMessage& message) override;
    void SendAutoReply(std::string_view account, std::string_view sender, DeliveryMessage& message) override;

    // DeliveryDirectory
    bool IsDisabled(std::string_view account) override;
    bool IsGroup(std::string_view account) override;
    MailboxUsage Usage(std::string_view account) override;
    std::int64_t QuotaBytes(std::string_view account) override;
    std::optional<ForwardingList> Forwarding(std::string_view account) override;
    std::vector<std::string> GroupMembers(std::string_view group) override;
    bool HasFilters(std::string_view account) override;
    FilterDecision DecideFilters(std::string_view account, DeliveryMessage& message) override;
    void CompleteFilters(std::string_view account, const FilterDecision& decision, std::string_view uid) override;
    std::unique_ptr<MailboxCopySet> NewCopies() override;
    std::unique_ptr<QueuedCopy> StageQueued(std::string_view recipient, std::string_view sender,
                                            DeliveryMessage& message) override;
    void AccountChanged(std::string_view account) override;

private:
    int NextTempNumber();

    ServerSmtpHooks hooks_;
    NoticeSink& notices_;
    OutgoingQueue& queue_;
    AccountLoginChecks logins_{kLoginServiceSmtp};
};

// Puts a non-delivery report of the outgoing queue into the mailbox of the
// local sender it goes back to (local delivery under the tag
// "MailUndeliverable"): the sender threads' local delivery.
bool DeliverReportLocally(NoticeSink& notices, OutgoingQueue& queue, std::string_view recipient,
                          const std::string& report);

// Removes the spool files of received messages and auto-replies that a
// previous run left in the queue folder (temp_smtp_<n>.dat and
// temp_auto_reply_<n>.dat: never acknowledged, never queued); gives how
// many. Only while no server of this program folder runs.
int RemoveLeftoverSpoolFiles(const std::string& queue_folder);

}  // namespace quorvex::smtp
