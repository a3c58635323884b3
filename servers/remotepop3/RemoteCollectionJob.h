// The collection job of the job table: one run of RemoteCollector for the
// account in the job, wired to the real remote-box list, sockets, queue
// counter, virus scan, local delivery and the POP3 log.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "common/net/SocketIo.h"
#include "servers/delivery/LocalDelivery.h"
#include "servers/jobs/JobTable.h"
#include "servers/pop3/Pop3Log.h"

namespace quorvex::remotepop3 {

struct RemoteCollectionWiring {
    DeliveryDirectory* delivery = nullptr;  // local delivery (required)
    pop3::Pop3Log* log = nullptr;           // the POP3 log (may be null)
    // The anti-virus hand-off (when [AntiVirus] Enable is set);
    // ScanMailForViruses when unset.
    std::function<void(const std::string&)> scan_for_viruses;
    // Whether a dotted address is this host's; IsLocalAddress when unset.
    std::function<bool(std::string_view)> is_own_address;
    SocketTimeouts timeouts = kDefaultSocketTimeouts;
    // The port every box is reached on, instead of the box's own (110);
    // 0 keeps the box's (tests move the remote server elsewhere).
    int port_override = 0;
};

// RunRemoteCollectionJob: collects for the job's account.
void RunRemoteCollectionJob(const Job& job, const RemoteCollectionWiring& wiring);

// Registers the job entry for JOB_REMOTE_POP3. `wiring` must outlive the table's workers.
void InstallRemoteCollectionHandler(JobTable& jobs, const RemoteCollectionWiring& wiring);

}  // namespace quorvex::remotepop3
