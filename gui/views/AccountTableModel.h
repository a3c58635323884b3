// The account list's table: one row per account or mail group, eight text
// cells and an icon kind, rows found by name without regard to case. The
// model only holds what the view shows; the rows are built from the
// account services (gui/logic/AccountRows.h).
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QStringList>
#include <array>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "gui/logic/AccountRows.h"

namespace quorvex::gui {

class AccountTableModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit AccountTableModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void SetColumnTitles(const QStringList& titles);

    // Replaces every row at once (a refresh).
    void ResetRows(std::vector<AccountRow> rows);
    void AppendRow(const AccountRow& row);
    void SetRow(int row, const AccountRow& values);
    // The usage columns of a POP3 visit: size, count and last visit.
    void SetUsage(int row, const QString& used_space, const QString& mail_number, const QString& last_visit);
    void RemoveRowAt(int row);

    // The row of an account (any letter case), or -1.
    int FindRow(std::string_view name) const;
    // The account name of a row (its first cell, in the stored spelling).
    const std::string& NameAt(int row) const { return rows_[static_cast<std::size_t>(row)].name; }
    bool IsGroupAt(int row) const { return rows_[static_cast<std::size_t>(row)].is_group; }
    const QString& CellAt(int row, int column) const {
        return rows_[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(column)];
    }

private:
    struct Row {
        std::string name;
        std::array<QString, kAccountColumnCount> cells;
        bool is_group = false;
    };
    static Row MakeRow(const AccountRow& values);
    void RebuildIndex();

    std::vector<Row> rows_;
    std::unordered_map<std::string, int> by_name_;  // lower-case name -> row
    QStringList titles_;
    QIcon account_icon_;
    QIcon group_icon_;
};

}  // namespace quorvex::gui
