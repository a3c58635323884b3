// The account server inside the running program: the job entry that a
// worker of the job table runs for each connection accepted by the
// CAccountServer listener.
#pragma once

#include "common/Notices.h"
#include "common/net/SocketIo.h"
#include "servers/jobs/JobTable.h"

namespace quorvex::accountserver {

class AccountServer {
public:
    // `notices` may be null (nothing is posted). The job table must
    // outlive this object.
    AccountServer(JobTable& jobs, NoticeSink* notices) : jobs_(jobs), notices_(notices) {}

    // Registers the account-server connection entry with the job table.
    void InstallHandler();

    // AccountServerConnection: one request on the job's socket, each line
    // within the job's idle limit.
    void RunConnection(Job& job);

private:
    JobTable& jobs_;
    NoticeSink* notices_;
};

}  // namespace quorvex::accountserver
