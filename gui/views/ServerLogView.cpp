#include "gui/views/ServerLogView.h"

#include <QMetaObject>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextCursor>

#include "gui/support/TextCodec.h"
#include "servers/logs/ServerLogs.h"

namespace quorvex::gui {

ServerLogView::ServerLogView(QWidget* parent) : QPlainTextEdit(parent), inbox_(std::make_shared<Inbox>()) {
    inbox_->view = this;
    setObjectName(QStringLiteral("logPane"));
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QFont font;
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(14);
    font.setWeight(QFont::Medium);
    setFont(font);
    setViewportMargins(5, 0, 5, 0);
    // Background 0xEFF7F7 (blue first in the stored form), black text.
    QPalette colours = palette();
    colours.setColor(QPalette::Base, QColor(0xF7, 0xF7, 0xEF));
    colours.setColor(QPalette::Text, Qt::black);
    setPalette(colours);
}

ServerLogView::~ServerLogView() {
    if (installed_) SetSystemLogDisplay(nullptr);
    std::lock_guard lock(inbox_->mutex);
    inbox_->view = nullptr;
}

void ServerLogView::InstallAsSystemLogDisplay() {
    installed_ = true;
    std::shared_ptr<Inbox> inbox = inbox_;
    SetSystemLogDisplay([inbox](const std::string& line) {
        std::lock_guard lock(inbox->mutex);
        if (inbox->view) inbox->view->QueueLocked(line);
    });
}

void ServerLogView::QueueLine(std::string line) {
    std::lock_guard lock(inbox_->mutex);
    QueueLocked(std::move(line));
}

void ServerLogView::QueueLocked(std::string line) {
    inbox_->pending.push_back(std::move(line));
    if (inbox_->flush_posted) return;
    inbox_->flush_posted = true;
    QMetaObject::invokeMethod(this, [this] { FlushLines(); }, Qt::QueuedConnection);
}

void ServerLogView::FlushLines() {
    std::vector<std::string> lines;
    {
        std::lock_guard lock(inbox_->mutex);
        lines.swap(inbox_->pending);
        inbox_->flush_posted = false;
    }
    for (const std::string& line : lines) AppendLine(FromFileText(line));
}

void ServerLogView::AppendLine(const QString& line) {
    // The pane holds at most the cap: past it, the next line starts afresh.
    if (document()->characterCount() > kMaxLogPaneCharacters) clear();
    QString text = line;
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r'))) text.chop(1);
    appendPlainText(text);
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void ServerLogView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        Q_EMIT OpenLogRequested();
        return;
    }
    QPlainTextEdit::mouseDoubleClickEvent(event);
}

}  // namespace quorvex::gui
