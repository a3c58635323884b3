// The sender threads of a queue and one attempt at an item with the record
// reading and writing around it; how often an item is tried and where its
// report goes are the rules of RetryPolicy.
#include "servers/queue/SenderThreads.h"

#include <netdb.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <ctime>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/ErrorLog.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/SettingRanges.h"
#include "common/RunFlag.h"
#include "common/ServerSettings.h"
#include "mailmodel/account/AccountConfig.h"
#include "servers/address/AddressRules.h"
#include "servers/address/QueueCounters.h"
#include "servers/logs/DailyLog.h"
#include "servers/outgoing/BounceMessage.h"
#include "servers/outgoing/DomainDelivery.h"
#include "servers/queue/DeliveryLog.h"
#include "servers/queue/OutgoingQueue.h"
#include "servers/queue/QueueItemRemoval.h"
#include "servers/queue/QueueRecord.h"
#include "servers/queue/RetryPolicy.h"
#include "servers/queue/UndeliveredFolder.h"

namespace quorvex {

namespace {

constexpr int kDefaultThreads = 20;
constexpr const char* kFirstProbeHost = "deb.debian.org";
constexpr const char* kSecondProbeHost = "www.kernel.org";

std::string LogFolder(const CServerSettings& settings) {
    return settings.LogFilePath.empty() ? JoinPath(settings.Folder(), "log") : settings.LogFilePath;
}

std::string Attempt(int times, std::string_view sender, std::string_view recipient) {
    return "INTERNET send mail [" + std::to_string(times) + " times] from <" + std::string(sender) + "> to <" +
           std::string(recipient) + ">";
}

void WriteLog(const IniDocument& record, const std::string& message_path, int times, const std::string& outcome,
              int bound, bool overflow_notice, const std::function<void(const std::string&)>& notify) {
    const auto settings = Settings();
    DeliveryLogRecord entry{RecordValue(record, "BeginTime"), RecordValue(record, "DestAddr"),
                            RecordValue(record, "ReplyAddr"), message_path, times, outcome};
    const std::time_t now = std::time(nullptr);
    if (WriteDeliveryLog(LogFolder(*settings), bound, entry, now, now) && overflow_notice) {
        notify("Internet LOG File Overflow");
    }
}

}  // namespace

class OutgoingQueue::ActiveDelivery {
public:
    explicit ActiveDelivery(std::atomic<int>& count) : count_(count) { ++count_; }
    ~ActiveDelivery() { --count_; }
    ActiveDelivery(const ActiveDelivery&) = delete;
    ActiveDelivery& operator=(const ActiveDelivery&) = delete;

private:
    std::atomic<int>& count_;
};

OutgoingQueue::~OutgoingQueue() { StopSenders(); }

// Kept in "smtp/damaged" instead of being tried again and again.
void OutgoingQueue::MoveAside(int id, const std::string& message_path, std::string_view why) const {
    QUORVEX_ERROR_LOG("queue item " + std::to_string(id) + " moved aside: " + std::string(why));
    const std::string damaged = JoinPath(folder_, "damaged");
    MakeFolders(damaged);
    const std::string record = RecordPath(id);
    ::rename(record.c_str(), JoinPath(damaged, std::to_string(id) + ".ini").c_str());
    if (!message_path.empty()) {
        ::rename(message_path.c_str(), JoinPath(damaged, std::string(BaseName(message_path))).c_str());
    }
}

void OutgoingQueue::Park(const std::string& message_path, int id) {
    undelivered_.MoveToUndelivered(message_path, ReadQueueRecord(RecordPath(id)));
}

bool OutgoingQueue::Taking() const { return ServersRunning() && !stopping_.load(); }

NoticeSink& OutgoingQueue::Notices() const {
    NoticeSink* sink = options_.notices;
    return sink != nullptr ? *sink : ProcessNoticeBus();
}

void OutgoingQueue::Notify(const std::string& text) const { Notices().Post(NoticeId::WM_SHOW_MESSAGE, text); }

std::uint64_t OutgoingQueue::RetryIntervalMs() const {
    if (options_.retry_interval_ms >= 0) return static_cast<std::uint64_t>(options_.retry_interval_ms);
    const int minutes = std::max(0, Settings()->NextTryInterval);
    return static_cast<std::uint64_t>(minutes) * 60000u;
}

int OutgoingQueue::Classify(std::string_view address) const {
    return options_.classify ? options_.classify(address) : ClassifyAddress(address);
}

outgoing::DeliveryResult OutgoingQueue::Deliver(std::string_view recipient, std::string_view sender,
                                                const std::string& file, std::string& outcome) const {
    return options_.deliver ? options_.deliver(recipient, sender, file, outcome)
                            : outgoing::DeliverToDomain(recipient, sender, file, outcome);
}

bool OutgoingQueue::DeliverLocally(std::string_view recipient, const std::string& report) const {
    if (options_.deliver_locally) return options_.deliver_locally(recipient, report);
    QUORVEX_ERROR_LOG("no local delivery for the report to " + std::string(recipient));
    return false;
}

void OutgoingQueue::SenderThread() {
    for (;;) {
        try {
            if (!CheckInternetConnection()) {
                std::unique_lock lock(lock_);
                wakeup_.wait_for(lock, std::chrono::seconds(1), [this] { return !Taking(); });
                if (!Taking()) break;
                continue;
            }
            const int id = PickNextItem();
            if (id < 0) break;
            ProcessItem(id);
        } catch (const std::exception& error) {
            QUORVEX_ERROR_LOG(std::string("sender thread: ") + error.what());
        } catch (...) {
            QUORVEX_ERROR_LOG("sender thread: unknown exception");
        }
    }
    std::lock_guard guard(pool_mutex_);
    --running_;
    ended_.notify_all();
}

std::uint64_t QueueTickCount() {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<std::uint64_t>(ms.count());
}

bool CheckInternetConnection() {
    const auto settings = Settings();
    if (settings->InternetConnectCheck == 0) return true;
    static std::mutex connect_check_lock;
    std::lock_guard guard(connect_check_lock);
    if (IsInternetMailServer(*settings)) return true;
    auto resolves = [](const std::string& host) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        addrinfo* result = nullptr;
        const bool ok = !host.empty() && ::getaddrinfo(host.c_str(), nullptr, &hints, &result) == 0;
        if (result != nullptr) ::freeaddrinfo(result);
        return ok;
    };
    return resolves(settings->SiteForCheckingOnLine) || resolves(kFirstProbeHost) || resolves(kSecondProbeHost);
}

