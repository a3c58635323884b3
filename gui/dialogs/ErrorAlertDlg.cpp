#include "gui/dialogs/ErrorAlertDlg.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/ErrorAlert.h"
#include "gui/support/TabOrder.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

ErrorAlertDlg::ErrorAlertDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("errorAlert"));
    setModal(false);
    auto* frame = new QGroupBox(this);
    auto* text = new QLabel(frame);
    text->setWordWrap(true);
    text->setMinimumWidth(360);
    text->setText(Tr(kErrorAlertText));
    KeepUntranslated(text);
    auto* inner = new QVBoxLayout(frame);
    inner->addWidget(text);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::hide);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addWidget(buttons);
    TranslateWidgetTree(this);
    SetTabOrderFromLayout(this);
}

void ErrorAlertDlg::Raise(const QString& caption) {
    setWindowTitle(caption);
    show();
    raise();
    activateWindow();
}

}  // namespace quorvex::gui
