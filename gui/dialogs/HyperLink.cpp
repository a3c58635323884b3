#include "gui/dialogs/HyperLink.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPointer>

#include "gui/support/DesktopOpener.h"
#include "gui/support/GuiStrings.h"
#include "gui/support/Prompts.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

QColor HyperLinkColour(bool hover, bool visited, const QColor& link, const QColor& visited_colour,
                       const QColor& hover_colour) {
    if (hover) return hover_colour;
    return visited ? visited_colour : link;
}

HyperLink::HyperLink(DesktopOpener& opener, Prompts& prompts, QWidget* parent)
    : QLabel(parent), opener_(opener), prompts_(prompts), hover_colour_(palette().color(QPalette::Highlight)) {
    setCursor(Qt::PointingHandCursor);
    Restyle();
}

void HyperLink::SetUrl(const QString& url) {
    url_ = url;
    setToolTip(url);
    if (text().isEmpty()) setText(url);
}

void HyperLink::SetUnderline(bool underline) {
    underline_ = underline;
    Restyle();
}

void HyperLink::SetColours(const QColor& link, const QColor& visited, const QColor& hover) {
    link_ = link;
    visited_colour_ = visited;
    hover_colour_ = hover.isValid() ? hover : palette().color(QPalette::Highlight);
    Restyle();
}

void HyperLink::Restyle() {
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, HyperLinkColour(hover_, visited_, link_, visited_colour_, hover_colour_));
    setPalette(colours);
    QFont f = font();
    f.setUnderline(underline_);
    setFont(f);
}

void HyperLink::enterEvent(QEnterEvent* event) {
    hover_ = true;
    Restyle();
    QLabel::enterEvent(event);
}

void HyperLink::leaveEvent(QEvent* event) {
    hover_ = false;
    Restyle();
    QLabel::leaveEvent(event);
}

void HyperLink::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || url_.isEmpty()) return QLabel::mouseReleaseEvent(event);
    // The verdict comes when the opener has ended; the link may be gone by
    // then (its window closed), the failure is still told.
    opener_.OpenUrl(url_, [link = QPointer<HyperLink>(this), &prompts = prompts_,
                           url = url_](const std::optional<QString>& failure) {
        if (!failure) {
            if (link) {
                link->visited_ = true;
                link->Restyle();
            }
            return;
        }
        QApplication::beep();
        prompts.Warning(link.data(), Tr(kTextUnableToOpenLink) + url + QStringLiteral("\n\n") + *failure);
    });
}

}  // namespace quorvex::gui