int OutgoingQueue::PickNextItem() {
    std::unique_lock lock(lock_);
    while (Taking()) {
        RetryRing& ring = retries_;
        auto wait = std::chrono::milliseconds(1000);
        if (!ring.empty()) {
            const std::uint64_t interval = RetryIntervalMs();
            const std::uint64_t elapsed = QueueTickCount() - ring.front().last_send_tick;
            if (elapsed > interval) {
                const int id = ring.front().id;
                ring.pop();
                return id;
            }
            wait = std::min(wait, std::chrono::milliseconds(static_cast<long long>(interval - elapsed + 1)));
        }
        if (!ring.full()) {
            QueueScanRange& range = range_;
            auto step = [&range] {
                range.low = range.low + 1 > range.high ? -1 : range.low + 1;
                if (range.low == -1) range.high = -1;
            };
            std::optional<IniDocument> record;
            while (range.low != -1) {
                record = ReadQueueRecord(RecordPath(range.low));
                if (record && !RecordValue(*record, "MailFile").empty()) break;
                step();
            }
            if (range.low != -1) {
                const int id = range.low;
                step();
                if (RecordInt(*record, "Times", 0) == 0) return id;
                const std::uint64_t last = std::strtoull(RecordValue(*record, "LastSendTime").c_str(), nullptr, 10);
                ring.push({id, last});
                continue;
            }
        }
        wakeup_.wait_for(lock, wait);
    }
    return -1;
}

