#include "gui/dialogs/AutoHeightComboBox.h"

#include <algorithm>

namespace quorvex::gui {

int ComboRows(int count, int max_rows) {
    if (max_rows > 0) return std::max(max_rows, 2);
    return std::max(count, 2);
}

void AutoHeightComboBox::showPopup() {
    // Qt itself cuts a list that does not fit on the screen.
    setMaxVisibleItems(ComboRows(count(), max_rows_));
    QComboBox::showPopup();
}

}  // namespace quorvex::gui
