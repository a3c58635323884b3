// The sortable list: a table whose header sorts by the clicked column
// (left button only; Ctrl+click adds a further key), shows a direction
// marker on the sorted columns, sorts numeric columns as numbers, and keeps
// its column widths in config.ini under the list's name. The rows are the
// source model's; a proxy orders them by the whole key list (at first the
// first column, ascending).
//
// Column widths the administrator set (stored ones other than the default
// value, or a column resized in this run) are kept; otherwise the columns
// are fitted to the rows once they are filled, widened for each row that
// comes or changes later, and nothing is stored.
#pragma once

#include <QSortFilterProxyModel>
#include <QTableView>
#include <set>
#include <string>

#include "gui/logic/SortKeys.h"

namespace quorvex::gui {

class MultiKeySortProxy final : public QSortFilterProxyModel {
    Q_OBJECT
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void SetNumericColumn(int column) { numeric_.insert(column); }
    bool IsNumericColumn(int column) const { return numeric_.count(column) != 0; }
    // Sorts by the keys (and shows their markers).
    void ApplyKeys(const SortKeys& keys);

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    std::set<int> numeric_;
    SortKeys keys_;
};

class SortableTableView : public QTableView {
    Q_OBJECT
public:
    explicit SortableTableView(QWidget* parent = nullptr);
    ~SortableTableView() override;

    // The source model goes behind the sorting proxy.
    void SetSourceModel(QAbstractItemModel* model);
    MultiKeySortProxy* proxy() const { return proxy_; }

    // The key of the widths in config.ini [ColumnWidths] (the list's name)
    // and the file; widths are saved when the view goes.
    void SetListName(const std::string& name, const std::string& config_ini);
    void SetNumericColumn(int column) { proxy_->SetNumericColumn(column); }
    // Each column its stored width, or auto-sized when that is below 20.
    void RestoreColumnWidths();
    // Writes the widths when the administrator changed one in this run.
    void SaveColumnWidths();
    void AutoSizeColumn(int column);
    // Each column as wide as all its rows (also those off screen) and its
    // title need, unless the administrator set the widths.
    void FitColumnsToContents();
    // The same for the source rows first..last, widening columns only.
    void WidenColumnsFor(int first, int last);

    // A header click: sort by the column, or add it as a key.
    void SortColumn(int column, bool add_key);
    const SortKeys& sort_keys() const { return keys_; }

    // The source rows of the selection, top to bottom as shown.
    std::vector<int> SelectedSourceRows() const;

private:
    // A width differs from the last one the view set itself (the column
    // that stretches to the view's edge aside).
    bool ResizedByAdministrator() const;
    void NoteOwnWidths();
    // The width the source rows first..last need in the column.
    int ContentsWidth(int column, int first, int last) const;

    MultiKeySortProxy* proxy_;
    SortKeys keys_;
    std::string list_name_;
    std::string config_ini_;
    bool stored_widths_ = false;  // the administrator's widths from config.ini
    std::vector<int> own_widths_;
};

}  // namespace quorvex::gui
