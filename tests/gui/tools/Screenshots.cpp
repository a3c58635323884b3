// Pictures of every window of the administration interface: the main
// window (each menu, the list's right-click menu and "New" drop-down opened,
// the status bar with several domains), every dialog, message box and
// progress window, as PNG files, in English and, with --pseudo, in a
// pseudo-translation whose texts are 40% longer, so clipped labels show. Run
// by scripts/screenshots.sh under Xvfb on a prepared program folder
// (QUORVEX_HOME).
//   gui_screenshots OUTDIR [--pseudo]
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "common/ErrorAlert.h"
#include "common/Notices.h"
#include "common/Paths.h"
#include "common/ServerSettings.h"
#include "common/Translation.h"
#include "gui/dialogs/AboutDlg.h"
#include "gui/dialogs/AdminPasswordDlg.h"
#include "gui/dialogs/ErrorAlertDlg.h"
#include "gui/dialogs/LogDlg.h"
#include "gui/dialogs/LoginDlg.h"
#include "gui/dialogs/ProgressDlg.h"
#include "gui/dialogs/ShutdownDlg.h"
#include "gui/frame/MainFrame.h"
#include "gui/support/DialogTable.h"
#include "gui/support/GuiStrings.h"
#include "gui/support/Prompts.h"
#include "gui/support/WidgetTranslator.h"
#include "gui/views/AccountListView.h"
#include "gui/views/ServerLogView.h"
#include "gui/logic/ServiceSwitch.h"
#include "gui/settings/AdvancedDlg.h"
#include "gui/settings/DomainInputDlg.h"
#include "gui/settings/OptionDialogs.h"
#include "gui/settings/SettingDlg.h"
#include "gui/settings/SettingsStrings.h"
#include "gui/QuietServices.h"
// The mail tools.
#include <QRadioButton>
#include "app/ServerSmtpServices.h"
#include "gui/dialogs/DeletedUsersDlg.h"
#include "gui/dialogs/ReportDlg.h"
#include "gui/dialogs/SendMailDlg.h"
#include "gui/dialogs/TransferStatusDlg.h"
#include "mailmodel/account/AccountList.h"
// Account tools: the account sheet, groups and the welcome message.
#include <QTabWidget>
#include "gui/dialogs/account/AccountSheet.h"
#include "gui/dialogs/account/ComposeWelcomeDlg.h"
#include "gui/dialogs/account/GroupDlg.h"
#include "gui/support/AccountTexts.h"
#include "mailmodel/WelcomeMail.h"

namespace quorvex::gui {
namespace {

void Settle(int ms = 150) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The window's client area under a strip with its title (Xvfb has no
// window manager to draw one), so translated titles can be checked too.
bool Save(QWidget* widget, const QString& path, bool fit = true) {
    widget->show();
    if (fit) widget->adjustSize();
    Settle();
    const QPixmap client = widget->grab();
    const int strip = widget->fontMetrics().height() + 8;
    QPixmap picture(client.width(), client.height() + strip);
    picture.fill(QColor(0x33, 0x4a, 0x70));
    QPainter painter(&picture);
    painter.setPen(Qt::white);
    painter.drawText(QRect(6, 0, client.width() - 12, strip), Qt::AlignVCenter | Qt::AlignLeft, widget->windowTitle());
    painter.drawPixmap(0, strip, client);
    painter.end();
    const bool saved = picture.save(path, "PNG");
    std::printf("%s %s (%dx%d)\n", saved ? "wrote" : "FAILED", qPrintable(path), widget->width(), widget->height());
    return saved;
}

// The English keys a window looked its texts up under.
void CollectKeys(QObject* root, std::set<std::string>& keys) {
    auto take = [&keys](QObject* object) {
        for (const char* property : {"quorvexKey", "quorvexTitleKey"}) {
            const QVariant value = object->property(property);
            if (value.isValid() && !value.toString().isEmpty()) keys.insert(value.toString().toStdString());
        }
        for (const QString& key : object->property("quorvexTabKeys").toStringList()) keys.insert(key.toStdString());
    };
    take(root);
    for (QObject* child : root->findChildren<QObject*>()) take(child);
}

// Each letter accented, format fields, access keys and the shortcut text
// kept, each word padded to 140% of its length (so long texts still wrap
// where a real translation would).
std::string Pseudo(const std::string& key) {
    static const std::map<char, const char*> accents = {
        {'a', "\xc3\xa4"}, {'e', "\xc3\xa9"}, {'i', "\xc3\xae"}, {'o', "\xc3\xb6"}, {'u', "\xc3\xbc"},
        {'A', "\xc3\x84"}, {'E', "\xc3\x89"}, {'I', "\xc3\x8e"}, {'O', "\xc3\x96"}, {'U', "\xc3\x9c"},
        {'n', "\xc3\xb1"}, {'c', "\xc3\xa7"}, {'s', "\xc5\xa1"}, {'y', "\xc3\xbd"}};
    const std::size_t tab = key.find('\t');
    const std::string text = key.substr(0, tab);
    const std::string shortcut = tab == std::string::npos ? std::string() : key.substr(tab);
    std::string out;
    std::size_t piece_length = 0;
    auto pad = [&] {
        const auto extra = static_cast<std::size_t>(std::ceil(piece_length * 0.4));
        out.append(extra, '~');
        piece_length = 0;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 1 < text.size()) {
            out += text.substr(i, 2);
            ++i;
            piece_length += 2;
            continue;
        }
        if (c == '|' || c == ' ' || c == '\n') {
            if (piece_length) pad();
            out += c;
            continue;
        }
        const auto found = accents.find(c);
        out += found == accents.end() ? std::string(1, c) : std::string(found->second);
        ++piece_length;
    }
    if (piece_length) pad();
    return out + shortcut;
}

void WritePseudoLanguage(const std::string& folder, const std::set<std::string>& keys) {
    std::ofstream out(JoinPath(folder, "Language", "Pseudo.ini"), std::ios::binary | std::ios::trunc);
    out << "[Info]\r\ncharset=utf-8\r\n[String]\r\n";
    for (const std::string& key : keys) out << EscapeLineBreaks(key) << '=' << EscapeLineBreaks(Pseudo(key)) << "\r\n";
}

struct Window {
    const char* file;
    std::function<QWidget*(QWidget* parent)> make;
};

}  // namespace
}  // namespace quorvex::gui

