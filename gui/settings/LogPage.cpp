#include <QGridLayout>
#include <QHBoxLayout>
#include <ctime>

#include "gui/dialogs/LogDlg.h"
#include "gui/logic/LogFiles.h"
#include "gui/logic/SettingsSource.h"
#include "gui/settings/FormWidgets.h"
#include "gui/settings/SettingsPages.h"
#include "gui/settings/SettingsStrings.h"
#include "gui/support/Prompts.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

namespace {
constexpr int kPathLength = 260;
constexpr const char* kLabelMaxLines = "Maximum Lines";
}

LogPage::LogPage(CServerSettings& settings, const GuiServices& services, QWidget* parent)
    : SettingsPage(settings, services, parent),
      folder_(MakeTextField(this, "logFolder", settings.LogFilePath, kPathLength)),
      max_lines_(MakeNumberField(this, "maxLogLines", kLogLinesRange, settings.MaxLogLine, kLabelMaxLines)) {
    setObjectName(QStringLiteral("logPage"));
    folder_->setMinimumWidth(280);
    QPushButton* browse = MakeButton(this, "browseLogFolder", "...");
    browse->setMaximumWidth(40);
    auto* grid = new QGridLayout(this);
    grid->addWidget(MakeLabel(this, "Save Logs to File"), 0, 0);
    auto* folder_row = new QHBoxLayout;
    folder_row->addWidget(folder_, 1);
    folder_row->addWidget(browse);
    grid->addLayout(folder_row, 0, 1, 1, 2);
    grid->addWidget(MakeLabel(this, kLabelMaxLines), 1, 0);
    grid->addWidget(max_lines_, 1, 1, Qt::AlignLeft);
    QPushButton* clear = MakeButton(this, "clearLogs", "Clear Logs");
    grid->addWidget(clear, 1, 2);
    struct View {
        const char* name;
        const char* text;
        LogKind kind;
    };
    const View views[] = {{"sysLogs", "Sys Logs", LogKind::kSystem},
                          {"smtpLogs", "SMTP Logs", LogKind::kSmtp},
                          {"pop3Logs", "POP3 Logs", LogKind::kPop3},
                          {"internetLogs", "Internet Logs", LogKind::kInternet}};
    auto* view_row = new QHBoxLayout;
    for (const View& view : views) {
        QPushButton* button = MakeButton(this, view.name, view.text);
        const LogKind kind = view.kind;
        // Today's file in the log folder in force, not the one typed here.
        connect(button, &QPushButton::clicked, this, [this, kind] {
            OpenTodaysLog(kind, services_.settings->Current()->LogFilePath, std::time(nullptr), *services_.opener,
                          *services_.prompts, this);
        });
        view_row->addWidget(button);
    }
    grid->addLayout(view_row, 2, 0, 1, 3);
    grid->setRowStretch(3, 1);
    connect(browse, &QPushButton::clicked, this, &LogPage::Browse);
    connect(clear, &QPushButton::clicked, this,
            [this] { ClearLogsWithQuestion(services_.settings->Current()->LogFilePath, *services_.prompts, this); });
}

void LogPage::Browse() {
    const auto chosen = services_.files->ChooseFolder(this, Tr(kTextSelectLogFolder), folder_->text());
    if (!chosen) return;
    if (const auto folder = LogFolderFromChosen(ToFileText(*chosen))) folder_->setText(FromFileText(*folder));
}

void LogPage::Store(CServerSettings& settings) const {
    settings.LogFilePath = FieldText(folder_);
    settings.MaxLogLine = max_lines_->value();
}

}  // namespace quorvex::gui
