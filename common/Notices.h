// The notice bus: how server threads tell the administration window about
// accounts, log lines and errors without ever touching (or waiting for) it.
// A notice is an id, named after its registered message name, and a text
// payload (an account name or a line). Posting queues it and returns; one
// delivery thread per bus hands the notices to the subscriber in order.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace quorvex {

// The registered message ids. Each stands for the name "QuorvexServer "
// followed by the enumerator's name, and has the same value in every
// process, so NoticeIdFromName gives every process the same id for a name.
// WM_ERROR_ALERT is the bus's own: the error log's alert, raised on the
// subscriber's side instead of on the thread that logged the error.
enum class NoticeId : std::uint16_t {
    WM_UPDATE_PARAM = 0xC001,
    WM_UPDATE_USER_COUNT,
    WM_SHOW_MESSAGE,
    WM_NOTIFYICON,
    WM_RESIZE_SPLITTER,
    WM_UPDATE_ACCOUNT,
    WM_NEW_ACCOUNT,
    WM_DELETE_ACCOUNT,
    WM_UPDATE_ACCOUNT_EX,
    WM_ERROR_ALERT,
};

// "QuorvexServer WM_SHOW_MESSAGE" and so on.
std::string_view NoticeName(NoticeId id);

// The id registered under a name (exact spelling), or nothing for a name
// the program does not use.
std::optional<NoticeId> NoticeIdFromName(std::string_view name);

struct Notice {
    NoticeId id;
    std::string payload;  // account name or text line; empty where none is defined
};

// What a server, the account operations or the error log are given to
// report to the window. Implementations never block on the receiver.
class NoticeSink {
public:
    virtual ~NoticeSink() = default;

    // Queues a notice and returns at once.
    virtual void Post(NoticeId id, std::string_view payload) = 0;

    // Queues a notice and waits until the receiver has handled it, but at
    // most `timeout`. Account operations use it so that the account view
    // shows a new or deleted account by the time the operation returns;
    // the bound keeps a busy or missing window from stalling the caller.
    // True when the notice was handled in time.
    virtual bool PostAndWait(NoticeId id, std::string_view payload, std::chrono::milliseconds timeout) = 0;
};

// A sink that drops everything (headless runs, tests that do not look).
class NullNoticeSink final : public NoticeSink {
public:
    void Post(NoticeId, std::string_view) override {}
    bool PostAndWait(NoticeId, std::string_view, std::chrono::milliseconds) override { return false; }
};

// An in-process bus with at most one subscriber. Without a subscriber a
// notice is dropped: nobody would ever read it. With one, notices queue
// (up to kMaxPendingNotices; beyond that new ones are dropped and counted,
// so a stuck window cannot eat the server's memory) and the bus's own
// thread calls the handler for each, in the order they were posted.
class NoticeBus final : public NoticeSink {
public:
    using Handler = std::function<void(const Notice&)>;

    static constexpr std::size_t kMaxPendingNotices = 100000;

    NoticeBus() = default;
    // Drops what is still queued and waits for a running handler, so no
    // handler runs once the bus is gone.
    ~NoticeBus() override;
    NoticeBus(const NoticeBus&) = delete;
    NoticeBus& operator=(const NoticeBus&) = delete;

    // Installs the handler, replacing any earlier one, and starts delivery.
    // The handler runs on the bus's thread; a GUI handler hands the notice
    // on to its own thread (a queued signal) and returns.
    void Subscribe(Handler handler);

    // Stops delivery: notices still queued are dropped, and when this
    // returns the handler is not running and will not run again. Called
    // from inside the handler it only stops further deliveries.
    void Unsubscribe();

    void Post(NoticeId id, std::string_view payload) override;
    bool PostAndWait(NoticeId id, std::string_view payload, std::chrono::milliseconds timeout) override;

    // Notices dropped because the queue was full.
    std::uint64_t dropped() const;
    // True while a handler is installed.
    bool subscribed() const;

private:
    struct Queued {
        std::uint64_t sequence;
        Notice notice;
    };

    // Queues one notice; returns its sequence number, or nothing when it
    // was dropped.
    std::optional<std::uint64_t> Enqueue(NoticeId id, std::string_view payload);
    void DeliveryLoop(std::stop_token stop);
    bool OnDeliveryThread() const { return std::this_thread::get_id() == delivery_thread_id_; }

    mutable std::mutex mutex_;
    std::condition_variable_any wake_;    // a notice was queued, or stop
    std::condition_variable handled_cv_;  // a handler returned, or notices were discarded
    std::deque<Queued> queue_;
    Handler handler_;
    bool in_flight_ = false;              // the handler is running now
    std::uint64_t next_sequence_ = 1;     // of the next notice queued
    std::uint64_t handled_through_ = 0;   // sequence of the last notice handled
    std::uint64_t discarded_through_ = 0; // notices up to here were thrown away by Unsubscribe
    std::uint64_t dropped_ = 0;
    std::thread::id delivery_thread_id_;
    std::jthread thread_;                 // last member: stops before the rest goes
};

// The process's bus. The application subscribes the window (or nothing,
// headless) to it; code that has no sink of its own, such as the error
// log's alert, posts here.
NoticeBus& ProcessNoticeBus();

// WM_UPDATE_ACCOUNT_EX payload "%s %d %d %s": account name, message count,
// mailbox size in bytes and the time of the visit ("%Y/%m/%d %H:%M:%S").
struct AccountVisit {
    std::string account;
    long long message_count = 0;
    long long mailbox_bytes = 0;
    std::string visit_time;
};
std::string FormatAccountVisit(const AccountVisit& visit);
// Splits such a payload: the name is everything before the last three
// fields (names hold no blanks, but the time holds one). Nothing when the
// numbers are missing or malformed.
std::optional<AccountVisit> ParseAccountVisit(std::string_view payload);

}  // namespace quorvex
