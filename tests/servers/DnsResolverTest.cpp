// The resolver against scripted UDP servers on loopback addresses (time
// limits, referrals, stale replies) and against real dnsmasq, directly and
// through a real SOCKS5 server's UDP relay (dante).
#include "servers/dns/DnsResolver.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

#include "servers/address/NetworkSenderCheck.h"
#include "servers/dns/DnsMessage.h"
#include "tests/support/NetTestSupport.h"
#include "tests/support/TempFolder.h"

namespace quorvex {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::RunFlagScope;

std::string U16(int v) { return {static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)}; }

std::string Record(int type, const std::string& data) {
    return "\xC0\x0C" + U16(type) + U16(1) + U16(0) + U16(60) + U16(static_cast<int>(data.size())) + data;
}

// A reply to `query` (its id and question copied) with the given sections.
std::string Reply(std::string_view query, int answers, int authorities, const std::string& records) {
    return std::string(query.substr(0, 2)) + U16(0x8180) + U16(1) + U16(answers) + U16(authorities) + U16(0) +
           std::string(query.substr(12)) + records;
}

std::string MxAnswer(std::string_view query, int preference, std::string_view host) {
    return Reply(query, 1, 0, Record(dns::kTypeMx, U16(preference) + *dns::EncodeName(host)));
}

std::string Referral(std::string_view query, std::string_view server) {
    return Reply(query, 0, 1, Record(dns::kTypeNs, *dns::EncodeName(server)));
}

// A UDP server on one loopback address that answers each query through
// `answer` (an empty answer sends nothing) and counts the queries.
class ScriptedDnsServer {
public:
    using Answer = std::function<std::vector<std::string>(std::string_view query)>;
    // On `address` at `port`.
    ScriptedDnsServer(const char* address, int port, Answer answer) : answer_(std::move(answer)) {
        bound_ = Bind(address, port);
        port_ = port;
        thread_ = std::thread([this] { Serve(); });
    }
    // On `address` at a port of the test port allocator.
    ScriptedDnsServer(const char* address, Answer answer) : answer_(std::move(answer)) {
        port_ = testing::OnTestPort([&](int port) { return Bind(address, port); });
        bound_ = port_ > 0;
        thread_ = std::thread([this] { Serve(); });
    }
    ~ScriptedDnsServer() {
        stop_ = true;
        thread_.join();
    }
    bool bound() const { return bound_; }
    int port() const { return port_; }
    int queries() const { return queries_; }

private:
    bool Bind(const char* address, int port) {
        fd_.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, address, &a.sin_addr);
        return ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
    }
    void Serve() {
        char buffer[2048];
        while (!stop_) {
            pollfd watch{fd_.get(), POLLIN, 0};
            if (::poll(&watch, 1, 20) <= 0) continue;
            sockaddr_in from{};
            socklen_t length = sizeof(from);
            const ssize_t n = ::recvfrom(fd_.get(), buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&from), &length);
            if (n <= 0) continue;
            ++queries_;
            for (const std::string& reply : answer_(std::string_view(buffer, static_cast<std::size_t>(n)))) {
                ::sendto(fd_.get(), reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), length);
            }
        }
    }
    Answer answer_;
    UniqueFd fd_;
    bool bound_ = false;
    int port_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<int> queries_{0};
    std::thread thread_;
};

DnsResolverOptions Options(int port, int wait_ms = 1000) {
    DnsResolverOptions options;
    options.server_port = port;
    options.reply_wait_ms = wait_ms;
    return options;
}

TEST(DnsResolverTest, SilentServerFailsAfterOneWait) {
    RunFlagScope run;
    ScriptedDnsServer silent("127.0.0.1", [](std::string_view) { return std::vector<std::string>{}; });
    ASSERT_TRUE(silent.bound());
    DnsResolver resolver(Options(silent.port(), 300));
    std::string output = "stale";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(resolver.Query("example.org", output, "127.0.0.1"), DnsResolver::kNoAnswer);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 290ms);
    EXPECT_EQ(silent.queries(), 1);  // no second try at the same server
    EXPECT_EQ(output, "");
}

TEST(DnsResolverTest, StaleAndForeignRepliesAreIgnored) {
    RunFlagScope run;
    ScriptedDnsServer server("127.0.0.1", [](std::string_view query) {
        std::string stale = MxAnswer(query, 1, "forged.example.org");
        stale[1] = static_cast<char>(stale[1] ^ 0x55);  // another transaction
        return std::vector<std::string>{stale, MxAnswer(query, 10, "mx.example.org")};
    });
    ASSERT_TRUE(server.bound());
    DnsResolver resolver(Options(server.port()));
    std::string output;
    EXPECT_EQ(resolver.Query("example.org", output, "127.0.0.1"), DnsResolver::kFound);
    EXPECT_EQ(output, "mx.example.org 10");
}

