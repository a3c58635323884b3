// The account-server job entry.
#include "accountserver/AccountServer.h"

#include <poll.h>
#include <sys/socket.h>

#include <chrono>

#include "accountserver/AccountSession.h"
#include "common/Paths.h"
#include "common/ServerSettings.h"
#include "servers/logs/ServerLogs.h"

namespace quorvex::accountserver {

namespace {

// Most input read, and longest wait, after the last reply.
constexpr std::size_t kMaxDrainBytes = 256 * 1024;
constexpr std::chrono::milliseconds kMaxDrainTime{2000};

// Ends the connection so that the last reply reaches the client: a close
// with unread input (a request refused before its lines were read) would
// reset the connection and could destroy the reply on its way. The write
// side is shut first, then what the client still sends is read and dropped
// until it closes, within a bound.
void LingeringClose(int fd) {
    if (::shutdown(fd, SHUT_WR) != 0) return;
    const auto deadline = std::chrono::steady_clock::now() + kMaxDrainTime;
    std::size_t drained = 0;
    char buffer[4096];
    while (drained < kMaxDrainBytes) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        drained += static_cast<std::size_t>(n);
    }
}

}  // namespace

void AccountServer::InstallHandler() {
    jobs_.SetHandler(JOB_ACCOUNT_SERVER, [this](Job& job) { RunConnection(job); });
}

void AccountServer::RunConnection(Job& job) {
    SocketLineChannel channel(job.socket.get(), kDefaultSocketTimeouts, job.idle_limit, *job.activity);
    RequestContext context(channel, ConnectionClient(job.client.HostText(), job.from_web_mail), notices_,
                           [](std::string_view text) { WriteSystemLog(CurrentLogSettings(), text); });
    context.SetActivity(*job.activity);
    AccountServerSession(context).Run();
    LingeringClose(job.socket.get());
}

}  // namespace quorvex::accountserver
