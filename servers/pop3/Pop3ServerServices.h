// The POP3 session's view of the running server: accounts from the account
// list, mailboxes through the mailbox store, the POP3 log, notices to the
// window and the job table for collections started by "REMOTE POP3".
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "common/Notices.h"
#include "common/ServerSettings.h"
#include "common/net/HostConnect.h"
#include "mailmodel/store/MailboxIndex.h"
#include "servers/pop3/Pop3Log.h"
#include "servers/pop3/Pop3Mailbox.h"
#include "servers/pop3/Pop3Session.h"

namespace quorvex::pop3 {

struct Pop3ServerHooks {
    Pop3Log* log = nullptr;                   // the process's POP3 log
    NoticeSink* notices = nullptr;            // the window's notices (may be null)
    // Queues a collection job for the account: slot index or -1.
    std::function<int(std::string_view account)> queue_collection;
    // Marks a retrieved message read in the receipts table.
    std::function<void(std::string_view account, const std::string& path, std::uint8_t key)> mark_receipt;
};

// One per session: it keeps the records the session loaded.
class Pop3ServerServices final : public Pop3Services {
public:
    Pop3ServerServices(std::shared_ptr<const CServerSettings> settings, Pop3ServerHooks hooks)
        : settings_(std::move(settings)), hooks_(std::move(hooks)) {}

    AccountPresence AccountExists(std::string_view name) override;
    LoginChecks& Logins() override { return logins_; }
    bool IsDisabled(std::string_view name) override;
    bool IsGroup(std::string_view name) override;
    int Permission(std::string_view name) override;
    std::uint64_t QuotaBytes(std::string_view name) override;
    std::string StoredName(std::string_view name) override;

    bool LoadMailbox(std::string_view account, Pop3Mailbox& mailbox) override;
    bool CommitMailbox(std::string_view account, const Pop3Mailbox& mailbox) override;
    std::string MessagePath(std::string_view account, std::int32_t file_number) override;
    std::uint8_t StoreKey(std::string_view account) override;
    std::string UidText(std::string_view account, std::uint32_t uid) override;

    void RecordVisit(std::string_view account) override;
    void MarkReceiptRead(std::string_view account, const std::string& message_path, std::uint8_t key) override;
    int QueueRemoteCollection(std::string_view account) override;
    void Log(std::string_view source, std::string_view text) override;
    std::optional<std::string> ResolveHost(std::string_view host) override;

private:
    std::shared_ptr<const CServerSettings> settings_;
    Pop3ServerHooks hooks_;
    AccountLoginChecks logins_{kLoginServicePop3};
    // The loaded index records, kept to hand their untouched fields back
    // at the commit.
    std::vector<MailboxRecord> loaded_;
};

// The session settings of a settings record.
Pop3SessionSettings SessionSettingsFrom(const CServerSettings& settings);

// The POP3 log's configuration from the live settings record.
Pop3LogConfig Pop3LogConfigFrom(const CServerSettings& settings, NoticeSink* notices);

}  // namespace quorvex::pop3
