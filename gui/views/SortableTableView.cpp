#include "gui/views/SortableTableView.h"

#include <QApplication>
#include <QHeaderView>
#include <QGuiApplication>
#include <QStyle>
#include <algorithm>

#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "gui/logic/ColumnWidths.h"

namespace quorvex::gui {

void MultiKeySortProxy::ApplyKeys(const SortKeys& keys) {
    keys_ = keys;
    invalidate();
    sort(0, Qt::AscendingOrder);
    if (sourceModel()) Q_EMIT headerDataChanged(Qt::Horizontal, 0, sourceModel()->columnCount() - 1);
}

QVariant MultiKeySortProxy::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DecorationRole) {
        // Ascending shows a downward triangle, descending an upward one.
        switch (keys_.MarkerOf(section)) {
            case SortKeys::Marker::kAscending:
                return QApplication::style()->standardIcon(QStyle::SP_ArrowDown);
            case SortKeys::Marker::kDescending:
                return QApplication::style()->standardIcon(QStyle::SP_ArrowUp);
            case SortKeys::Marker::kNone:
                return {};
        }
    }
    return QSortFilterProxyModel::headerData(section, orientation, role);
}

bool MultiKeySortProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    const QAbstractItemModel* model = sourceModel();
    auto cell_text = [model](int row, int column) {
        return model->index(row, column).data(Qt::DisplayRole).toString();
    };
    auto cell = [&](int row, int column) { return cell_text(row, column).toStdString(); };
    auto compare_text = [&](int a, int b, int column) {
        return QString::compare(cell_text(a, column), cell_text(b, column), Qt::CaseInsensitive);
    };
    const int result = CompareRows(
        keys_.keys(), left.row(), right.row(), cell,
        [this](int column) { return IsNumericColumn(column); }, compare_text);
    return result < 0;
}

SortableTableView::SortableTableView(QWidget* parent) : QTableView(parent), proxy_(new MultiKeySortProxy(this)) {
    proxy_->setDynamicSortFilter(true);
    QTableView::setModel(proxy_);
    setSortingEnabled(false);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setSectionsMovable(true);
    horizontalHeader()->setSortIndicatorShown(false);
    // The header reports a click only for a left-button press and release
    // on one section (a drag or a resize is no click).
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int logical) {
        SortColumn(logical, (QGuiApplication::keyboardModifiers() & Qt::ControlModifier) != 0);
    });
}

SortableTableView::~SortableTableView() { SaveColumnWidths(); }

void SortableTableView::SetSourceModel(QAbstractItemModel* model) {
    proxy_->setSourceModel(model);
    proxy_->sort(0, Qt::AscendingOrder);
    connect(model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { WidenColumnsFor(first, last); });
    connect(model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& top_left, const QModelIndex& bottom_right) {
                WidenColumnsFor(top_left.row(), bottom_right.row());
            });
}

void SortableTableView::SetListName(const std::string& name, const std::string& config_ini) {
    list_name_ = name;
    config_ini_ = config_ini;
}

void SortableTableView::RestoreColumnWidths() {
    if (!proxy_->sourceModel()) return;
    const std::string stored =
        config_ini_.empty() ? std::string() : ReadProfileString(config_ini_, kColumnWidthsSection, list_name_);
    stored_widths_ = !stored.empty() && stored != kDefaultColumnWidths;
    for (int column = 0; column < proxy_->sourceModel()->columnCount(); ++column) {
        const int width = StoredColumnWidth(stored, column);
        if (width >= kMinStoredWidth) {
            // Widths stored for another font never cut the column's title.
            setColumnWidth(column, std::max(width, horizontalHeader()->sectionSizeHint(column)));
        } else {
            AutoSizeColumn(column);
        }
    }
    NoteOwnWidths();
}

void SortableTableView::FitColumnsToContents() {
    QAbstractItemModel* model = proxy_->sourceModel();
    if (!model || stored_widths_ || ResizedByAdministrator()) return;
    // Every row counts, not only those on screen: a row further down keeps
    // the width it needs.
    for (int column = 0; column < model->columnCount(); ++column) {
        setColumnWidth(column, FittedColumnWidth(ContentsWidth(column, 0, model->rowCount() - 1),
                                                 horizontalHeader()->sectionSizeHint(column)));
    }
    NoteOwnWidths();
}

void SortableTableView::WidenColumnsFor(int first, int last) {
    QAbstractItemModel* model = proxy_->sourceModel();
    if (!model || stored_widths_ || ResizedByAdministrator()) return;
    for (int column = 0; column < model->columnCount(); ++column) {
        const int width = FittedColumnWidth(ContentsWidth(column, first, last), horizontalHeader()->sectionSizeHint(column));
        if (width > columnWidth(column)) setColumnWidth(column, width);
    }
    NoteOwnWidths();
}

int SortableTableView::ContentsWidth(int column, int first, int last) const {
    QAbstractItemModel* model = proxy_->sourceModel();
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const int grid = showGrid() ? 1 : 0;  // as the view measures a column
    int contents = 0;
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = proxy_->mapFromSource(model->index(row, column));
        contents = std::max(contents, itemDelegateForIndex(index)->sizeHint(option, index).width() + grid);
    }
    return contents;
}

void SortableTableView::NoteOwnWidths() {
    own_widths_.clear();
    for (int column = 0; column < proxy_->sourceModel()->columnCount(); ++column) {
        own_widths_.push_back(columnWidth(column));
    }
}

bool SortableTableView::ResizedByAdministrator() const {
    const int stretched = horizontalHeader()->stretchLastSection() ? horizontalHeader()->logicalIndex(
                                                                         horizontalHeader()->count() - 1)
                                                                   : -1;
    for (std::size_t column = 0; column < own_widths_.size(); ++column) {
        const int index = static_cast<int>(column);
        if (index != stretched && columnWidth(index) != own_widths_[column]) return true;
    }
    return false;
}

void SortableTableView::AutoSizeColumn(int column) {
    const int contents = sizeHintForColumn(column);
    const int header = horizontalHeader()->sectionSizeHint(column);
    setColumnWidth(column, AutoColumnWidth(contents, header));
}

void SortableTableView::SaveColumnWidths() {
    if (list_name_.empty() || config_ini_.empty() || !proxy_->sourceModel() || !ResizedByAdministrator()) return;
    std::vector<int> widths;
    for (int column = 0; column < proxy_->sourceModel()->columnCount(); ++column) widths.push_back(columnWidth(column));
    ProfileFile(config_ini_).WriteString(kColumnWidthsSection, list_name_, FormatColumnWidths(widths));
}

void SortableTableView::SortColumn(int column, bool add_key) {
    keys_.Click(column, add_key);
    proxy_->ApplyKeys(keys_);
}

std::vector<int> SortableTableView::SelectedSourceRows() const {
    std::vector<std::pair<int, int>> rows;  // shown row, source row
    for (const QModelIndex& index : selectionModel()->selectedRows()) {
        rows.emplace_back(index.row(), proxy_->mapToSource(index).row());
    }
    std::sort(rows.begin(), rows.end());
    std::vector<int> source;
    for (const auto& [shown, row] : rows) source.push_back(row);
    return source;
}

}  // namespace quorvex::gui
