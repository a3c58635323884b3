// A whole client session against the test gateway: login, the notice's
// SUBMIT, a status report DELIVER, keep-alives both ways and TERMINATE, with
// every Sequence_Id checked; and the handle's connect and disconnect rules.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "ClientConnection.h"
#include "CmppGatewaySimulator.h"
#include "smsgate/Tellarin.h"
#include "tests/support/TestPorts.h"

namespace quorvex::testing {
namespace {

constexpr std::uint32_t kDeliverSequence = 0x01020304;
constexpr std::uint32_t kGatewayActiveTestSequence = 0x0A0B0C0D;

std::uint32_t CommandOf(const Bytes& pdu) { return U32At(pdu, 4); }
std::uint32_t SequenceOf(const Bytes& pdu) { return U32At(pdu, 8); }

TEST(CmppDialogueTest, FullSessionKeepsSequencesAndAnswersInStep) {
    const Bytes msg_id{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    CmppGatewaySimulator gateway([&msg_id](GatewayPeer& peer) {
        const auto connect = peer.ReadPdu();
        if (!connect) return;
        peer.Send(ConnectResp(SequenceOf(*connect), 0));
        const auto submit = peer.ReadPdu();
        if (!submit) return;
        peer.Send(SubmitResp(SequenceOf(*submit), msg_id, 0));
        peer.Send(Pdu(0x00000005, kDeliverSequence, DeliverBody(msg_id, "13800138000", "DELIVRD")));
        if (!peer.ReadPdu()) return;  // DELIVER_RESP
        peer.Send(Pdu(0x00000008, kGatewayActiveTestSequence, {}));
        if (!peer.ReadPdu()) return;  // ACTIVE_TEST_RESP
        const auto active_test = peer.ReadPdu();
        if (!active_test) return;
        peer.Send(Pdu(0x80000008, SequenceOf(*active_test), {0}));
        peer.ReadPdu();  // TERMINATE
        peer.WaitForClientClose();
    });

    ClientConnection client;
    ASSERT_EQ(client.Connect(gateway.port()), 0);
    client.handle.sequence_id = 0x7FFFFFFF;  // CONNECT alone takes it modulo 0x7FFFFFFF

    CmppLoginRecord login;
    ASSERT_EQ(cmpp_login_value_set(&login, "901234", "901234", "secret", 0x20), 0);
    ASSERT_EQ(cmpp_login(&client.handle, &login), 0);

    CmppSubmitRecord record;
    ASSERT_EQ(cmpp_submit_sm_init(&record), 0);
    ASSERT_EQ(cmpp_submit_sm_set_dstaddr(&record, "13800138000", 11), 0);
    ASSERT_EQ(cmpp_submit_sm_set_shortmsg(&record, reinterpret_cast<const unsigned char*>("hi"), 2), 0);
    ASSERT_EQ(cmpp_submit(&client.handle, &record), 0);

    unsigned char buffer[CMPP_RECV_BUFFER_SIZE];
    ASSERT_EQ(cmpp_recv(&client.handle, buffer), 0);
    EXPECT_EQ(CommandOf(Bytes(buffer, buffer + 12)), 0x80000004u);

    ASSERT_EQ(cmpp_recv(&client.handle, buffer), 0);
    ASSERT_EQ(CommandOf(Bytes(buffer, buffer + 12)), 0x00000005u);
    std::uint32_t raw_sequence;
    std::memcpy(&raw_sequence, buffer + 8, sizeof raw_sequence);
    ASSERT_EQ(cmpp_deliver_resp(&client.handle, raw_sequence, buffer + 12, 0), 0);

    ASSERT_EQ(cmpp_recv(&client.handle, buffer), 0);
    ASSERT_EQ(CommandOf(Bytes(buffer, buffer + 12)), 0x00000008u);
    ASSERT_EQ(cmpp_active_test_resp(&client.handle, kGatewayActiveTestSequence), 0);

    ASSERT_EQ(cmpp_active_test(&client.handle), 0);
    ASSERT_EQ(cmpp_recv(&client.handle, buffer), 0);
    EXPECT_EQ(CommandOf(Bytes(buffer, buffer + 12)), 0x80000008u);

    ASSERT_EQ(cmpp_logout(&client.handle), 0);
    ASSERT_EQ(cmpp_disconnect_from_ismg(&client.handle), 0);
    gateway.Join();

    Bytes deliver_resp_body = msg_id;
    deliver_resp_body.push_back(0);
    const Bytes expected_tail[] = {
        Pdu(0x80000005, kDeliverSequence, deliver_resp_body),
        Pdu(0x80000008, kGatewayActiveTestSequence, {}),
        Pdu(0x00000008, 0x80000001, {}),
        Pdu(0x00000002, 0x80000002, {}),
    };
    const auto& received = gateway.received();
    ASSERT_EQ(received.size(), 6u);
    EXPECT_EQ(CommandOf(received[0]), 0x00000001u);
    EXPECT_EQ(SequenceOf(received[0]), 0u);
    EXPECT_EQ(CommandOf(received[1]), 0x00000004u);
    EXPECT_EQ(SequenceOf(received[1]), 0x80000000u);
    for (std::size_t i = 0; i < std::size(expected_tail); ++i) EXPECT_EQ(received[2 + i], expected_tail[i]) << i;
}

TEST(CmppDialogueTest, DisconnectForgetsTheSocket) {
    CmppGatewaySimulator gateway([](GatewayPeer& peer) { peer.WaitForClientClose(); });
    ClientConnection client;
    ASSERT_EQ(client.Connect(gateway.port()), 0);
    ASSERT_NE(client.handle.socket, 0u);
    ASSERT_EQ(cmpp_disconnect_from_ismg(&client.handle), 0);
    EXPECT_EQ(client.handle.socket, 0u);
    gateway.Join();

    CmppSubmitRecord record;
    ASSERT_EQ(cmpp_submit_sm_init(&record), 0);
    unsigned char buffer[CMPP_RECV_BUFFER_SIZE];
    const unsigned char msg_id[8] = {};
    EXPECT_EQ(cmpp_disconnect_from_ismg(&client.handle), CMPP_E_NO_SOCKET);
    EXPECT_EQ(cmpp_submit(&client.handle, &record), CMPP_E_NO_SOCKET);
    EXPECT_EQ(cmpp_recv(&client.handle, buffer), CMPP_E_NO_SOCKET);
    EXPECT_EQ(cmpp_active_test(&client.handle), CMPP_E_NO_SOCKET);
    EXPECT_EQ(cmpp_active_test_resp(&client.handle, 1), CMPP_E_NO_SOCKET);
    EXPECT_EQ(cmpp_deliver_resp(&client.handle, 1, msg_id, 0), CMPP_E_NO_SOCKET);
    EXPECT_EQ(cmpp_logout(&client.handle), CMPP_E_NO_SOCKET);
    EXPECT_EQ(cmpp_cancel(&client.handle, msg_id), 0);
    EXPECT_EQ(cmpp_cancel(&client.handle, nullptr), CMPP_E_MISSING_ARGUMENT);
}

TEST(CmppDialogueTest, ReconnectClosesThePreviousConnection) {
    CmppGatewaySimulator first([](GatewayPeer& peer) { EXPECT_TRUE(peer.WaitForClientClose()); });
    CmppGatewaySimulator second([](GatewayPeer& peer) { peer.WaitForClientClose(); });
    ClientConnection client;
    ASSERT_EQ(client.Connect(first.port()), 0);
    ASSERT_EQ(client.Connect(second.port()), 0);
    first.Join();
    EXPECT_TRUE(first.accepted());
}

TEST(CmppDialogueTest, ConnectFailures) {
    // A bound socket that does not listen, at a port of the test port
    // allocator: connecting to it is refused.
    const int port = TakeTestPort();
    ASSERT_GT(port, 0);
    const UniqueFd bound(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(bound.valid());
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    ASSERT_EQ(::bind(bound.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const auto refused_port = static_cast<unsigned short>(port);

    CmppHandle handle{};
    const struct {
        const char* name;
        const char* address;
        unsigned short port;
        CmppHandle* handle;
        int expected;
    } cases[] = {
        {"refused", "127.0.0.1", refused_port, &handle, CMPP_E_CONNECT},
        {"host name (no lookup)", "localhost", refused_port, &handle, CMPP_E_CONNECT},
        {"not an address", "127.0.0.1.5", refused_port, &handle, CMPP_E_CONNECT},
        {"empty address", "", refused_port, &handle, CMPP_E_NO_BUFFER},
        {"no address", nullptr, refused_port, &handle, CMPP_E_NO_BUFFER},
        {"port 0", "127.0.0.1", 0, &handle, CMPP_E_MISSING_ARGUMENT},
        {"no handle", "127.0.0.1", refused_port, nullptr, CMPP_E_MISSING_ARGUMENT},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cmpp_connect_to_ismg(c.address, c.port, c.handle), c.expected) << c.name;
        EXPECT_EQ(handle.socket, 0u) << c.name;
    }
}

}  // namespace
}  // namespace quorvex::testing
