// Every dialog's (and tabbed page's) keyboard order: Tab visits each control
// that takes the focus once per round, in reading order.
#include <QAbstractButton>
#include <QButtonGroup>
#include <QDialog>
#include <QRadioButton>
#include <QTabWidget>
#include <functional>

#include "GuiTestSupport.h"
#include "gui/dialogs/AboutDlg.h"
#include "gui/dialogs/AdminPasswordDlg.h"
#include "gui/dialogs/DeletedUsersDlg.h"
#include "gui/dialogs/ErrorAlertDlg.h"
#include "gui/dialogs/LogDlg.h"
#include "gui/dialogs/LoginDlg.h"
#include "gui/dialogs/ReportDlg.h"
#include "gui/dialogs/SendMailDlg.h"
#include "gui/dialogs/ShutdownDlg.h"
#include "gui/dialogs/TransferStatusDlg.h"
#include "gui/dialogs/account/AccountSheet.h"
#include "gui/dialogs/account/ComposeWelcomeDlg.h"
#include "gui/dialogs/account/GroupDlg.h"
#include "gui/logic/ServiceSwitch.h"
#include "gui/settings/AdvancedDlg.h"
#include "gui/settings/DomainInputDlg.h"
#include "gui/settings/OptionDialogs.h"
#include "gui/settings/SettingDlg.h"

namespace quorvex::gui::testing {
namespace {

QRect PlaceOf(QWidget* widget, QWidget* dialog) { return QRect(widget->mapTo(dialog, QPoint(0, 0)), widget->size()); }

// Of exclusive radio buttons Tab reaches the checked one (arrows choose).
bool LeftToArrows(QWidget* widget) {
    auto* radio = qobject_cast<QRadioButton*>(widget);
    if (radio == nullptr || radio->isChecked()) return false;
    if (radio->group() != nullptr) return radio->group()->checkedButton() != nullptr;
    const auto siblings = radio->parentWidget()->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
    return std::any_of(siblings.begin(), siblings.end(), [](QRadioButton* r) { return r->isChecked(); });
}

// Walks the focus chain with Tab: empty when it reads in order, else the fault.
std::string WalkWithTab(QDialog& dialog) {
    std::vector<QWidget*> takers;
    for (QWidget* child : dialog.findChildren<QWidget*>()) {
        if (child->isVisibleTo(&dialog) && child->isEnabled() && (child->focusPolicy() & Qt::TabFocus) &&
            child->focusProxy() == nullptr && !LeftToArrows(child)) {
            takers.push_back(child);
        }
    }
    if (takers.empty()) return {};
    takers.front()->setFocus(Qt::TabFocusReason);
    std::vector<QWidget*> visited;
    while (visited.empty() || QApplication::focusWidget() != visited.front()) {
        QWidget* now = QApplication::focusWidget();
        if (now == nullptr) return "no widget has the focus";
        if (std::find(visited.begin(), visited.end(), now) != visited.end()) return "Tab loops inside the dialog";
        visited.push_back(now);
        QTest::keyClick(now, Qt::Key_Tab);
    }
    for (QWidget* taker : takers) {
        if (std::find(visited.begin(), visited.end(), taker) == visited.end()) {
            return "Tab never reaches " + taker->objectName().toStdString();
        }
    }
    // The round begins at the control at the top left.
    std::rotate(visited.begin(), std::min_element(visited.begin(), visited.end(), [&](QWidget* a, QWidget* b) {
                    const QRect pa = PlaceOf(a, &dialog), pb = PlaceOf(b, &dialog);
                    return std::pair(pa.top(), pa.left()) < std::pair(pb.top(), pb.left());
                }),
                visited.end());
    for (std::size_t i = 1; i < visited.size(); ++i) {
        const QRect a = PlaceOf(visited[i - 1], &dialog), b = PlaceOf(visited[i], &dialog);
        const bool up = b.center().y() < a.top();
        if ((up && b.left() < a.right()) || (!up && b.center().y() <= a.bottom() && b.left() < a.left())) {
            return "Tab goes back from " + visited[i - 1]->objectName().toStdString() + " to " +
                   visited[i]->objectName().toStdString();
        }
    }
    return {};
}

class FocusChainTest : public GuiFolderTest {};

TEST_F(FocusChainTest, TabWalksEveryDialogInReadingOrder) {
    ASSERT_TRUE(CreateAccount("alice"));
    ASSERT_TRUE(CreateAccount("team", [](AccountRecord& r) { r.IsGroup = 1; }));
    CServerSettings settings = *Settings();
    SystemdServiceSwitch service(
        app::ServiceOptions{home.path(), [](const std::vector<std::string>&) { return CommandResult{0, ""}; }, "",
                            home.path()},
        true);
    const std::string config = Settings()->ConfigIni();
    const std::vector<std::pair<const char*, std::function<QDialog*()>>> dialogs_to_walk = {
        {"login", [&] { return new LoginDlg(config, prompts, dialogs); }},
        {"admin password", [&] { return new AdminPasswordDlg(config, prompts); }},
        {"shutdown", [&] { return new ShutdownDlg(config, prompts); }},
        {"log", [&] { return new LogDlg(Settings()->LogFilePath, opener, prompts); }},
        {"about", [&] { return new AboutDlg(opener, prompts); }},
        {"error alert", [&] { return new ErrorAlertDlg(); }},
        {"account sheet", [&] { return new AccountSheet("alice", Settings(), Accounts(), prompts); }},
        {"group", [&] { return new GroupDlg("team", Settings(), Accounts(), prompts); }},
        {"welcome message", [&] { return new ComposeWelcomeDlg(home.File("Welcome.inbox"), prompts); }},
        {"send mail", [&] { return new SendMailDlg("alice;", Settings(), directory, Accounts(), prompts, chooser); }},
        {"transfer status", [&] { return new TransferStatusDlg(prompts, mail_queue); }},
        {"deleted users", [&] { return new DeletedUsersDlg(Settings(), Accounts(), prompts); }},
        {"export users", [&] { return new ReportDlg({"alice"}, Settings(), Accounts(), opener, prompts); }},
        {"settings", [&] { return new SettingDlg(services, service); }},
        {"domain input", [&] { return new DomainInputDlg(DomainInput{"example.com", 5, 100, 20}); }},
        {"advanced", [&] { return new AdvancedDlg(settings, services); }},
        {"ISP SMTP", [&] { return new IspSmtpDlg(settings); }},
        {"proxy", [&] { return new ProxyDlg(settings); }},
        {"anti-virus", [&] { return new AntiVirusDlg(settings); }},
        {"white list", [&] { return new WhiteListDlg(settings); }},
        {"sender entry", [&] { return new BlockEntryDlg(BlockEntryDlg::Kind::kSender, "@x.test", prompts); }},
        {"IP entry", [&] { return new BlockEntryDlg(BlockEntryDlg::Kind::kIp, "192.0.2.1", prompts); }},
    };
    for (const auto& [name, make] : dialogs_to_walk) {
        const std::unique_ptr<QDialog> dialog(make());
        dialog->show();
        dialog->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get())) << name;
        auto* pages = dialog->findChild<QTabWidget*>();
        for (int page = 0; page < (pages ? pages->count() : 1); ++page) {
            if (pages) pages->setCurrentIndex(page);
            EXPECT_EQ(WalkWithTab(*dialog), "") << name << ", page " << page;
        }
    }
}

}  // namespace
}  // namespace quorvex::gui::testing
