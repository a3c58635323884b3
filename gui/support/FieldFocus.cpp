#include "gui/support/FieldFocus.h"

#include <QAbstractSpinBox>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTabWidget>

namespace quorvex::gui {

void RevealField(QWidget* field) {
    if (field == nullptr) return;
    for (QWidget* child = field; !child->isWindow() && child->parentWidget() != nullptr;
         child = child->parentWidget()) {
        // A tab widget keeps its pages in a stack of its own.
        auto* stack = qobject_cast<QStackedWidget*>(child->parentWidget());
        if (stack == nullptr) continue;
        if (auto* tabs = qobject_cast<QTabWidget*>(stack->parentWidget())) {
            tabs->setCurrentWidget(child);
        } else {
            stack->setCurrentWidget(child);
        }
    }
}

void FocusField(QWidget* field) {
    if (field == nullptr) return;
    field->setFocus(Qt::OtherFocusReason);
    if (auto* line = qobject_cast<QLineEdit*>(field)) {
        line->selectAll();
    } else if (auto* number = qobject_cast<QAbstractSpinBox*>(field)) {
        number->selectAll();
    }
}

}  // namespace quorvex::gui
