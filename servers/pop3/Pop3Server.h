// The POP3 server inside the running program: the job entry that a worker
// of the job table runs for each accepted POP3 connection, with the
// process's POP3 log and the collection jobs that "REMOTE POP3" queues.
#pragma once

#include <memory>

#include "common/Notices.h"
#include "servers/jobs/JobTable.h"
#include "servers/pop3/Pop3Connection.h"
#include "servers/pop3/Pop3Log.h"

namespace quorvex::pop3 {

class Pop3Server {
public:
    // `notices` may be null (no window). The job table must outlive this.
    Pop3Server(JobTable& jobs, NoticeSink* notices);

    // Registers the POP3 connection entry with the job table.
    void InstallHandler();

    // Pop3ServerConnection: runs one session on the job's socket.
    void RunConnection(Job& job);

    // The POP3 log, which remote collection writes too.
    Pop3Log& log() { return log_; }

    // Time-outs and the relay's port (tests shorten or move them).
    void set_connection_options(const Pop3ConnectionOptions& options) { base_options_ = options; }

private:
    JobTable& jobs_;
    NoticeSink* notices_;
    Pop3Log log_;
    Pop3ConnectionOptions base_options_;
};

}  // namespace quorvex::pop3
