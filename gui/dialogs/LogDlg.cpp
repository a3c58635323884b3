#include "gui/dialogs/LogDlg.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>

#include "app/ProgramMessages.h"
#include "common/Paths.h"
#include "gui/logic/LogFiles.h"
#include "gui/support/DesktopOpener.h"
#include "gui/support/GuiStrings.h"
#include "gui/support/Prompts.h"
#include "gui/support/TabOrder.h"
#include "gui/support/TextCodec.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

bool ClearLogsWithQuestion(const std::string& log_folder, Prompts& prompts, QWidget* parent) {
    if (!prompts.Question(parent, Tr(kTextClearLogsQuestion))) return false;
    // A folder that is not the program's log folder keeps everything.
    const int removed = ClearProgramLogs(log_folder);
    if (removed < 0) {
        prompts.Warning(parent, FormatText(Tr(kTextLogsNotClearedFormat), {FromFileText(log_folder)}));
        return true;
    }
    // The first line of the day's new system log.
    app::WriteProgramLog("Log files cleared by the administrator: " + std::to_string(removed) +
                         " file(s) removed from " + log_folder);
    prompts.Information(parent, FormatText(Tr(kTextLogsClearedFormat), {QString::number(removed)}));
    return true;
}

void OpenTodaysLog(LogKind kind, const std::string& log_folder, std::time_t now, DesktopOpener& opener,
                   Prompts& prompts, QWidget* parent) {
    const std::string path = LogFilePath(kind, log_folder, now);
    if (FileExists(path)) {
        OpenPathOrSayWhy(opener, prompts, parent, QString::fromStdString(path));
        return;
    }
    std::string_view format;
    switch (kind) {
        case LogKind::kSmtp: format = kTextNoSmtpLogTodayFormat; break;
        case LogKind::kPop3: format = kTextNoPop3LogTodayFormat; break;
        case LogKind::kSystem: format = kTextNoSystemLogTodayFormat; break;
        case LogKind::kInternet: format = kTextNoInternetLogTodayFormat; break;
    }
    prompts.Information(parent, FormatText(Tr(format), {QString::fromStdString(path)}));
}

LogDlg::LogDlg(std::string log_folder, DesktopOpener& opener, Prompts& prompts, QWidget* parent,
               std::function<std::time_t()> now)
    : QDialog(parent), log_folder_(std::move(log_folder)), opener_(opener), prompts_(prompts), now_(std::move(now)),
      picture_(new QLabel(this)) {
    setObjectName(QStringLiteral("logDialog"));
    setWindowTitle(QStringLiteral("Log"));
    picture_->setObjectName(QStringLiteral("logFolderPicture"));
    picture_->setPixmap(QApplication::style()->standardIcon(QStyle::SP_DirOpenIcon).pixmap(48, 48));
    picture_->setToolTip(QString::fromStdString(log_folder_));
    auto* grid = new QGridLayout(this);
    grid->addWidget(picture_, 0, 0, 3, 1, Qt::AlignTop);
    struct Button {
        const char* name;
        const char* text;
        LogKind kind;
    };
    const Button buttons[] = {{"smtpLogs", "SMTP Logs", LogKind::kSmtp},
                              {"pop3Logs", "POP3 Logs", LogKind::kPop3},
                              {"sysLogs", "Sys Logs", LogKind::kSystem},
                              {"internetLogs", "Internet Logs", LogKind::kInternet}};
    int position = 0;
    for (const Button& spec : buttons) {
        auto* button = new QPushButton(QString::fromLatin1(spec.text), this);
        button->setObjectName(QString::fromLatin1(spec.name));
        const LogKind kind = spec.kind;
        connect(button, &QPushButton::clicked, this, [this, kind] {
            OpenTodaysLog(kind, log_folder_, now_(), opener_, prompts_, this);
        });
        grid->addWidget(button, position / 2, 1 + position % 2);
        ++position;
    }
    auto* clear = new QPushButton(QStringLiteral("Clear Logs"), this);
    clear->setObjectName(QStringLiteral("clearLogs"));
    connect(clear, &QPushButton::clicked, this, [this] { ClearLogsWithQuestion(log_folder_, prompts_, this); });
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("close"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    grid->addWidget(clear, 2, 1);
    grid->addWidget(close, 2, 2);
    TranslateWidgetTree(this);
    SetTabOrderFromLayout(this);
}

void LogDlg::mouseDoubleClickEvent(QMouseEvent* event) {
    if (picture_->geometry().contains(event->position().toPoint())) {
        OpenPathOrSayWhy(opener_, prompts_, this, QString::fromStdString(log_folder_));
    }
    QDialog::mouseDoubleClickEvent(event);
}

}  // namespace quorvex::gui
