// Connects directly and through proxies: the request bytes, the checks on
// scripted proxy replies, and tunnels through a real SOCKS5 server
// (microsocks) and a real HTTP CONNECT proxy (tinyproxy) on loopback.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <fstream>
#include <functional>
#include <thread>

#include "common/net/HostConnect.h"
#include "common/net/ProxyProtocol.h"
#include "common/net/SocketIo.h"
#include "tests/support/NetTestSupport.h"
#include "tests/support/TempFolder.h"

namespace quorvex {
namespace {

using testing::ChildProcess;
using testing::RunFlagScope;

constexpr SocketTimeouts kFast{50, 40};

// A loopback server thread that runs `serve` on each accepted connection,
// one after another, until it is destroyed.
class LoopbackPeer {
public:
    explicit LoopbackPeer(std::function<void(int)> serve) : serve_(std::move(serve)) {
        listen_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(listen_.get(), reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
        EXPECT_EQ(::listen(listen_.get(), 16), 0);
        port_ = LocalAddressOf(listen_.get()).port();
        thread_ = std::thread([this] {
            for (;;) {
                UniqueFd client(::accept(listen_.get(), nullptr, nullptr));
                if (!client) return;
                serve_(client.get());
            }
        });
    }
    ~LoopbackPeer() {
        ::shutdown(listen_.get(), SHUT_RDWR);
        thread_.join();
    }
    int port() const { return port_; }

private:
    std::function<void(int)> serve_;
    UniqueFd listen_;
    int port_ = 0;
    std::thread thread_;
};

// Answers every line with "echo: " and the line.
void EchoLines(int fd) {
    std::string line;
    while (HasLine(ReceiveTextLine(fd, line, kFast))) {
        if (!SendLine(fd, "echo: " + line)) return;
    }
}

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out += static_cast<char>(v);
    return out;
}

TEST(ProxyProtocolTest, HttpConnectRequests) {
    const std::string user = "user", pass = "pass";
    EXPECT_EQ(BuildHttpConnectRequest("mx.example.org", 25, nullptr, nullptr),
              "CONNECT mx.example.org:25 HTTP/1.0\r\n\r\n");
    EXPECT_EQ(BuildHttpConnectRequest("10.1.2.3", 110, &user, &pass),
              "CONNECT 10.1.2.3:110 HTTP/1.0\r\nProxy-Authorization: Basic dXNlcjpwYXNz\r\n\r\n");
}

TEST(ProxyProtocolTest, HttpStatusLines) {
    const std::pair<std::string, bool> cases[] = {
        {"HTTP/1.0 200 Connection established\r\n", true},
        {"http/1.1 200 ok\r\n", true},
        {"   HTTP/1.1 200\r\n", true},
        {"HTTP/1.1 407 Proxy Authentication Required\r\n", false},
        {"HTTP/1.1 20", false},
        {"HTTP/2 200\r\n", false},
        {"", false},
    };
    for (const auto& [line, ok] : cases) EXPECT_EQ(IsHttpConnectSuccess(line), ok) << line;
}

TEST(ProxyProtocolTest, Socks5Requests) {
    EXPECT_EQ(socks5::Greeting(false), Bytes({5, 1, 0}));
    EXPECT_EQ(socks5::Greeting(true), Bytes({5, 2, 0, 2}));
    EXPECT_EQ(socks5::UserPassRequest("ab", "c"), Bytes({1, 2, 'a', 'b', 1, 'c'}));
    EXPECT_EQ(socks5::DomainRequest(socks5::kCommandConnect, "1.2.3.4", 0x1234),
              Bytes({5, 1, 0, 3, 7, '1', '.', '2', '.', '3', '.', '4', 0x12, 0x34}));
    // Names the length byte cannot carry are refused, not cut.
    EXPECT_FALSE(socks5::DomainRequest(socks5::kCommandConnect, std::string(256, 'a'), 25));
    EXPECT_FALSE(socks5::DomainRequest(socks5::kCommandConnect, "", 25));
    EXPECT_FALSE(socks5::UserPassRequest(std::string(256, 'u'), "p"));
    EXPECT_EQ(socks5::UdpAssociateRequest(htonl(0x7F000001), 53), Bytes({5, 3, 0, 1, 127, 0, 0, 1, 0, 53}));
}

// A proxy that reads what the client sends first and answers with canned
// bytes, for the replies real proxies will not give on demand.
struct ScriptedProxyCase {
    std::string name;
    std::string protocol;
    bool auth;
    std::vector<std::string> replies;  // one per client message
    bool connects;
};

TEST(ProxyConnectTest, ScriptedProxyReplies) {
    RunFlagScope run;
    const std::string ok10 = Bytes({5, 0, 0, 1, 10, 0, 0, 7, 0, 25});
    const ScriptedProxyCase cases[] = {
        {"http 200 lower case", "http", false, {"http/1.1 200 connection established\r\nVia: x\r\n\r\n"}, true},
        {"http 407", "HTTP", true, {"HTTP/1.1 407 Proxy Authentication Required\r\n\r\n"}, false},
        {"http closes in header", "HTTPS", false, {"HTTP/1.0 200 OK\r\nVia: x\r\n"}, false},
        {"socks no acceptable method", "SOCKS5", false, {Bytes({5, 0xFF})}, false},
        {"socks wrong version", "socks5", false, {Bytes({4, 0})}, false},
        {"socks connect refused", "SOCKS5", false, {Bytes({5, 0}), Bytes({5, 5, 0, 1, 0, 0, 0, 0, 0, 0})}, false},
        {"socks connect ok", "socks5", false, {Bytes({5, 0}), ok10}, true},
        {"socks user and password", "SOCKS5", true, {Bytes({5, 2}), Bytes({1, 0}), ok10}, true},
        {"socks bad password", "SOCKS5", true, {Bytes({5, 2}), Bytes({1, 1})}, false},
        {"socks picks auth we did not offer", "SOCKS5", false, {Bytes({5, 2})}, false},
        {"socks reply cut short", "SOCKS5", false, {Bytes({5, 0}), Bytes({5, 0, 0, 1, 10})}, false},
        {"socks4 is not spoken", "SOCKS4", false, {}, false},
    };
    for (const ScriptedProxyCase& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackPeer proxy([&](int fd) {
            for (const std::string& reply : c.replies) {
                std::string request;
                if (ReceiveWithTimeout(fd, request, 4096, ReceiveMode::kNormal, kFast) != IoStatus::kOk) return;
                if (!SendBuffer(fd, reply)) return;
            }
            ::shutdown(fd, SHUT_WR);
            std::string rest;
            ReceiveWithTimeout(fd, rest, 4096, ReceiveMode::kNormal, kFast);
        });
        ProxySettings settings;
        settings.enabled = true;
        settings.address = "127.0.0.1";
        settings.port = proxy.port();
        settings.protocol = c.protocol;
        settings.auth = c.auth;
        settings.user = "u";
        settings.pass = "p";
        std::string bound;
        const UniqueFd fd = ConnectToHost("mail.example.org", 25, settings, &bound, kFast);
        EXPECT_EQ(fd.valid(), c.connects);
        if (c.connects && c.protocol != "http") {
            EXPECT_EQ(bound, "10.0.0.7");
        }
    }
}

TEST(ProxyConnectTest, DirectConnectGivesTheLocalAddress) {
    RunFlagScope run;
    LoopbackPeer echo(EchoLines);
    std::string local;
    const UniqueFd fd = ConnectToHost("127.0.0.1", echo.port(), ProxySettings{}, &local, kFast);
    ASSERT_TRUE(fd.valid());
    EXPECT_EQ(local, "127.0.0.1");
    ASSERT_TRUE(SendLine(fd.get(), "hello"));
    std::string line;
    ASSERT_EQ(ReceiveTextLine(fd.get(), line, kFast), LineStatus::kLine);
    EXPECT_EQ(line, "echo: hello");
    // A closed port and an unresolvable name both fail.
    EXPECT_FALSE(ConnectToHost("127.0.0.1", testing::TakeTestPort(), ProxySettings{}, nullptr, kFast).valid());
    EXPECT_FALSE(ConnectToHost("no-such-host.invalid", 25, ProxySettings{}, nullptr, kFast).valid());
}

// Sends a line through the tunnel and expects the echo server's answer.
void ExpectEchoThrough(const UniqueFd& fd) {
    ASSERT_TRUE(fd.valid());
    ASSERT_TRUE(SendLine(fd.get(), "through the proxy"));
    std::string line;
    ASSERT_EQ(ReceiveTextLine(fd.get(), line, kFast), LineStatus::kLine);
    EXPECT_EQ(line, "echo: through the proxy");
}

TEST(ProxyConnectTest, RealSocks5Server) {
    RunFlagScope run;
    LoopbackPeer echo(EchoLines);
    int open_port = 0;
    const auto open_proxy = testing::StartTcpServer(open_port, [](int port) {
        return std::vector<std::string>{"/usr/bin/microsocks", "-i", "127.0.0.1", "-p", std::to_string(port)};
    });
    ASSERT_TRUE(open_proxy) << "microsocks did not start";
    int auth_port = 0;
    const auto auth_proxy = testing::StartTcpServer(auth_port, [](int port) {
        return std::vector<std::string>{"/usr/bin/microsocks", "-i", "127.0.0.1", "-p", std::to_string(port),
                                        "-u", "quorvex", "-P", "s3cret"};
    });
    ASSERT_TRUE(auth_proxy) << "microsocks did not start";

    ProxySettings settings;
    settings.enabled = true;
    settings.address = "127.0.0.1";
    settings.port = open_port;
    settings.protocol = "SOCKS5";
    ExpectEchoThrough(ConnectToHost("127.0.0.1", echo.port(), settings, nullptr, kFast));
    ExpectEchoThrough(ConnectToHost("localhost", echo.port(), settings, nullptr, kFast));

    settings.port = auth_port;
    settings.auth = true;
    settings.user = "quorvex";
    settings.pass = "s3cret";
    std::string bound;
    const UniqueFd tunnel = ConnectToHost("127.0.0.1", echo.port(), settings, &bound, kFast);
    ExpectEchoThrough(tunnel);
    EXPECT_FALSE(bound.empty());  // microsocks names 0.0.0.0
    settings.pass = "wrong";
    EXPECT_FALSE(ConnectToHost("127.0.0.1", echo.port(), settings, nullptr, kFast).valid());
    settings.auth = false;  // the proxy insists on a password
    EXPECT_FALSE(ConnectToHost("127.0.0.1", echo.port(), settings, nullptr, kFast).valid());
}

TEST(ProxyConnectTest, RealHttpConnectProxy) {
    RunFlagScope run;
    testing::TempFolder folder;
    LoopbackPeer echo(EchoLines);
    const std::string config = folder.File("tinyproxy.conf");
    int port = 0;
    const auto proxy = testing::StartTcpServer(port, [&](int p) {
        std::ofstream(config) << "Port " << p << "\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 30\n"
                              << "BasicAuth quorvex s3cret\n";
        return std::vector<std::string>{"/usr/bin/tinyproxy", "-d", "-c", config};
    });
    ASSERT_TRUE(proxy) << "tinyproxy did not start";

    ProxySettings settings;
    settings.enabled = true;
    settings.address = "127.0.0.1";
    settings.port = port;
    settings.protocol = "HTTP";
    settings.auth = true;
    settings.user = "quorvex";
    settings.pass = "s3cret";
    ExpectEchoThrough(ConnectToHost("127.0.0.1", echo.port(), settings, nullptr, kFast));
    settings.protocol = "https";
    ExpectEchoThrough(ConnectToHost("127.0.0.1", echo.port(), settings, nullptr, kFast));
    settings.pass = "wrong";  // 407
    EXPECT_FALSE(ConnectToHost("127.0.0.1", echo.port(), settings, nullptr, kFast).valid());
}

}  // namespace
}  // namespace quorvex
