// What the main window's lock does to the program's other windows. While
// the window is locked no dialog can be used, whatever brings it back (the
// window manager restoring or activating it, a program mapping it): the
// dialogs open when the lock comes are put away, and so is every dialog
// that shows while it lasts. A modal dialog is cancelled (its edits are
// dropped, as with its Cancel button); a modeless one (an alert, a
// progress box) is hidden and comes back once the window is unlocked.
// Until a dialog is gone its keys and clicks go nowhere. Only the Log on
// dialog and what it opens stay usable.
#pragma once

#include <QObject>
#include <QPointer>
#include <vector>

class QWidget;

namespace quorvex::gui {

class DialogLock final : public QObject {
    Q_OBJECT
public:
    explicit DialogLock(QObject* parent = nullptr);
    ~DialogLock() override;

    // Puts the open dialogs away now and each one that shows from now on.
    void Engage();
    // Shows again the modeless dialogs it hid (those that still exist).
    void Release();
    bool engaged() const { return engaged_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void PutAway(QWidget* dialog);

    bool engaged_ = false;
    std::vector<QPointer<QWidget>> hidden_;
};

}  // namespace quorvex::gui
