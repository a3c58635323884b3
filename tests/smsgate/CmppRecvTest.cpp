// Reading the gateway's PDUs: well-formed replies land whole in the caller's
// 225-byte buffer, and short, oversized, inconsistent or unexpected ones are
// refused without a byte written past what the header allowed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ClientConnection.h"
#include "CmppGatewaySimulator.h"
#include "smsgate/Tellarin.h"

namespace quorvex::testing {
namespace {

constexpr unsigned char kUntouched = 0xEE;

Bytes Cut(Bytes bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

Bytes WithTotalLength(Bytes pdu, std::uint32_t total) {
    for (int i = 0; i < 4; ++i) pdu[i] = static_cast<unsigned char>(total >> (24 - 8 * i));
    return pdu;
}

TEST(CmppRecvTest, RepliesAreReadWholeOrRefusedWithinTheBuffer) {
    const Bytes msg_id{9, 8, 7, 6, 5, 4, 3, 2};
    const Bytes deliver = Pdu(0x00000005, 7, DeliverBody(msg_id, "13800138000", "hello"));
    const Bytes deliver_full = Pdu(0x00000005, 7, DeliverBody(msg_id, "13800138000", std::string(140, 'c')));
    const Bytes deliver_oversized = Pdu(0x00000005, 7, DeliverBody(msg_id, "13800138000", std::string(141, 'c')));
    Bytes deliver_lying = deliver;
    deliver_lying[12 + 64] = 200;  // Msg_Length claims more than the PDU holds

    const struct {
        const char* name;
        Bytes reply;
        int expected;
        std::size_t written;  // bytes of `reply` that must be in the buffer
    } cases[] = {
        {"SUBMIT_RESP accepted", SubmitResp(3, msg_id, 0), 0, 21},
        {"SUBMIT_RESP refused", SubmitResp(3, msg_id, 8), 8, 21},
        {"ACTIVE_TEST is a bare header", Pdu(0x00000008, 3, {}), 0, 12},
        {"ACTIVE_TEST_RESP with its reserved byte", Pdu(0x80000008, 3, {0}), 0, 13},
        {"DELIVER", deliver, 0, deliver.size()},
        {"DELIVER filling the buffer", deliver_full, 0, 225},
        {"DELIVER beyond the buffer", deliver_oversized, CMPP_E_UNEXPECTED, 12},
        {"DELIVER whose Msg_Length disagrees", deliver_lying, CMPP_E_UNEXPECTED, deliver.size()},
        {"DELIVER shorter than its fixed part", WithTotalLength(Cut(deliver, 60), 60), CMPP_E_UNEXPECTED, 12},
        {"SUBMIT_RESP too short", WithTotalLength(Cut(SubmitResp(3, msg_id, 0), 20), 20), CMPP_E_UNEXPECTED, 12},
        {"SUBMIT_RESP too long", Pdu(0x80000004, 3, Bytes(12, 0)), CMPP_E_UNEXPECTED, 12},
        {"Total_Length below the header", WithTotalLength(SubmitResp(3, msg_id, 0), 11), CMPP_E_UNEXPECTED, 12},
        {"Total_Length 0xFFFFFFFF", WithTotalLength(SubmitResp(3, msg_id, 0), 0xFFFFFFFF), CMPP_E_UNEXPECTED, 12},
        {"TERMINATE is not expected", Pdu(0x00000002, 3, {}), CMPP_E_UNEXPECTED, 12},
        {"CONNECT_RESP is not expected", ConnectResp(3, 0), CMPP_E_UNEXPECTED, 12},
        {"5 bytes then hang-up", Cut(SubmitResp(3, msg_id, 0), 5), CMPP_E_PEER_CLOSED, 5},
        {"body cut short", Cut(SubmitResp(3, msg_id, 0), 16), CMPP_E_PEER_CLOSED, 16},
        {"hang-up at once", {}, CMPP_E_PEER_CLOSED, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CmppGatewaySimulator gateway([&c](GatewayPeer& peer) {
            if (!c.reply.empty()) peer.Send(c.reply);
        });
        ClientConnection client;
        ASSERT_EQ(client.Connect(gateway.port()), 0);

        std::vector<unsigned char> buffer(CMPP_RECV_BUFFER_SIZE + 64, kUntouched);
        EXPECT_EQ(cmpp_recv(&client.handle, buffer.data()), c.expected);
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + c.written), Cut(c.reply, c.written));
        EXPECT_EQ(Bytes(buffer.begin() + c.written, buffer.end()), Bytes(buffer.size() - c.written, kUntouched));
    }
}

TEST(CmppRecvTest, ConsecutivePdusStayInStep) {
    const Bytes msg_id(8, 1);
    CmppGatewaySimulator gateway([&msg_id](GatewayPeer& peer) {
        Bytes burst = Pdu(0x00000008, 1, {});
        for (const Bytes& next : {Pdu(0x80000008, 2, {0}), SubmitResp(3, msg_id, 0)})
            burst.insert(burst.end(), next.begin(), next.end());
        peer.Send(burst);
        peer.WaitForClientClose();
    });
    ClientConnection client;
    ASSERT_EQ(client.Connect(gateway.port()), 0);
    unsigned char buffer[CMPP_RECV_BUFFER_SIZE];
    for (const std::uint32_t expected_sequence : {1u, 2u, 3u}) {
        ASSERT_EQ(cmpp_recv(&client.handle, buffer), 0);
        EXPECT_EQ(U32At(Bytes(buffer, buffer + 12), 8), expected_sequence);
    }
}

}  // namespace
}  // namespace quorvex::testing
