#include "gui/views/AccountTableModel.h"

#include <QApplication>
#include <QStyle>
#include <algorithm>

#include "common/AsciiCase.h"
#include "gui/support/TextCodec.h"

namespace quorvex::gui {

AccountTableModel::AccountTableModel(QObject* parent) : QAbstractTableModel(parent) {
    account_icon_ = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    group_icon_ = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
}

int AccountTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int AccountTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kAccountColumnCount; }

QVariant AccountTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            return row.cells[static_cast<std::size_t>(index.column())];
        case Qt::DecorationRole:
            if (index.column() == kColumnAccount) return row.is_group ? group_icon_ : account_icon_;
            return {};
        default:
            return {};
    }
}

QVariant AccountTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < titles_.size()) {
        return titles_[section];
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

void AccountTableModel::SetColumnTitles(const QStringList& titles) {
    titles_ = titles;
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, kAccountColumnCount - 1);
}

AccountTableModel::Row AccountTableModel::MakeRow(const AccountRow& values) {
    Row row;
    row.name = values.cells[kColumnAccount];
    row.is_group = values.is_group;
    for (std::size_t i = 0; i < row.cells.size(); ++i) row.cells[i] = FromFileText(values.cells[i]);
    return row;
}

void AccountTableModel::RebuildIndex() {
    by_name_.clear();
    by_name_.reserve(rows_.size());
    // The first row of a name wins, as a search from the top finds it.
    for (std::size_t i = rows_.size(); i-- > 0;) by_name_[AsciiLowerCase(rows_[i].name)] = static_cast<int>(i);
}

void AccountTableModel::ResetRows(std::vector<AccountRow> rows) {
    beginResetModel();
    rows_.clear();
    rows_.reserve(rows.size());
    for (const AccountRow& values : rows) rows_.push_back(MakeRow(values));
    RebuildIndex();
    endResetModel();
}

void AccountTableModel::AppendRow(const AccountRow& values) {
    const int at = static_cast<int>(rows_.size());
    beginInsertRows({}, at, at);
    rows_.push_back(MakeRow(values));
    by_name_.emplace(AsciiLowerCase(rows_.back().name), at);
    endInsertRows();
}

void AccountTableModel::SetRow(int row, const AccountRow& values) {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return;
    Row fresh = MakeRow(values);
    // The row keeps its own name: it is the row's key.
    fresh.name = rows_[static_cast<std::size_t>(row)].name;
    fresh.cells[kColumnAccount] = rows_[static_cast<std::size_t>(row)].cells[kColumnAccount];
    rows_[static_cast<std::size_t>(row)] = std::move(fresh);
    Q_EMIT dataChanged(index(row, 0), index(row, kAccountColumnCount - 1));
}

void AccountTableModel::SetUsage(int row, const QString& used_space, const QString& mail_number,
                                 const QString& last_visit) {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return;
    auto& cells = rows_[static_cast<std::size_t>(row)].cells;
    cells[kColumnUsedSpace] = used_space;
    cells[kColumnMailNumber] = mail_number;
    cells[kColumnLastVisit] = last_visit;
    Q_EMIT dataChanged(index(row, kColumnUsedSpace), index(row, kColumnLastVisit));
}

void AccountTableModel::RemoveRowAt(int row) {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return;
    beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + row);
    RebuildIndex();
    endRemoveRows();
}

int AccountTableModel::FindRow(std::string_view name) const {
    const auto found = by_name_.find(AsciiLowerCase(name));
    return found == by_name_.end() ? -1 : found->second;
}

}  // namespace quorvex::gui
