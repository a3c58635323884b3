// The OK and Cancel buttons of a dialog, named "ok" and "cancel" (tests
// find them by name); OK is the default button.
#pragma once

#include <QDialogButtonBox>
#include <QPushButton>

namespace quorvex::gui {

inline QDialogButtonBox* MakeOkCancelButtons(QWidget* dialog) {
    auto* buttons = new QDialogButtonBox(dialog);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole)->setObjectName(QStringLiteral("cancel"));
    return buttons;
}

}  // namespace quorvex::gui
