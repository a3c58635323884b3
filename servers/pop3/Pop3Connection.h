// Runs one POP3 session over a connected socket: the greeting, then line
// after line (through the bounded line reader) until the session ends, the
// client goes, a line does not arrive whole within the idle limit, or the
// servers stop. The mail-proxy relay, which is socket work, is carried out
// here too.
#pragma once

#include <string>

#include "common/net/HostConnect.h"
#include "common/net/LineReader.h"
#include "common/net/SocketIo.h"
#include "servers/pop3/Pop3Mailbox.h"
#include "servers/pop3/Pop3Session.h"

namespace quorvex::pop3 {

struct Pop3ConnectionOptions {
    SocketTimeouts timeouts = kDefaultSocketTimeouts;
    IdleLimit idle_limit;  // the job table's; empty: the slices of `timeouts`
    SocketTimeouts relay_timeouts = kDefaultRelayTimeouts;
    int relay_port = 110;  // the port of the server a "user#host" login reaches
    ProxySettings proxy;   // outgoing proxy for the relay's connection
    SessionActivity* activity = &NoSessionActivity();  // the job slot's accounting
};

// Does not close `fd`.
void RunPop3Connection(int fd, ConnectionClient client, Pop3Services& services, Pop3SessionSettings settings,
                       const Pop3ConnectionOptions& options = {});

// The mail-proxy relay: logs in to `host` as `user` for the client and then
// copies bytes both ways, starting with `pending` (what the client sent
// after its USER line). The remote greeting is not passed on: the client
// next sees the remote server's answer to USER. Without a connection or a
// positive greeting the client's connection just ends.
void RelayPop3Proxy(int client_fd, const std::string& user, const std::string& host,
                    const Pop3ConnectionOptions& options, const std::string& pending = {});

}  // namespace quorvex::pop3
