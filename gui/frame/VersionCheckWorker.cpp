#include "gui/frame/VersionCheckWorker.h"

#include <QMetaObject>

namespace quorvex::gui {

VersionCheckWorker::VersionCheckWorker(QObject* parent) : QObject(parent) {}

VersionCheckWorker::~VersionCheckWorker() {
    // A reply posted meanwhile is dropped with this object's pending events.
    thread_.request_stop();
    if (thread_.joinable()) thread_.join();
}

bool VersionCheckWorker::Start(Fetch fetch, Done done) {
    if (running_) return false;
    running_ = true;
    done_ = std::move(done);
    thread_ = std::jthread([this, fetch = std::move(fetch)](std::stop_token stop) {
        std::optional<std::string> reply = fetch(stop);
        if (stop.stop_requested()) return;
        QMetaObject::invokeMethod(
            this, [this, reply = std::move(reply)]() mutable { Finish(std::move(reply)); }, Qt::QueuedConnection);
    });
    return true;
}

void VersionCheckWorker::Finish(std::optional<std::string> reply) {
    thread_.join();  // it has posted: nothing is left for it to do
    running_ = false;
    const Done done = std::move(done_);
    done_ = nullptr;
    if (done) done(std::move(reply));
}

}  // namespace quorvex::gui
