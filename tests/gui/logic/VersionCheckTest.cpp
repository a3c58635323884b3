// The version check: the reply is network data, read with bounds; the
// request goes to a real HTTP server (Python's http.server) on loopback.
#include <gtest/gtest.h>
#include <signal.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/RunFlag.h"
#include "common/net/HostConnect.h"
#include "gui/logic/VersionCheck.h"
#include "support/TempFolder.h"
#include "support/TestPorts.h"

extern char** environ;

namespace quorvex::gui {
namespace {

TEST(VersionCheck, ParsesTheBodyWithBounds) {
    struct Case {
        std::string reply;
        bool parsed;
        int flag, number;
        std::string date;
    };
    const Case cases[] = {
        {"HTTP/1.0 200 OK\r\nX: y\r\n\r\n1 504 2006.01.02\r\n", true, 1, 504, "2006.01.02"},
        {"HTTP/1.0 200 OK\n\n1 503 2005.07.08", true, 1, 503, "2005.07.08"},
        {"HTTP/1.0 200 OK\r\n\r\n2", true, 2, 0, ""},
        {"HTTP/1.0 200 OK\r\n\r\n1 504 " + std::string(5000, 'x'), true, 1, 504, std::string(kMaxVersionDate, 'x')},
        {"HTTP/1.0 200 OK\r\n\r\nnot a number", false, 0, 0, ""},
        {"HTTP/1.0 200 OK\r\nno body", false, 0, 0, ""},
        {"", false, 0, 0, ""},
    };
    for (const Case& c : cases) {
        const auto reply = ParseVersionReply(c.reply);
        ASSERT_EQ(reply.has_value(), c.parsed) << c.reply.substr(0, 40);
        if (!reply) continue;
        EXPECT_EQ(reply->flag, c.flag);
        EXPECT_EQ(reply->number, c.number);
        EXPECT_EQ(reply->date, c.date);
    }
}

TEST(VersionCheck, VerdictsAndHosts) {
    EXPECT_EQ(JudgeVersion({0, 600, "x"}, "2005.07.08"), VersionVerdict::kNothing);
    EXPECT_EQ(JudgeVersion({1, 600, "2006.01.01"}, "2005.07.08"), VersionVerdict::kNewVersion);
    EXPECT_EQ(JudgeVersion({1, 503, "2005.07.08"}, "2005.07.08"), VersionVerdict::kLatest);
    EXPECT_EQ(JudgeVersion({3, 0, ""}, "2005.07.08"), VersionVerdict::kNewUnknown);
    EXPECT_EQ(JudgeVersion({1, 0, ""}, "2005.07.08"), VersionVerdict::kNothing);
    const auto host = ParseVersionHost(" updates.example:8080 ");
    ASSERT_TRUE(host);
    EXPECT_EQ(host->host, "updates.example");
    EXPECT_EQ(host->port, 8080);
    EXPECT_EQ(ParseVersionHost("updates.example")->port, 80);
    for (const char* bad : {"", "  ", "a:0", "a:70000", "a:x", "a b", "a/b", ":80"}) EXPECT_FALSE(ParseVersionHost(bad)) << bad;
}

// Python's http.server serving `folder` on a loopback test port; started
// again on another port when the one taken is in use.
class HttpServer {
public:
    explicit HttpServer(const std::string& folder) {
        for (int attempt = 0; attempt < 3 && pid_ < 0; ++attempt) {
            port_ = quorvex::testing::TakeTestPort();
            const std::string port = std::to_string(port_);
            const char* argv[] = {"/usr/bin/python3", "-m", "http.server", port.c_str(), "--bind", "127.0.0.1",
                                  "--directory", folder.c_str(), nullptr};
            pid_t pid = -1;
            if (::posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) != 0) continue;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (std::chrono::steady_clock::now() < deadline) {
                if (ConnectToHost("127.0.0.1", port_)) {
                    pid_ = pid;
                    break;
                }
                int status = 0;
                if (::waitpid(pid, &status, WNOHANG) == pid) break;  // the port was taken: try another
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            if (pid_ < 0 && ::waitpid(pid, nullptr, WNOHANG) == 0) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        }
    }
    ~HttpServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    bool running() const { return pid_ > 0; }
    int port() const { return port_; }

private:
    pid_t pid_ = -1;
    int port_ = -1;
};

TEST(VersionCheck, FetchesFromARealHttpServer) {
    ServerRunFlag = 1;  // the socket waits end when the program stops
    quorvex::testing::TempFolder folder;
    std::filesystem::create_directories(folder.File("download"));
    std::ofstream(folder.File("download/quorvex.txt")) << "1 504 2006.01.02\n";
    HttpServer server(folder.path());
    ASSERT_TRUE(server.running());
    const auto reply = FetchVersionReply({"127.0.0.1", server.port()}, ProxySettings{});
    ASSERT_TRUE(reply);
    const auto parsed = ParseVersionReply(*reply);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->number, 504);
    EXPECT_EQ(JudgeVersion(*parsed, "2005.07.08"), VersionVerdict::kNewVersion);
    // A host that does not answer: nothing, at once.
    EXPECT_FALSE(FetchVersionReply({"127.0.0.1", quorvex::testing::TakeTestPort()}, ProxySettings{}));

    // A host that takes the request and stays silent: a stop ends the wait at once.
    int silent_port = 0;
    const UniqueFd silent = quorvex::testing::ListenOnTestPort(silent_port);
    ASSERT_TRUE(silent);
    std::stop_source stop;
    std::optional<std::string> stopped_reply = "not ended";
    std::jthread fetch(
        [&] { stopped_reply = FetchVersionReply({"127.0.0.1", silent_port}, ProxySettings{}, stop.get_token()); });
    const auto readable = [](int fd) { pollfd p{fd, POLLIN, 0}; return ::poll(&p, 1, 20000) == 1; };
    ASSERT_TRUE(readable(silent.get()));
    const UniqueFd peer(::accept(silent.get(), nullptr, nullptr));
    ASSERT_TRUE(readable(peer.get())) << "the request was sent";
    const auto asked = std::chrono::steady_clock::now();
    stop.request_stop();
    fetch.join();
    EXPECT_FALSE(stopped_reply);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(kVersionIdleMs / 4));
}

}  // namespace
}  // namespace quorvex::gui
