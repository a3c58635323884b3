#include "gui/settings/AdvancedDlg.h"

#include <QTabWidget>
#include <QVBoxLayout>

#include "gui/settings/SettingsPages.h"
#include "gui/support/DialogButtons.h"
#include "gui/support/Prompts.h"
#include "gui/support/TabOrder.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

AdvancedDlg::AdvancedDlg(CServerSettings& target, const GuiServices& services, QWidget* parent)
    : QDialog(parent), services_(services), target_(target), sheet_(target), tabs_(new QTabWidget(this)) {
    setObjectName(QStringLiteral("advancedDialog"));
    setWindowTitle(QStringLiteral("Advanced"));
    tabs_->setObjectName(QStringLiteral("advancedTabs"));
    struct Tab {
        SettingsPage* page;
        const char* title;
    };
    const Tab tabs[] = {
        {new InternetMailPage(sheet_, services, tabs_), "Internet Mail"},
        {new AccountPage(sheet_, services, tabs_), "Account"},
        {new LogPage(sheet_, services, tabs_), "Log"},
        {new EmailFilterPage(sheet_, services, tabs_), "Email Filter"},
        {new MiscPage(sheet_, services, tabs_), "Miscellaneous"},
    };
    for (const Tab& tab : tabs) {
        tabs_->addTab(tab.page, QString::fromLatin1(tab.title));
        pages_.push_back(tab.page);
    }
    tabs_->setCurrentIndex(0);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    QDialogButtonBox* buttons = MakeOkCancelButtons(this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    buttons->findChild<QPushButton*>(QStringLiteral("ok"))->setFocus();
    TranslateWidgetTree(this);
    SetTabOrderFromLayout(this);
}

void AdvancedDlg::accept() {
    for (SettingsPage* page : pages_) {
        if (!page->shown()) continue;
        if (const auto refusal = page->Refusal()) {
            ShowRefusal(this, *services_.prompts, *refusal);
            return;
        }
    }
    for (const SettingsPage* page : pages_) {
        if (page->shown()) page->Store(sheet_);
    }
    target_ = sheet_;
    QDialog::accept();
}

}  // namespace quorvex::gui
