// Sender threads and the handling of one queue item.
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
#include "servers/queue/QueueRecord.h"
#include "servers/queue/UndeliveredFolder.h"

namespace quorvex {

namespace {

constexpr int kSoftFailureTries = 5;
constexpr int kDefaultThreads = 20;
constexpr const char* kFirstProbeHost = "deb.debian.org";
constexpr const char* kSecondProbeHost = "www.kernel.org";

struct SenderPool {
    std::mutex mutex;  // guards threads and options against start/stop
    SenderOptions options;
    std::vector<std::thread> threads;
    std::atomic<bool> stopping{false};
    std::atomic<int> running{0};
    std::condition_variable ended;
};

SenderPool& Pool() {
    static auto* pool = new SenderPool;
    return *pool;
}

std::atomic<int> g_active_deliveries{0};

bool Taking() { return ServersRunning() && !Pool().stopping.load(); }

NoticeSink& Notices() {
    NoticeSink* sink = Pool().options.notices;
    return sink != nullptr ? *sink : ProcessNoticeBus();
}

void Notify(const std::string& text) { Notices().Post(NoticeId::WM_SHOW_MESSAGE, text); }

std::uint32_t RetryIntervalMs() {
    if (Pool().options.retry_interval_ms >= 0) return static_cast<std::uint32_t>(Pool().options.retry_interval_ms);
    const int minutes = std::max(0, Settings()->NextTryInterval);
    return static_cast<std::uint32_t>(minutes) * 60000u;
}

std::string LogFolder(const CServerSettings& settings) {
    return settings.LogFilePath.empty() ? JoinPath(settings.Folder(), "log") : settings.LogFilePath;
}

int Classify(std::string_view address) {
    const auto& classify = Pool().options.classify;
    return classify ? classify(address) : ClassifyAddress(address);
}

int Deliver(std::string_view recipient, std::string_view sender, const std::string& file, std::string& outcome) {
    const auto& deliver = Pool().options.deliver;
    return deliver ? deliver(recipient, sender, file, outcome) : outgoing::DeliverToDomain(recipient, sender, file, outcome);
}

bool DeliverLocally(std::string_view recipient, const std::string& report) {
    if (Pool().options.deliver_locally) return Pool().options.deliver_locally(recipient, report);
    QUORVEX_ERROR_LOG("no local delivery for the report to " + std::string(recipient));
    return false;
}

std::string Attempt(int times, std::string_view sender, std::string_view recipient) {
    return "INTERNET send mail [" + std::to_string(times) + " times] from <" + std::string(sender) + "> to <" +
           std::string(recipient) + ">";
}

struct ActiveDelivery {
    ActiveDelivery() { ++g_active_deliveries; }
    ~ActiveDelivery() { --g_active_deliveries; }
};

// A record that names no usable message is kept out of the way in
// "smtp/damaged" instead of being tried again and again.
void MoveAside(int id, const std::string& message_path, std::string_view why) {
    QUORVEX_ERROR_LOG("queue item " + std::to_string(id) + " moved aside: " + std::string(why));
    const std::string folder = JoinPath(QueueFolder(), "damaged");
    MakeFolders(folder);
    const std::string record = QueueRecordPath(id);
    ::rename(record.c_str(), JoinPath(folder, std::to_string(id) + ".ini").c_str());
    if (!message_path.empty()) ::rename(message_path.c_str(), JoinPath(folder, std::string(BaseName(message_path))).c_str());
}

bool SafeFileName(std::string_view name) {
    return !name.empty() && name.find('/') == std::string_view::npos && name != "." && name != "..";
}

void WriteLog(const IniDocument& record, const std::string& message_path, int times, const std::string& outcome,
              int bound, bool overflow_notice) {
    const auto settings = Settings();
    DeliveryLogRecord entry{RecordValue(record, "BeginTime"), RecordValue(record, "DestAddr"),
                            RecordValue(record, "ReplyAddr"), message_path, times, outcome};
    const std::time_t now = std::time(nullptr);
    if (WriteDeliveryLog(LogFolder(*settings), bound, entry, now, now) && overflow_notice) {
        Notify("Internet LOG File Overflow");
    }
}

void SenderThread() {
    for (;;) {
        try {
            if (!CheckInternetConnection()) {
                std::unique_lock lock(QueueLock());
                QueueWakeup().wait_for(lock, std::chrono::seconds(1), [] { return !Taking(); });
                if (!Taking()) break;
                continue;
            }
            const int id = PickNextQueueItem();
            if (id < 0) break;
            ProcessQueueItem(id);
        } catch (const std::exception& error) {
            QUORVEX_ERROR_LOG(std::string("sender thread: ") + error.what());
        } catch (...) {
            QUORVEX_ERROR_LOG("sender thread: unknown exception");
        }
    }
    SenderPool& pool = Pool();
    std::lock_guard guard(pool.mutex);
    --pool.running;
    pool.ended.notify_all();
}

}  // namespace

std::uint32_t QueueTickCount() {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(ms.count());
}

int ActiveDeliveryCount() { return g_active_deliveries.load(); }

bool CheckInternetConnection() {
    const auto settings = Settings();
    if (settings->InternetConnectCheck == 0) return true;
    static std::mutex connect_check_lock;
    std::lock_guard guard(connect_check_lock);
    if (settings->MailServerModel == 1) return true;
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

int PickNextQueueItem() {
    std::unique_lock lock(QueueLock());
    while (Taking()) {
        RetryRing& ring = Retries();
        auto wait = std::chrono::milliseconds(1000);
        if (!ring.empty()) {
            const std::uint32_t interval = RetryIntervalMs();
            const std::uint32_t elapsed = QueueTickCount() - ring.front().last_send_tick;
            if (elapsed > interval) {
                const int id = ring.front().id;
                ring.pop();
                return id;
            }
            wait = std::min(wait, std::chrono::milliseconds(interval - elapsed + 1));
        }
        if (!ring.full()) {
            QueueScanRange& range = ScanRange();
            auto step = [&range] {
                range.low = range.low + 1 > range.high ? -1 : range.low + 1;
                if (range.low == -1) range.high = -1;
            };
            std::optional<IniDocument> record;
            while (range.low != -1) {
                record = ReadQueueRecord(QueueRecordPath(range.low));
                if (record && !RecordValue(*record, "MailFile").empty()) break;
                step();
            }
            if (range.low != -1) {
                const int id = range.low;
                step();
                if (RecordInt(*record, "Times", 0) == 0) return id;
                const auto last = static_cast<std::uint32_t>(
                    std::strtoul(RecordValue(*record, "LastSendTime").c_str(), nullptr, 10));
                ring.push({id, last});
                continue;
            }
        }
        QueueWakeup().wait_for(lock, wait);
    }
    return -1;
}

int ProcessQueueItem(int id) {
    const std::uint32_t started = QueueTickCount();
    const std::string record_path = QueueRecordPath(id);
    auto record = ReadQueueRecord(record_path);
    if (!record) return kItemFinished;
    const std::string mail_file = RecordValue(*record, "MailFile");
    if (mail_file.empty()) return kItemFinished;
    const std::string recipient = RecordValue(*record, "DestAddr");
    const std::string sender = RecordValue(*record, "ReplyAddr");
    const std::string message_path = JoinPath(QueueFolder(), mail_file);
    if (!SafeFileName(mail_file) || recipient.empty() || !FileExists(message_path)) {
        MoveAside(id, SafeFileName(mail_file) ? message_path : std::string(), "record without recipient or message");
        return kItemFinished;
    }
    const auto settings = Settings();

    const int times = RecordInt(*record, "Times", 0) + 1;
    record->Set(kQueueSection, "Times", std::to_string(times));
    if (!WriteQueueRecord(record_path, *record)) QUORVEX_ERROR_LOG("cannot write " + record_path);

    std::string outcome = std::string(outgoing::kOutcomeCannotConnect);
    int result = outgoing::kFailedSoft;
    Notify(Attempt(times, sender, recipient) + " ...");
    {
        ActiveDelivery active;
        std::string envelope_sender = sender;
        if (settings->MailServerModel == 2 && Classify(sender) == 1) {
            std::string account = sender;
            if (settings->DomainNameType == 0) account = account.substr(0, account.find('@'));
            const std::string contact = GetAccountInterMail(account).value_or("");
            if (!contact.empty()) envelope_sender = contact;
        }
        try {
            result = Deliver(recipient, envelope_sender, message_path, outcome);
        } catch (const std::exception& error) {
            QUORVEX_ERROR_LOG(std::string("delivery: ") + error.what());
            outcome = "internal error";
            result = outgoing::kFailedSoft;
        }
        if (result > 0) {
            RemoveQueueItem(id, message_path);
            WriteLog(*record, message_path, times, "SUCCESS", kSuccessLogBound, true);
            Notify(Attempt(times, sender, recipient) + " SUCCESSFULLY!");
            return kItemDelivered;
        }
    }
    // Cancelled from the transfer status window during the attempt?
    auto current = ReadQueueRecord(record_path);
    if (!current || RecordValue(*current, "MailFile").empty()) {
        RemoveQueueItem(id, message_path);
        Notify(Attempt(times, sender, recipient) + " FAILED: removed by admin");
        return kItemFinished;
    }
    record = std::move(current);
    Notify(Attempt(times, sender, recipient) + " FAILED: " + outcome);

    // Every failed attempt notes when it ended, so that no retry comes
    // before the interval whatever kind of failure it was.
    const std::uint32_t now_tick = QueueTickCount();
    record->Set(kQueueSection, "Times", std::to_string(times));
    record->Set(kQueueSection, "LastSendTime", std::to_string(now_tick));
    if (result < 0) {
        const long long delay = std::strtoll(RecordValue(*record, "Delay").c_str(), nullptr, 10);
        record->Set(kQueueSection, "Delay", std::to_string(delay + static_cast<std::uint32_t>(now_tick - started)));
    }
    const int limit = result < 0 ? settings->MaxTries : kSoftFailureTries;
    if (times < limit) {
        // The retry record is on disk before this one goes.
        if (WriteQueueRecord(record_path, *record) && EnqueueOutgoingMail(message_path, recipient, sender, &record_path, id) > 0) {
            RemoveQueueItem(id, message_path);
        } else {
            QUORVEX_ERROR_LOG("cannot re-queue item " + std::to_string(id) + "; it waits under its own number");
            std::lock_guard guard(QueueLock());
            if (!Retries().full()) Retries().push({id, now_tick});
        }
        return kItemRequeued;
    }

    // Given up.
    record->Set(kQueueSection, "EndTime", LogTimeStamp(std::time(nullptr)));
    record->Set(kQueueSection, "LastResponse", RecordText(outcome));
    WriteQueueRecord(record_path, *record);
    if (outgoing::IsBounceSender(sender)) {
        // Nobody to report to (a report itself, or mail without a sender):
        // the message is parked, never answered with another report.
        WriteLog(*record, message_path, times, outcome, settings->MaxLogLine, false);
        MoveToUndelivered(message_path, id);
        RemoveQueueItem(id, message_path);
        return kItemFinished;
    }
    const std::string report = JoinPath(QueueFolder(), "temp_smtp_" + std::to_string(NextQueueId(QUEUE_COUNTER_TEMP_SMTP)) + ".dat");
    if (!outgoing::BuildBounceMessage(recipient, sender, message_path, report, outcome, settings->Dominame)) {
        QUORVEX_ERROR_LOG("cannot write the non-delivery report for item " + std::to_string(id));
        ::unlink(report.c_str());
        MoveToUndelivered(message_path, id);
        RemoveQueueItem(id, message_path);
        return kItemFinished;
    }
    WriteLog(*record, message_path, times, outcome, settings->MaxLogLine, true);
    switch (Classify(sender)) {
        case 1:
            if (!DeliverLocally(sender, report)) MoveToUndelivered(report, id);
            break;
        case 0:
            // Reports travel with an empty envelope sender.
            if (EnqueueOutgoingMail(report, sender, "") < 0) MoveToUndelivered(report, id);
            break;
        default:
            MoveToUndelivered(report, id);
            break;
    }
    ::unlink(report.c_str());
    RemoveQueueItem(id, message_path);
    return kItemFinished;
}

void StartSenderThreads(SenderOptions options) {
    SenderPool& pool = Pool();
    std::lock_guard guard(pool.mutex);
    if (!pool.threads.empty()) return;
    int count = options.thread_count;
    if (count < 0) count = ReadProfileInt(Settings()->ConfigIni(), "System", "MailThreadNum", kDefaultThreads);
    if (count <= 0) count = kDefaultThreads;
    pool.options = std::move(options);
    pool.stopping = false;
    MakeFolders(QueueFolder());
    RebuildQueueScanRange();
    pool.running = count;
    for (int i = 0; i < count; ++i) pool.threads.emplace_back(SenderThread);
}

bool StopSenderThreads(std::chrono::milliseconds limit) {
    SenderPool& pool = Pool();
    std::unique_lock guard(pool.mutex);
    if (pool.threads.empty()) return true;
    {
        std::lock_guard queue(QueueLock());
        pool.stopping = true;
    }
    QueueWakeup().notify_all();
    const bool ended = pool.ended.wait_for(guard, limit, [&] { return pool.running.load() == 0; });
    for (std::thread& thread : pool.threads) {
        if (ended) thread.join();
        else thread.detach();  // still in an attempt; it ends on its own
    }
    pool.threads.clear();
    if (!ended) QUORVEX_ERROR_LOG("sender threads did not end in time");
    return ended;
}

}  // namespace quorvex