ItemResult OutgoingQueue::ProcessItem(int id) {
    const std::uint64_t started = QueueTickCount();
    const std::string record_path = RecordPath(id);
    auto record = ReadQueueRecord(record_path);
    if (!record) return ItemResult::kFinished;
    const std::string mail_file = RecordValue(*record, "MailFile");
    if (mail_file.empty()) return ItemResult::kFinished;
    const std::string recipient = RecordValue(*record, "DestAddr");
    const std::string sender = RecordValue(*record, "ReplyAddr");
    const std::string message_path = JoinPath(folder_, mail_file);
    if (!IsBareQueueFileName(mail_file) || recipient.empty() || !FileExists(message_path)) {
        MoveAside(id, IsBareQueueFileName(mail_file) ? message_path : std::string(), "record without recipient or message");
        return ItemResult::kFinished;
    }
    const auto settings = Settings();

    const int times = RecordInt(*record, "Times", 0) + 1;
    record->Set(kQueueSection, "Times", std::to_string(times));
    if (!WriteQueueRecord(record_path, *record)) QUORVEX_ERROR_LOG("cannot write " + record_path);

    std::string outcome = std::string(outgoing::kOutcomeCannotConnect);
    auto result = outgoing::DeliveryResult::kFailedTemporary;
    Notify(Attempt(times, sender, recipient) + " ...");
    {
        ActiveDelivery active(active_deliveries_);
        std::string envelope_sender = sender;
        if (SendersMustBeLocal(*settings) && Classify(sender) == ADDRESS_LOCAL_ACCOUNT) {
            std::string account = sender;
            if (!IsMultiDomain(*settings)) account = account.substr(0, account.find('@'));
            const std::string contact = GetAccountInterMail(account).value_or("");
            if (!contact.empty()) envelope_sender = contact;
        }
        try {
            result = Deliver(recipient, envelope_sender, message_path, outcome);
        } catch (const std::exception& error) {
            QUORVEX_ERROR_LOG(std::string("delivery: ") + error.what());
            outcome = "internal error";
            result = outgoing::DeliveryResult::kFailedTemporary;
        }
        if (result == outgoing::DeliveryResult::kDelivered) {
            RemoveItem(id, message_path);
            WriteLog(*record, message_path, times, "SUCCESS", kSuccessLogBound, true,
                     [this](const std::string& text) { Notify(text); });
            Notify(Attempt(times, sender, recipient) + " SUCCESSFULLY!");
            return ItemResult::kDelivered;
        }
    }
    // Cancelled from the transfer status window during the attempt?
    auto current = ReadQueueRecord(record_path);
    if (!current || RecordValue(*current, "MailFile").empty()) {
        RemoveItem(id, message_path);
        Notify(Attempt(times, sender, recipient) + " FAILED: removed by admin");
        return ItemResult::kFinished;
    }
    record = std::move(current);
    Notify(Attempt(times, sender, recipient) + " FAILED: " + outcome);

    // Every failed attempt notes when it ended, so that no retry comes
    // before the interval whatever kind of failure it was.
    const std::uint64_t now_tick = QueueTickCount();
    record->Set(kQueueSection, "Times", std::to_string(times));
    record->Set(kQueueSection, "LastSendTime", std::to_string(now_tick));
    if (result == outgoing::DeliveryResult::kFailedTemporary) {
        const long long delay = std::strtoll(RecordValue(*record, "Delay").c_str(), nullptr, 10);
        record->Set(kQueueSection, "Delay", std::to_string(delay + static_cast<long long>(now_tick - started)));
    }
    if (ShouldRetry(result, times, settings->MaxTries)) return Requeue(id, *record, message_path, now_tick);
    return GiveUp(id, *record, message_path, times, outcome, *settings);
}