int main(int argc, char** argv) {
    using namespace quorvex;
    using namespace quorvex::gui;
    if (argc < 2) {
        std::fprintf(stderr, "usage: gui_screenshots OUTDIR [--pseudo]\n");
        return 2;
    }
    const QString out_dir = QString::fromLocal8Bit(argv[1]);
    const bool pseudo = argc > 2 && std::string(argv[2]) == "--pseudo";
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QDir().mkpath(out_dir);
    ReloadSettings();
    Accounts().Load();

    QuietGui quiet;
    const GuiServices& services = quiet.services;
    QuietPrompts& prompts = quiet.prompts;
    NoOpener& opener = quiet.opener;
    DialogTable& dialogs = quiet.dialogs;

    std::vector<Window> windows = {
        {"login", [&](QWidget* p) { return new LoginDlg(Settings()->ConfigIni(), prompts, dialogs, p); }},
        {"admin-password", [&](QWidget* p) { return new AdminPasswordDlg(Settings()->ConfigIni(), prompts, p); }},
        {"shutdown", [&](QWidget* p) { return new ShutdownDlg(Settings()->ConfigIni(), prompts, p); }},
        {"log", [&](QWidget* p) { return new LogDlg(Settings()->LogFilePath, opener, prompts, p); }},
        {"about", [&](QWidget* p) { return new AboutDlg(opener, prompts, p); }},
        {"progress", [&](QWidget* p) { return new ProgressDlg(kTextCheckingVersion, p); }},
        {"progress-refresh", [&](QWidget* p) {
             auto* progress = new ProgressDlg(kTextRefreshing, p);
             progress->SetRange(0, 10000);
             progress->SetValue(3700);
             return progress;
         }},
        {"message-information",
         [&](QWidget* p) { return MakePromptBox(p, PromptKind::kInformation, Tr(kTextIncorrectPassword)); }},
        {"message-question",
         [&](QWidget* p) { return MakePromptBox(p, PromptKind::kQuestion, Tr(kTextDeleteAccountQuestion)); }},
        {"message-warning", [&](QWidget* p) {
             return MakePromptBox(p, PromptKind::kWarning, FormatText(Tr(kTextDeleteRefusedFormat), {QStringLiteral("2")}));
         }},
        {"message-open-failed", [&](QWidget* p) {
             return MakePromptBox(p, PromptKind::kWarning,
                                  FormatText(Tr(kTextOpenFailedFormat),
                                             {QStringLiteral("/var/lib/quorvex/report"),
                                              QStringLiteral("xdg-open: no method available for opening "
                                                             "'/var/lib/quorvex/report'")}));
         }},
        {"message-no-log-today", [&](QWidget* p) {
             return MakePromptBox(p, PromptKind::kInformation,
                                  FormatText(Tr(kTextNoSmtpLogTodayFormat),
                                             {QStringLiteral("/var/lib/quorvex/log/smtplog20260307.txt")}));
         }},
        {"message-config-changed",
         [&](QWidget* p) { return MakePromptBox(p, PromptKind::kWarning, Tr(kTextConfigChangedOnDisk)); }},
        {"error-alert", [&](QWidget* p) {
             auto* alert = new ErrorAlertDlg(p);
             alert->setWindowTitle(Tr(kErrorAlertCaption));
             return alert;
         }},
        // Account tools: the account sheet (each page), groups and the welcome message.
        {"account-sheet-new", [&](QWidget* p) { return new AccountSheet("", Settings(), Accounts(), prompts, p); }},
        {"account-sheet-basic-info",
         [&](QWidget* p) { return new AccountSheet("alice", Settings(), Accounts(), prompts, p); }},
        {"account-sheet-remote-pop3", [&](QWidget* p) {
             auto* sheet = new AccountSheet("alice", Settings(), Accounts(), prompts, p);
             sheet->tabs()->setCurrentIndex(1);
             return sheet;
         }},
        {"account-sheet-forwarding", [&](QWidget* p) {
             auto* sheet = new AccountSheet("alice", Settings(), Accounts(), prompts, p);
             sheet->tabs()->setCurrentIndex(2);
             return sheet;
         }},
        {"account-sheet-filter", [&](QWidget* p) {
             auto* sheet = new AccountSheet("alice", Settings(), Accounts(), prompts, p);
             sheet->tabs()->setCurrentIndex(3);
             return sheet;
         }},
        {"account-sheet-auto-reply", [&](QWidget* p) {
             auto* sheet = new AccountSheet("alice", Settings(), Accounts(), prompts, p);
             sheet->tabs()->setCurrentIndex(4);
             return sheet;
         }},
        {"group-new", [&](QWidget* p) { return new GroupDlg("", Settings(), Accounts(), prompts, p); }},
        {"group-edit", [&](QWidget* p) { return new GroupDlg("team", Settings(), Accounts(), prompts, p); }},
        {"welcome-message", [&](QWidget* p) {
             return new ComposeWelcomeDlg(JoinPath(Settings()->Folder(), kWelcomeMailFileName), prompts, p);
         }},
    };

    // Settings and set-up: the configuration window, its advanced sheet on
    // each page, the option dialogs and the small entry dialogs.
    CServerSettings sheet_settings = *Settings();
    SystemdServiceSwitch service_switch(
        app::ServiceOptions{Settings()->Folder(), [](const std::vector<std::string>&) { return CommandResult{0, ""}; },
                            "", Settings()->Folder()},
        true);
    const char* const sheet_pages[] = {"settings-internet-mail", "settings-account", "settings-log",
                                       "settings-email-filter", "settings-miscellaneous"};
    windows.push_back({"settings", [&](QWidget* p) { return new SettingDlg(services, service_switch, p); }});
    windows.push_back({"settings-domain-input", [&](QWidget* p) {
                           return new DomainInputDlg(DomainInput{"example.com", 50, 2000, 20}, prompts, p);
                       }});
    for (int page = 0; page < 5; ++page) {
        windows.push_back({sheet_pages[page], [&, page](QWidget* p) {
                               sheet_settings = *Settings();
                               sheet_settings.FromList = {"@spam.example", "bulk@offers.example"};
                               sheet_settings.IPList = {"192.0.2.7", "198.51.100.0-198.51.100.255"};
                               auto* sheet = new AdvancedDlg(sheet_settings, services, p);
                               sheet->tabs()->setCurrentIndex(page);
                               return sheet;
                           }});
    }
    windows.push_back({"settings-isp-smtp", [&](QWidget* p) { return new IspSmtpDlg(sheet_settings, p); }});
    windows.push_back({"settings-proxy", [&](QWidget* p) { return new ProxyDlg(sheet_settings, prompts, p); }});
    windows.push_back(
        {"settings-anti-virus", [&](QWidget* p) { return new AntiVirusDlg(sheet_settings, prompts, p); }});
    windows.push_back({"settings-white-list", [&](QWidget* p) { return new WhiteListDlg(sheet_settings, p); }});
    windows.push_back({"settings-filter-from", [&](QWidget* p) {
                           return new BlockEntryDlg(BlockEntryDlg::Kind::kSender, QStringLiteral("@spam.example"),
                                                    prompts, p);
                       }});
    windows.push_back({"settings-ip-address", [&](QWidget* p) {
                           return new BlockEntryDlg(BlockEntryDlg::Kind::kIp, QStringLiteral("192.0.2.7"), prompts, p);
                       }});
    windows.push_back({"setup-progress", [&](QWidget* p) { return new ProgressDlg(kTextSettingUp, p); }});

    // The mail tools: send mail (to accounts and to everybody), the
    // transfer status in both modes, deleted users and the report.
    NullNoticeSink no_notices;
    OutgoingQueue queue(ProgramFolder());
    smtp::ServerSmtpServices directory(no_notices, queue);
    FileChooser& chooser = *services.files;
    windows.insert(windows.end(), {
        {"send-mail", [&](QWidget* p) {
             return new SendMailDlg("alice;bob;", Settings(), directory, Accounts(), prompts, chooser, p);
         }},
        {"send-mail-all",
         [&](QWidget* p) { return new SendMailDlg("All", Settings(), directory, Accounts(), prompts, chooser, p); }},
        {"transfer-status", [&](QWidget* p) { return new TransferStatusDlg(prompts, queue, p); }},
        {"transfer-undelivered", [&](QWidget* p) {
             auto* dialog = new TransferStatusDlg(prompts, queue, p);
             dialog->findChild<QRadioButton*>(QStringLiteral("modeUndelivered"))->click();
             return dialog;
         }},
        {"deleted-users", [&](QWidget* p) { return new DeletedUsersDlg(Settings(), Accounts(), prompts, p); }},
        {"export-users", [&](QWidget* p) { return new ReportDlg({}, Settings(), Accounts(), opener, prompts, p); }},
    });

    auto take_all = [&](const QString& prefix, std::set<std::string>* keys) {
        bool ok = true;
        MainFrame frame(services, nullptr, ProcessNoticeBus());
        frame.resize(900, 560);
        frame.show();
        frame.account_view()->OnRefreshUserList();
        for (int i = 0; i < 50 && frame.account_view()->refreshing(); ++i) Settle(100);
        frame.log_view()->QueueLine("[2026-01-01 10:00:00] QuorvexServer and http://mail/mail start successfully.\r\n");
        ok &= Save(&frame, out_dir + "/" + prefix + "main.png", false);
        auto save_menu = [&](QMenu* menu, const QPoint& at, const QString& name) {
            menu->popup(frame.mapToGlobal(at));
            Settle();
            ok &= menu->grab().save(out_dir + "/" + prefix + name + ".png", "PNG");
            std::printf("wrote %s\n", qPrintable(name));
            if (keys) CollectKeys(menu, *keys);
            menu->hide();
        };
        int index = 0;
        for (QAction* top : frame.menuBar()->actions()) {
            if (QMenu* menu = top->menu()) {
                save_menu(menu, QPoint(10 + 80 * index, 20), QStringLiteral("menu") + QString::number(index + 1));
                ++index;
            }
        }
        QMenu* context = frame.account_view()->MakeContextMenu();
        save_menu(context, QPoint(120, 140), QStringLiteral("context-menu"));
        delete context;
        save_menu(frame.new_menu(), QPoint(10, 60), QStringLiteral("new-menu"));
        // The status bar with the domain selector of several domains.
        const CServerSettings single = *Settings();
        UpdateSettings([](CServerSettings& s) {
            s.DomainNameType = 1;
            for (const char* name : {"example.test", "branch-office.example"}) {
                DomainRecord record(s.DefaultVolume);
                record.Name = name;
                s.Domains.Add(record);
            }
        });
        frame.OnUpdateUserCount(frame.account_view()->model()->rowCount());
        ok &= Save(frame.statusBar(), out_dir + "/" + prefix + "status-bar-domains.png", false);
        UpdateSettings([&single](CServerSettings& s) { s = single; });
        frame.OnUpdateUserCount(frame.account_view()->model()->rowCount());
        if (keys) CollectKeys(&frame, *keys);
        for (const Window& window : windows) {
            QWidget* widget = window.make(&frame);
            widget->setWindowModality(Qt::NonModal);
            ok &= Save(widget, out_dir + "/" + prefix + QString::fromLatin1(window.file) + ".png");
            if (keys) CollectKeys(widget, *keys);
            widget->close();
            delete widget;
        }
        return ok;
    };

    std::set<std::string> keys;
    // The pseudo-translation holds every text the English run looked up.
    if (pseudo) ObserveTranslatedTexts([&keys](const std::string& key) { keys.insert(key); });
    bool ok = take_all(QString(), pseudo ? &keys : nullptr);
    ObserveTranslatedTexts(nullptr);
    if (pseudo) {
        for (std::string_view text : AllGuiTexts()) keys.insert(std::string(text));
        // Account tools.
        for (std::string_view text : AllAccountToolTexts()) keys.insert(std::string(text));
        keys.insert(std::string(kErrorAlertText));
        keys.insert(std::string(kErrorAlertCaption));
        // An address stays what it is in every language.
        std::erase_if(keys, [](const std::string& key) { return key.rfind("http", 0) == 0; });
        WritePseudoLanguage(Settings()->Folder(), keys);
        UpdateSettings([](CServerSettings& s) { s.Language = "Pseudo"; });
        ok &= take_all(QStringLiteral("pseudo-"), nullptr);
    }
    return ok ? 0 : 1;
}
