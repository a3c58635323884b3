#include "gui/frame/DialogLock.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QMetaObject>
#include <QWidget>

#include "gui/dialogs/LoginDlg.h"

namespace quorvex::gui {

namespace {

bool IsInput(QEvent::Type type) {
    switch (type) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::InputMethod:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
            return true;
        default:
            return false;
    }
}

// True for a window the lock puts away: a dialog that is not the Log on
// dialog, nor opened from it.
bool LockedOut(const QWidget* window) {
    if (window == nullptr || !window->isWindow()) return false;
    // Dialogs only: the main window, its menus, tooltips and the tray
    // icon's own window keep working.
    const Qt::WindowType type = window->windowType();
    if (type != Qt::Dialog && type != Qt::Sheet) return false;
    for (const QWidget* owner = window; owner != nullptr; owner = owner->parentWidget()) {
        if (owner->objectName() == QLatin1String(kLoginDialogName)) return false;
    }
    return true;
}

}  // namespace

DialogLock::DialogLock(QObject* parent) : QObject(parent) { qApp->installEventFilter(this); }

DialogLock::~DialogLock() { qApp->removeEventFilter(this); }

void DialogLock::Engage() {
    engaged_ = true;
    std::vector<QPointer<QWidget>> open;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && LockedOut(window)) open.emplace_back(window);
    }
    // Putting one away may end others (a cancelled dialog closes its own).
    for (const QPointer<QWidget>& window : open) {
        if (window) PutAway(window);
    }
}

void DialogLock::Release() {
    engaged_ = false;
    std::vector<QPointer<QWidget>> hidden;
    hidden.swap(hidden_);
    for (const QPointer<QWidget>& window : hidden) {
        if (window) window->show();
    }
}

void DialogLock::PutAway(QWidget* dialog) {
    if (!dialog->isVisible()) return;
    if (dialog->isModal()) {
        // Its exec() ends as if cancelled; the caller drops what it held.
        if (auto* modal = qobject_cast<QDialog*>(dialog)) modal->reject();
        // A dialog that refuses to close now (a sending it stops first)
        // ends its exec() by being hidden.
        if (dialog->isVisible()) dialog->hide();
        return;
    }
    dialog->hide();
    hidden_.emplace_back(dialog);
}

bool DialogLock::eventFilter(QObject* watched, QEvent* event) {
    if (!engaged_ || !watched->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (event->type() == QEvent::Show && LockedOut(widget)) {
        // Once its showing is done (a modal dialog's exec() has begun).
        QMetaObject::invokeMethod(
            this, [this, dialog = QPointer<QWidget>(widget)] { if (engaged_ && dialog) PutAway(dialog); },
            Qt::QueuedConnection);
        return false;
    }
    return IsInput(event->type()) && LockedOut(widget->window());
}

}  // namespace quorvex::gui
