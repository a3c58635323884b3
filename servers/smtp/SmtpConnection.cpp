// The socket side of an SMTP session.
#include "servers/smtp/SmtpConnection.h"

#include "common/AsciiCase.h"
#include "common/Base64.h"
#include "common/HostInfo.h"
#include "common/UniqueFd.h"
#include "common/net/HostConnect.h"
#include "common/net/SocketIo.h"
#include "servers/smtp/SmtpCommand.h"
#include "servers/smtp/SmtpSession.h"

namespace quorvex::smtp {

namespace {

// One reply of the upstream server: lines until one whose fourth character
// is a blank, every line beginning with `code`.
bool ReadUpstreamReply(int fd, std::string_view code, std::string& last_line, const SocketTimeouts& timeouts) {
    std::string line;
    while (HasLine(ReceiveLine(fd, line, kTextLineCapacity, timeouts))) {
        if (line.compare(0, code.size(), code) != 0) return false;
        if (line.size() < 6 || line[3] == ' ') {
            last_line = line.substr(0, line.size() - 2);
            return true;
        }
    }
    return false;
}

// The name this server gives in its own HELO or EHLO to the upstream.
std::string HeloName() {
    const std::string name = ComputerName();
    return name.empty() ? "QuorvexServer" : name.substr(0, 15);
}

// Logs in to the upstream server for the client, then relays the rest of
// the session (first what the client had already sent after its password);
// the upstream's answer to the credentials reaches the client.
bool RelaySmtpProxy(int client, const ProxyRequest& request, const ConnectionLimits& limits,
                    const std::string& pending) {
    const SocketTimeouts& t = limits.timeouts;
    SessionActivity& activity = *limits.activity;
    UniqueFd upstream = ConnectToHost(request.host, limits.proxy_port);
    std::string line;
    if (!upstream || !ReadUpstreamReply(upstream.get(), "220", line, t)) return false;
    const std::string me = HeloName();
    if (!request.user.empty()) {
        if (!SendBuffer(upstream.get(), "EHLO " + me + "\r\n", t) ||
            !ReadUpstreamReply(upstream.get(), "250", line, t) || !SendBuffer(upstream.get(), "AUTH LOGIN\r\n", t) ||
            !ReadUpstreamReply(upstream.get(), "334", line, t)) {
            return false;
        }
        std::string prompt;
        Base64Decode(line.size() > 4 ? std::string_view(line).substr(4) : std::string_view{}, prompt);
        std::string first = Base64Encode(request.user) + "\r\n";
        std::string second = Base64Encode(request.password) + "\r\n";
        if (!StartsWithNoCase(prompt, "USERNAME")) std::swap(first, second);
        if (!SendBuffer(upstream.get(), first, t) || !ReadUpstreamReply(upstream.get(), "334", line, t) ||
            !SendBuffer(upstream.get(), second, t)) {
            return false;
        }
    } else {
        if (!SendBuffer(upstream.get(), "HELO " + me + "\r\n", t) ||
            !ReadUpstreamReply(upstream.get(), "250", line, t) || !SendBuffer(client, "235 OK\r\n", t, activity)) {
            return false;
        }
    }
    if (!pending.empty() && !SendBuffer(upstream.get(), pending, t)) return false;
    RelayBetweenSockets(client, upstream.get(), kDefaultRelayTimeouts, activity);
    return true;
}

}  // namespace

void SmtpServerConnection(Job& job, SmtpServices& services) {
    ConnectionLimits limits;
    limits.idle_limit = job.idle_limit;
    limits.activity = job.activity;
    const ConnectionClient client(job.client.HostText(), job.from_web_mail);
    RunSmtpConnection(job.socket.get(), client, services, limits);
}

bool RunSmtpConnection(int fd, ConnectionClient client, SmtpServices& services, const ConnectionLimits& limits) {
    SmtpSession session(services, std::move(client));
    session.SetActivity(*limits.activity);
    if (!SendBuffer(fd, session.Start(), limits.timeouts, *limits.activity)) return false;
    LineReader reader(fd, limits.timeouts, limits.idle_limit);
    reader.set_activity(*limits.activity);
    std::string out;
    while (!session.Finished()) {
        if (reader.Fill() != LineStatus::kLine) return false;
        out.clear();
        // Every line that arrived is answered before the replies go out
        // together: a pipelining client gets them in one write.
        session.Process(reader.buffer(), out);
        if (!out.empty() && !SendBuffer(fd, out, limits.timeouts, *limits.activity)) return false;
    }
    if (session.proxy_request()) {
        return RelaySmtpProxy(fd, *session.proxy_request(), limits, reader.buffer().TakePending());
    }
    return session.EndedCleanly();
}

}  // namespace quorvex::smtp
