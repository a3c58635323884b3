// The gateway-side exports, driven over a socket pair by hand-built PDUs:
// the CONNECT_RESP and SUBMIT_RESP bytes they answer with and their refusal
// of malformed input.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "CmppGatewaySimulator.h"
#include "smsgate/Tellarin.h"

namespace quorvex::testing {
namespace {

constexpr unsigned char kUntouched = 0xEE;

// Two connected stream sockets: `gateway` for the export under test, `client`
// for the test's side of the conversation.
struct SocketPair {
    int gateway = -1;
    int client = -1;
    SocketPair() {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0) {
            gateway = fds[0];
            client = fds[1];
        }
    }
    ~SocketPair() {
        if (gateway >= 0) ::close(gateway);
        if (client >= 0) ::close(client);
    }
    SocketPair(const SocketPair&) = delete;
    SocketPair& operator=(const SocketPair&) = delete;
};

Bytes ConnectBody(const std::string& source, unsigned char version) {
    Bytes body = Field(source, 6);
    body.resize(22, 0x5A);  // AuthenticatorSource: not checked by this side
    body.push_back(version);
    AppendU32(body, 1209153000);
    return body;
}

Bytes ConnectRespAnswer(std::uint32_t sequence, unsigned char status) {
    Bytes body{status};
    body.resize(17, 0);
    body.push_back(0x20);
    return Pdu(0x80000001, sequence, body);
}

Bytes SubmitBody(const std::string& content, std::size_t claimed_length) {
    Bytes body(138, 0);
    body.push_back(static_cast<unsigned char>(claimed_length));
    body.insert(body.end(), content.begin(), content.end());
    body.resize(body.size() + 8, 0);
    return body;
}

Bytes HostOrderHeader(std::uint32_t total, std::uint32_t command, std::uint32_t sequence) {
    Bytes header(12);
    const std::uint32_t fields[] = {total, command, sequence};
    std::memcpy(header.data(), fields, sizeof fields);
    return header;
}

TEST(CmppGatewaySideTest, WaitForLoginAnswersEachKindOfRequest) {
    const struct {
        const char* name;
        Bytes request;
        int expected;
        Bytes answer;
        const char* source;
    } cases[] = {
        {"CMPP 2.0 login", Pdu(1, 77, ConnectBody("901234", 0x20)), 0, ConnectRespAnswer(77, 0), "901234"},
        {"older version", Pdu(1, 78, ConnectBody("555", 0x12)), 0, ConnectRespAnswer(78, 0), "555"},
        {"version above 2.0", Pdu(1, 79, ConnectBody("901234", 0x30)), CMPP_E_VERSION, ConnectRespAnswer(79, 4),
         "901234"},
        {"ACTIVE_TEST instead", Pdu(8, 80, {}), CMPP_E_UNEXPECTED, ConnectRespAnswer(80, 5), ""},
        {"CONNECT of the wrong length", Pdu(1, 81, Bytes(40, 0)), CMPP_E_UNEXPECTED, ConnectRespAnswer(81, 5), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SocketPair pair;
        GatewayPeer client(pair.client);
        ASSERT_TRUE(client.Send(c.request));
        unsigned char source[6];
        std::memset(source, kUntouched, sizeof source);
        EXPECT_EQ(cmpp_waitfor_login(pair.gateway, source), c.expected);
        const auto answer = client.ReadPdu();
        ASSERT_TRUE(answer.has_value());
        EXPECT_EQ(*answer, c.answer);
        if (*c.source != '\0') {
            EXPECT_EQ(Bytes(source, source + 6), Field(c.source, 6));
        }
    }
    SocketPair closed;
    ::close(std::exchange(closed.client, -1));
    unsigned char source[6];
    EXPECT_EQ(cmpp_waitfor_login(closed.gateway, source), CMPP_E_PEER_CLOSED);
    EXPECT_EQ(cmpp_waitfor_login(0, source), CMPP_E_NO_SOCKET);
    EXPECT_EQ(cmpp_waitfor_login(closed.gateway, nullptr), CMPP_E_MISSING_ARGUMENT);
}

TEST(CmppGatewaySideTest, RecvIcpReadsAndAnswersWithinItsBuffer) {
    const std::string content(140, 'q');
    Bytes oversized = Pdu(4, 5, SubmitBody(content + "!", 141));
    const struct {
        const char* name;
        Bytes request;
        int expected;
        std::size_t written;       // bytes written into the buffer
        std::optional<Bytes> answer;
    } cases[] = {
        {"SUBMIT", Pdu(4, 5, SubmitBody("hello", 5)), 0, 164, SubmitResp(5, Bytes(8, 0), 0)},
        {"longest SUBMIT", Pdu(4, 5, SubmitBody(content, 140)), 0, 299, SubmitResp(5, Bytes(8, 0), 0)},
        {"SUBMIT whose Msg_Length disagrees", Pdu(4, 5, SubmitBody("hello", 9)), CMPP_E_UNEXPECTED, 164,
         SubmitResp(5, Bytes(8, 0), 1)},
        {"SUBMIT beyond the buffer", oversized, CMPP_E_UNEXPECTED, 12, std::nullopt},
        {"ACTIVE_TEST", Pdu(8, 6, {}), 0, 12, std::nullopt},
        {"DELIVER_RESP", Pdu(0x80000005, 6, Bytes(9, 3)), 0, 21, std::nullopt},
        {"TERMINATE is answered as unknown", Pdu(2, 7, {}), CMPP_E_UNEXPECTED, 12, SubmitResp(7, Bytes(8, 0), 2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SocketPair pair;
        GatewayPeer client(pair.client);
        ASSERT_TRUE(client.Send(c.request));
        std::vector<unsigned char> buffer(CMPP_ICP_BUFFER_SIZE + 32, kUntouched);
        EXPECT_EQ(cmpp_recv_icp(pair.gateway, buffer.data()), c.expected);

        const Bytes request_header(c.request.begin(), c.request.begin() + 12);
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 12),
                  HostOrderHeader(U32At(request_header, 0), U32At(request_header, 4), U32At(request_header, 8)));
        EXPECT_EQ(Bytes(buffer.begin() + 12, buffer.begin() + c.written),
                  Bytes(c.request.begin() + 12, c.request.begin() + c.written));
        EXPECT_EQ(Bytes(buffer.begin() + c.written, buffer.end()), Bytes(buffer.size() - c.written, kUntouched));

        ::shutdown(pair.gateway, SHUT_WR);  // no answer shows as end of stream
        const auto answer = client.ReadPdu();
        EXPECT_EQ(answer, c.answer);
    }
}

TEST(CmppGatewaySideTest, SubmitRespAndDeliverBytes) {
    SocketPair pair;
    GatewayPeer client(pair.client);
    ASSERT_EQ(cmpp_submit_resp(pair.gateway, 0xDEADBEEF, 6), 0);
    EXPECT_EQ(client.ReadPdu(), SubmitResp(0xDEADBEEF, Bytes(8, 0), 6));

    CmppHandle handle{static_cast<std::uint32_t>(pair.gateway), 900};
    const Bytes body = DeliverBody(Bytes(8, 4), "13900000000", "reply text");
    ASSERT_EQ(cmpp_deliver(&handle, body.data()), 0);
    EXPECT_EQ(client.ReadPdu(), Pdu(5, 900, body));
    EXPECT_EQ(handle.sequence_id, 901u);

    ::close(std::exchange(pair.client, -1));
    EXPECT_EQ(cmpp_submit_resp(pair.gateway, 1, 0), CMPP_E_SUBMIT_RESP_SEND);
    EXPECT_EQ(cmpp_submit_resp(0, 1, 0), CMPP_E_NO_SOCKET);
    EXPECT_EQ(cmpp_deliver(&handle, nullptr), CMPP_E_MISSING_ARGUMENT);
}

}  // namespace
}  // namespace quorvex::testing