ItemResult OutgoingQueue::Requeue(int id, IniDocument& record, const std::string& message_path,
                                  std::uint64_t now_tick) {
    const std::string record_path = RecordPath(id);
    // The retry record is on disk before this one goes.
    if (WriteQueueRecord(record_path, record) &&
        Enqueue(message_path, RecordValue(record, "DestAddr"), RecordValue(record, "ReplyAddr"), &record_path, id) > 0) {
        RemoveItem(id, message_path);
    } else {
        QUORVEX_ERROR_LOG("cannot re-queue item " + std::to_string(id) + "; it waits under its own number");
        std::lock_guard guard(lock_);
        if (!retries_.full()) retries_.push({id, now_tick});
    }
    return ItemResult::kRequeued;
}

ItemResult OutgoingQueue::GiveUp(int id, IniDocument& record, const std::string& message_path, int times,
                                 const std::string& outcome, const CServerSettings& settings) {
    const std::string recipient = RecordValue(record, "DestAddr");
    const std::string sender = RecordValue(record, "ReplyAddr");
    const auto notify = [this](const std::string& text) { Notify(text); };
    record.Set(kQueueSection, "EndTime", LogTimeStamp(std::time(nullptr)));
    record.Set(kQueueSection, "LastResponse", RecordText(outcome));
    WriteQueueRecord(RecordPath(id), record);
    const ReportRoute route =
        outgoing::IsBounceSender(sender) ? ReportRoute::kNoReport : RouteOfReport(sender, Classify(sender));
    if (route == ReportRoute::kNoReport) {
        // Nobody to report to (a report itself, or mail without a sender):
        // the message is parked, never answered with another report.
        WriteLog(record, message_path, times, outcome, settings.MaxLogLine, false, notify);
        Park(message_path, id);
        RemoveItem(id, message_path);
        return ItemResult::kFinished;
    }
    const std::string report =
        JoinPath(folder_, "temp_smtp_" + std::to_string(NextQueueId(folder_, QUEUE_COUNTER_TEMP_SMTP)) + ".dat");
    if (!outgoing::BuildBounceMessage(recipient, sender, message_path, report, outcome, settings.Dominame)) {
        QUORVEX_ERROR_LOG("cannot write the non-delivery report for item " + std::to_string(id));
        ::unlink(report.c_str());
        Park(message_path, id);
        RemoveItem(id, message_path);
        return ItemResult::kFinished;
    }
    WriteLog(record, message_path, times, outcome, settings.MaxLogLine, true, notify);
    switch (route) {
        case ReportRoute::kLocalMailbox:
            if (!DeliverLocally(sender, report)) Park(report, id);
            break;
        case ReportRoute::kOutgoing:
            // Reports travel with an empty envelope sender.
            if (Enqueue(report, sender, "") < 0) Park(report, id);
            break;
        case ReportRoute::kNoReport:
        case ReportRoute::kPark:
            Park(report, id);
            break;
    }
    ::unlink(report.c_str());
    RemoveItem(id, message_path);
    return ItemResult::kFinished;
}

void OutgoingQueue::StartSenders(SenderOptions options) {
    std::lock_guard guard(pool_mutex_);
    if (!threads_.empty()) return;
    int count = options.thread_count;
    if (count < 0) {
        count = NumberOrDefault(*ProfileFile(Settings()->ConfigIni()).Load(), "System", "MailThreadNum",
                                kDefaultThreads, kSenderThreadsRange);
    }
    if (count <= 0) count = kDefaultThreads;
    options_ = std::move(options);
    stopping_ = false;
    MakeFolders(folder_);
    RebuildScanRange();
    running_ = count;
    for (int i = 0; i < count; ++i) threads_.emplace_back([this] { SenderThread(); });
}

bool OutgoingQueue::StopSenders(std::chrono::milliseconds limit) {
    std::unique_lock guard(pool_mutex_);
    if (threads_.empty()) return true;
    {
        std::lock_guard queue(lock_);
        stopping_ = true;
    }
    wakeup_.notify_all();
    const bool ended = ended_.wait_for(guard, limit, [&] { return running_.load() == 0; });
    for (std::thread& thread : threads_) {
        if (ended) thread.join();
        else thread.detach();  // still in an attempt; it ends on its own
    }
    threads_.clear();
    if (!ended) QUORVEX_ERROR_LOG("sender threads did not end in time");
    return ended;
}

}  // namespace quorvex
