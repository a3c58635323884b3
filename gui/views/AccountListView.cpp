#include "gui/views/AccountListView.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMetaObject>
#include <QMouseEvent>
#include <QTimer>
#include <algorithm>
#include <memory>

#include "common/Notices.h"
#include "gui/dialogs/ProgressDlg.h"
#include "gui/logic/SettingsSource.h"
#include "gui/support/GuiStrings.h"
#include "gui/support/TextCodec.h"
#include "gui/support/WidgetTranslator.h"
#include "mailmodel/account/AccountConfig.h"
#include "mailmodel/account/AccountList.h"

namespace quorvex::gui {

namespace {

// Threads that read the rows of a large refresh.
constexpr unsigned kRefreshThreads = 4;

std::vector<AccountRow> ReadRows(const std::vector<std::string>& names, const RowTexts& texts,
                                 const AccountList& accounts, std::atomic<int>& done, const std::stop_token& stop) {
    std::vector<AccountRow> rows(names.size());
    const unsigned threads = std::min<unsigned>(kRefreshThreads, std::max<std::size_t>(1, names.size() / 64));
    auto work = [&](unsigned first) {
        for (std::size_t i = first; i < names.size(); i += threads) {
            if (stop.stop_requested()) return;
            rows[i] = LoadAccountRow(names[i], texts, accounts);
            done.fetch_add(1, std::memory_order_relaxed);
        }
    };
    std::vector<std::jthread> helpers;
    for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(work, t);
    work(0);
    return rows;
}

}  // namespace

AccountListView::AccountListView(const GuiServices& services, QWidget* parent)
    : SortableTableView(parent), services_(services), model_(new AccountTableModel(this)) {
    setObjectName(QStringLiteral("accountList"));
    SetSourceModel(model_);
    SetListName(kAccountListName, services_.settings->Current()->ConfigIni());
    SetNumericColumn(kColumnUsedSpace);
    SetNumericColumn(kColumnTotalSize);
    SetNumericColumn(kColumnMailNumber);
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setStretchLastSection(true);
    // The list's colour 0xfffbf3 (blue first in the stored form).
    QPalette colours = palette();
    colours.setColor(QPalette::Base, QColor(0xF3, 0xFB, 0xFF));
    setPalette(colours);
    Retranslate();
    RestoreColumnWidths();
}

AccountListView::~AccountListView() {
    // The worker's result is posted to this view: it must be done first.
    if (refresh_worker_.joinable()) {
        refresh_worker_.request_stop();
        refresh_worker_.join();
    }
}

void AccountListView::Retranslate() {
    QStringList titles = TrList(kTextColumns);
    while (titles.size() < kAccountColumnCount) titles << QString();
    model_->SetColumnTitles(titles.mid(0, kAccountColumnCount));
    texts_.unlimited = ToFileText(Tr(kTextUnlimited));
    texts_.enable = ToFileText(Tr(kTextEnable));
    texts_.disable = ToFileText(Tr(kTextDisable));
}

std::vector<std::string> AccountListView::SelectedNames() const {
    std::vector<std::string> names;
    for (int row : SelectedSourceRows()) names.push_back(model_->NameAt(row));
    return names;
}

std::vector<std::string> AccountListView::ShownNames() const {
    std::vector<std::string> names;
    const int count = proxy()->rowCount();
    names.reserve(static_cast<std::size_t>(count));
    for (int row = 0; row < count; ++row) names.push_back(model_->NameAt(proxy()->mapToSource(proxy()->index(row, 0)).row()));
    return names;
}

std::optional<std::string> AccountListView::FirstSelectedName() const {
    const std::vector<int> rows = SelectedSourceRows();
    if (rows.empty()) return std::nullopt;
    return model_->NameAt(rows.front());
}

// ---- notices -------------------------------------------------------------

void AccountListView::OnNotice(const Notice& notice) {
    switch (notice.id) {
        case NoticeId::WM_NEW_ACCOUNT:
        case NoticeId::WM_UPDATE_ACCOUNT:
        case NoticeId::WM_DELETE_ACCOUNT:
        case NoticeId::WM_UPDATE_ACCOUNT_EX:
            if (refreshing_) {
                held_notices_.push_back(notice);
            } else {
                ApplyAccountNotice(notice);
            }
            return;
        default:
            return;
    }
}

void AccountListView::ApplyAccountNotice(const Notice& notice) {
    switch (notice.id) {
        case NoticeId::WM_NEW_ACCOUNT: AddAccountRow(notice.payload); break;
        case NoticeId::WM_UPDATE_ACCOUNT: UpdateAccountRow(notice.payload); break;
        case NoticeId::WM_DELETE_ACCOUNT: DeleteAccountRow(notice.payload); break;
        case NoticeId::WM_UPDATE_ACCOUNT_EX: UpdateAccountUsage(notice.payload); break;
        default: break;
    }
}

void AccountListView::AddAccountRow(const std::string& name) {
    // A new account is shown whatever the domain selection, until the next
    // refresh; one that is shown already is only brought up to date.
    if (model_->FindRow(name) >= 0) {
        UpdateAccountRow(name);
        return;
    }
    model_->AppendRow(LoadAccountRow(services_.accounts->StoredName(name), texts_, *services_.accounts));
    Q_EMIT UserCountChanged(model_->rowCount());
}

void AccountListView::UpdateAccountRow(const std::string& name) {
    const int row = model_->FindRow(name);
    if (row < 0) return;
    model_->SetRow(row, LoadAccountRow(model_->NameAt(row), texts_, *services_.accounts));
}

void AccountListView::DeleteAccountRow(const std::string& name) {
    const int row = model_->FindRow(name);
    if (row < 0) return;
    model_->RemoveRowAt(row);
    Q_EMIT UserCountChanged(model_->rowCount());
}

void AccountListView::UpdateAccountUsage(const std::string& payload) {
    const auto visit = ParseAccountVisit(payload);
    if (!visit) return;  // a malformed notice changes nothing
    const int row = model_->FindRow(visit->account);
    if (row < 0) return;
    model_->SetUsage(row, QString::fromStdString(UsedSpaceText(visit->mailbox_bytes)),
                     QString::number(visit->message_count), FromFileText(visit->visit_time));
}

// ---- refresh -------------------------------------------------------------

std::vector<std::string> AccountListView::NamesToShow() const {
    const SettingsSnapshot settings = services_.settings->Current();
    const std::optional<std::string> selected = domain_selection_ ? domain_selection_() : std::nullopt;
    const std::string all_domains = ToFileText(Tr(kTextAllDomains));
    std::vector<std::string> names;
    for (const std::string& name : services_.accounts->Names()) {
        if (AccountExists(name) != AccountPresence::kListed) continue;
        if (!PassesDomainFilter(name, settings->DomainNameType, selected, all_domains)) continue;
        names.push_back(name);
    }
    return names;
}

void AccountListView::OnRefreshUserList() {
    if (refreshing_) {
        refresh_again_ = true;
        return;
    }
    refreshing_ = true;
    held_notices_.clear();
    const std::vector<std::string> names = NamesToShow();
    if (static_cast<int>(names.size()) < kWorkerRefreshThreshold) {
        std::atomic<int> done{0};
        FinishRefresh(ReadRows(names, texts_, *services_.accounts, done, std::stop_token{}));
        return;
    }
    refresh_total_ = static_cast<int>(names.size());
    refresh_done_ = 0;
    if (refresh_worker_.joinable()) refresh_worker_.join();
    const AccountList& accounts = *services_.accounts;
    refresh_worker_ = std::jthread([this, names, texts = texts_, &accounts](std::stop_token stop) {
        std::vector<AccountRow> rows = ReadRows(names, texts, accounts, refresh_done_, stop);
        if (stop.stop_requested()) return;
        QMetaObject::invokeMethod(
            this, [this, rows = std::move(rows)]() mutable { FinishRefresh(std::move(rows)); }, Qt::QueuedConnection);
    });
    QTimer::singleShot(kProgressDelayMs, this, [this] { ShowRefreshProgress(); });
}

void AccountListView::ShowRefreshProgress() {
    if (!refreshing_ || progress_) return;
    progress_ = new ProgressDlg(kTextRefreshing, this);
    progress_->SetRange(0, refresh_total_);
    progress_->show();
    auto* ticker = new QTimer(progress_);
    // The ticker goes with its box; the box outlives the view's pointer to
    // it until its deferred deletion.
    ProgressDlg* box = progress_;
    connect(ticker, &QTimer::timeout, box, [this, box] { box->SetValue(refresh_done_.load()); });
    ticker->start(100);
}

void AccountListView::FinishRefresh(std::vector<AccountRow> rows) {
    model_->ResetRows(std::move(rows));
    FitColumnsToContents();
    if (progress_) {
        progress_->close();
        progress_->deleteLater();
        progress_ = nullptr;
    }
    refreshing_ = false;
    // What changed while the rows were read is applied on top of them.
    std::vector<Notice> held;
    held.swap(held_notices_);
    for (const Notice& notice : held) ApplyAccountNotice(notice);
    Q_EMIT UserCountChanged(model_->rowCount());
    Q_EMIT RefreshFinished();
    if (refresh_again_) {
        refresh_again_ = false;
        OnRefreshUserList();
    }
}

// ---- selection and mouse -------------------------------------------------

void AccountListView::OnSelectAll() { selectAll(); }

void AccountListView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return SortableTableView::mouseDoubleClickEvent(event);
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid()) {
        Q_EMIT EmptySpaceDoubleClicked();
        return;
    }
    selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    Q_EMIT RowDoubleClicked();
}

QMenu* AccountListView::MakeContextMenu() {
    auto* menu = new QMenu(this);
    menu->addActions(context_actions_);
    return menu;
}

void AccountListView::contextMenuEvent(QContextMenuEvent* event) {
    if (context_actions_.isEmpty()) return;
    const std::unique_ptr<QMenu> menu(MakeContextMenu());
    menu->exec(event->globalPos());
}

}  // namespace quorvex::gui
