// What runs behind each kind of job: the SMTP session with local delivery,
// the POP3 session, the account server and remote collection. One object for the run; every
// session of the process shares it. A kind without a session yet has no
// handler, and the job table closes its connections at once.
#pragma once

#include <memory>
#include <string>

#include "accountserver/AccountServer.h"
#include "common/Notices.h"
#include "servers/jobs/JobTable.h"
#include "servers/pop3/Pop3Server.h"
#include "servers/queue/OutgoingQueue.h"
#include "servers/remotepop3/RemoteCollectionJob.h"
#include "app/ServerSmtpServices.h"

namespace quorvex::app {

class ServerWiring {
public:
    // `jobs` and `notices` must outlive this object. The outgoing queue is
    // the one of `program_folder`.
    ServerWiring(JobTable& jobs, NoticeSink& notices, const std::string& program_folder);
    ServerWiring(const ServerWiring&) = delete;
    ServerWiring& operator=(const ServerWiring&) = delete;

    ~ServerWiring();

    // Registers a handler for every job kind that has a session. Called
    // once, before the workers start.
    void InstallJobHandlers();

    // The outgoing queue's sender threads: started after the listeners
    // (they resume the mail still queued) and stopped at shutdown.
    void StartSenderThreads();
    void StopSenderThreads();

    // The program's outgoing queue: what the window's queue views show.
    OutgoingQueue& queue() { return *queue_; }

private:
    JobTable& jobs_;
    NoticeSink& notices_;
    // The program's outgoing queue, passed to everything that queues mail.
    // Kept alive past this object when a sender thread was still in an
    // attempt at shutdown.
    std::unique_ptr<OutgoingQueue> queue_;
    smtp::ServerSmtpServices smtp_;
    pop3::Pop3Server pop3_;
    accountserver::AccountServer accounts_;
    remotepop3::RemoteCollectionWiring collection_;
};

}  // namespace quorvex::app
