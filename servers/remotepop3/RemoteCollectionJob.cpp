// The collection job wired to the running server.
#include "servers/remotepop3/RemoteCollectionJob.h"

#include <ctime>
#include <memory>

#include "common/Paths.h"
#include "common/ServerSettings.h"
#include "common/UniqueFd.h"
#include "common/net/HostConnect.h"
#include "common/net/PeerAddress.h"
#include "mailmodel/account/AccountFolders.h"
#include "mailmodel/account/EmailPOP3Remote.h"
#include "servers/address/AddressRules.h"
#include "servers/address/QueueCounters.h"
#include "servers/filters/VirusScan.h"
#include "servers/pop3/Pop3ServerServices.h"
#include "servers/remotepop3/RemoteCollector.h"
#include "servers/remotepop3/UidlRecordFile.h"

namespace quorvex::remotepop3 {
namespace {

// Message lines up to this length come whole; longer ones in pieces.
constexpr std::size_t kRemoteLineCapacity = 64 * 1024;

class SocketConnection final : public RemoteConnection {
public:
    SocketConnection(UniqueFd fd, const SocketTimeouts& timeouts) : fd_(std::move(fd)), timeouts_(timeouts) {}

    bool ReadLine(std::string& line, bool& whole) override {
        const LineStatus status = ReceiveLine(fd_.get(), line, kRemoteLineCapacity, timeouts_);
        if (!HasLine(status)) return false;
        // The reader ends every line, also a piece of a longer one, in CR LF.
        if (line.size() >= 2) line.resize(line.size() - 2);
        whole = status == LineStatus::kLine;
        return true;
    }
    bool SendLine(std::string_view text) override {
        return SendBuffer(fd_.get(), std::string(text) + "\r\n", timeouts_);
    }

private:
    UniqueFd fd_;
    const SocketTimeouts& timeouts_;
};

class ServerCollectionServices final : public CollectionServices {
public:
    ServerCollectionServices(const RemoteCollectionWiring& wiring, std::shared_ptr<const CServerSettings> settings)
        : wiring_(wiring), settings_(std::move(settings)) {}

    std::vector<RemoteBox> LoadBoxes(std::string_view account) override {
        std::vector<RemoteBox> boxes;
        CEmailPOP3Remote list;
        if (!list.Load(account)) return boxes;
        for (int i = 0; i < list.GetCount(); ++i) {
            RemotePop3Mailbox stored;
            if (!list.GetMailbox(i, stored)) continue;
            RemoteBox box;
            box.Enable = stored.Enable != 0;
            box.LeaveCopy = stored.LeaveCopy != 0;
            box.Server = stored.POP3Server;
            box.Account = stored.POP3Account;
            box.Password = stored.POP3Password;
            box.Port = stored.port;
            boxes.push_back(std::move(box));
        }
        return boxes;
    }
    std::optional<std::string> Resolve(std::string_view host) override {
        const std::optional<PeerAddress> address = ResolveIpv4(host, 0);
        if (!address) return std::nullopt;
        return address->HostText();
    }
    bool IsOwnAddress(std::string_view dotted_address) override {
        if (wiring_.is_own_address) return wiring_.is_own_address(dotted_address);
        const std::optional<PeerAddress> address = PeerAddress::FromNumeric(dotted_address, 0);
        return address && IsLocalAddress(*address);
    }
    std::unique_ptr<RemoteConnection> Connect(const std::string& host, int port) override {
        if (wiring_.port_override > 0) port = wiring_.port_override;
        UniqueFd fd = ConnectToHost(host, port, OutgoingProxy(*settings_), nullptr, wiring_.timeouts);
        if (!fd) return nullptr;
        return std::make_unique<SocketConnection>(std::move(fd), wiring_.timeouts);
    }
    std::string NewTemporaryFile() override {
        return JoinPath(ProgramFolder(), "smtp",
                        "temp_pop3_" + std::to_string(NextQueueId(QUEUE_COUNTER_TEMP_POP3)) + ".dat");
    }
    void ScanForViruses(const std::string& path) override {
        if (settings_->AntiVirusEnable == 0) return;
        if (wiring_.scan_for_viruses) {
            wiring_.scan_for_viruses(path);
        } else {
            ScanMailForViruses(path, *settings_);
        }
    }
    bool Deliver(std::string_view tag, const std::string& recipient, const std::string& sender,
                 const std::string& path, std::string* local_id) override {
        return DeliverToRecipient(*wiring_.delivery, nullptr, tag, recipient, sender, path, local_id);
    }
    std::optional<std::string> UidlFilePath(std::string_view account) override {
        const std::optional<std::string> folder = GetAccountFolderPath(account);
        if (!folder) return std::nullopt;
        return JoinPath(*folder, std::string(kUidlFileName));
    }
    void Log(std::string_view text) override {
        if (wiring_.log != nullptr) wiring_.log->Write(pop3::kRemotePop3LogSource, text);
    }
    std::time_t Now() override { return std::time(nullptr); }

private:
    const RemoteCollectionWiring& wiring_;
    std::shared_ptr<const CServerSettings> settings_;
};

// The ";"-separated copy addresses, when copies of incoming mail are on.
std::vector<std::string> CopyAddresses(const CServerSettings& settings) {
    std::vector<std::string> out;
    if (settings.EnableMailsCopyTo == 0 || settings.EnableInMailsCopyTo == 0) return out;
    std::string_view rest = settings.MailsCopyTo;
    while (!rest.empty()) {
        const std::size_t semicolon = rest.find(';');
        out.emplace_back(rest.substr(0, semicolon));
        if (semicolon == std::string_view::npos) break;
        rest.remove_prefix(semicolon + 1);
    }
    return out;
}

}  // namespace

void RunRemoteCollectionJob(const Job& job, const RemoteCollectionWiring& wiring) {
    if (wiring.delivery == nullptr) return;
    const std::shared_ptr<const CServerSettings> settings = Settings();
    ServerCollectionServices services(wiring, settings);
    CollectionSettings collection;
    collection.ShowPOP3Remote = settings->ShowPOP3Remote != 0;
    collection.Domain = settings->Dominame;
    collection.CopyTo = CopyAddresses(*settings);
    RemoteCollector(services, std::move(collection)).CollectRemoteMail(job.account);
}

void InstallRemoteCollectionHandler(JobTable& jobs, const RemoteCollectionWiring& wiring) {
    jobs.SetHandler(JOB_REMOTE_POP3, [&wiring](Job& job) { RunRemoteCollectionJob(job, wiring); });
}

}  // namespace quorvex::remotepop3
