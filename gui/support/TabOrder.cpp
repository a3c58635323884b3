#include "gui/support/TabOrder.h"

#include <QAbstractItemView>
#include <QFormLayout>
#include <QGridLayout>
#include <QLayout>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTextEdit>
#include <QWidget>
#include <algorithm>
#include <tuple>
#include <vector>

namespace quorvex::gui {

namespace {

void CollectLayout(QLayout* layout, std::vector<QWidget*>& order);

void CollectWidget(QWidget* widget, std::vector<QWidget*>& order) {
    if (widget == nullptr || widget->isWindow()) return;
    if (auto* text = qobject_cast<QPlainTextEdit*>(widget)) text->setTabChangesFocus(true);
    if (auto* text = qobject_cast<QTextEdit*>(widget)) text->setTabChangesFocus(true);
    if (auto* view = qobject_cast<QAbstractItemView*>(widget)) view->setTabKeyNavigation(false);
    if (auto* tabs = qobject_cast<QTabWidget*>(widget)) {
        // Its tab bar keeps its place before the pages (a tab widget holds
        // its pages in its own part of the chain).
        for (int page = 0; page < tabs->count(); ++page) CollectWidget(tabs->widget(page), order);
        return;
    }
    if ((widget->focusPolicy() & Qt::TabFocus) != 0) order.push_back(widget);
    CollectLayout(widget->layout(), order);
}

void CollectItem(QLayoutItem* item, std::vector<QWidget*>& order) {
    if (item == nullptr) return;
    if (item->widget() != nullptr) {
        CollectWidget(item->widget(), order);
    } else {
        CollectLayout(item->layout(), order);
    }
}

void CollectLayout(QLayout* layout, std::vector<QWidget*>& order) {
    if (layout == nullptr) return;
    if (auto* grid = qobject_cast<QGridLayout*>(layout)) {
        // Items stand in the order they were added; a grid is read by rows.
        std::vector<std::tuple<int, int, QLayoutItem*>> cells;
        for (int index = 0; index < grid->count(); ++index) {
            int row = 0, column = 0, rows = 0, columns = 0;
            grid->getItemPosition(index, &row, &column, &rows, &columns);
            cells.emplace_back(row, column, grid->itemAt(index));
        }
        std::stable_sort(cells.begin(), cells.end(), [](const auto& a, const auto& b) {
            return std::tie(std::get<0>(a), std::get<1>(a)) < std::tie(std::get<0>(b), std::get<1>(b));
        });
        for (const auto& cell : cells) CollectItem(std::get<2>(cell), order);
        return;
    }
    if (auto* form = qobject_cast<QFormLayout*>(layout)) {
        for (int row = 0; row < form->rowCount(); ++row) {
            for (auto role : {QFormLayout::LabelRole, QFormLayout::FieldRole, QFormLayout::SpanningRole}) {
                CollectItem(form->itemAt(row, role), order);
            }
        }
        return;
    }
    for (int index = 0; index < layout->count(); ++index) CollectItem(layout->itemAt(index), order);
}

}  // namespace

void SetTabOrderFromLayout(QWidget* root) {
    if (root == nullptr) return;
    // The control that would take the focus first keeps it when the dialog
    // opens (the field the dialog is about, not merely the top one).
    QWidget* first = root->focusWidget();
    for (QWidget* next = root->nextInFocusChain(); first == nullptr && next != root; next = next->nextInFocusChain()) {
        if ((next->focusPolicy() & Qt::TabFocus) != 0 && next->isEnabled() && next->isVisibleTo(root) &&
            next->focusProxy() == nullptr && root->isAncestorOf(next)) {
            first = next;
        }
    }
    std::vector<QWidget*> order;
    CollectLayout(root->layout(), order);
    for (std::size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
    if (first != nullptr) first->setFocus();
}

}  // namespace quorvex::gui
