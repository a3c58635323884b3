#include "app/ServerWiring.h"

#include "servers/smtp/SmtpConnection.h"

namespace quorvex::app {

ServerWiring::ServerWiring(JobTable& jobs, NoticeSink& notices, const std::string& program_folder)
    : jobs_(jobs),
      notices_(notices),
      queue_(std::make_unique<OutgoingQueue>(program_folder)),
      smtp_(notices, *queue_),
      pop3_(jobs, &notices),
      accounts_(jobs, &notices) {
    collection_.delivery = &smtp_;
    collection_.log = &pop3_.log();
}

ServerWiring::~ServerWiring() { StopSenderThreads(); }

void ServerWiring::InstallJobHandlers() {
    jobs_.SetHandler(JOB_SMTP, [this](Job& job) { smtp::SmtpServerConnection(job, smtp_); });
    pop3_.InstallHandler();  // JOB_POP3
    remotepop3::InstallRemoteCollectionHandler(jobs_, collection_);  // JOB_REMOTE_POP3
    accounts_.InstallHandler();  // JOB_ACCOUNT_SERVER
}

void ServerWiring::StartSenderThreads() {
    SenderOptions options;
    options.deliver_locally = [this](std::string_view recipient, const std::string& report) {
        return smtp::DeliverReportLocally(notices_, *queue_, recipient, report);
    };
    queue_->StartSenders(std::move(options));
}

void ServerWiring::StopSenderThreads() {
    if (queue_ && !queue_->StopSenders()) {
        // A thread still in an attempt goes on using the queue: it stays.
        static_cast<void>(queue_.release());
    }
}

}  // namespace quorvex::app
