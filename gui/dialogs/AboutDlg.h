// The About box: the product name and version, and a link to the home page.
#pragma once

#include <QDialog>

namespace quorvex::gui {

class DesktopOpener;
class Prompts;
class HyperLink;

class AboutDlg final : public QDialog {
    Q_OBJECT
public:
    AboutDlg(DesktopOpener& opener, Prompts& prompts, QWidget* parent = nullptr);
    HyperLink* link() const { return link_; }

private:
    HyperLink* link_;
};

}  // namespace quorvex::gui
