#include "app/ServerWiring.h"

#include "servers/queue/SenderThreads.h"
#include "servers/smtp/SmtpConnection.h"

namespace quorvex::app {

ServerWiring::ServerWiring(JobTable& jobs, NoticeSink& notices)
    : jobs_(jobs), smtp_(notices), pop3_(jobs, &notices), accounts_(jobs, &notices) {
    collection_.delivery = &smtp_;
    collection_.log = &pop3_.log();
}

void ServerWiring::InstallJobHandlers() {
    jobs_.SetHandler(JOB_SMTP, [this](Job& job) { smtp::SmtpServerConnection(job, smtp_); });
    pop3_.InstallHandler();  // JOB_POP3
    remotepop3::InstallRemoteCollectionHandler(jobs_, collection_);  // JOB_REMOTE_POP3
    accounts_.InstallHandler();  // JOB_ACCOUNT_SERVER
}

void StartSenderThreads() {
    SenderOptions options;
    options.deliver_locally = [](std::string_view recipient, const std::string& report) {
        return smtp::DeliverReportLocally(ProcessNoticeBus(), recipient, report);
    };
    ::quorvex::StartSenderThreads(std::move(options));
}

void StopSenderThreads() { ::quorvex::StopSenderThreads(); }

}  // namespace quorvex::app
