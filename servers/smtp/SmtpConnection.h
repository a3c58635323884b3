// Runs one SMTP session over a connected socket: reads the client's lines
// with the bounded line reader, feeds them to the session and sends the
// replies, until the session ends, the client goes, a line does not arrive
// whole within the idle limit or the servers stop. A proxy hand-off is
// carried out here, since it is socket work.
#pragma once

#include <string>

#include "common/net/LineReader.h"
#include "common/net/SocketIo.h"
#include "servers/jobs/JobTable.h"
#include "servers/smtp/SmtpServices.h"

namespace quorvex::smtp {

struct ConnectionLimits {
    // One-second slices between looks at ServerRunFlag; a line must arrive
    // whole within 60 of them, unless `idle_limit` gives the limit.
    SocketTimeouts timeouts = kDefaultSocketTimeouts;
    IdleLimit idle_limit;  // the job table's: shorter while the server is busy
    int proxy_port = 25;   // port of the server a proxy hand-off goes to
    SessionActivity* activity = &NoSessionActivity();  // the job slot's accounting
};

// Returns true after QUIT or a proxy hand-off that ran. Does not close `fd`.
bool RunSmtpConnection(int fd, ConnectionClient client, SmtpServices& services,
                       const ConnectionLimits& limits = {});

// The job entry of a JOB_SMTP slot: the session on the job's socket, which
// the job table closes afterwards.
void SmtpServerConnection(Job& job, SmtpServices& services);

}  // namespace quorvex::smtp
