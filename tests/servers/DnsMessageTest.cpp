// The DNS query bytes and the bounded reply reader, on hand-made and
// hostile replies, plus a fuzz loop over mutated real replies.
#include "servers/dns/DnsMessage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

namespace quorvex::dns {
namespace {

std::string U16(int v) { return {static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)}; }

std::string Header(int id, int qd, int an, int ns, int ar = 0) {
    return U16(id) + U16(0x8180) + U16(qd) + U16(an) + U16(ns) + U16(ar);
}

std::string Name(std::string_view dotted) { return *EncodeName(dotted); }

// A record with owner, type and data (class IN, TTL 300).
std::string Record(const std::string& owner, int type, const std::string& data) {
    return owner + U16(type) + U16(kClassIn) + U16(0) + U16(300) + U16(static_cast<int>(data.size())) + data;
}

std::string Mx(int preference, const std::string& exchange) { return U16(preference) + exchange; }

const std::string kQuestion = Name("example.org") + U16(kTypeMx) + U16(kClassIn);
// A pointer to the question's name at offset 12.
const std::string kPtr = "\xC0\x0C";

std::string TwoMxReply() {
    return Header(1, 1, 2, 0) + kQuestion + Record(kPtr, kTypeMx, Mx(20, Name("mx1.example.org"))) +
           Record(kPtr, kTypeMx, Mx(10, "\x03mx2" + kPtr));
}

TEST(DnsMessageTest, QueryBytes) {
    const auto query = BuildMxQuery(0xBEF0, "mail.example.org");
    ASSERT_TRUE(query);
    EXPECT_EQ(*query, std::string("\xBE\xF0\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00", 12) +
                          "\x04mail\x07" "example\x03org" + std::string("\0\0\x0F\0\x01", 5));
    EXPECT_FALSE(BuildMxQuery(1, ""));
    EXPECT_FALSE(BuildMxQuery(1, std::string(64, 'a') + ".org"));  // a label longer than 63 bytes
    // A fully qualified name asks the same question; empty labels are refused.
    EXPECT_EQ(BuildMxQuery(0xBEF0, "mail.example.org."), query);
    EXPECT_FALSE(BuildMxQuery(1, "a..org"));
    EXPECT_FALSE(BuildMxQuery(1, ".org"));
    EXPECT_FALSE(BuildMxQuery(1, "."));
}

TEST(DnsMessageTest, ReadNameCases) {
    struct Case {
        std::string name;
        std::string message;
        std::size_t position;
        std::optional<std::size_t> occupied;
        std::string text;
    };
    const std::string base = std::string(12, '\0') + "\x03" "abc\x03org" + std::string(1, '\0');  // name at 12
    const Case cases[] = {
        {"plain", base, 12, 9, "abc.org"},
        {"pointer after a label", base + "\x02mx\xC0\x0C", 21, 5, "mx.abc.org"},
        {"pointer only", base + "\xC0\x0C", 21, 2, "abc.org"},
        {"dot inside a label", std::string(12, '\0') + "\x03" "a.b" + std::string(1, '\0'), 12, 5, "a\\.b"},
        {"root name", std::string(12, '\0') + std::string(1, '\0'), 12, 1, ""},
        {"pointer to itself", std::string(12, '\0') + "\xC0\x0C", 12, std::nullopt, ""},
        {"two pointers in a loop", std::string(12, '\0') + "\xC0\x0E\xC0\x0C", 12, std::nullopt, ""},
        {"pointer outside", std::string(12, '\0') + "\xC0\xFF", 12, std::nullopt, ""},
        {"pointer cut in half", std::string(12, '\0') + "\xC0", 12, std::nullopt, ""},
        {"label past the end", std::string(12, '\0') + "\x05" "ab", 12, std::nullopt, ""},
        {"no terminating zero", std::string(12, '\0') + "\x02" "ab", 12, std::nullopt, ""},
        {"reserved label type", std::string(12, '\0') + "\x41" "a", 12, std::nullopt, ""},
        {"position past the end", base, 40, std::nullopt, ""},
        {"longer than the output", std::string(12, '\0') + std::string(1, '\x3F') + std::string(63, 'a') +
                                       std::string(1, '\x3F') + std::string(63, 'b') + std::string(1, '\0'),
         12, std::nullopt, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text;
        const auto occupied = ReadName(c.message, c.position, text);
        EXPECT_EQ(occupied, c.occupied);
        if (c.occupied) {
            EXPECT_EQ(text, c.text);
        }
    }
}

TEST(DnsMessageTest, AnswersKeepTheirOrder) {
    const MxReply reply = ParseMxReply(TwoMxReply());
    ASSERT_EQ(reply.kind, MxReply::Kind::kAnswers);
    EXPECT_EQ(FormatMxList(reply.answers), "mx1.example.org 20\r\nmx2.example.org 10");
}

TEST(DnsMessageTest, ReplyShapes) {
    struct Case {
        std::string name;
        std::string message;
        MxReply::Kind kind;
        std::vector<std::string> referrals;
    };
    const std::string soa_data = Name("NS1.Example.org") + Name("hostmaster.example.org") + std::string(20, '\0');
    const std::string cname = Record(kPtr, 5, Name("other.example.org"));
    const Case cases[] = {
        {"referral by NS records", Header(1, 1, 0, 2) + kQuestion + Record(kPtr, kTypeNs, Name("a.ns.test")) +
                                        Record(kPtr, kTypeNs, Name("b.ns.test")),
         MxReply::Kind::kReferrals, {"a.ns.test", "b.ns.test"}},
        {"SOA names its primary server, lower-cased", Header(1, 1, 0, 1) + kQuestion + Record(kPtr, kTypeSoa, soa_data),
         MxReply::Kind::kReferrals, {"ns1.example.org"}},
        {"SOA owned by the root", Header(1, 1, 0, 1) + kQuestion + Record(std::string(1, '\0'), kTypeSoa, soa_data),
         MxReply::Kind::kReferrals, {"ns1.example.org"}},
        {"other authority records are no referral", Header(1, 1, 0, 1) + kQuestion + Record(kPtr, 46, "sig"),
         MxReply::Kind::kReferrals, {}},
        {"nothing at all", Header(1, 1, 0, 0) + kQuestion, MxReply::Kind::kReferrals, {}},
        {"a CNAME before the MX is skipped",
         Header(1, 1, 2, 0) + kQuestion + cname + Record(kPtr, kTypeMx, Mx(5, Name("mx.other.org"))),
         MxReply::Kind::kAnswers, {}},
        {"answers without any MX", Header(1, 1, 1, 0) + kQuestion + cname, MxReply::Kind::kMalformed, {}},
        {"shorter than a header", Header(1, 1, 0, 0).substr(0, 11), MxReply::Kind::kMalformed, {}},
        {"question cut", Header(1, 1, 0, 0) + kQuestion.substr(0, kQuestion.size() - 1), MxReply::Kind::kMalformed, {}},
        {"more answers counted than sent", Header(1, 1, 3, 0) + TwoMxReply().substr(12), MxReply::Kind::kMalformed, {}},
        {"huge counts", Header(1, 0xFFFF, 0xFFFF, 0xFFFF) + kQuestion, MxReply::Kind::kMalformed, {}},
        {"record data longer than the message",
         Header(1, 1, 1, 0) + kQuestion + kPtr + U16(kTypeMx) + U16(1) + U16(0) + U16(0) + U16(500) + Mx(1, Name("a.b")),
         MxReply::Kind::kMalformed, {}},
        {"exchange name runs out of its record",
         Header(1, 1, 1, 0) + kQuestion + kPtr + U16(kTypeMx) + U16(1) + U16(0) + U16(0) + U16(4) + Mx(1, Name("a.b")),
         MxReply::Kind::kMalformed, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const MxReply reply = ParseMxReply(c.message);
        EXPECT_EQ(reply.kind, c.kind);
        if (c.kind == MxReply::Kind::kReferrals) {
            EXPECT_EQ(reply.referrals, c.referrals);
        }
    }
}

// Mutated real replies (bytes flipped, cut, extended) never make the reader
// step outside the message; the sanitizer build turns any such step into a
// failure. The answers that do come out hold only bounded names.
TEST(DnsMessageTest, FuzzedRepliesNeverReadOutside) {
    const std::string seeds[] = {
        TwoMxReply(),
        Header(1, 1, 0, 1) + kQuestion + Record(kPtr, kTypeSoa, Name("ns.example.org") + Name("h.example.org") +
                                                                  std::string(20, '\0')),
    };
    std::mt19937 random(12345);
    int parsed = 0;
    for (const std::string& seed : seeds) {
        for (int round = 0; round < 20000; ++round) {
            std::string message = seed;
            const int edits = 1 + static_cast<int>(random() % 4);
            for (int e = 0; e < edits; ++e) {
                switch (random() % 4) {
                    case 0: message[random() % message.size()] = static_cast<char>(random()); break;
                    case 1: message.resize(random() % (message.size() + 1)); break;
                    case 2: message.push_back(static_cast<char>(random())); break;
                    default: message[random() % message.size()] = static_cast<char>(0xC0 | (random() & 0x3F)); break;
                }
                if (message.empty()) message.push_back('\0');
            }
            // An exactly sized copy, so that a read past the end is a heap overflow the
            // sanitizer sees (a resized string keeps its old capacity).
            const std::unique_ptr<char[]> exact(new char[message.size()]);
            std::memcpy(exact.get(), message.data(), message.size());
            const MxReply reply = ParseMxReply(std::string_view(exact.get(), message.size()));
            for (const MxRecord& record : reply.answers) ASSERT_LT(record.host.size(), kNameCapacity);
            if (reply.kind != MxReply::Kind::kMalformed) ++parsed;
        }
    }
    EXPECT_GT(parsed, 0);  // the mutations leave some replies readable
}

}  // namespace
}  // namespace quorvex::dns
