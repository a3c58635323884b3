// The application object: everything from process start to exit. It loads
// the settings and the account list, prepares the database, acts on the
// command-line switch, takes the single-instance mark, starts the three
// listeners, the sender threads and the job workers, then waits for a stop
// (SIGTERM, SIGINT or a "STOP" on the control socket) and shuts down in
// order. Headless unless it is given a front end (the administration
// window): then the window's message loop runs in place of the poll loop.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/InstanceMark.h"
#include "app/NtService.h"
#include "app/ProgramFrontEnd.h"
#include "app/ServerWiring.h"
#include "common/UniqueFd.h"
#include "servers/jobs/JobTable.h"
#include "servers/jobs/RemoteCollectionScheduler.h"
#include "servers/jobs/ServerListener.h"

namespace quorvex::app {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;

// How long sessions and deliveries are given to finish at shutdown.
inline constexpr std::chrono::seconds kShutdownDrainLimit{5};

class CQuorvexServerApp final : public ProgramHost {
public:
    // Without a front end the program runs headless; a start that would show
    // the window on a desktop then hands over to the windowed program.
    explicit CQuorvexServerApp(std::unique_ptr<ProgramFrontEnd> front_end = nullptr);
    ~CQuorvexServerApp() override;
    CQuorvexServerApp(const CQuorvexServerApp&) = delete;
    CQuorvexServerApp& operator=(const CQuorvexServerApp&) = delete;

    // The whole run with the arguments after the program name; returns the
    // process's exit code.
    int Run(const std::vector<std::string>& arguments);

    // 1 when all three listeners started, 0 at the first that did not
    // (after its message).
    bool StartServers();
    // Stops the POP3 listener, then the account server's, then SMTP's.
    void StopServers();

    // ProgramHost: what the window uses.
    int StopSignalDescriptor() const override { return signals_.get(); }
    int ControlSocketDescriptor() const override { return mark_ ? mark_->control_socket() : -1; }
    bool TakeStopSignal() override;
    ControlAction ServeControlCommand() override;
    void ReloadSettings() override { ReloadSettingsOnRequest(); }
    int ActiveJobCount() const override { return jobs_ ? jobs_->ActiveJobCount() : 0; }
    OutgoingQueue& Queue() override { return wiring_->queue(); }

private:
    int InitInstance(const std::vector<std::string>& arguments);
    int NormalStart();
    int ServiceStart();
    int RunGuiMode();
    int UpdateRunningInstance();
    // False (after saying why) when the program has no mail database.
    bool PrepareDatabase();
    // Which data source the mail database is; false when the program
    // folder cannot have its own.
    bool ChooseDataSource();
    void CreateWorkerThreads();
    void MessageLoop();
    ControlAction HandleCommand(const std::string& command);
    // Reads the settings files and puts them in force. When they cannot be
    // read or hold refused values, the settings in use are kept and the
    // reason (also shown and logged) is returned.
    std::optional<std::string> ReloadSettingsOnRequest();
    void Shutdown();
    void ReportAnotherInstance();
    // "Listening on ...": the three servers' addresses and ports.
    std::string ListeningText() const;
    // The warning line when config.ini or an account's file is readable
    // by other users (system log and standard error).
    void WarnAboutReadableFiles();

    std::unique_ptr<ProgramFrontEnd> front_end_;
    // What the last reload has to add to its line (ports that change only
    // at the next start); empty for nothing.
    std::string reload_note_;
    std::string folder_;
    ServiceOptions service_;
    UniqueFd signals_;  // SIGTERM and SIGINT, read by the message loop
    std::optional<InstanceMark> mark_;
    std::unique_ptr<JobTable> jobs_;
    std::unique_ptr<ServerWiring> wiring_;
    std::unique_ptr<CPop3Server> pop3_server_;
    std::unique_ptr<CSmtpServer> smtp_server_;
    std::unique_ptr<CAccountServer> account_server_;
    std::vector<std::unique_ptr<RemoteCollectionScheduler>> schedulers_;
    bool as_service_ = false;  // started by the service manager ("-service")
    // Started with the window on a desktop: neither "-service" nor
    // "-install", nor a start without a display.
    bool desktop_session_ = false;
    bool workers_started_ = false;
    bool ready_sent_ = false;  // READY=1 went to the service manager
};

}  // namespace quorvex::app
