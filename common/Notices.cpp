// The notice bus: names of the notice ids, queueing and ordered delivery on
// the bus's own thread, and the WM_UPDATE_ACCOUNT_EX payload text.
#include "common/Notices.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <exception>
#include <utility>

namespace quorvex {

namespace {

struct NamedNotice {
    NoticeId id;
    std::string_view name;
};

constexpr std::array<NamedNotice, 10> kNoticeNames{{
    {NoticeId::WM_UPDATE_PARAM, "QuorvexServer WM_UPDATE_PARAM"},
    {NoticeId::WM_UPDATE_USER_COUNT, "QuorvexServer WM_UPDATE_USER_COUNT"},
    {NoticeId::WM_SHOW_MESSAGE, "QuorvexServer WM_SHOW_MESSAGE"},
    {NoticeId::WM_NOTIFYICON, "QuorvexServer WM_NOTIFYICON"},
    {NoticeId::WM_RESIZE_SPLITTER, "QuorvexServer WM_RESIZE_SPLITTER"},
    {NoticeId::WM_UPDATE_ACCOUNT, "QuorvexServer WM_UPDATE_ACCOUNT"},
    {NoticeId::WM_NEW_ACCOUNT, "QuorvexServer WM_NEW_ACCOUNT"},
    {NoticeId::WM_DELETE_ACCOUNT, "QuorvexServer WM_DELETE_ACCOUNT"},
    {NoticeId::WM_UPDATE_ACCOUNT_EX, "QuorvexServer WM_UPDATE_ACCOUNT_EX"},
    {NoticeId::WM_ERROR_ALERT, "QuorvexServer WM_ERROR_ALERT"},
}};

}  // namespace

std::string_view NoticeName(NoticeId id) {
    for (const NamedNotice& entry : kNoticeNames) {
        if (entry.id == id) return entry.name;
    }
    return {};
}

std::optional<NoticeId> NoticeIdFromName(std::string_view name) {
    for (const NamedNotice& entry : kNoticeNames) {
        if (entry.name == name) return entry.id;
    }
    return std::nullopt;
}

NoticeBus::~NoticeBus() {
    // Notices still queued are dropped, not delivered to a handler whose
    // captured state may already be gone; the one running is waited for.
    // The jthread member then asks the loop to stop and joins it.
    Unsubscribe();
    thread_.request_stop();
}

void NoticeBus::Subscribe(Handler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
    if (!thread_.joinable()) {
        thread_ = std::jthread([this](std::stop_token stop) { DeliveryLoop(std::move(stop)); });
        delivery_thread_id_ = thread_.get_id();
    }
}

void NoticeBus::Unsubscribe() {
    std::unique_lock lock(mutex_);
    handler_ = nullptr;
    queue_.clear();
    discarded_through_ = next_sequence_ - 1;
    handled_cv_.notify_all();
    // The handler cannot wait for itself to return.
    if (OnDeliveryThread()) return;
    handled_cv_.wait(lock, [this] { return !in_flight_; });
}

std::optional<std::uint64_t> NoticeBus::Enqueue(NoticeId id, std::string_view payload) {
    std::lock_guard lock(mutex_);
    if (!handler_) return std::nullopt;
    if (queue_.size() >= kMaxPendingNotices) {
        ++dropped_;
        return std::nullopt;
    }
    const std::uint64_t sequence = next_sequence_++;
    queue_.push_back(Queued{sequence, Notice{id, std::string(payload)}});
    wake_.notify_one();
    return sequence;
}

void NoticeBus::Post(NoticeId id, std::string_view payload) { Enqueue(id, payload); }

bool NoticeBus::PostAndWait(NoticeId id, std::string_view payload, std::chrono::milliseconds timeout) {
    const std::optional<std::uint64_t> sequence = Enqueue(id, payload);
    if (!sequence) return false;
    std::unique_lock lock(mutex_);
    // A handler that posts and waits would wait for itself: it only queues.
    if (OnDeliveryThread()) return false;
    const bool settled = handled_cv_.wait_for(lock, timeout, [&] {
        return handled_through_ >= *sequence || discarded_through_ >= *sequence;
    });
    return settled && discarded_through_ < *sequence;
}

std::uint64_t NoticeBus::dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

bool NoticeBus::subscribed() const {
    std::lock_guard lock(mutex_);
    return static_cast<bool>(handler_);
}

void NoticeBus::DeliveryLoop(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, stop, [this] { return !queue_.empty(); });
        // A stop ends delivery even with notices still queued.
        if (stop.stop_requested() || queue_.empty()) return;
        Queued item = std::move(queue_.front());
        queue_.pop_front();
        Handler handler = handler_;
        in_flight_ = true;
        lock.unlock();
        if (handler) {
            try {
                handler(item.notice);
            } catch (const std::exception& error) {
                // A failing receiver must not stop the notices behind this one.
                std::fprintf(stderr, "notice bus: handler failed on %s: %s\n",
                             std::string(NoticeName(item.notice.id)).c_str(), error.what());
            } catch (...) {
                std::fprintf(stderr, "notice bus: handler failed on %s\n",
                             std::string(NoticeName(item.notice.id)).c_str());
            }
        }
        lock.lock();
        in_flight_ = false;
        handled_through_ = item.sequence;
        handled_cv_.notify_all();
    }
}

NoticeBus& ProcessNoticeBus() {
    // Never destroyed: server threads may still post while the process
    // exits, and must not find a dead bus.
    static NoticeBus* const bus = new NoticeBus;
    return *bus;
}

std::string FormatAccountVisit(const AccountVisit& visit) {
    std::string text = visit.account;
    text += ' ';
    text += std::to_string(visit.message_count);
    text += ' ';
    text += std::to_string(visit.mailbox_bytes);
    text += ' ';
    text += visit.visit_time;
    return text;
}

std::optional<AccountVisit> ParseAccountVisit(std::string_view payload) {
    // From the end: time (one blank inside), size, count; the rest is the name.
    auto cut_last = [&payload]() -> std::optional<std::string_view> {
        const auto blank = payload.rfind(' ');
        if (blank == std::string_view::npos) return std::nullopt;
        const std::string_view field = payload.substr(blank + 1);
        payload = payload.substr(0, blank);
        return field;
    };
    auto number = [](std::optional<std::string_view> field) -> std::optional<long long> {
        if (!field || field->empty()) return std::nullopt;
        long long value = 0;
        const auto [end, error] = std::from_chars(field->data(), field->data() + field->size(), value);
        if (error != std::errc() || end != field->data() + field->size()) return std::nullopt;
        return value;
    };
    const auto clock = cut_last();
    const auto date = cut_last();
    const auto bytes = number(cut_last());
    const auto count = number(cut_last());
    if (!clock || !date || !bytes || !count || payload.empty()) return std::nullopt;
    AccountVisit visit;
    visit.account = std::string(payload);
    visit.message_count = *count;
    visit.mailbox_bytes = *bytes;
    visit.visit_time = std::string(*date) + ' ' + std::string(*clock);
    return visit;
}

}  // namespace quorvex
