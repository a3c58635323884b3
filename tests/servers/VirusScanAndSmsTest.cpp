// The virus-scan hand-off against a simulated anti-virus POP3 proxy and the
// short-message notice against a simulated CMPP 2.0 gateway, both on
// loopback, checking the bytes exchanged.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/AtomicFile.h"
#include "common/RunFlag.h"
#include "servers/filters/SmsNotice.h"
#include "servers/filters/VirusScan.h"
#include "servers/support/LoopbackPeer.h"
#include "servers/support/SmtpTestFiles.h"
#include "support/TempFolder.h"
#include "support/TestPorts.h"

namespace quorvex {
namespace {

using testing::LoopbackPeer;
using testing::Slurp;
using testing::TempFolder;

constexpr SocketTimeouts kQuick{100, 30};

class VirusScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        ServerRunFlag = 1;
        std::ofstream(message, std::ios::binary) << "Subject: x\r\n\r\nEICAR\r\n";
    }
    TempFolder folder;
    std::string message = folder.File("temp_smtp_1.dat");
    CServerSettings settings;
};

TEST_F(VirusScanTest, ScannedTextReplacesTheMessage) {
    std::vector<std::string> heard;
    LoopbackPeer proxy([&](int fd) {
        LoopbackPeer::Send(fd, "+OK scanner ready\r\n");
        std::string line;
        while (LoopbackPeer::ReadLine(fd, line)) {
            heard.push_back(line);
            if (line.rfind("STAT", 0) == 0) LoopbackPeer::Send(fd, "+OK 1 20\r\n");
            else if (line.rfind("LIST", 0) == 0) LoopbackPeer::Send(fd, "+OK\r\n1 20\r\n.\r\n");
            else if (line.rfind("RETR", 0) == 0)
                LoopbackPeer::Send(fd, "+OK\r\nNOOP\r\nSubject: x\r\nX-NortonAV-TimeoutProtection: 1\r\n\r\n"
                                       "cleaned\r\n..dotted\r\nnoop\r\n.\r\n");
            else if (line.rfind("QUIT", 0) == 0) {
                LoopbackPeer::Send(fd, "+OK bye\r\n");
                return;
            } else LoopbackPeer::Send(fd, "+OK\r\n");
        }
    });
    settings.GatePort = proxy.port();
    ScanMailForViruses(message, settings, kQuick);
    proxy.Join();
    EXPECT_EQ(heard, (std::vector<std::string>{"USER _ANTI_VIRUS\r\n", "PASS " + message + "\r\n", "STAT\r\n",
                                               "LIST\r\n", "RETR 1\r\n", "QUIT\r\n"}));
    EXPECT_EQ(Slurp(message), "Subject: x\r\n\r\ncleaned\r\n..dotted\r\n");
    EXPECT_FALSE(std::filesystem::exists(message + ".bak"));
}

TEST_F(VirusScanTest, FailuresLeaveTheMessageAlone) {
    const std::string original = Slurp(message);
    // Nobody listening: a port of the test port allocator.
    settings.GatePort = quorvex::testing::TakeTestPort();
    ASSERT_GT(settings.GatePort, 0);
    ScanMailForViruses(message, settings, kQuick);
    EXPECT_EQ(Slurp(message), original);
    // A refused login, and a text cut off before its end line.
    for (const std::string reply : {"-ERR no\r\n", "+OK\r\n"}) {
        LoopbackPeer proxy([&](int fd) {
            LoopbackPeer::Send(fd, "+OK ready\r\n");
            std::string line;
            LoopbackPeer::ReadLine(fd, line);
            LoopbackPeer::Send(fd, reply);
            while (LoopbackPeer::ReadLine(fd, line)) {
                if (line.rfind("RETR", 0) == 0) {
                    LoopbackPeer::Send(fd, "+OK\r\npartial text\r\n");
                    return;
                }
                LoopbackPeer::Send(fd, line.rfind("LIST", 0) == 0 ? "+OK\r\n1 20\r\n.\r\n" : "+OK\r\n");
            }
        });
        settings.GatePort = proxy.port();
        ScanMailForViruses(message, settings, kQuick);
        proxy.Join();
        EXPECT_EQ(Slurp(message), original);
        EXPECT_FALSE(std::filesystem::exists(message + ".bak"));
    }
}

