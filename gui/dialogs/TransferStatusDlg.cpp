#include "gui/dialogs/TransferStatusDlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "app/ProgramMessages.h"
#include "gui/support/GuiStrings.h"
#include "gui/support/Prompts.h"
#include "gui/support/TextCodec.h"
#include "gui/support/TabOrder.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

namespace {

constexpr std::string_view kTextTransferColumns = "ID|From|To|Tries|Last Response|Begin Time|";  // 125
constexpr std::string_view kTextResendFailed = "These mails could not be queued again: %s";
// Wide enough for an address, a short reply and a time stamp.
constexpr int kColumnWidths[] = {50, 150, 150, 50, 160, 140};

}  // namespace

TransferStatusDlg::TransferStatusDlg(Prompts& prompts, OutgoingQueue& queue, QWidget* parent)
    : QDialog(parent), prompts_(prompts), queue_(queue), list_(new QTableWidget(this)), count_(new QLabel(QStringLiteral("0"), this)),
      retransfer_(new QPushButton(QStringLiteral("Retransfer"), this)),
      in_transfer_(new QRadioButton(QStringLiteral("Mail in transfer"), this)),
      undelivered_(new QRadioButton(QStringLiteral("Mail undelivered"), this)) {
    setObjectName(QStringLiteral("transferStatusDialog"));
    setWindowTitle(QStringLiteral("Internet mail transfer status"));
    list_->setObjectName(QStringLiteral("transferList"));
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setShowGrid(true);
    list_->horizontalHeader()->setSectionsMovable(true);
    list_->verticalHeader()->hide();
    QStringList titles = TrList(kTextTransferColumns);
    while (titles.size() > 6) titles.removeLast();
    list_->setColumnCount(6);
    list_->setHorizontalHeaderLabels(titles);
    list_->setWordWrap(false);
    // The list's widths, widened where a title would not fit this font.
    const QFontMetrics metrics = list_->horizontalHeader()->fontMetrics();
    for (int c = 0; c < 6; ++c) {
        list_->setColumnWidth(c, std::max(kColumnWidths[c], metrics.horizontalAdvance(titles.value(c)) + 24));
    }
    list_->horizontalHeader()->setStretchLastSection(true);
    count_->setObjectName(QStringLiteral("mailCount"));
    KeepUntranslated(count_);
    in_transfer_->setObjectName(QStringLiteral("modeInTransfer"));
    undelivered_->setObjectName(QStringLiteral("modeUndelivered"));
    retransfer_->setObjectName(QStringLiteral("retransfer"));
    auto* refresh = new QPushButton(QStringLiteral("Refresh"), this);
    refresh->setObjectName(QStringLiteral("refresh"));
    auto* remove = new QPushButton(QStringLiteral("Delete"), this);
    remove->setObjectName(QStringLiteral("delete"));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);

    auto* modes = new QHBoxLayout;
    modes->addWidget(in_transfer_);
    modes->addWidget(undelivered_);
    modes->addStretch();
    modes->addWidget(new QLabel(QStringLiteral("Mails: "), this));
    modes->addWidget(count_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(refresh);
    buttons->addWidget(remove);
    buttons->addWidget(retransfer_);
    buttons->addStretch();
    buttons->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(modes);
    layout->addWidget(list_);
    layout->addLayout(buttons);
    setMinimumSize(740, 320);

    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(refresh, &QPushButton::clicked, this, &TransferStatusDlg::Reload);
    connect(remove, &QPushButton::clicked, this, &TransferStatusDlg::OnDelete);
    connect(retransfer_, &QPushButton::clicked, this, &TransferStatusDlg::OnRetransfer);
    connect(in_transfer_, &QRadioButton::clicked, this, [this] { SetMode(TransferMode::kInTransfer); });
    connect(undelivered_, &QRadioButton::clicked, this, [this] { SetMode(TransferMode::kUndelivered); });
    connect(list_, &QTableWidget::cellDoubleClicked, this, [this] {
        if (mode_ == TransferMode::kUndelivered) OnRetransfer();
    });
    TranslateWidgetTree(this);
    SetTabOrderFromLayout(this);
    in_transfer_->setChecked(true);
    SetMode(TransferMode::kInTransfer);
}

void TransferStatusDlg::SetMode(TransferMode mode) {
    mode_ = mode;
    retransfer_->setVisible(mode == TransferMode::kUndelivered);
    Reload();
}

void TransferStatusDlg::Reload() {
    rows_ = ReadTransferRows(queue_, mode_);
    list_->clearContents();
    list_->setRowCount(static_cast<int>(rows_.size()));
    int r = 0;
    for (const TransferRow& row : rows_) {
        const QString cells[] = {QString::number(row.number), FromFileText(row.from),          FromFileText(row.to),
                                 FromFileText(row.tries),     FromFileText(row.last_response), FromFileText(row.begin_time)};
        for (int c = 0; c < 6; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (c == 4) item->setToolTip(cells[c]);
            list_->setItem(r, c, item);
        }
        ++r;
    }
    count_->setText(QString::number(rows_.size()));
}

std::vector<TransferRow> TransferStatusDlg::SelectedRows() const {
    std::set<int> shown;
    for (const QModelIndex& index : list_->selectionModel()->selectedRows()) shown.insert(index.row());
    std::vector<TransferRow> rows;
    for (int row : shown) {
        if (row < static_cast<int>(rows_.size())) rows.push_back(rows_[static_cast<std::size_t>(row)]);
    }
    return rows;
}

void TransferStatusDlg::OnDelete() {
    const std::vector<TransferRow> rows = SelectedRows();
    if (rows.empty()) return;
    if (!prompts_.Question(this, Tr(kTextDeleteMailQuestion))) return;
    for (const TransferRow& row : rows) {
        if (DeleteTransferItems(queue_, mode_, {row.number}) == 1) app::WriteProgramLog(DeletedItemLogLine(mode_, row));
    }
    Reload();
}

void TransferStatusDlg::OnRetransfer() {
    if (mode_ != TransferMode::kUndelivered) return;
    std::vector<int> numbers;
    for (const TransferRow& row : SelectedRows()) numbers.push_back(row.number);
    if (numbers.empty()) return;
    const std::vector<int> failed = ResendParkedItems(queue_, numbers);
    Reload();
    if (!failed.empty()) {
        QStringList list;
        for (int n : failed) list << QString::number(n);
        prompts_.Warning(this, FormatText(Tr(kTextResendFailed), {list.join(QStringLiteral(", "))}));
    }
}

}  // namespace quorvex::gui
