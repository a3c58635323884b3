// The POP3 session wired to the account list, the mailbox store, the log,
// the window's notices and the job table.
#include "servers/pop3/Pop3ServerServices.h"

#include <algorithm>
#include <ctime>

#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/net/PeerAddress.h"
#include "mailmodel/account/AccountConfig.h"
#include "mailmodel/account/AccountFolders.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/store/MailStore.h"
#include "servers/address/AddressRules.h"
#include "servers/logs/DailyLog.h"
#include "servers/logs/ServerLogs.h"

namespace quorvex::pop3 {

Pop3SessionSettings SessionSettingsFrom(const CServerSettings& settings) {
    Pop3SessionSettings out;
    out.HideWelcomeMessage = settings.HideWelcomeMessage != 0;
    out.WelcomeMessage = settings.WelcomeMessage;
    out.MaxPasswordTries = settings.MaxPasswordTries;
    out.MailProxy = settings.MailProxy != 0;
    out.EnableReceipt = settings.EnableReceipt != 0;
    out.AntiVirusEnabled = settings.AntiVirusEnable != 0;
    out.GateAddress = settings.GateAddress;
    out.AntiVirusFolder = JoinPath(ProgramFolder(), "smtp");
    return out;
}

Pop3LogConfig Pop3LogConfigFrom(const CServerSettings& settings, NoticeSink* notices) {
    Pop3LogConfig config;
    config.Folder = settings.LogFilePath.empty() ? JoinPath(ProgramFolder(), "log") : settings.LogFilePath;
    config.MaxLogLine = settings.MaxLogLine;
    const std::string front_ends = settings.WebMailIP;
    config.IsWebMail = [front_ends](std::string_view source) { return IsWebMailAddress(source, front_ends) != 0; };
    if (notices != nullptr) {
        config.Notice = [notices](std::string_view text) { notices->Post(NoticeId::WM_SHOW_MESSAGE, text); };
    }
    config.ReportFull = ReportFullServerLog;
    return config;
}

AccountPresence Pop3ServerServices::AccountExists(std::string_view name) { return quorvex::AccountExists(name); }

bool Pop3ServerServices::IsDisabled(std::string_view name) { return Accounts().IsDisabled(name); }
bool Pop3ServerServices::IsGroup(std::string_view name) { return Accounts().IsGroup(name) != 0; }
int Pop3ServerServices::Permission(std::string_view name) { return Accounts().GetPermission(name); }

std::string Pop3ServerServices::StoredName(std::string_view name) { return Accounts().StoredName(name); }

std::uint64_t Pop3ServerServices::QuotaBytes(std::string_view name) {
    const std::uint64_t quota = Accounts().GetQuotaBytes(name);
    return quota == kNoQuotaLimit ? kNoQuota : quota;
}

bool Pop3ServerServices::LoadMailbox(std::string_view account, Pop3Mailbox& mailbox) {
    MailboxSnapshot snapshot;
    if (!LoadMailboxIndexLocked(account, snapshot)) return false;
    mailbox = {};
    for (std::size_t f = 0; f < 2; ++f) {
        mailbox.Counts[f] = snapshot.Counts[f];
        mailbox.Bytes[f] = static_cast<std::uint32_t>(snapshot.Totals[f]);
    }
    mailbox.Messages.reserve(snapshot.Records.size());
    for (const MailboxRecord& record : snapshot.Records) {
        Pop3Message m;
        m.FileNumber = record.FileNumber;
        m.Uid = record.Uid;
        m.Size = static_cast<std::uint32_t>(record.Size);
        m.Flags = record.Marks;
        m.Folder = record.Folder;
        m.Changes = 0;
        m.MoveTarget = record.MoveTarget;
        mailbox.Messages.push_back(m);
    }
    loaded_ = std::move(snapshot.Records);
    return true;
}

bool Pop3ServerServices::CommitMailbox(std::string_view account, const Pop3Mailbox& mailbox) {
    if (mailbox.Messages.size() != loaded_.size()) return false;
    // A session that changed nothing leaves the index alone (and never
    // writes back marks that another session changed meanwhile).
    const bool changed = std::any_of(mailbox.Messages.begin(), mailbox.Messages.end(),
                                     [](const Pop3Message& m) { return m.Changes != 0; });
    if (!changed) return true;
    MailboxSnapshot snapshot;
    for (std::size_t f = 0; f < 2; ++f) {
        snapshot.Counts[f] = mailbox.Counts[f];
        snapshot.Totals[f] = static_cast<std::int32_t>(mailbox.Bytes[f]);
    }
    snapshot.Records = loaded_;
    for (std::size_t i = 0; i < loaded_.size(); ++i) {
        const Pop3Message& m = mailbox.Messages[i];
        snapshot.Records[i].Marks = m.Flags;
        snapshot.Records[i].Changes = m.Changes;
        snapshot.Records[i].MoveTarget = m.MoveTarget;
    }
    return ApplyMailboxChanges(account, snapshot);
}

std::string Pop3ServerServices::MessagePath(std::string_view account, std::int32_t file_number) {
    return GetMailFilePath(account, file_number).value_or("");
}

std::uint8_t Pop3ServerServices::StoreKey(std::string_view account) { return MailStoreKey(account); }

std::string Pop3ServerServices::UidText(std::string_view account, std::uint32_t uid) {
    return FormatMailUid(account, uid);
}

void Pop3ServerServices::RecordVisit(std::string_view account) {
    const MailboxTotals totals = ReadMailboxTotals(account).value_or(MailboxTotals{});
    const int count = totals.messages;
    const std::int64_t size = totals.bytes;
    const std::string now = LogTimeStamp(std::time(nullptr));
    // Busy mailboxes see many sessions a second: a visit time already
    // stored is not rewritten (each rewrite is a synced replacement).
    const std::optional<std::string> settings_path = GetAccountSettingsPath(account);
    if (!settings_path || ReadProfileString(*settings_path, "System", "TimeStamp") != now) {
        WriteAccountTimeStamp(account, now);
    }
    if (hooks_.notices != nullptr) {
        hooks_.notices->Post(NoticeId::WM_UPDATE_ACCOUNT_EX,
                             std::string(account) + " " + std::to_string(count) + " " + std::to_string(size) + " " + now);
    }
}

void Pop3ServerServices::MarkReceiptRead(std::string_view account, const std::string& message_path,
                                         std::uint8_t key) {
    if (hooks_.mark_receipt) hooks_.mark_receipt(account, message_path, key);
}

int Pop3ServerServices::QueueRemoteCollection(std::string_view account) {
    return hooks_.queue_collection ? hooks_.queue_collection(account) : -1;
}

void Pop3ServerServices::Log(std::string_view source, std::string_view text) {
    if (hooks_.log != nullptr) hooks_.log->Write(source, text);
}

std::optional<std::string> Pop3ServerServices::ResolveHost(std::string_view host) {
    const std::optional<PeerAddress> address = ResolveIpv4(host, 0);
    if (!address) return std::nullopt;
    return address->HostText();
}

}  // namespace quorvex::pop3
