#include "gui/dialogs/ShutdownDlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/logic/AdminSettings.h"
#include "gui/support/DialogButtons.h"
#include "gui/support/GuiStrings.h"
#include "gui/support/Prompts.h"
#include "gui/support/TabOrder.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

ShutdownDlg::ShutdownDlg(std::string config_ini, Prompts& prompts, QWidget* parent)
    : QDialog(parent), config_ini_(std::move(config_ini)), prompts_(prompts), choices_(new QComboBox(this)) {
    setObjectName(QStringLiteral("shutdownDialog"));
    setWindowTitle(QStringLiteral("Shutdown"));
    choices_->setObjectName(QStringLiteral("closeChoice"));
    choices_->addItem(Tr(kTextHideInterface));
    choices_->addItem(Tr(kTextShutdownServer));
    choices_->setCurrentIndex(ReadCloseMode(config_ini_));
    QDialogButtonBox* buttons = MakeOkCancelButtons(this);
    connect(buttons, &QDialogButtonBox::accepted, this, &ShutdownDlg::OnOk);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("What do you want to do next"), this));
    layout->addWidget(choices_);
    layout->addWidget(new QLabel(QStringLiteral("All the services will be ceased when shutdown."), this));
    layout->addWidget(buttons);
    TranslateWidgetTree(this);
    SetTabOrderFromLayout(this);
}

int ShutdownDlg::choice() const { return choices_->currentIndex() == kCloseModeHide ? kCloseModeHide : kCloseModeShutdown; }

void ShutdownDlg::OnOk() {
    // The choice holds for this close even when it cannot be kept.
    if (!WriteCloseMode(config_ini_, choice())) prompts_.Warning(this, Tr(kTextChoiceNotSaved));
    accept();
}

}  // namespace quorvex::gui
