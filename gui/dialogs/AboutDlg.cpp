#include "gui/dialogs/AboutDlg.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "app/ProgramMessages.h"
#include "gui/dialogs/HyperLink.h"
#include "gui/support/GuiStrings.h"
#include "gui/support/TabOrder.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

AboutDlg::AboutDlg(DesktopOpener& opener, Prompts& prompts, QWidget* parent)
    : QDialog(parent), link_(new HyperLink(opener, prompts, this)) {
    setObjectName(QStringLiteral("aboutDialog"));
    setWindowTitle(QStringLiteral("About QuorvexServer"));
    auto* icon = new QLabel(this);
    icon->setPixmap(QApplication::style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    auto* version = new QLabel(this);
    version->setObjectName(QStringLiteral("version"));
    KeepUntranslated(version);
    version->setText(FormatText(QStringLiteral("%s %s"),
                                {Tr(kTextProductName), QString::fromUtf8(app::kProgramVersion.data(),
                                                                         static_cast<qsizetype>(app::kProgramVersion.size()))}));
    link_->setObjectName(QStringLiteral("homePage"));
    KeepUntranslated(link_);
    const QString home = Tr(kTextHomePage);
    link_->setText(home);
    link_->SetUrl(home);
    link_->SetUnderline(false);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(icon);
    layout->addWidget(version);
    layout->addWidget(link_);
    layout->addWidget(buttons);
    TranslateWidgetTree(this);
    SetTabOrderFromLayout(this);
}

}  // namespace quorvex::gui