TEST(DnsResolverTest, MalformedReplyGivesZero) {
    RunFlagScope run;
    ScriptedDnsServer server("127.0.0.1", [](std::string_view query) {
        std::string reply = MxAnswer(query, 10, "mx.example.org");
        reply[7] = 9;  // nine answers announced, one sent
        return std::vector<std::string>{reply};
    });
    ASSERT_TRUE(server.bound());
    DnsResolver resolver(Options(server.port()));
    std::string output;
    EXPECT_EQ(resolver.Query("example.org", output, "127.0.0.1"), DnsResolver::kUndecodable);
}

TEST(DnsResolverTest, ReferralsAreFollowed) {
    RunFlagScope run;
    ScriptedDnsServer root("127.0.0.1", [](std::string_view query) {
        return std::vector<std::string>{Reply(query, 0, 2, Record(dns::kTypeNs, *dns::EncodeName("127.0.0.9")) +
                                                               Record(dns::kTypeNs, *dns::EncodeName("127.0.0.2")))};
    });
    ScriptedDnsServer zone("127.0.0.2", root.port(), [](std::string_view query) {
        return std::vector<std::string>{MxAnswer(query, 5, "mail.example.org")};
    });
    ASSERT_TRUE(root.bound() && zone.bound());
    DnsResolver resolver(Options(root.port(), 300));
    std::string output;
    // 127.0.0.9 does not answer (-1); the lookup goes on with the next one.
    EXPECT_EQ(resolver.Query("example.org", output, "127.0.0.1"), DnsResolver::kFound);
    EXPECT_EQ(output, "mail.example.org 5");
}

TEST(DnsResolverTest, ServerNamingItselfIsAskedTwiceThenGivesUp) {
    RunFlagScope run;
    ScriptedDnsServer server("127.0.0.1", [](std::string_view query) {
        const std::string soa = *dns::EncodeName("127.0.0.1") + *dns::EncodeName("h.example.org") + std::string(20, '\0');
        return std::vector<std::string>{Reply(query, 0, 1, Record(dns::kTypeSoa, soa))};
    });
    ASSERT_TRUE(server.bound());
    DnsResolver resolver(Options(server.port()));
    std::string output;
    EXPECT_EQ(resolver.Query("example.org", output, "127.0.0.1"), DnsResolver::kNoAnswer);
    EXPECT_EQ(server.queries(), 2);
}

TEST(DnsResolverTest, TheTenthServerIsNotAsked) {
    RunFlagScope run;
    std::vector<std::unique_ptr<ScriptedDnsServer>> chain;
    std::vector<std::string> addresses;
    for (int i = 1; i <= 10; ++i) addresses.push_back("127.0.1." + std::to_string(i));
    for (int i = 0; i < 10; ++i) {
        const std::string next = i + 1 < 10 ? addresses[i + 1] : "127.0.1.99";
        auto answer = [next](std::string_view query) { return std::vector<std::string>{Referral(query, next)}; };
        // The first takes a port of the allocator; the others serve beside it.
        chain.push_back(i == 0 ? std::make_unique<ScriptedDnsServer>(addresses[i].c_str(), answer)
                               : std::make_unique<ScriptedDnsServer>(addresses[i].c_str(), chain[0]->port(), answer));
        ASSERT_TRUE(chain.back()->bound());
    }
    DnsResolver resolver(Options(chain[0]->port()));
    std::string output;
    EXPECT_EQ(resolver.Query("example.org", output, addresses[0]), DnsResolver::kUndecodable);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(chain[i]->queries(), 1) << i;
    EXPECT_EQ(chain[9]->queries(), 0);
}

TEST(DnsResolverTest, SenderCheckAsksTheResolverAndTheSystem) {
    RunFlagScope run;
    ScriptedDnsServer server("127.0.0.1", [](std::string_view query) {
        return std::vector<std::string>{MxAnswer(query, 7, "mx.sender.org")};
    });
    ASSERT_TRUE(server.bound());
    NetworkSenderCheck check(Options(server.port()));
    std::string answer;
    EXPECT_EQ(check.QueryMx("sender.org", "127.0.0.1", answer), DnsResolver::kFound);
    EXPECT_EQ(answer, "mx.sender.org 7");
    EXPECT_TRUE(check.IsLocalAddress(htonl(0x7F000001)));
    const auto loopback = check.ResolveHost("localhost");
    EXPECT_NE(std::find(loopback.begin(), loopback.end(), htonl(0x7F000001)), loopback.end());
    EXPECT_EQ(check.ResolveHost("127.0.0.2"), std::vector<std::uint32_t>{htonl(0x7F000002)});
    EXPECT_TRUE(check.ResolveHost("no-such-host.invalid").empty());
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find("\r\n", start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string::npos) break;
        start = end + 2;
    }
    return lines;
}

