// The listener shared by the SMTP, POP3 and account servers: it owns the
// listening socket and one accept thread, and turns every accepted
// connection into a job of the job table. Sessions never run on the accept
// thread.
#pragma once

#include <string>
#include <string_view>
#include <thread>

#include "common/UniqueFd.h"
#include "servers/jobs/JobTable.h"

namespace quorvex {

// The answer to a connection refused because every slot is taken by a
// session that is not idle: the client may try again soon.
inline constexpr std::string_view kSmtpBusyReply = "421 too many connections, try again later\r\n";
inline constexpr std::string_view kPop3BusyReply = "-ERR too many connections, try again later\r\n";
inline constexpr std::string_view kAccountBusyReply = "-ERR too many connections, try again later\r\n";
std::string_view BusyReply(JobKind kind);

class ServerListener {
public:
    ServerListener(JobTable& jobs, JobKind kind) : jobs_(jobs), kind_(kind) {}
    virtual ~ServerListener() { Stop(); }
    ServerListener(const ServerListener&) = delete;
    ServerListener& operator=(const ServerListener&) = delete;

    // Binds `port` on `bind_address` (all IPv4 addresses by default; an IPv6
    // literal listens on IPv6), listens and starts the accept thread. Port 0
    // binds an ephemeral port, which port() reads back. False on any error
    // (port in use, bad address), with nothing left open.
    bool Start(int port, std::string_view bind_address = "0.0.0.0");

    // Ends the accept thread and closes the listening socket; the port is
    // free again when it returns. A second call does nothing.
    void Stop();

    bool listening() const { return listen_socket_.valid(); }
    int port() const { return port_; }
    JobKind kind() const { return kind_; }

private:
    void AcceptLoop(std::stop_token stop);

    JobTable& jobs_;
    const JobKind kind_;
    UniqueFd listen_socket_;
    UniqueFd wake_;  // eventfd that ends the accept thread's wait at once
    int port_ = 0;
    std::jthread accept_thread_;
};

// The three servers' listeners ("SMTP", "POP3" and "Admin" of section "Port").
class CSmtpServer : public ServerListener {
public:
    explicit CSmtpServer(JobTable& jobs) : ServerListener(jobs, JOB_SMTP) {}
};

class CPop3Server : public ServerListener {
public:
    explicit CPop3Server(JobTable& jobs) : ServerListener(jobs, JOB_POP3) {}
};

class CAccountServer : public ServerListener {
public:
    explicit CAccountServer(JobTable& jobs) : ServerListener(jobs, JOB_ACCOUNT_SERVER) {}
};

}  // namespace quorvex
