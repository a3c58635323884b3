// Filling and sending a SUBMIT: the record's defaults and setters, the exact
// bytes the gateway receives for the notice the mail server sends, and the
// validity time's calendar arithmetic.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <ctime>
#include <string>

#include "ClientConnection.h"
#include "CmppGatewaySimulator.h"
#include "smsgate/Tellarin.h"
#include "smsgate/detail/CmppTime.h"

namespace quorvex::testing {
namespace {

template <std::size_t N>
std::string Text(const char (&field)[N]) {
    return std::string(field, N);
}

// The record the mail server's SMS notice prepares.
CmppSubmitRecord NoticeRecord(const std::string& destination, const std::string& text) {
    CmppSubmitRecord record;
    EXPECT_EQ(cmpp_submit_sm_init(&record), 0);
    EXPECT_EQ(cmpp_submit_sm_set_shortmsg(&record, reinterpret_cast<const unsigned char*>(text.data()),
                                          static_cast<unsigned>(text.size())),
              0);
    EXPECT_EQ(cmpp_submit_sm_set_msglevel(&record, 5), 0);
    EXPECT_EQ(cmpp_submit_sm_set_regdelivery(&record, 0), 0);
    EXPECT_EQ(cmpp_submit_sm_set_protoid(&record, 0, 0), 0);
    EXPECT_EQ(cmpp_submit_sm_set_msgformat(&record, 15), 0);
    EXPECT_EQ(cmpp_submit_sm_set_validate(&record, 10), 0);
    EXPECT_EQ(cmpp_submit_sm_set_srcaddr(&record, "09876", 5), 0);
    EXPECT_EQ(cmpp_submit_sm_set_dstaddr(&record, destination.c_str(), static_cast<unsigned>(destination.size())), 0);
    EXPECT_EQ(cmpp_submit_sm_set_svc_type(&record, "9999", 4), 0);
    return record;
}

// The SUBMIT body the protocol prescribes for that notice; ValId_Time is
// taken from what was sent and checked on its own.
Bytes ExpectedNoticeBody(const std::string& destination, const std::string& content, const Bytes& valid_time) {
    Bytes body(8, 0);                                  // Msg_Id
    const auto append = [&body](const Bytes& part) { body.insert(body.end(), part.begin(), part.end()); };
    append({1, 1, 0, 5});                              // Pk_total, Pk_number, Registered_Delivery, Msg_level
    append(Field("9999", 10));                         // Service_Id
    append({0});                                       // Fee_UserType
    append(Field("", 21));                             // Fee_terminal_Id
    append({0, 0, 15});                                // TP_pId, TP_udhi, Msg_Fmt
    append(Field("09876", 6));                         // Msg_src
    append(Field("02", 2));                            // FeeType
    append(Field("10", 6));                            // FeeCode
    append(valid_time);                                // ValId_Time
    append(Field("", 17));                             // At_Time
    append(Field("09876", 21));                        // Src_Id
    append({1});                                       // DestUsr_tl
    append(Field(destination, 21));                    // Dest_terminal_Id
    append({static_cast<unsigned char>(content.size())});
    append(Bytes(content.begin(), content.end()));
    append(Bytes(8, 0));                               // Reserve
    return body;
}

TEST(CmppSubmitTest, NoticeSubmissionOnTheWire) {
    const std::string destination = "13800138000";
    const std::string message_200(200, 'm');
    const struct {
        std::string text;
        std::size_t sent_length;
    } cases[] = {{"[Email] Subject: hi From: a@b.example", 37}, {std::string(140, 'x'), 140}, {message_200, 140}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sent_length);
        const Bytes msg_id{1, 2, 3, 4, 5, 6, 7, 8};
        CmppGatewaySimulator gateway([&msg_id](GatewayPeer& peer) {
            const auto submit = peer.ReadPdu();
            if (submit) peer.Send(SubmitResp(U32At(*submit, 8), msg_id, 0));
        });
        ClientConnection client;
        ASSERT_EQ(client.Connect(gateway.port()), 0);
        client.handle.sequence_id = 41;
        const CmppSubmitRecord record = NoticeRecord(destination, c.text);
        ASSERT_EQ(cmpp_submit(&client.handle, &record), 0);
        unsigned char reply[CMPP_RECV_BUFFER_SIZE] = {};
        ASSERT_EQ(cmpp_recv(&client.handle, reply), 0);
        gateway.Join();

        EXPECT_EQ(Bytes(reply, reply + 21), SubmitResp(41, msg_id, 0));
        ASSERT_EQ(gateway.received().size(), 1u);
        const Bytes& submit = gateway.received()[0];
        ASSERT_EQ(submit.size(), 159 + c.sent_length);
        EXPECT_EQ(U32At(submit, 0), 159 + c.sent_length);
        EXPECT_EQ(U32At(submit, 4), 0x00000004u);
        EXPECT_EQ(U32At(submit, 8), 41u);
        EXPECT_EQ(client.handle.sequence_id, 42u);
        const Bytes valid_time(submit.begin() + 12 + 61, submit.begin() + 12 + 78);
        EXPECT_EQ(Bytes(submit.begin() + 12, submit.end()),
                  ExpectedNoticeBody(destination, c.text.substr(0, c.sent_length), valid_time));
    }
}

TEST(CmppSubmitTest, SettersCutTextsToTheirFields) {
    CmppSubmitRecord record;
    ASSERT_EQ(cmpp_submit_sm_init(&record), 0);
    ASSERT_EQ(cmpp_submit_sm_set_svc_type(&record, "ABCDEFGHIJKL", 12), 0);
    ASSERT_EQ(cmpp_submit_sm_set_srcaddr(&record, "12345678", 8), 0);
    ASSERT_EQ(cmpp_submit_sm_set_dstaddr(&record, "1234567890123456789012345", 25), 0);
    EXPECT_EQ(Text(record.service_id), "ABCDEFGHIJ");
    EXPECT_EQ(Text(record.msg_src), "123456");
    EXPECT_EQ(Text(record.src_id), std::string("123456") + std::string(15, '\0'));
    EXPECT_EQ(Text(record.dest_terminal_id), "123456789012345678901");

    // A length beyond the text's end stops at its NUL; a shorter text
    // replaces a longer one whole.
    ASSERT_EQ(cmpp_submit_sm_set_dstaddr(&record, "139", 50), 0);
    EXPECT_EQ(Text(record.dest_terminal_id), std::string("139") + std::string(18, '\0'));
    ASSERT_EQ(cmpp_submit_sm_set_svc_type(&record, "", 0), 0);
    EXPECT_EQ(Text(record.service_id), std::string(10, '\0'));

    const unsigned char first[] = {'a', 'b', 'c'};
    ASSERT_EQ(cmpp_submit_sm_set_shortmsg(&record, first, 3), 0);
    const unsigned char binary[] = {0x00, 0x4E, 0x2D};  // UCS-2 content may hold zero bytes
    ASSERT_EQ(cmpp_submit_sm_set_shortmsg(&record, binary, 2), 0);
    EXPECT_EQ(record.msg_length, 2);
    EXPECT_EQ(Bytes(record.msg_content, record.msg_content + 4), (Bytes{0x00, 0x4E, 0, 0}));
}

TEST(CmppSubmitTest, RefusesMissingArguments) {
    const unsigned char byte = 'x';
    CmppSubmitRecord record;
    const struct {
        const char* name;
        int result;
    } cases[] = {
        {"svc_type without text", cmpp_submit_sm_set_svc_type(&record, nullptr, 3)},
        {"srcaddr empty", cmpp_submit_sm_set_srcaddr(&record, "1", 0)},
        {"dstaddr empty", cmpp_submit_sm_set_dstaddr(&record, "1", 0)},
        {"dstaddr without text", cmpp_submit_sm_set_dstaddr(&record, nullptr, 1)},
        {"shortmsg empty", cmpp_submit_sm_set_shortmsg(&record, &byte, 0)},
        {"shortmsg without bytes", cmpp_submit_sm_set_shortmsg(&record, nullptr, 1)},
        {"setter without record", cmpp_submit_sm_set_msglevel(nullptr, 1)},
    };
    for (const auto& c : cases) EXPECT_EQ(c.result, CMPP_E_MISSING_ARGUMENT) << c.name;

    // A hand-filled record cannot make the library send past its content.
    ASSERT_EQ(cmpp_submit_sm_init(&record), 0);
    record.msg_length = 141;
    CmppHandle handle{};
    handle.socket = 1;  // never used: the record is refused first
    EXPECT_EQ(cmpp_submit(&handle, &record), CMPP_E_MISSING_ARGUMENT);
    handle.socket = 0;
    record.msg_length = 1;
    EXPECT_EQ(cmpp_submit(&handle, &record), CMPP_E_NO_SOCKET);
}

TEST(CmppSubmitTest, ValidityTimeCarriesThroughTheCalendar) {
    using smsgate::FormatValidityTime;
    const struct {
        smsgate::LocalDateTime now;
        unsigned minutes;
        const char* expected;
    } cases[] = {
        {{2026, 1, 31, 23, 55, 0}, 10, "260201000500032+"},
        {{2026, 4, 30, 23, 55, 7}, 10, "260501000507032+"},
        {{2026, 12, 31, 23, 59, 30}, 1, "270101000030032+"},
        {{2024, 2, 28, 23, 50, 0}, 15, "240229000500032+"},
        {{2026, 2, 28, 23, 50, 0}, 15, "260301000500032+"},
        {{2026, 6, 15, 8, 5, 9}, 0, "260615080509032+"},
        {{2026, 6, 15, 8, 5, 9}, 60 * 24 * 366, "270616080509032+"},
    };
    for (const auto& c : cases) EXPECT_STREQ(FormatValidityTime(c.now, c.minutes).data(), c.expected) << c.expected;
}

TEST(CmppSubmitTest, ValidateUsesTheLocalClock) {
    CmppSubmitRecord record;
    ASSERT_EQ(cmpp_submit_sm_init(&record), 0);
    const std::time_t before = std::time(nullptr);
    ASSERT_EQ(cmpp_submit_sm_set_validate(&record, 10), 0);
    const std::time_t after = std::time(nullptr);

    bool matched = false;
    for (std::time_t t = before; t <= after; ++t) {
        // Ten minutes on the wall clock: local fields moved on as if in UTC.
        std::tm local{};
        ::localtime_r(&t, &local);
        const std::time_t until = ::timegm(&local) + 600;
        ::gmtime_r(&until, &local);
        char expected[17];
        std::strftime(expected, sizeof expected, "%y%m%d%H%M%S", &local);
        matched |= std::string(record.valid_time, 12) == expected;
    }
    EXPECT_TRUE(matched) << std::string(record.valid_time, 16);
    EXPECT_EQ(std::string(record.valid_time + 12, 5), std::string("032+\0", 5));
}

}  // namespace
}  // namespace quorvex::testing