// dnsmasq answering MX records on 127.0.0.1 at a port of the test's
// choice; `port` receives the port. Null when it never answered.
std::unique_ptr<ChildProcess> StartDnsmasq(int& port) {
    return testing::StartOnTestPort(
        port,
        [](int p) {
            return std::vector<std::string>{
                "/usr/sbin/dnsmasq", "--no-daemon", "--conf-file=/dev/null", "--no-resolv", "--no-hosts",
                "--bind-interfaces", "--listen-address=127.0.0.1", "--port=" + std::to_string(p), "--pid-file=",
                "--user=root", "--group=root", "--mx-host=example.test,mx1.example.test,20",
                "--mx-host=example.test,mx2.example.test,10", "--mx-host=solo.test,mail.solo.test,5"};
        },
        [](int p, ChildProcess& process) {
            // It takes a moment to bind: ask until it answers.
            DnsResolver resolver(Options(p, 200));
            return testing::WaitUntil([&] {
                std::string output;
                return !process.running() || resolver.Query("solo.test", output, "127.0.0.1") == DnsResolver::kFound;
            }, testing::kHelperStartLimit) && process.running();
        });
}

TEST(DnsResolverTest, RealDnsServer) {
    RunFlagScope run;
    int port = 0;
    const auto dnsmasq = StartDnsmasq(port);
    ASSERT_TRUE(dnsmasq) << "dnsmasq did not answer";
    DnsResolver resolver(Options(port, 200));
    std::string output;
    ASSERT_EQ(resolver.Query("example.test", output, "127.0.0.1"), DnsResolver::kFound);
    const auto lines = Lines(output);
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()),
              (std::set<std::string>{"mx1.example.test 20", "mx2.example.test 10"}));
    ASSERT_EQ(resolver.Query("solo.test", output, "localhost"), DnsResolver::kFound);
    EXPECT_EQ(output, "mail.solo.test 5");
    // No MX and no referral: dnsmasq has nothing to say about this name.
    EXPECT_EQ(resolver.Query("nothing.test", output, "127.0.0.1"), DnsResolver::kNoAnswer);
}

TEST(DnsResolverTest, RealDnsServerThroughSocks5UdpRelay) {
    RunFlagScope run;
    testing::TempFolder folder;
    int dns_port = 0;
    const auto dnsmasq = StartDnsmasq(dns_port);
    ASSERT_TRUE(dnsmasq) << "dnsmasq did not answer";
    const std::string config = folder.File("danted.conf");
    int socks_port = 0;
    const auto dante = testing::StartTcpServer(socks_port, [&](int port) {
        std::ofstream(config) << "logoutput: stderr\n"
                              << "internal: 127.0.0.1 port = " << port << "\n"
                              << "external: 127.0.0.1\n"
                              << "socksmethod: none\nclientmethod: none\n"
                              << "user.privileged: root\nuser.unprivileged: nobody\n"
                              << "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                              << "socks pass { from: 127.0.0.0/8 to: 127.0.0.0/8 "
                              << "command: connect udpassociate udpreply }\n";
        return std::vector<std::string>{"/usr/sbin/danted", "-f", config, "-N", "1", "-p", folder.File("danted.pid")};
    });
    ASSERT_TRUE(dante) << "danted did not start";

    DnsResolverOptions options = Options(dns_port);
    options.proxy.enabled = true;
    options.proxy.address = "127.0.0.1";
    options.proxy.port = socks_port;
    options.proxy.protocol = "HTTP";  // not consulted: DNS always goes by SOCKS5
    DnsResolver resolver(options);
    std::string output;
    ASSERT_EQ(resolver.Query("solo.test", output, "127.0.0.1"), DnsResolver::kFound);
    EXPECT_EQ(output, "mail.solo.test 5");
    options.proxy.port = testing::TakeTestPort();  // nobody there
    EXPECT_EQ(DnsResolver(options).Query("solo.test", output, "127.0.0.1"), DnsResolver::kNoAnswer);
}

}  // namespace
}  // namespace quorvex
