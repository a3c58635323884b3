// The account-server job entry.
#include "accountserver/AccountServer.h"

#include "accountserver/AccountSession.h"
#include "common/Paths.h"
#include "common/ServerSettings.h"
#include "servers/logs/ServerLogs.h"

namespace quorvex::accountserver {

void AccountServer::InstallHandler() {
    jobs_.SetHandler(JOB_ACCOUNT_SERVER, [this](Job& job) { RunConnection(job); });
}

void AccountServer::RunConnection(Job& job) {
    SocketLineChannel channel(job.socket.get(), timeouts_);
    RequestContext context(channel, job.client.HostText(), notices_, [](std::string_view text) {
        const auto settings = Settings();
        WriteSystemLog({settings->LogFilePath.empty() ? JoinPath(settings->Folder(), "log") : settings->LogFilePath,
                        settings->MaxLogLine},
                       text);
    });
    AccountServerSession(context).Run();
}

}  // namespace quorvex::accountserver
