#include "app/ProgramMessages.h"

#include <mutex>

#include "common/AsciiCase.h"
#include "common/ConfigWriter.h"
#include "common/ErrorLog.h"
#include "common/Paths.h"
#include "common/ServerSettings.h"
#include "common/Translation.h"
#include "servers/logs/ServerLogs.h"

namespace quorvex::app {

void RegisterProgramStrings() {
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterStringResource(IDS_SOCKETS_FAILED, "Windows sockets initiation failed.");
        RegisterStringResource(IDS_PROGRAM_VERSION, kProgramVersion);
        RegisterStringResource(IDS_SMTP_FAILED, "Fail to start SMTP service.");
        RegisterStringResource(IDS_POP3_FAILED, "Fail to start POP3 service.");
        RegisterStringResource(IDS_ACCOUNT_SERVER_FAILED, "Fail to start account server.");
        RegisterStringResource(IDS_ANOTHER_INSTANCE, "Another instance of QuorvexServer is running.");
        RegisterStringResource(IDS_WEB_DIRECTORY_FAILED,
                               "Fail to set up virtual directory. User can not apply account through browser.");
        RegisterStringResource(IDS_COM_REGISTRATION_FAILED, "Fail to register COM component.");
        RegisterStringResource(IDS_STARTED, "QuorvexServer and http://%s/mail start successfully.");
        RegisterStringResource(IDS_STARTED_WITHOUT_WEB, "QuorvexServer started successfully.");
    });
}

std::string ProgramString(unsigned id) {
    RegisterProgramStrings();
    return TranslateStringResource(id);
}

std::string StartupLine(std::string_view computer_name, bool web_mail_published) {
    if (!web_mail_published) return ProgramString(IDS_STARTED_WITHOUT_WEB);
    const std::string lower = AsciiLowerCase(computer_name);
    // The translated text keeps its one "%s"; anything else in it is text.
    std::string text = ProgramString(IDS_STARTED);
    const std::size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, lower);
    return text;
}

void WriteProgramLog(std::string_view text) {
    // Before the settings are loaded there is no log folder yet.
    const auto settings = Settings();
    if (!settings->LogFilePath.empty()) {
        WriteSystemLog(LogSettings{settings->LogFilePath, settings->MaxLogLine}, text);
    }
}

void WriteFolderLog(const std::string& folder, std::string_view text) {
    CServerSettings settings;
    settings.SetProgramFolder(folder);
    LogSettings log{JoinPath(folder, "log"), settings.MaxLogLine};
    // A file that cannot be read is not loaded: its load would note that in
    // the error log, which is not the line asked for.
    if (!ExistsButUnreadable(settings.ConfigIni()) && !ExistsButUnreadable(settings.EmailFilterIni())) {
        settings.Load();
        log = LogSettings{settings.LogFilePath, settings.MaxLogLine};
    }
    if (log.folder.empty() || !FolderExists(log.folder)) return;
    WriteSystemLog(log, text);
}

namespace {

std::mutex g_display_mutex;
std::function<void(std::string_view)>& MessageDisplay() {
    static auto* display = new std::function<void(std::string_view)>;
    return *display;
}

}  // namespace

void SetProgramMessageDisplay(std::function<void(std::string_view)> display) {
    std::lock_guard lock(g_display_mutex);
    MessageDisplay() = std::move(display);
}

void ShowProgramMessage(std::string_view text) {
    WriteProgramLog(text);
    std::function<void(std::string_view)> display;
    {
        std::lock_guard lock(g_display_mutex);
        display = MessageDisplay();
    }
    if (display) display(text);
    ReportOnStandardError(text);
}

void ShowErrorMessage(std::string_view text) {
    QUORVEX_ERROR_LOG(text);
    ShowProgramMessage(text);
}

}  // namespace quorvex::app
