// A label that opens an address when clicked: blue, purple once visited,
// the highlight colour while the pointer is over it, with the address as
// its tooltip. Opening goes through the DesktopOpener; a failure is told
// with the opener's reason.
#pragma once

#include <QColor>
#include <QLabel>

namespace quorvex::gui {

class DesktopOpener;
class Prompts;

// The colour a link shows: hover wins over visited, visited over plain.
QColor HyperLinkColour(bool hover, bool visited, const QColor& link, const QColor& visited_colour,
                       const QColor& hover_colour);

class HyperLink final : public QLabel {
    Q_OBJECT
public:
    HyperLink(DesktopOpener& opener, Prompts& prompts, QWidget* parent = nullptr);

    void SetUrl(const QString& url);
    void SetUnderline(bool underline);
    void SetColours(const QColor& link, const QColor& visited, const QColor& hover = QColor());
    bool visited() const { return visited_; }
    const QString& url() const { return url_; }

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void Restyle();

    DesktopOpener& opener_;
    Prompts& prompts_;
    QString url_;
    QColor link_{0x00, 0x00, 0xEE};
    QColor visited_colour_{0x55, 0x1A, 0x8B};
    QColor hover_colour_;
    bool underline_ = true;
    bool hover_ = false;
    bool visited_ = false;
};

}  // namespace quorvex::gui
