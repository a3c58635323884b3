// "Internet mail transfer status": the outgoing queue ("Mail in transfer")
// and the parked undelivered mail ("Mail undelivered"), read from disk when
// the window opens and on Refresh; selected items can be deleted (after a
// question; each deletion is a line of the system log), and parked ones
// queued again ("Retransfer", or a double click).
#pragma once

#include <QDialog>
#include <vector>

#include "gui/logic/TransferQueue.h"

class QLabel;
class QPushButton;
class QRadioButton;
class QTableWidget;

namespace quorvex::gui {

class Prompts;

class TransferStatusDlg final : public QDialog {
    Q_OBJECT
public:
    TransferStatusDlg(Prompts& prompts, OutgoingQueue& queue, QWidget* parent = nullptr);

    TransferMode mode() const { return mode_; }
    QTableWidget* list() const { return list_; }

public Q_SLOTS:
    void Reload();
    void OnDelete();
    void OnRetransfer();

private:
    void SetMode(TransferMode mode);
    // The rows selected, top to bottom, as they were read.
    std::vector<TransferRow> SelectedRows() const;

    Prompts& prompts_;
    OutgoingQueue& queue_;
    TransferMode mode_ = TransferMode::kInTransfer;
    std::vector<TransferRow> rows_;  // as listed
    QTableWidget* list_;
    QLabel* count_;
    QPushButton* retransfer_;
    QRadioButton* in_transfer_;
    QRadioButton* undelivered_;
};

}  // namespace quorvex::gui
