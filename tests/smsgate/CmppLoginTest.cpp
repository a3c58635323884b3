// Login against the test gateway: the exact CONNECT bytes with an
// authenticator checked against OpenSSL's MD5, and the client's answer to
// refusals, closed connections and hostile CONNECT_RESPs.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <ctime>
#include <string>

#include "ClientConnection.h"
#include "CmppGatewaySimulator.h"
#include "smsgate/Tellarin.h"
#include "smsgate/detail/Authenticator.h"

namespace quorvex::testing {
namespace {

Bytes OpenSslMd5(const Bytes& input) {
    Bytes digest(16);
    unsigned int size = 0;
    EXPECT_EQ(EVP_Digest(input.data(), input.size(), digest.data(), &size, EVP_md5(), nullptr), 1);
    return digest;
}

std::string LocalStamp(std::time_t when) {
    std::tm local{};
    ::localtime_r(&when, &local);
    char text[11];
    std::strftime(text, sizeof text, "%m%d%H%M%S", &local);
    return text;
}

// Reads the client's CONNECT, then sends `reply` and hangs up.
CmppGatewaySimulator::Script AnswerConnect(Bytes reply) {
    return [reply](GatewayPeer& peer) {
        if (peer.ReadPdu() && !reply.empty()) peer.Send(reply);
    };
}

TEST(CmppLoginTest, ConnectCarriesTheRecordAndTheStandardAuthenticator) {
    CmppGatewaySimulator gateway([](GatewayPeer& peer) {
        if (const auto connect = peer.ReadPdu()) peer.Send(ConnectResp(U32At(*connect, 8), 0));
    });
    ClientConnection client;
    ASSERT_EQ(client.Connect(gateway.port()), 0);

    CmppLoginRecord login;
    const std::time_t before = std::time(nullptr);
    ASSERT_EQ(cmpp_login_value_set(&login, "901234", "901234", "s3cret", 0x20), 0);
    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(cmpp_login(&client.handle, &login), 0);
    gateway.Join();

    ASSERT_EQ(gateway.received().size(), 1u);
    const Bytes& connect = gateway.received()[0];
    ASSERT_EQ(connect.size(), 39u);
    EXPECT_EQ(U32At(connect, 0), 39u);
    EXPECT_EQ(U32At(connect, 4), 0x00000001u);
    EXPECT_EQ(U32At(connect, 8), 0u);
    EXPECT_EQ(0, std::memcmp(connect.data() + 12, &login, sizeof login));
    EXPECT_EQ(Bytes(connect.begin() + 12, connect.begin() + 18), Field("901234", 6));
    EXPECT_EQ(connect[34], 0x20);

    // The timestamp is the local time of the call, sent as a number.
    char stamp[16];
    std::snprintf(stamp, sizeof stamp, "%010u", U32At(connect, 35));
    bool stamp_in_window = false;
    for (std::time_t t = before; t <= after; ++t) stamp_in_window |= LocalStamp(t) == stamp;
    EXPECT_TRUE(stamp_in_window) << stamp;

    // Source_Addr, 9 zero bytes, the secret, the timestamp text.
    Bytes input = Field("901234", 6 + 9);
    for (const std::string& part : {std::string("s3cret"), std::string(stamp)})
        input.insert(input.end(), part.begin(), part.end());
    EXPECT_EQ(Bytes(connect.begin() + 18, connect.begin() + 34), OpenSslMd5(input));
}

TEST(CmppLoginTest, RefusedAndHostileRepliesFailTheLogin) {
    const Bytes kCmpp3ConnectResp = Pdu(0x80000001, 0, Bytes(21, 0));  // 4-byte Status: 33 bytes
    Bytes short_header = ConnectResp(0, 0);
    short_header.resize(5);
    Bytes cut_body = ConnectResp(0, 0);
    cut_body.resize(20);
    Bytes tiny_length = ConnectResp(0, 0);
    tiny_length[3] = 8;
    Bytes huge_length = ConnectResp(0, 0);
    std::fill(huge_length.begin(), huge_length.begin() + 4, 0xFF);

    const struct {
        const char* name;
        Bytes reply;
        int expected;
    } cases[] = {
        {"status 3 (authentication failed)", ConnectResp(0, 3), 3},
        {"status 255", ConnectResp(0, 255), 255},
        {"gateway hangs up", {}, CMPP_E_PEER_CLOSED},
        {"5 bytes then hang-up", short_header, CMPP_E_PEER_CLOSED},
        {"body cut short", cut_body, CMPP_E_PEER_CLOSED},
        {"SUBMIT_RESP instead", SubmitResp(0, Bytes(8, 0), 0), CMPP_E_UNEXPECTED},
        {"CMPP 3.0 sized reply", kCmpp3ConnectResp, CMPP_E_UNEXPECTED},
        {"Total_Length below the header", tiny_length, CMPP_E_UNEXPECTED},
        {"Total_Length 0xFFFFFFFF", huge_length, CMPP_E_UNEXPECTED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CmppGatewaySimulator gateway(AnswerConnect(c.reply));
        ClientConnection client;
        ASSERT_EQ(client.Connect(gateway.port()), 0);
        CmppLoginRecord login;
        ASSERT_EQ(cmpp_login_value_set(&login, "901234", "901234", "pw", 0x20), 0);
        EXPECT_EQ(cmpp_login(&client.handle, &login), c.expected);
    }
}

TEST(CmppLoginTest, AuthenticatorInputLayout) {
    const std::string zeros9(9, '\0');  // a six-character name is checked on the wire above
    const std::string long_name(150, 'n');
    const struct {
        const char* name;
        std::string login_name;
        std::string secret;
        std::string expected;
    } cases[] = {
        {"short name is padded", "abc", "pw", std::string("abc\0\0\0", 6) + zeros9 + "pw" + "1231235959"},
        {"longer name widens the gap", "abcdefghij", "pw", "abcdef" + std::string(13, '\0') + "pw" + "1231235959"},
        {"name counts up to 100", long_name, "pw", "nnnnnn" + std::string(103, '\0') + "pw" + "1231235959"},
        {"secret cut at 100", "901234", std::string(120, 's'),
         "901234" + zeros9 + std::string(100, 's') + "1231235959"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(smsgate::BuildAuthenticatorInput(c.login_name, c.secret, "1231235959"), c.expected);
    }
}

}  // namespace
}  // namespace quorvex::testing