std::string Header(std::uint32_t length, std::uint32_t command, std::uint32_t sequence) {
    std::uint32_t words[3] = {htonl(length), htonl(command), htonl(sequence)};
    return std::string(reinterpret_cast<const char*>(words), sizeof words);
}

std::uint32_t Word(const std::string& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + offset, 4);
    return ntohl(value);
}

class SmsNoticeTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetTellarinLibraryPath(std::string(QUORVEX_BINARY_DIR) + "/smsgate/libTellarin.so");
        settings.ShortMessageIP = "127.0.0.1";
        settings.ShortMessageID = "901234";
        settings.ShortMessageUserName = "sp";
        settings.ShortMessagePassword = "secret";
    }
    CServerSettings settings;
};

// A gateway that takes the login with `status` and answers a submission
// with `reply_command` (and Result `result`).
struct GatewayScript {
    unsigned char status = 0;
    std::uint32_t reply_command = 0x80000004;
    unsigned char result = 0;
};

TEST_F(SmsNoticeTest, GatewayDialogues) {
    struct Case {
        std::string name;
        GatewayScript script;
        bool sent;
        bool submitted;
    };
    const std::vector<Case> cases = {
        {"accepted", {}, true, true},
        {"login refused", {3, 0x80000004, 0}, false, false},
        {"answered with something else", {0, 0x80000008, 0}, false, true},
        {"submission refused", {0, 0x80000004, 8}, false, true},
    };
    const std::string text = "[Email] Subject: hi From: a@b";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string connect, submit;
        LoopbackPeer gateway([&](int fd) {
            if (!LoopbackPeer::ReadExactly(fd, connect, 39)) return;
            std::string resp = Header(30, 0x80000001, Word(connect, 8));
            resp += static_cast<char>(c.script.status);
            resp += std::string(16, '\0') + '\x20';
            LoopbackPeer::Send(fd, resp);
            std::string head;
            if (!LoopbackPeer::ReadExactly(fd, head, 12)) return;
            std::string body;
            if (!LoopbackPeer::ReadExactly(fd, body, Word(head, 0) - 12)) return;
            submit = head + body;
            std::string answer = Header(21, c.script.reply_command, Word(head, 8)) + std::string(8, '\1');
            answer += static_cast<char>(c.script.result);
            LoopbackPeer::Send(fd, answer);
        });
        settings.ShortMessagePort = gateway.port();
        EXPECT_EQ(SendSmsNotice(settings, "13800000000", text), c.sent);
        gateway.Join();
        ASSERT_EQ(connect.size(), 39u);
        EXPECT_EQ(Word(connect, 0), 39u);
        EXPECT_EQ(Word(connect, 4), 1u);
        EXPECT_EQ(connect.substr(12, 6), "901234");
        EXPECT_EQ(connect[12 + 6 + 16], '\x20');
        EXPECT_EQ(submit.empty(), !c.submitted);
        if (submit.empty()) continue;
        const std::string body = submit.substr(12);
        EXPECT_EQ(Word(submit, 4), 4u);
        EXPECT_EQ(body[10], 0);                         // no status report
        EXPECT_EQ(body[11], 5);                         // message level
        EXPECT_EQ(body.substr(12, 4), "9999");          // service id
        EXPECT_EQ(body[46], 15);                        // message format
        EXPECT_EQ(body.substr(95, 5), "09876");         // source number
        EXPECT_EQ(body[116], 1);                        // one destination
        EXPECT_EQ(body.substr(117, 11), "13800000000");
        EXPECT_EQ(static_cast<unsigned char>(body[138]), text.size());
        EXPECT_EQ(body.substr(139, text.size()), text);
    }
}

TEST_F(SmsNoticeTest, EmptyNumberContactsNobody) {
    // A gateway listening where the settings point: a notice without a
    // number must not connect to it.
    const int port = testing::TakeTestPort();
    UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    ASSERT_TRUE(listener.valid());
    const int on = 1;
    ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener.get(), 4), 0);
    settings.ShortMessagePort = port;

    EXPECT_FALSE(SendSmsNotice(settings, "", "text"));
    // A connect completes before it returns, so an attempt would already
    // wait in the backlog.
    const UniqueFd attempt(::accept(listener.get(), nullptr, nullptr));
    EXPECT_FALSE(attempt.valid()) << "the notice connected to the gateway";
}

}  // namespace
}  // namespace quorvex
