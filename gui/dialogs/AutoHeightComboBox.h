// A drop-down list that opens with as many rows as it has items (at least
// two), or the set maximum. The domain selector of the status bar.
#pragma once

#include <QComboBox>

namespace quorvex::gui {

// The rows the open list shows for `count` items and a maximum (0: none).
int ComboRows(int count, int max_rows);

class AutoHeightComboBox final : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void SetMaxRows(int rows) { max_rows_ = rows; }
    void showPopup() override;

private:
    int max_rows_ = 0;
};

}  // namespace quorvex::gui
