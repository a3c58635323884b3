// The account list: the upper pane of the main window. One row per account
// or mail group, kept current by the account notices (new, changed,
// deleted, a POP3 visit) and by refreshes. It only shows: the account
// commands (gui/frame/AccountCommands) act on its selection, and a double
// click is handed to them as a signal.
//
// A refresh reads the rows away from the GUI thread when there are many,
// replaces the whole model once, and applies the notices that came in the
// meantime afterwards; a refresh asked for while one runs is merged into
// one more refresh at its end, so a refresh never re-enters itself.
#pragma once

#include <QMenu>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gui/logic/AccountRows.h"
#include "gui/notices/NoticeRelay.h"
#include "gui/support/GuiServices.h"
#include "gui/views/AccountTableModel.h"
#include "gui/views/SortableTableView.h"

namespace quorvex::gui {

class ProgressDlg;

inline constexpr const char* kAccountListName = "QuorvexServerListView";

class AccountListView final : public SortableTableView, public NoticeReceiver {
    Q_OBJECT
public:
    // From this many accounts on, a refresh reads the rows on a worker.
    static constexpr int kWorkerRefreshThreshold = 200;
    // A refresh shows its progress box once it has run this long.
    static constexpr int kProgressDelayMs = 400;

    AccountListView(const GuiServices& services, QWidget* parent = nullptr);
    ~AccountListView() override;

    AccountTableModel* model() const { return model_; }

    // The main window's domain selection (multi-domain mode): its text, or
    // nothing when there is no selection.
    void SetDomainSelection(std::function<std::optional<std::string>()> selection) {
        domain_selection_ = std::move(selection);
    }
    // The actions of the right-click menu (the window's commands).
    void SetContextActions(const QList<QAction*>& actions) { context_actions_ = actions; }
    // The right-click menu with those actions (the caller owns it).
    QMenu* MakeContextMenu();
    // Column titles and cell texts in the current language.
    void Retranslate();

    void OnNotice(const Notice& notice) override;

    bool refreshing() const { return refreshing_; }

    // Names of the selected rows, top to bottom.
    std::vector<std::string> SelectedNames() const;
    // The name of the first selected row.
    std::optional<std::string> FirstSelectedName() const;
    // Names of all rows, top to bottom as shown.
    std::vector<std::string> ShownNames() const;
    // Reads the row of a shown account again (after a command changed it).
    void UpdateAccountRow(const std::string& name);

public Q_SLOTS:
    void OnRefreshUserList();
    void OnSelectAll();

Q_SIGNALS:
    // The number of rows changed (the main window shows it).
    void UserCountChanged(int count);
    // A refresh ended (tests, the benchmark).
    void RefreshFinished();
    // A left double click on a row (now the only one selected), or on the
    // empty space below the rows.
    void RowDoubleClicked();
    void EmptySpaceDoubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void AddAccountRow(const std::string& name);
    void DeleteAccountRow(const std::string& name);
    void UpdateAccountUsage(const std::string& payload);
    void ApplyAccountNotice(const Notice& notice);
    void FinishRefresh(std::vector<AccountRow> rows);
    void ShowRefreshProgress();
    std::vector<std::string> NamesToShow() const;

    GuiServices services_;
    AccountTableModel* model_;
    std::function<std::optional<std::string>()> domain_selection_;
    QList<QAction*> context_actions_;
    RowTexts texts_;

    bool refreshing_ = false;
    bool refresh_again_ = false;
    std::vector<Notice> held_notices_;  // account notices during a refresh
    std::atomic<int> refresh_done_{0};
    int refresh_total_ = 0;
    ProgressDlg* progress_ = nullptr;
    std::jthread refresh_worker_;
};

}  // namespace quorvex::gui
