// The log pane below the account list: the system log lines as they are
// written, read-only and word-wrapped. Lines reach it from any thread
// through QueueLine, which only queues; the GUI thread appends what came in
// once per turn of its event loop. The pane is cleared when it holds more
// than kMaxLogPaneCharacters, so it never grows without bound.
#pragma once

#include <QPlainTextEdit>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quorvex::gui {

inline constexpr int kMaxLogPaneCharacters = 65536;

class ServerLogView final : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit ServerLogView(QWidget* parent = nullptr);
    ~ServerLogView() override;

    // Makes this pane the system log's display (until it is destroyed).
    void InstallAsSystemLogDisplay();

    // A finished log line (with its CR LF), from any thread.
    void QueueLine(std::string line);
    // Appends on the GUI thread what was queued.
    void FlushLines();

Q_SIGNALS:
    // A double click: open today's system log (the main window's command).
    void OpenLogRequested();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void AppendLine(const QString& line);
    // QueueLine with the inbox lock held.
    void QueueLocked(std::string line);

    // Shared with the writers' display hook, which may still be running on
    // another thread while the pane goes: it then finds no pane and drops
    // the line.
    struct Inbox {
        std::mutex mutex;
        ServerLogView* view = nullptr;
        std::vector<std::string> pending;
        bool flush_posted = false;
    };
    std::shared_ptr<Inbox> inbox_;
    bool installed_ = false;
};

}  // namespace quorvex::gui
