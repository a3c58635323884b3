#include "gui/notices/NoticeRelay.h"

#include <QMetaObject>
#include <algorithm>

namespace quorvex::gui {

bool IsRelayedNotice(NoticeId id) {
    switch (id) {
        case NoticeId::WM_UPDATE_PARAM:
        case NoticeId::WM_UPDATE_USER_COUNT:
        case NoticeId::WM_SHOW_MESSAGE:
        case NoticeId::WM_NOTIFYICON:
        case NoticeId::WM_UPDATE_ACCOUNT:
        case NoticeId::WM_NEW_ACCOUNT:
        case NoticeId::WM_DELETE_ACCOUNT:
        case NoticeId::WM_UPDATE_ACCOUNT_EX:
        case NoticeId::WM_ERROR_ALERT:
            return true;
        case NoticeId::WM_RESIZE_SPLITTER:
            return false;  // no window acts on it
    }
    return false;
}

NoticeRelay::NoticeRelay(NoticeBus& bus, QObject* parent) : QObject(parent), bus_(bus) {
    bus_.Subscribe([this](const Notice& notice) { Accept(notice); });
}

NoticeRelay::~NoticeRelay() {
    // After this no handler runs, so nothing can post to a relay that is gone.
    bus_.Unsubscribe();
}

void NoticeRelay::AddReceiver(NoticeReceiver* receiver) { receivers_.push_back(receiver); }

void NoticeRelay::RemoveReceiver(NoticeReceiver* receiver) {
    receivers_.erase(std::remove(receivers_.begin(), receivers_.end(), receiver), receivers_.end());
}

void NoticeRelay::HandleOnDeliveryThread(NoticeId id, std::function<void(const Notice&)> handler) {
    std::lock_guard lock(mutex_);
    delivery_thread_handlers_[id] = std::move(handler);
}

void NoticeRelay::Accept(const Notice& notice) {
    if (!IsRelayedNotice(notice.id)) return;
    bool post = false;
    std::function<void(const Notice&)> here;
    {
        std::lock_guard lock(mutex_);
        if (const auto found = delivery_thread_handlers_.find(notice.id); found != delivery_thread_handlers_.end()) {
            here = found->second;
        }
    }
    if (here) {
        here(Notice{notice.id, notice.payload.substr(0, kMaxNoticePayload)});
        return;
    }
    {
        std::lock_guard lock(mutex_);
        if (inbox_.size() >= kMaxInboxNotices) {
            ++dropped_;
            return;
        }
        Notice copy{notice.id, notice.payload.substr(0, kMaxNoticePayload)};
        inbox_.push_back(std::move(copy));
        post = !drain_posted_;
        drain_posted_ = true;
    }
    if (post) QMetaObject::invokeMethod(this, [this] { Drain(); }, Qt::QueuedConnection);
}

std::uint64_t NoticeRelay::dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

void NoticeRelay::Drain() {
    // A receiver that runs a nested event loop must not make notices
    // overtake each other: the outer drain goes on once it returns.
    if (draining_) return;
    draining_ = true;
    const auto deadline = std::chrono::steady_clock::now() + kDrainSlice;
    for (;;) {
        Notice notice;
        {
            std::lock_guard lock(mutex_);
            if (inbox_.empty()) {
                drain_posted_ = false;
                break;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                // The rest waits for the next turn of the event loop.
                QMetaObject::invokeMethod(this, [this] { Drain(); }, Qt::QueuedConnection);
                break;
            }
            notice = std::move(inbox_.front());
            inbox_.pop_front();
        }
        const std::vector<NoticeReceiver*> receivers = receivers_;
        for (NoticeReceiver* receiver : receivers) receiver->OnNotice(notice);
    }
    draining_ = false;
}

}  // namespace quorvex::gui
