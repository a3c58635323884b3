// The main window's status bar: the activity lamp, the domain selector
// (several domains only), the user count, the date and the time. A timer
// keeps the clock and the lamp current; the lamp flashes while jobs or
// deliveries run. A double click on the user count, date or time pane is
// handed on as a signal.
#pragma once

#include <QStatusBar>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>

#include "common/ServerSettings.h"
#include "gui/frame/Commands.h"

class QLabel;

namespace quorvex::gui {

class AutoHeightComboBox;
class StatusLed;

class FrameStatusBar final : public QStatusBar {
    Q_OBJECT
public:
    // `busy`: the jobs and deliveries running now (none when empty).
    explicit FrameStatusBar(std::function<int()> busy, QWidget* parent = nullptr);

    StatusLed* led() const { return led_; }
    AutoHeightComboBox* domain_selector() const { return domain_selector_; }
    QLabel* user_count_pane() const { return user_count_; }
    QLabel* date_pane() const { return date_; }
    QLabel* time_pane() const { return time_; }

    // " <n> users" in the current language.
    void ShowUserCount(int count);
    // The domain selector of `settings`: "All Domains" and each domain,
    // the old selection kept where it still exists; hidden with one domain.
    void ShowDomains(const CServerSettings& settings);
    // The selected domain's text; nothing without a selector or selection.
    std::optional<std::string> SelectedDomain() const;

Q_SIGNALS:
    // The administrator chose another entry of the domain selector.
    void DomainChosen();
    // `control`: Ctrl was held.
    void PaneDoubleClicked(StatusPane pane, bool control);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Tick();
    void UpdateClock();

    std::function<int()> busy_;
    StatusLed* led_;
    AutoHeightComboBox* domain_selector_;
    QLabel* main_pane_;
    QLabel* user_count_;
    QLabel* date_;
    QLabel* time_;
    QTimer tick_;
};

}  // namespace quorvex::gui
