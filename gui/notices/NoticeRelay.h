// The server notice relay: the window's side of the notice bus. The bus
// calls the relay on its own thread; the relay only puts the notice into
// its inbox and, when the inbox was empty, asks the GUI thread (a queued
// call) to drain it. On the GUI thread the notices go, in the order they
// were posted, first to the main frame and then to every view. No server
// thread ever waits for the window, and the GUI thread never waits for a
// server lock to take a notice.
//
// A drain hands out notices for at most kDrainSlice and then lets the
// event loop paint and take input before it goes on, so a burst of
// notices never freezes the window. A kind whose handling touches no
// widget (a log line: a file append whose display is queued on its own)
// can be handled on the relay's delivery thread instead, in order, so
// the GUI thread never waits for a disk.
#pragma once

#include <QObject>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "common/Notices.h"

namespace quorvex::gui {

// A window that acts on notices (the frame, the account view).
class NoticeReceiver {
public:
    virtual ~NoticeReceiver() = default;
    // Runs on the GUI thread, one notice at a time.
    virtual void OnNotice(const Notice& notice) = 0;
};

// True for the notice kinds a window acts on; others are dropped.
bool IsRelayedNotice(NoticeId id);

// Payloads longer than this are cut: a notice is a name or one line.
inline constexpr std::size_t kMaxNoticePayload = 8192;
// Notices waiting for the GUI thread beyond this are dropped (counted).
inline constexpr std::size_t kMaxInboxNotices = 200000;

class NoticeRelay final : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kDrainSlice{15};

    // Subscribes to `bus`; the relay must be made on the GUI thread.
    explicit NoticeRelay(NoticeBus& bus, QObject* parent = nullptr);
    // Unsubscribes: notices posted afterwards are dropped (no window).
    ~NoticeRelay() override;
    NoticeRelay(const NoticeRelay&) = delete;
    NoticeRelay& operator=(const NoticeRelay&) = delete;

    // Receivers get each notice in the order they were added: the frame
    // first, then the views.
    void AddReceiver(NoticeReceiver* receiver);
    void RemoveReceiver(NoticeReceiver* receiver);

    // Notices of `id` go to `handler` on the delivery thread (never to the
    // receivers). The handler must not touch widgets.
    void HandleOnDeliveryThread(NoticeId id, std::function<void(const Notice&)> handler);

    // Hands a notice to the receivers on the GUI thread (the bus's handler;
    // any thread).
    void Accept(const Notice& notice);

    std::uint64_t dropped() const;

private:
    void Drain();

    NoticeBus& bus_;
    std::vector<NoticeReceiver*> receivers_;
    mutable std::mutex mutex_;
    std::map<NoticeId, std::function<void(const Notice&)>> delivery_thread_handlers_;  // guarded by mutex_
    std::deque<Notice> inbox_;
    bool drain_posted_ = false;
    bool draining_ = false;
    std::uint64_t dropped_ = 0;
};

}  // namespace quorvex::gui
