#include "gui/dialogs/account/AccountSheet.h"

#include <QDialogButtonBox>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QVBoxLayout>

#include "gui/dialogs/account/AccBaseInfoDlg.h"
#include "gui/dialogs/account/AccEmailAutoReplyDlg.h"
#include "gui/dialogs/account/AccEmailFilterDlg.h"
#include "gui/dialogs/account/AccEmailForwardDlg.h"
#include "gui/dialogs/account/AccRemotePOP3Dlg.h"
#include "gui/support/AccountTexts.h"
#include "gui/support/DialogButtons.h"
#include "gui/support/FieldFocus.h"
#include "gui/support/Prompts.h"
#include "gui/support/TabOrder.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

AccountSheet::AccountSheet(std::string account, SettingsSnapshot settings, const AccountList& accounts,
                           Prompts& prompts, QWidget* parent)
    : QDialog(parent), prompts_(prompts), tabs_(new QTabWidget(this)),
      basic_(new AccBaseInfoDlg(std::move(account), std::move(settings), accounts, prompts, this)) {
    setObjectName(QStringLiteral("accountSheet"));
    setWindowTitle(QString::fromLatin1(kTextAccountSheetTitle.data(), kTextAccountSheetTitle.size()));
    tabs_->setObjectName(QStringLiteral("pages"));
    // Every tab title whole, in any language: the sheet grows instead.
    tabs_->setUsesScrollButtons(false);
    auto* remote = new AccRemotePOP3Dlg(*basic_, this);
    auto* forward = new AccEmailForwardDlg(*basic_, this);
    auto* filter = new AccEmailFilterDlg(*basic_, this);
    auto* reply = new AccEmailAutoReplyDlg(*basic_, prompts, this);
    const std::pair<AccountSheetPage*, std::string_view> pages[] = {{basic_, kTextTabBasicInfo},
                                                               {remote, kTextTabRemotePop3},
                                                               {forward, kTextTabForwarding},
                                                               {filter, kTextTabFilter},
                                                               {reply, kTextTabAutoReply}};
    for (const auto& [page, title] : pages) tabs_->addTab(page, QString::fromLatin1(title.data(), title.size()));
    save_order_ = {basic_, filter, forward, remote, reply};
    connect(tabs_, &QTabWidget::currentChanged, this, &AccountSheet::OnTabChanged);

    QDialogButtonBox* buttons = MakeOkCancelButtons(this);
    connect(buttons, &QDialogButtonBox::accepted, this, &AccountSheet::OnOk);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addWidget(buttons);
    TranslateWidgetTree(this);
    SetTabOrderFromLayout(this);
    basic_->first_field()->setFocus();
}

void AccountSheet::OnTabChanged(int index) {
    // Leaving Basic Info: a new account's name must pass its checks first,
    // and only then do the other pages load the account's lists.
    if (current_tab_ == 0 && index != 0 && !basic_->CheckNameForHandOver()) {
        {
            const QSignalBlocker block(tabs_);
            tabs_->setCurrentIndex(0);
        }
        FocusField(basic_->first_field());
        return;
    }
    current_tab_ = index;
    if (auto* page = qobject_cast<AccountSheetPage*>(tabs_->widget(index))) page->Open();
}

void AccountSheet::OnOk() {
    for (AccountSheetPage* page : save_order_) {
        if (!page->CheckBeforeSave()) return;
    }
    for (AccountSheetPage* page : save_order_) {
        if (page->Save()) continue;
        // Basic Info tells why itself.
        if (page != basic_)
            prompts_.Warning(this, FormatText(Tr(kTextPageNotSaved), {tabs_->tabText(tabs_->indexOf(page))}));
        return;
    }
    accept();
}

}  // namespace quorvex::gui
