// The version check away from the window's thread: one fetch at a time, on
// a thread this object owns. The reply is handed over on the thread the
// object lives on (the window's). Destroying the worker asks a fetch in
// hand to stop and waits for its thread, and a reply not handed over by
// then never is: nothing reaches a window that is gone, and no thread
// outlives the application.
#pragma once

#include <QObject>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

namespace quorvex::gui {

class VersionCheckWorker final : public QObject {
    Q_OBJECT
public:
    // Runs on the worker's thread; ends early when `stop` is requested.
    using Fetch = std::function<std::optional<std::string>(std::stop_token stop)>;
    // Runs on the window's thread with the fetch's result.
    using Done = std::function<void(std::optional<std::string> reply)>;

    explicit VersionCheckWorker(QObject* parent = nullptr);
    ~VersionCheckWorker() override;

    // Starts `fetch`; false (nothing started) while a check runs.
    bool Start(Fetch fetch, Done done);
    bool running() const { return running_; }

private:
    void Finish(std::optional<std::string> reply);

    bool running_ = false;
    Done done_;
    std::jthread thread_;
};

}  // namespace quorvex::gui
