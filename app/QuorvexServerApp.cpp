#include "app/QuorvexServerApp.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <future>
#include <stdexcept>
#include <thread>

#include "app/DataFiles.h"
#include "app/DatabaseTasks.h"
#include "app/FirstSetup.h"
#include "app/ProgramMessages.h"
#include "app/ProgramRemoval.h"
#include "app/ServerSmtpServices.h"
#include "app/ServiceNotify.h"
#include "app/StartupChecks.h"
#include "app/WebSetup.h"
#include "app/WindowedProgram.h"
#include "common/ConfigWriter.h"
#include "common/ErrorAlert.h"
#include "common/ErrorLog.h"
#include "common/HostInfo.h"
#include "common/Notices.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/RunFlag.h"
#include "common/ServerSettings.h"
#include "common/ServiceControl.h"
#include "common/SettingsHost.h"
#include "common/TextHelpers.h"
#include "common/net/TrafficDump.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/db/DataSourceSetup.h"
#include "mailmodel/db/MailDatabase.h"
#include "servers/address/NetworkSenderCheck.h"
#include "servers/logs/ServerLogs.h"
#include "servers/smtp/SmtpAccessRules.h"

namespace quorvex::app {

namespace {

constexpr std::string_view kFatalErrorCaption = "FATAL ERROR!!!";
constexpr std::string_view kFatalErrorText =
    "Please send the QuorvexServer/Log/quorvexlog.txt to support@quorvex.example";
constexpr std::chrono::seconds kCommandReadLimit{1};
constexpr std::chrono::seconds kUpdateAnswerLimit{10};
constexpr std::chrono::seconds kShowAnswerLimit{2};
// A service start waits this many seconds for an instance that is still
// closing to give up the mark.
constexpr int kServiceMarkAttempts = 10;

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

std::string ReloadedLine(std::string_view config) { return "Settings reloaded from " + std::string(config) + "."; }

// Switches that end at once get the default signal handling back.
void AllowStopSignals() {
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

constexpr mode_t kProgramUmask = 0077;
constexpr std::string_view kStoppedLine = "QuorvexServer stopped.";

// What a switch that ends at once has done, on standard output.
void ReportDone(std::string_view text) {
    std::printf("%.*s: %.*s\n", static_cast<int>(kProgramName.size()), kProgramName.data(),
                static_cast<int>(text.size()), text.data());
    std::fflush(stdout);
}

// Problems found before the settings are loaded go to standard error only:
// nothing is written into a folder that failed its checks.
void ReportStartupProblem(const std::string& text) { ReportOnStandardError(text); }

// A start outside a desktop session writes no desktop entry: saving the
// settings leaves the autostart entry as it is, and a config.ini that does
// not say whether the program starts with the desktop takes AutoRun=0. As
// part of the load, this is written only with settings a start takes.
void LeaveDesktopEntriesAlone() {
    SettingsHost host;
    host.set_autostart = [](bool, const std::string&) { return true; };
    host.desktop_session = false;
    SetSettingsHost(std::move(host));
}

// A reason as the end of a sentence: a full stop added unless it has one
// (a system's answer may end its own sentence).
std::string AsSentenceEnd(std::string reason) {
    if (!reason.ends_with('.')) reason += '.';
    return reason;
}

}  // namespace

CQuorvexServerApp::CQuorvexServerApp(std::unique_ptr<ProgramFrontEnd> front_end)
    : front_end_(std::move(front_end)) {}

CQuorvexServerApp::~CQuorvexServerApp() {
    // Only reached with work still running after a fault: end it in order
    // before the objects the workers use go away.
    ServerRunFlag = 0;
    StopServers();
    schedulers_.clear();
    if (jobs_) jobs_->Shutdown();
}

int CQuorvexServerApp::Run(const std::vector<std::string>& arguments) {
    // Everything the program writes is its owner's alone, whatever the
    // caller's umask; what the web server must read is given to its group
    // explicitly where it is made.
    ::umask(kProgramUmask);
    // A start that shows the window, on a desktop: the windowed program
    // takes over this process before anything else happens here.
    const ProgramSwitch requested = ParseCommandLine(CommandLineText(arguments));
    const bool opens_window = requested == ProgramSwitch::kNone || requested == ProgramSwitch::kUninstSvr;
    if (!front_end_ && opens_window && DisplayAvailable()) ExecWindowedProgram(arguments);
    // The window is there: a user at a desktop started the program.
    desktop_session_ = front_end_ != nullptr && opens_window;
    // Before any thread exists: every thread inherits the blocked stop
    // signals, and the message loop alone reads them through a signalfd.
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    signals_.reset(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
    try {
        return InitInstance(arguments);
    } catch (const std::exception& fault) {
        QUORVEX_ERROR_LOG(fault.what());
    } catch (...) {
        QUORVEX_ERROR_LOG("");
    }
    ShowProgramMessage(std::string(kFatalErrorCaption) + " " + std::string(kFatalErrorText));
    return kExitFailure;
}

int CQuorvexServerApp::InitInstance(const std::vector<std::string>& arguments) {
    ServerRunFlag = 1;
    RegisterProgramStrings();
    folder_ = ProgramFolder();
    const std::string config = JoinPath(folder_, "config.ini");

    const ProgramSwitch chosen = ParseCommandLine(CommandLineText(arguments));
    // A run that ends at a refusal says what it did not do.
    const auto refuse = [&](const std::vector<std::string>& problems) {
        const std::string ending = chosen == ProgramSwitch::kUpdate
                                       ? "Nothing was reloaded: a running instance keeps the settings in use."
                                       : "Not started.";
        for (const std::string& problem : problems) ReportStartupProblem(problem);
        ReportStartupProblem(ending);
        // The running instance's log tells its operator why a reload he
        // asked for did not happen, in one line.
        if (chosen == ProgramSwitch::kUpdate) WriteFolderLog(folder_, JoinTexts(problems, " ") + " " + ending);
        return kExitFailure;
    };
    std::vector<std::string> problems = CheckProgramFolder(folder_, config);
    if (!problems.empty()) return refuse(problems);

    const bool bug_trace = ReadProfileInt(config, "system", "BugTrace", 0) != 0;
    if (!desktop_session_) LeaveDesktopEntriesAlone();
    // config.ini afterwards holds every key with its current or default
    // value; a file with values that cannot be taken is left as it is.
    if (!LoadAndSaveSettingsAtStartup(&problems)) {
        if (!problems.empty()) return refuse(problems);
        ShowErrorMessage("The settings could not be written back to " + config +
                         " (it was left as it was). Not started.");
        return kExitFailure;
    }
    SetTrafficDump(bug_trace, JoinPath(Settings()->LogFilePath, kTrafficDumpFileName));
    InstallErrorAlert();
    if (ReadProfileInt(config, "system", "TestTryCatch", 0) != 0) {
        throw std::runtime_error("internal fault raised on request ([system] TestTryCatch)");
    }
    // Before anything in the process uses ODBC.
    if (!ChooseDataSource()) return kExitFailure;
    if (!Accounts().Load()) QUORVEX_ERROR_LOG("the account list could not be read completely");
    UpgradeDatabase(FindDataFile("schema.sql"));
    InstallSenderCheckServices(std::make_shared<NetworkSenderCheck>());

    service_ = DefaultServiceOptions();
    jobs_ = std::make_unique<JobTable>();
    wiring_ = std::make_unique<ServerWiring>(*jobs_, ProcessNoticeBus(), folder_);
    pop3_server_ = std::make_unique<CPop3Server>(*jobs_);
    smtp_server_ = std::make_unique<CSmtpServer>(*jobs_);
    account_server_ = std::make_unique<CAccountServer>(*jobs_);

    switch (chosen) {
        case ProgramSwitch::kUninstall: {
            AllowStopSignals();
            const UninstallReport report = UninstallProgram(service_);
            const std::string line = UninstallLine(folder_, report);
            WriteProgramLog(line);
            ReportDone(line);
            for (const std::string& failure : report.failed) ReportStartupProblem("-uninstall: " + failure);
            return report.failed.empty() ? kExitSuccess : kExitFailure;
        }
        case ProgramSwitch::kUninstSvr:
            StopRunningInstance(service_);
            return NormalStart();
        case ProgramSwitch::kInstall: {
            AllowStopSignals();
            StopRunningInstance(service_);
            ProfileFile(config).WriteString("System", "NTService", "1");
            CNtService service(service_);
            bool started = false;
            if (service.Install(&started)) {
                const std::string line =
                    "The service unit " + service.UnitPath() + " for " + folder_ + " was written and enabled; " +
                    (started ? std::string("the service is running.")
                             : "the service did not start (systemctl status " + std::string(kServiceUnitName) +
                                   " tells why).");
                WriteProgramLog(line);
                // A service that did not start is a failed installation for
                // whoever runs this, a script included.
                if (!started) {
                    ReportStartupProblem(line);
                    return kExitFailure;
                }
                ReportDone(line);
                return kExitSuccess;
            }
            ReportStartupProblem("The service could not be installed in " + service_.unit_folder + ": " +
                                 AsSentenceEnd(service.LastFailure()));
            return kExitFailure;
        }
        case ProgramSwitch::kUpdate:
            AllowStopSignals();
            return UpdateRunningInstance();
        case ProgramSwitch::kService:
            return ServiceStart();
        case ProgramSwitch::kNone:
            break;
    }
    return NormalStart();
}

int CQuorvexServerApp::UpdateRunningInstance() {
    if (!InstanceRunning(folder_)) {
        ReportStartupProblem("No instance of QuorvexServer runs in " + folder_ + "; there is nothing to update.");
        return kExitFailure;
    }
    // The instance answers once it has read the files: "OK", or why it
    // kept the settings in use.
    std::string not_sent;
    const auto answer = SendInstanceCommand(folder_, kCommandUpdate, kUpdateAnswerLimit, &not_sent);
    if (answer && (*answer == kAnswerOk || answer->starts_with(std::string(kAnswerOk) + " "))) {
        // The running instance writes the same line into the system log.
        ReportDone(ReloadedLine(Settings()->ConfigIni()) + answer->substr(kAnswerOk.size()));
        return kExitSuccess;
    }
    std::string reason = answer ? *answer : std::string();
    if (reason.starts_with(kAnswerRefusedPrefix)) reason.erase(0, kAnswerRefusedPrefix.size());
    if (!not_sent.empty()) {
        ReportStartupProblem("The settings were not reloaded: " + not_sent + ".");
        return kExitFailure;
    }
    ReportStartupProblem("The running instance did not reload its settings" +
                         (answer ? ": " + reason
                                 : " (no answer within " + std::to_string(kUpdateAnswerLimit.count()) + " seconds)."));
    return kExitFailure;
}

void CQuorvexServerApp::ReportAnotherInstance() {
    SendInstanceCommand(folder_, kCommandShow, kShowAnswerLimit);
    const auto settings = Settings();
    const bool all_hide = ReadProfileInt(settings->ConfigIni(), "System", "AllHide", 0) != 0;
    const std::string text = ProgramString(IDS_ANOTHER_INSTANCE);
    if (!all_hide && settings->RunAsService == 0) {
        ShowProgramMessage(text);
        if (front_end_) front_end_->ShowMessageAndWait(text);
    } else {
        ReportStartupProblem(text);
    }
}

int CQuorvexServerApp::NormalStart() {
    std::string error;
    mark_ = InstanceMark::Take(folder_, &error);
    if (!mark_) {
        if (!error.empty()) {
            ShowErrorMessage(error);
        } else {
            ReportAnotherInstance();
        }
        return kExitFailure;
    }
    if (Settings()->RunAsService == 0) {
        const int result = RunGuiMode();
        // Switched to the service in the settings window: now that the
        // ports and the mark are free, the service takes over.
        if (front_end_ && Settings()->RunAsService != 0) {
            mark_.reset();
            StartServiceAndWait(kServiceUnitName, service_.runner);
        }
        return result;
    }
    if (front_end_) {
        // Set up as a service, started on a desktop: the window runs the
        // servers for as long as it is open, then the service takes over
        // (unless the settings window switched the service off).
        StopServiceAndWait(kServiceUnitName, service_.runner);
        const int result = RunGuiMode();
        mark_.reset();
        if (Settings()->RunAsService != 0) StartServiceAndWait(kServiceUnitName, service_.runner);
        return result;
    }
    // Set up to run as a service: the service manager runs it, not this
    // process. Restart the service so that it runs with the current files.
    mark_.reset();
    StopServiceAndWait(kServiceUnitName, service_.runner);
    return StartServiceAndWait(kServiceUnitName, service_.runner) ? kExitSuccess : kExitFailure;
}

int CQuorvexServerApp::ServiceStart() {
    as_service_ = true;
    for (int attempt = 1; attempt <= kServiceMarkAttempts; ++attempt) {
        std::string error;
        mark_ = InstanceMark::Take(folder_, &error);
        if (mark_) return RunGuiMode();
        if (!error.empty()) {
            ShowErrorMessage(error);
            return kExitFailure;
        }
        // An instance that is closing still holds the mark.
        if (attempt < kServiceMarkAttempts) std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    ReportAnotherInstance();
    return kExitFailure;
}

bool CQuorvexServerApp::ChooseDataSource() {
    std::string error;
    const auto chosen = UseProgramDataSource(folder_, &error);
    if (!chosen) {
        ShowErrorMessage(error + " Not started.");
        return false;
    }
    if (!chosen->warning.empty()) ShowProgramMessage(chosen->warning);
    if (chosen->written && chosen->warning.empty()) {
        WriteProgramLog("The ODBC data source " + std::string(kMailDataSourceName) + " was registered in " +
                        JoinPath(folder_, kFolderDataSourceFile) + " for " + chosen->database + ".");
    }
    return true;
}

bool CQuorvexServerApp::PrepareDatabase() {
    const db::Status ready = EnsureMailDatabase(FindDataFile("schema.sql"));
    if (ready) return true;
    const std::string text = "The mail database (ODBC data source " + std::string(kMailDataSourceName) +
                             ") could not be opened or created: " + AsSentenceEnd(ready.error) +
                             " Not started.";
    ShowErrorMessage(text);
    if (front_end_) front_end_->ShowMessageAndWait(text);
    return false;
}

bool CQuorvexServerApp::StartServers() {
    StopServers();
    // The platform's own SMTP service is never stopped here ("StopMSSMTP"):
    // no other mail server of this host is ours to stop. A taken port is
    // reported like any listener that cannot start.
    const auto settings = Settings();
    struct Step {
        ServerListener* listener;
        int port;
        unsigned failure;
        const char* name;
    };
    const Step steps[] = {
        {smtp_server_.get(), settings->SMTPPort, IDS_SMTP_FAILED, "SMTP"},
        {pop3_server_.get(), settings->POP3Port, IDS_POP3_FAILED, "POP3"},
        {account_server_.get(), settings->AdminPort, IDS_ACCOUNT_SERVER_FAILED, "account server"},
    };
    for (const Step& step : steps) {
        errno = 0;
        if (step.listener->Start(step.port)) continue;
        const int error = errno;
        ShowProgramMessage(ProgramString(step.failure));
        ShowProgramMessage(std::string("The ") + step.name + " port " + std::to_string(step.port) +
                           " could not be opened" + (error ? std::string(": ") + std::strerror(error) : std::string()) +
                           ".");
        return false;
    }
    return true;
}

void CQuorvexServerApp::StopServers() {
    if (pop3_server_) pop3_server_->Stop();
    if (account_server_) account_server_->Stop();
    if (smtp_server_) smtp_server_->Stop();
}

void CQuorvexServerApp::CreateWorkerThreads() {
    wiring_->InstallJobHandlers();
    jobs_->CreateWorkerThreads();
    schedulers_ = StartCollectionSchedulers(*jobs_, Settings()->POP3AutoRecvThreadNumber);
    workers_started_ = true;
}

int CQuorvexServerApp::RunGuiMode() {
    if (!PrepareDatabase()) return kExitFailure;
    // Desktop and autostart entries concern the user at the window only.
    if (FirstSetupDue()) RunFirstSetup({.desktop_user = desktop_session_});
    RunDatabaseScripts();
    // The web-mail pages follow the language of the settings.
    WriteWebLanguage(*Settings());
    if (front_end_) {
        if (!front_end_->CreateMainWindow(*this)) {
            ShowErrorMessage("The administration window could not be opened. Not started.");
            return kExitFailure;
        }
        SetProgramMessageDisplay([this](std::string_view text) { front_end_->ShowMessage(text); });
    }
    WarnAboutReadableFiles();
    const std::string startup_line = StartupLine(ComputerName(), WebMailPublished());
    WriteProgramLog(startup_line);
    // What a previous run left mid-delivery was never acknowledged.
    const std::string& queue_folder = wiring_->queue().folder();
    if (const int left = smtp::RemoveLeftoverSpoolFiles(queue_folder); left > 0) {
        WriteProgramLog("Removed " + std::to_string(left) + " temporary message files left by the previous run in " +
                        queue_folder + ".");
    }
    if (const int staged = wiring_->queue().RemoveStagedItems(); staged > 0) {
        WriteProgramLog("Removed " + std::to_string(staged) + " staged queue copies left by the previous run in " +
                        queue_folder + ".");
    }
    if (const auto warning = smtp::OpenRelayWarning(*Settings())) ShowProgramMessage(*warning);
    const bool started = StartServers();
    if (started) {
        ReportOnStandardError(startup_line + " " + ListeningText());
        // The web component connects to the ports that now listen.
        WriteWebComponentPorts({smtp_server_->port(), pop3_server_->port(), account_server_->port()});
    }
    wiring_->StartSenderThreads();
    CreateWorkerThreads();
    if (front_end_) {
        // With a window the run goes on when a listener failed: its message
        // is on the screen and the administrator can change the ports.
        NotifyServiceManager("READY=1");
        ready_sent_ = true;
        front_end_->RunMessageLoop();
        SetProgramMessageDisplay(nullptr);
        front_end_->DestroyMainWindow();
        Shutdown();
        return kExitSuccess;
    }
    if (!started) {
        ShowProgramMessage("QuorvexServer stops because a server could not start.");
        Shutdown();
        return kExitFailure;
    }
    NotifyServiceManager("READY=1");
    ready_sent_ = true;
    MessageLoop();
    Shutdown();
    return kExitSuccess;
}

void CQuorvexServerApp::MessageLoop() {
    for (;;) {
        pollfd waits[2] = {{signals_.get(), POLLIN, 0}, {mark_->control_socket(), POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR) continue;
            QUORVEX_ERROR_LOG(std::string("the main loop cannot wait: ") + std::strerror(errno));
            return;
        }
        if ((waits[0].revents & POLLIN) && TakeStopSignal()) return;
        if ((waits[1].revents & POLLIN) && ServeControlCommand() == ControlAction::kStop) return;
    }
}

bool CQuorvexServerApp::TakeStopSignal() {
    signalfd_siginfo info{};
    if (::read(signals_.get(), &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return false;
    WriteProgramLog("QuorvexServer stops on signal " + std::string(::strsignal(static_cast<int>(info.ssi_signo))) + ".");
    return true;
}

ControlAction CQuorvexServerApp::ServeControlCommand() {
    if (!mark_) return ControlAction::kNone;
    const auto command = mark_->AcceptCommand(kCommandReadLimit);
    return command ? HandleCommand(*command) : ControlAction::kNone;
}

ControlAction CQuorvexServerApp::HandleCommand(const std::string& command) {
    if (command == kCommandUpdate) {
        const auto refusal = ReloadSettingsOnRequest();
        // "OK", followed by a note where there is one.
        mark_->Reply(refusal ? std::string(kAnswerRefusedPrefix) + *refusal
                             : std::string(kAnswerOk) + (reload_note_.empty() ? "" : " " + reload_note_));
        return refusal ? ControlAction::kNone : ControlAction::kSettingsReloaded;
    }
    if (command == kCommandStop) {
        WriteProgramLog("QuorvexServer stops on request.");
        mark_->Reply(kAnswerOk);
        return ControlAction::kStop;
    }
    if (command == kCommandShow) {
        mark_->Reply(kAnswerOk);  // headless, there is no window to show
        return ControlAction::kShow;
    }
    mark_->Reply("ERR unknown command");
    return ControlAction::kNone;
}

std::optional<std::string> CQuorvexServerApp::ReloadSettingsOnRequest() {
    auto fresh = std::make_shared<CServerSettings>();
    fresh->Load();
    std::string refusal;
    if (fresh->load_failed()) {
        const std::string file = ExistsButUnreadable(fresh->ConfigIni()) ? fresh->ConfigIni() : fresh->EmailFilterIni();
        refusal = "The settings file " + file + " cannot be read (" + ReadProblemReason(file) +
                  "); the settings in use are kept.";
    } else if (!fresh->refused_values().empty()) {
        refusal = JoinTexts(fresh->refused_values(), " ") + " The settings in use are kept.";
    }
    if (!refusal.empty()) {
        ShowProgramMessage(refusal);
        return refusal;
    }
    PublishSettings(fresh);
    reload_note_ = smtp_server_ && pop3_server_ && account_server_
                       ? PortChangeNote({smtp_server_->port(), pop3_server_->port(), account_server_->port()},
                                        {fresh->SMTPPort, fresh->POP3Port, fresh->AdminPort})
                       : std::string();
    WriteProgramLog(ReloadedLine(fresh->ConfigIni()) + (reload_note_.empty() ? "" : " " + reload_note_));
    WriteWebLanguage(*fresh);
    return std::nullopt;
}

void CQuorvexServerApp::Shutdown() {
    if (ready_sent_) NotifyServiceManager("STOPPING=1");
    ServerRunFlag = 0;
    StopServers();
    schedulers_.clear();
    if (wiring_) wiring_->StopSenderThreads();
    if (workers_started_) {
        // Sessions end at their next wait once the run flag is clear;
        // deliveries in hand are finished. Give them a bounded time.
        std::promise<void> finished;
        std::future<void> done = finished.get_future();
        std::thread joiner([this, &finished] {
            jobs_->Shutdown();
            finished.set_value();
        });
        if (done.wait_for(kShutdownDrainLimit) != std::future_status::ready) {
            ShowProgramMessage("Some sessions did not end within " + std::to_string(kShutdownDrainLimit.count()) +
                               " seconds; QuorvexServer ends without waiting for them.");
            std::fflush(nullptr);
            ::_exit(kExitSuccess);
        }
        joiner.join();
        workers_started_ = false;
    }
    WriteProgramLog(kStoppedLine);
    ReportOnStandardError(kStoppedLine);
}

std::string CQuorvexServerApp::ListeningText() const {
    // The listeners bind every IPv4 address of the host (there is no
    // bind-address setting).
    return "Listening on all IPv4 addresses: SMTP 0.0.0.0:" + std::to_string(smtp_server_->port()) +
           ", POP3 0.0.0.0:" + std::to_string(pop3_server_->port()) +
           ", account server 0.0.0.0:" + std::to_string(account_server_->port()) + ".";
}

void CQuorvexServerApp::WarnAboutReadableFiles() {
    std::vector<std::string> account_files;
    for (const std::string& name : Accounts().Names()) {
        if (auto path = Accounts().GetSettingsPath(name)) account_files.push_back(std::move(*path));
    }
    if (const auto warning = ReadableByOthersWarning(Settings()->ConfigIni(), account_files)) {
        WriteProgramLog(*warning);
        ReportOnStandardError(*warning);
    }
}

}  // namespace quorvex::app
